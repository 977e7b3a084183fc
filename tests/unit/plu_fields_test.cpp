#include "query/plu_fields.h"

#include <gtest/gtest.h>

#include <string>

#include "query/plu_line_split.h"

namespace tarvo {
namespace {

TEST(FieldListTest, FieldsViewTheLineOrHoldTheirChangedText) {
  const std::string line = "plain,\"a\"\"b\",x\vy";
  FieldList fields;
  SplitDelimitedLine(line, ',', &fields);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].data(), line.data());  // as it stands: a view
  EXPECT_EQ(fields[1], "a\"b");
  EXPECT_EQ(fields[2], "x\r\ny");

  fields.Reset(3);
  fields.Set(0, "kept");
  fields.SetCopy(2, std::string("copied"));
  EXPECT_EQ(fields[0], "kept");
  EXPECT_EQ(fields[1], "");
  EXPECT_EQ(fields[2], "copied");
}

}  // namespace
}  // namespace tarvo
