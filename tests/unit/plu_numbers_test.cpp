#include "query/plu_numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/system_formats.h"

namespace tarvo {
namespace {

TEST(ImportStrToFloatTest, SystemSeparatorThenPointAsCommaBlanksIgnored) {
  SetSystemFormats(SystemFormats());
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2.5", 9), 2.5);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("  2.5 ", 9), 2.5);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2,5", 9), 9);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("", 9), 9);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("   ", 9), 9);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2.5x", 9), 9);
  SystemFormats comma;
  comma.DecimalSeparator = ',';
  SetSystemFormats(comma);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2,5", 9), 2.5);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2.5", 9), 2.5);
  SetSystemFormats(SystemFormats());
}

TEST(ImportStrToFloatTest, PlainDecimalsGiveExactlyWhatTheSystemConversionGives) {
  for (char separator : {'.', ','}) {
    SystemFormats formats;
    formats.DecimalSeparator = separator;
    SetSystemFormats(formats);
    uint64_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      const int digits = 1 + static_cast<int>((seed >> 33) % 15);
      const int fraction = static_cast<int>((seed >> 40) % (digits + 1));
      std::string text = std::to_string((seed >> 3) % 1000000000000000u);
      text = text.substr(0, std::min<size_t>(digits, text.size()));
      if (fraction > 0 && fraction < static_cast<int>(text.size()))
        text.insert(text.size() - fraction, 1, separator);
      if (seed & 1)
        text.insert(0, "-");
      double expected = 0;
      ASSERT_TRUE(TryStrToFloat(text, &expected)) << text;
      EXPECT_EQ(ImportStrToFloat(text, -1), expected) << text;
    }
  }
  SetSystemFormats(SystemFormats());
}

}  // namespace
}  // namespace tarvo
