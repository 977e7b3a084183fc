#include "service/command_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using ::testing::ElementsAre;
using testing::TempDir;

DateTime At(int y, int mo, int d, int h, int mi, int s) {
  return DateTime::FromParts({y, mo, d, h, mi, s, 0});
}

TEST(CommandFilesTest, LinesOfAPluCommand) {
  EXPECT_THAT(
      CommandFileLines("10.0.0.5", 1, "goods.txt", At(2026, 12, 7, 8, 1, 2), 1796630462000001),
      ElementsAre("[ServiceCommand]", "Owner=MainTarvoService.ServiceExecute",
                  "TimeDate=07.12.2026 08:01:02", "Scale=10.0.0.5", "CommandNo=1",
                  "OriginalFileName=goods.txt", "Command=SetPLU", "Sequence=1796630462000001"));
}

TEST(CommandFilesTest, FontCommandCarriesItsNumberBeforeTheCommandLine) {
  const auto lines = CommandFileLines("10.0.0.5", 5, "big16x32.fnt", At(2026, 1, 2, 3, 4, 5), 7);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[6], "FontNumber=2");
  EXPECT_EQ(lines[7], "Command=SetFont");
  EXPECT_EQ(lines[8], "Sequence=7") << "the order comes after every line of the command";
}

TEST(CommandFilesTest, FontNumberIsTheLastTableEntryFoundWithExactCase) {
  EXPECT_EQ(FontNumberOf("8x16.fnt"), 0);
  EXPECT_EQ(FontNumberOf("8X16.fnt"), -1);
  EXPECT_EQ(FontNumberOf("8h16.fnt"), 4);
  EXPECT_EQ(FontNumberOf("8x16_12x24.fnt"), 3) << "the last matching entry wins";
  EXPECT_EQ(FontNumberOf("font.fnt"), -1);
}

TEST(CommandFilesTest, EveryCommandNameAndNoneOutsideTheRange) {
  EXPECT_EQ(CommandName(0), "SetSettings");
  EXPECT_EQ(CommandName(2), "UpdatePLU");
  EXPECT_EQ(CommandName(4), "SetKeys");
  EXPECT_EQ(CommandName(6), "SetLogo");
  EXPECT_EQ(CommandName(7), "");
  EXPECT_EQ(CommandName(-1), "");
  const auto lines = CommandFileLines("10.0.0.5", 9, "x.bin", At(2026, 1, 2, 3, 4, 5), 0);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5], "OriginalFileName=x.bin");
  EXPECT_EQ(lines[6], "Sequence=0");
  // A line break in a name would split the line and hide the keys after it.
  EXPECT_EQ(CommandFileLines("10.0.0.5", 1, "a\r\nb.txt", At(2026, 1, 2, 3, 4, 5), 0)[5],
            "OriginalFileName=a??b.txt");
}

TEST(CommandFilesTest, CreateWritesDataCopyAndCrLfCommand) {
  TempDir dir;
  dir.Write("Import/logo.bmp", std::string("BM\0\x01\xff", 5));
  ForceDirectories(dir.File("Query"));
  CreateCommandFile(dir.File("Query/svc1A2F.TMP"), dir.File("Import"), "logo.bmp", 6, "10.0.0.7",
                    At(2026, 12, 7, 8, 1, 2), 1796630462000042);
  EXPECT_EQ(dir.Read("Query/svc1A2F.dat"), std::string("BM\0\x01\xff", 5));
  EXPECT_EQ(dir.Read("Query/svc1A2F.cmd"),
            "[ServiceCommand]\r\nOwner=MainTarvoService.ServiceExecute\r\n"
            "TimeDate=07.12.2026 08:01:02\r\nScale=10.0.0.7\r\nCommandNo=6\r\n"
            "OriginalFileName=logo.bmp\r\nCommand=SetLogo\r\nSequence=1796630462000042\r\n");
  // Nothing but the two files is left in the queue.
  EXPECT_EQ(ListFolder(dir.File("Query")).size(), 2u);
}

// A command without its data would only be set aside by the worker; the
// import file stays the one copy of it instead.
TEST(CommandFilesTest, MissingImportFileQueuesNothing) {
  TempDir dir;
  ForceDirectories(dir.File("Query"));
  EXPECT_THROW(CreateCommandFile(dir.File("Query/svc1.TMP"), dir.File("Import"), "gone.txt", 1,
                                 "10.0.0.7", At(2026, 12, 7, 8, 1, 2), 1),
               std::runtime_error);
  EXPECT_FALSE(FileExists(dir.File("Query/svc1.dat")));
  EXPECT_FALSE(FileExists(dir.File("Query/svc1.cmd")));
}

TEST(CommandFilesTest, UnwritableQueueRaises) {
  TempDir dir;
  dir.Write("Import/a.txt", "x");
  EXPECT_THROW(CreateCommandFile(dir.File("NoSuchFolder/svc1.TMP"), dir.File("Import"), "a.txt", 1,
                                 "10.0.0.7", At(2026, 12, 7, 8, 1, 2), 1),
               std::runtime_error);
}

}  // namespace
}  // namespace tarvo
