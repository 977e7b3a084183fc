#include "query/user_barcode.h"

#include "settings/workservicesettings.h"

namespace tarvo {

namespace {

constexpr int kUserBarCodeParts = 6;

}  // namespace

std::string UserBarCodeText(std::vector<std::string>& values) {
  std::array<uint8_t, kUserBarCodeParts> bytes{};
  for (int k = 1; k <= kUserBarCodeParts; ++k) {
    const std::string part = std::to_string(k);
    const int32_t type = ReadSettingValue(values, "UserBarCodeField" + part, int32_t{0});
    const int32_t length = ReadSettingValue(values, "UserBarCodeFieldLength" + part, int32_t{0});
    const int32_t shift = ReadSettingValue(values, "UserBarCodeFieldShift" + part, int32_t{0});
    if (length == 0)
      continue;
    const int32_t code = MapBarCodeFieldType(type);
    // Unsigned arithmetic: any int32 input packs without overflow; only the
    // low eight bits are kept.
    const uint32_t high =
        code == 1 ? static_cast<uint32_t>(shift) + 1u : static_cast<uint32_t>(code);
    bytes[k - 1] = static_cast<uint8_t>(((high << 4) | static_cast<uint32_t>(length)) & 0xFFu);
  }
  return BytesToHex(bytes);
}

int32_t MapBarCodeFieldType(int32_t n) {
  if (n == 1)
    return 1;
  return n >= 2 && n <= 10 ? n + 2 : 0;
}

std::string BytesToHex(const std::array<uint8_t, 6>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0x0F]);
  }
  return hex;
}

}  // namespace tarvo
