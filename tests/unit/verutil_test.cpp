#include "common/verutil.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

TEST(GetFileVersionTest, RunningProgramGivesItsOwnVersion) {
  const std::string own = GetFileVersion("");
  EXPECT_EQ(TARVO_VERSION_TEXT, own);
  EXPECT_EQ(own, GetFileVersion(ExecutablePath()));
}

TEST(GetFileVersionTest, OtherFilesHaveNone) {
  testing::TempDir dir;
  dir.Write("plain.exe", "MZ not really");
  EXPECT_EQ("", GetFileVersion(dir.File("plain.exe")));
  EXPECT_EQ("", GetFileVersion(dir.File("missing.exe")));
  EXPECT_EQ("", GetFileVersion(dir.path()));
}

}  // namespace
}  // namespace tarvo
