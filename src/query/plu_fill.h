// The PLU line parser of the PLU load step: the fixed-column cutter, the two
// record-marker layouts (ImportExtraFormat 1 for fixed files, 2 for
// delimited files), the field mapping by the field configuration and the
// defaults of a new PLU.
#ifndef TARVO_QUERY_PLU_FILL_H_
#define TARVO_QUERY_PLU_FILL_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/automation.h"
#include "query/plu_data.h"
#include "query/plu_fields.h"
#include "settings/workservicesettings.h"

namespace tarvo {

// Parses the lines of one PLU import file into a PLU list and a message
// list by the settings' field configuration, ImportExtraFormat and
// separator. New PLUs take their defaults from the field configuration's
// DefVal or else from the driver's PLU_*_Def properties, read again for
// every PLU. The parser appends to the lists and reads them; nothing else
// may change them while it is in use. `settings`, `driver` and the lists
// must outlive the parser, and `settings` must not change meanwhile. Driver
// failures raise AutomationError.
class PLULineParser {
 public:
  // Receives the parser's detail lines ("Load ingridient PLU ...").
  using LogFunction = std::function<void(const std::string& text, int level)>;

  PLULineParser(const MSettingsValues& settings, AutomationObject& driver,
                std::vector<MPLUData>& pluList, MMessages& messageList, LogFunction log);

  PLULineParser(const PLULineParser&) = delete;
  PLULineParser& operator=(const PLULineParser&) = delete;

  char FieldSeparator() const { return separator_; }

  // Each returns true when the line was taken (a PLU appended, or an
  // ingredient line attached to an earlier PLU as a new message) and false
  // for a bad line. A PLU appended for a line may still be invalid; see
  // DropInvalidLastPLU().
  bool ParseDelimitedLine(std::string_view line);
  // The same for a line already split by SplitDelimitedLine with
  // FieldSeparator().
  bool ParseDelimitedFields(const FieldList& fields);
  bool ParseFixedLine(std::string_view line);

  // Appends one PLU with its defaults, then sets its members from `fields`
  // by the field configuration (and, in the plain layout, appends the
  // message that the message fields give).
  void FillPLUFromFields(const FieldList& fields);

  // Fills the last PLU of the list with its defaults.
  void SetPLUDefaults();

  // Removes the last PLU when its Number is 0, its Name empty or its Price
  // 0.0, and returns true then. A message already attached to it stays.
  bool DropInvalidLastPLU();

 private:
  // Index in the PLU list of the first PLU with `number`; -1 if none.
  int64_t FindPLU(int32_t number);
  // Appends an empty message, points PLU `index` at it and returns it.
  MMessage& AttachNewMessage(size_t index);
  // Reads the PLU number of an ingredient line from `numberText` into
  // *number, and attaches a new message to the first PLU with that number;
  // null when the text holds no number or no PLU has it.
  MMessage* AttachIngredients(std::string_view numberText, int32_t* number);
  bool ParseDelimitedIngredients(const FieldList& fields);
  bool ParseFixedIngredients(std::string_view line);
  void CutFixedFields(std::string_view line);
  void Log(const std::string& text, int level) const;
  // Reads the driver's default property `property`, one of the
  // kDriverDefaultCount PLU_*_Def properties in the order of plu_fill.cpp;
  // binds their names the first time.
  Variant DriverDefault(int property);

  const MSettingsValues& settings_;
  AutomationObject& driver_;
  std::vector<MPLUData>& plus_;
  MMessages& messages_;
  const LogFunction log_;
  const char separator_;

  static constexpr int kDriverDefaultCount = 16;
  bool defaults_bound_ = false;
  std::array<int32_t, kDriverDefaultCount> default_ids_{};
  FieldList fields_;  // the current line's fields, kept between lines
  // The plain layout's message fields: lines up to the last one placed.
  int message_line_count_ = 0;
  std::array<std::string_view, MMessage::kLineCount> message_lines_;
  // First list index of each PLU number, for the ingredient lines; covers
  // the first `indexed_` PLUs of the list and is brought up to date when used.
  std::unordered_map<int32_t, size_t> first_index_;
  size_t indexed_ = 0;
};

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_FILL_H_
