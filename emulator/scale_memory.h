// What an emulated scale holds, and its mirror: the plain files in the
// scale's state folder that show that memory.
//
// Mirror files (UTF-8, LF line ends, columns separated by one tab):
//   plus.tsv      header kPlusHeader, one row per PLU, ascending by Number
//   messages.tsv  header kMessagesHeader, one row per message, ascending by No
//   settings.ini  "[Settings]", then Name=value per setting in the order of
//                 scale::SettingKeys()
//   hotkeys.tsv   "Key\tValue", keys 1..224; only once hot keys were received
//   label.scr, font<N>.fnt, logo.bmp   the bytes received
// Integers are decimal; doubles use up to 15 significant digits, "." as the
// decimal mark and no trailing zeros (12.5, 3, 0.105), with an exponent only
// beyond that range; a production date is yyyy-mm-dd, empty when not set.
// In text, backslash, tab, CR and LF are written as \\, \t, \r and \n.
#ifndef TARVO_EMULATOR_SCALE_MEMORY_H_
#define TARVO_EMULATOR_SCALE_MEMORY_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "scaledriver/protocol.h"

namespace tarvo::emu {

struct ScaleMemory {
  std::map<int32_t, scale::PluRecord> Plus;          // by Number
  std::map<int32_t, scale::MessageRecord> Messages;  // by No
  scale::SettingValues Settings = scale::DefaultSettingValues();
  std::optional<scale::HotKeyTable> HotKeys;
  std::optional<std::string> Label;
  std::map<int32_t, std::string> Fonts;  // by font number
  std::optional<std::string> Logo;
};

extern const char kPlusHeader[];
extern const char kMessagesHeader[];

// Field texts.
std::string EscapeText(const std::string& text);
bool UnescapeText(const std::string& text, std::string* out);
std::string FormatNumber(double value);
std::string FormatDate(double days);  // "" for 0

// Whole mirror files.
std::string FormatPlus(const std::map<int32_t, scale::PluRecord>& plus);
std::string FormatMessages(const std::map<int32_t, scale::MessageRecord>& messages);
std::string FormatSettings(const scale::SettingValues& settings);
std::string FormatHotKeys(const scale::HotKeyTable& keys);

// Readers of the same files, for a scale that starts from an earlier run's
// folder. False, with `error` naming the line, for anything the formatters
// would not have written (a setting missing from the file keeps its value).
bool ParsePlus(const std::string& text, std::map<int32_t, scale::PluRecord>* plus,
               std::string* error);
bool ParseMessages(const std::string& text, std::map<int32_t, scale::MessageRecord>* messages,
                   std::string* error);
bool ParseSettings(const std::string& text, scale::SettingValues* settings, std::string* error);
bool ParseHotKeys(const std::string& text, scale::HotKeyTable* keys, std::string* error);

// The scale's state folder.
class ScaleMirror {
 public:
  explicit ScaleMirror(std::string folder) : folder_(std::move(folder)) {}

  const std::string& folder() const { return folder_; }

  // Reads what an earlier run left in the folder into `memory` (missing files
  // leave their part empty or default). False with `error` on a bad file.
  bool Load(ScaleMemory* memory, std::string* error) const;

  // Creates the folder and writes plus.tsv, messages.tsv, settings.ini and,
  // when held, hotkeys.tsv; fails as the writes below do, at the first
  // failure.
  bool WriteAll(const ScaleMemory& memory, std::string* error = nullptr) const;

  // Writes `text` as the mirror file `name` ("plus.tsv") atomically.
  bool WriteText(const std::string& name, const std::string& text,
                 std::string* error = nullptr) const;

  // Each writes one file atomically; false, with `error` (when given) set to
  // the system's reason, when it cannot be written.
  bool WritePlus(const ScaleMemory& memory, std::string* error = nullptr) const;
  bool WriteMessages(const ScaleMemory& memory, std::string* error = nullptr) const;
  bool WriteSettings(const ScaleMemory& memory, std::string* error = nullptr) const;
  bool WriteHotKeys(const ScaleMemory& memory, std::string* error = nullptr) const;
  bool WriteLabel(const std::string& bytes, std::string* error = nullptr) const;
  bool WriteFont(int32_t number, const std::string& bytes, std::string* error = nullptr) const;
  bool WriteLogo(const std::string& bytes, std::string* error = nullptr) const;

  // Appends "local time<TAB>operation<TAB>code" to operations.log.
  void LogOperation(const std::string& operation, int32_t code) const;

 private:
  std::string File(const std::string& name) const;

  std::string folder_;
};

}  // namespace tarvo::emu

#endif  // TARVO_EMULATOR_SCALE_MEMORY_H_
