// INI text held in memory: read, changed and written back whole.
//
// Sections keep their file order; section names and keys are matched without
// regard to letter case (ANSI). A key's value is the text after the first
// "=" of its line. Lines are kept as they were read (comments and unknown
// lines included), so a file written back differs from the one read only
// where it was changed. Text is 8-bit ANSI; lines are read at CR LF, LF or
// CR and written with CR LF, every section followed by one empty line.
#ifndef TARVO_SETTINGS_INIFILE_H_
#define TARVO_SETTINGS_INIFILE_H_

#include <string>
#include <vector>

namespace tarvo {

class IniFile {
 public:
  IniFile() = default;

  // Parses INI text.
  static IniFile Parse(const std::string& text);

  // Reads the file at `path`; a UTF-8 or UTF-16 file with a byte-order mark
  // is converted to ANSI. A missing file reads as empty (true). False when
  // the file exists but cannot be read; `*this` is then unchanged and
  // `error`, when given, holds the system's reason.
  bool LoadFromFile(const std::string& path, std::string* error = nullptr);

  // The text to write: CR LF line ends, each section followed by an empty line.
  std::string ToText() const;

  // Replaces the file atomically with ToText(): readers and a crash see the
  // old file or the new one, never a part. False on failure.
  bool SaveToFile(const std::string& path) const;

  // Section names in file order.
  std::vector<std::string> SectionNames() const;
  bool SectionExists(const std::string& section) const;

  // The key=value lines of the section, in file order, trimmed of blanks;
  // empty lines and comment lines (starting with ";") are left out. A
  // section that appears more than once contributes all its lines.
  std::vector<std::string> ReadSectionLines(const std::string& section) const;

  // The keys of the section, in file order.
  std::vector<std::string> ReadSectionKeys(const std::string& section) const;

  bool KeyExists(const std::string& section, const std::string& key) const;

  // The value of the first line of the section whose key matches; `def`
  // when the section or key is missing.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;

  // Sets the value of the key's first line, or appends key=value to the
  // section; a missing section is appended at the end of the file.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

  // Removes every section of that name with all its lines.
  void EraseSection(const std::string& section);

 private:
  struct Section {
    std::string Name;
    std::vector<std::string> Lines;  // raw lines after the header, trailing empty lines dropped
  };

  Section* FindSection(const std::string& section);

  std::vector<std::string> preamble_;  // lines before the first section header
  std::vector<Section> sections_;
};

// `s` without the blanks (spaces and tabs) around it.
std::string TrimBlanks(const std::string& s);

// The key of a "key=value" line: the text before the first "=", trimmed of
// blanks; the whole trimmed line when it has no "=".
std::string IniLineKey(const std::string& line);
// The value of a "key=value" line: the text after the first "="; "" without one.
std::string IniLineValue(const std::string& line);

// ANSI text comparison without regard to letter case, in the order the
// system locale gives: symbols and punctuation before digits, digits before
// Latin letters, Latin before Cyrillic. Negative, 0 or positive.
int CompareTextAnsi(const std::string& a, const std::string& b);

}  // namespace tarvo

#endif  // TARVO_SETTINGS_INIFILE_H_
