#include "net/command_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo {
namespace {

using Strings = std::vector<std::string>;

// "Set" before "SetScaleList" shows that the table order decides, and that a
// word only matches whole.
constexpr CommandSpec kTable[] = {
    {"Quit", false, true},
    {"Set", false, false},
    {"SetScaleList", true, false},
};

TEST(MatchCommandTest, WholeWordsInTableOrderWithoutCase) {
  const struct {
    std::string line;
    int tag;
    std::string params;
    Strings list;
  } cases[] = {
      {"Quit", 0, "", {}},
      {"qUIT", 0, "", {}},
      {"quit now please", 0, "now please", {}},  // not parsed: no list
      {"Quitter", -1, "", {}},
      {" Quit", -1, "", {}},
      {"Set a=b c", 1, "a=b c", {}},
      {"SetScaleList  10.0.0.1   10.0.0.2 ", 2, " 10.0.0.1   10.0.0.2 ", {"10.0.0.1", "10.0.0.2"}},
      {"setscalelist", 2, "", {}},
      {"Se", -1, "", {}},
      {"", -1, "", {}},
  };
  for (const auto& c : cases) {
    const CommandCall call = MatchCommand(kTable, c.line);
    EXPECT_EQ(call.Tag, c.tag) << c.line;
    EXPECT_EQ(call.Params, c.params) << c.line;
    EXPECT_EQ(call.ParamList, c.list) << c.line;
  }
}

TEST(ReplyLinesTest, CodeAloneOrWithTextsAndContinuationMarks) {
  EXPECT_EQ(ReplyLines(200, {}), Strings{"200"});
  EXPECT_EQ(ReplyLines(200, {""}), Strings{"200"});
  EXPECT_EQ(ReplyLines(200, {"OK"}), Strings{"200 OK"});
  EXPECT_EQ(ReplyLines(201, {"a", "", "c"}), (Strings{"201-a", "201-", "201 c"}));
  EXPECT_EQ(UnknownCommandReply("Hello there"),
            (Strings{"400-Unknown Command", "400 Hello there"}));
}

}  // namespace
}  // namespace tarvo
