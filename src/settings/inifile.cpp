#include "settings/inifile.h"

#include <utility>

#include "common/newrxstrutils.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace tarvo {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A line that carries no key: empty, blank or a comment.
bool IsInertLine(const std::string& trimmed) {
  return trimmed.empty() || trimmed[0] == ';';
}

void DropTrailingEmpty(std::vector<std::string>* lines) {
  while (!lines->empty() && TrimBlanks(lines->back()).empty())
    lines->pop_back();
}

// Collation weight of one ANSI (Windows-1251) character after upper-casing:
// symbols, then digits, then Latin letters, then Cyrillic letters with Ё
// after Е.
int CollationWeight(char ch) {
  const unsigned char u = static_cast<unsigned char>(AnsiUpperChar(ch));
  if (u >= '0' && u <= '9')
    return 0x100 + u;
  if (u >= 'A' && u <= 'Z')
    return 0x200 + u;
  if (u >= 0xC0)
    return 0x300 + (u - 0xC0) * 2;
  if (u == 0xA8)
    return 0x300 + (0xC5 - 0xC0) * 2 + 1;  // Ё
  return u;
}

}  // namespace

std::string TrimBlanks(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsBlank(s[b]))
    ++b;
  while (e > b && IsBlank(s[e - 1]))
    --e;
  return s.substr(b, e - b);
}

std::string IniLineKey(const std::string& line) {
  size_t eq = line.find('=');
  return TrimBlanks(eq == std::string::npos ? line : line.substr(0, eq));
}

std::string IniLineValue(const std::string& line) {
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

int CompareTextAnsi(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int wa = CollationWeight(a[i]);
    int wb = CollationWeight(b[i]);
    if (wa != wb)
      return wa < wb ? -1 : 1;
  }
  if (a.size() == b.size())
    return 0;
  return a.size() < b.size() ? -1 : 1;
}

IniFile IniFile::Parse(const std::string& text) {
  IniFile ini;
  Section* current = nullptr;
  for (std::string& raw : SplitLines(text)) {
    std::string trimmed = TrimBlanks(raw);
    if (!trimmed.empty() && trimmed[0] == '[') {
      size_t close = trimmed.find(']');
      std::string name =
          close == std::string::npos ? trimmed.substr(1) : trimmed.substr(1, close - 1);
      ini.sections_.push_back(Section{TrimBlanks(name), {}});
      current = &ini.sections_.back();
    } else if (current != nullptr) {
      current->Lines.push_back(std::move(raw));
    } else {
      ini.preamble_.push_back(std::move(raw));
    }
  }
  DropTrailingEmpty(&ini.preamble_);
  for (Section& s : ini.sections_)
    DropTrailingEmpty(&s.Lines);
  return ini;
}

bool IniFile::LoadFromFile(const std::string& path, std::string* error) {
  if (!FileExists(path) && !DirectoryExists(path)) {
    *this = IniFile();
    return true;
  }
  // A folder of that name fails the read.
  std::string bytes;
  if (!ReadFileToString(path, &bytes, error))
    return false;
  *this = Parse(DecodeTextFileToAnsi(bytes));
  return true;
}

std::string IniFile::ToText() const {
  std::string out;
  for (const std::string& line : preamble_)
    out += line + "\r\n";
  if (!preamble_.empty())
    out += "\r\n";
  for (const Section& s : sections_) {
    out += "[" + s.Name + "]\r\n";
    for (const std::string& line : s.Lines)
      out += line + "\r\n";
    out += "\r\n";
  }
  return out;
}

bool IniFile::SaveToFile(const std::string& path) const {
  return WriteFileAtomic(path, ToText());
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Section& s : sections_)
    names.push_back(s.Name);
  return names;
}

bool IniFile::SectionExists(const std::string& section) const {
  for (const Section& s : sections_) {
    if (SameTextAnsi(s.Name, section))
      return true;
  }
  return false;
}

std::vector<std::string> IniFile::ReadSectionLines(const std::string& section) const {
  std::vector<std::string> lines;
  for (const Section& s : sections_) {
    if (!SameTextAnsi(s.Name, section))
      continue;
    for (const std::string& raw : s.Lines) {
      std::string trimmed = TrimBlanks(raw);
      if (!IsInertLine(trimmed))
        lines.push_back(std::move(trimmed));
    }
  }
  return lines;
}

std::vector<std::string> IniFile::ReadSectionKeys(const std::string& section) const {
  std::vector<std::string> keys;
  for (const std::string& line : ReadSectionLines(section))
    keys.push_back(IniLineKey(line));
  return keys;
}

bool IniFile::KeyExists(const std::string& section, const std::string& key) const {
  for (const std::string& line : ReadSectionLines(section)) {
    if (SameTextAnsi(IniLineKey(line), key))
      return true;
  }
  return false;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
  for (const std::string& line : ReadSectionLines(section)) {
    if (SameTextAnsi(IniLineKey(line), key))
      return IniLineValue(line);
  }
  return def;
}

IniFile::Section* IniFile::FindSection(const std::string& section) {
  for (Section& s : sections_) {
    if (SameTextAnsi(s.Name, section))
      return &s;
  }
  return nullptr;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  Section* s = FindSection(section);
  if (s == nullptr) {
    sections_.push_back(Section{section, {}});
    s = &sections_.back();
  }
  const std::string line = key + "=" + value;
  for (std::string& raw : s->Lines) {
    std::string trimmed = TrimBlanks(raw);
    if (!IsInertLine(trimmed) && SameTextAnsi(IniLineKey(trimmed), key)) {
      raw = line;
      return;
    }
  }
  s->Lines.push_back(line);
}

void IniFile::EraseSection(const std::string& section) {
  std::vector<Section> kept;
  for (Section& s : sections_) {
    if (!SameTextAnsi(s.Name, section))
      kept.push_back(std::move(s));
  }
  sections_ = std::move(kept);
}

}  // namespace tarvo
