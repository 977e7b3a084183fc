// Article and message records of the PLU commands.
#ifndef TARVO_QUERY_PLU_DATA_H_
#define TARVO_QUERY_PLU_DATA_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/inline_string.h"
#include "platform/datetime.h"

namespace tarvo {

// One article. Text is ANSI. Each member feeds the driver property
// PLU_<member> (Message as index + 1). A name of up to 31 bytes is kept in
// place, and members are grouped by size, so that a million articles fit in
// 120 MB.
struct MPLUData {
  InlineString<32> Name;
  int32_t Number = 0;  // 0 is invalid
  int32_t AddCode = 0;
  int32_t BarCodeType = 0;
  int32_t WeightUnit = 0;
  double Price = 0.0;  // 0 is invalid
  int32_t Dep = 0;
  int32_t ShlefTime = 0;
  double Tare = 0.0;
  double IcePercent = 0.0;
  DateTime ProductionDate;  // zero: none
  int32_t Tolerance = 0;
  int32_t Message = 0;  // 0-based index into the message list, or the driver default
  int32_t Label = 0;
  int32_t Rebate = 0;
  double PackageWeight = 0.0;
  int32_t PackageType = 0;
};

// One message: exactly 16 lines of ANSI text, all empty when the message is
// created. A load keeps a message for each article, so the lines are
// stored packed, in place when they are short.
class MMessage {
 public:
  static constexpr int kLineCount = 16;

  // Line `k`, 1 <= k <= 16; empty for any other `k`. The view is valid
  // until the message is next changed or moved.
  std::string_view Line(int k) const;
  // Sets line `k`, 1 <= k <= 16; other values of `k` are ignored.
  void SetLine(int k, std::string_view text);
  // Sets all 16 lines at once; lines[0] is line 1.
  void SetLines(const std::array<std::string_view, kLineCount>& lines) {
    SetLines(std::span<const std::string_view>(lines));
  }
  // The same with lines 1 .. lines.size() (at most 16) given; the others
  // are empty.
  void SetLines(std::span<const std::string_view> lines);

  friend bool operator==(const MMessage& a, const MMessage& b) { return a.data_ == b.data_; }

 private:
  // Empty when every line is empty. Otherwise: the number m of lines up to
  // the last one that is not empty (one byte), then lines 1 .. m, each as
  // its length (7 bits a byte, low bits first, high bit set on all but the
  // last byte) and its characters.
  InlineString<56> data_;
};

// The messages of a command; a message's number on the scale is index + 1.
using MMessages = std::vector<MMessage>;

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_DATA_H_
