#include "service/program.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(CommandLineTest, SwitchesTakeEitherPrefixAndAnyCase) {
  EXPECT_TRUE(FindCmdLineSwitch({"-silent"}, "SILENT"));
  EXPECT_TRUE(FindCmdLineSwitch({"/Silent"}, "SILENT"));
  EXPECT_FALSE(FindCmdLineSwitch({"silent"}, "SILENT"));
  EXPECT_FALSE(FindCmdLineSwitch({"--silent"}, "SILENT"));
  EXPECT_FALSE(FindCmdLineSwitch({"/silentx"}, "SILENT"));
}

}  // namespace
}  // namespace tarvo
