#include "common/fileswork.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

TEST(FileNameTablesTest, OrderAndEnd) {
  EXPECT_EQ(".ini", ImportFileKind(0));
  EXPECT_EQ(".txu", ImportFileKind(3));
  EXPECT_EQ(".bmp", ImportFileKind(kImportFileKindCount - 1));
  EXPECT_EQ("", ImportFileKind(kImportFileKindCount));
  EXPECT_EQ("", ImportFileKind(-1));
  EXPECT_EQ("8x16.fnt", FontFileName(0));
  EXPECT_EQ("8h16.fnt", FontFileName(kFontFileNameCount - 1));
  EXPECT_EQ("", FontFileName(kFontFileNameCount));
  EXPECT_EQ("", FontFileName(-1));
}

// "svc" + one to four hexadecimal digits + ".TMP".
bool IsUniqueName(const std::string& name) {
  const std::string prefix = "svc";
  const std::string ext = ".TMP";
  if (name.size() < prefix.size() + 1 + ext.size())
    return false;
  if (name.compare(0, prefix.size(), prefix) != 0)
    return false;
  if (name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
    return false;
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - ext.size());
  if (digits.size() > 4)
    return false;
  return digits.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

TEST(GetUniqueFileNameTest, BaseNameSharedByNoEntry) {
  testing::TempDir dir;
  // One in 64 of the possible names already queued, under one of the
  // extensions the queue uses; a search that ignored them would meet one
  // within 300 names almost surely.
  const char* const kQueueExts[] = {".cmd", ".dat", ".lck"};
  for (int number = 1; number <= 0x400; ++number) {
    char base[16];
    std::snprintf(base, sizeof(base), "svc%X", number);
    ASSERT_TRUE(CreateFileExclusive(dir.File(std::string(base) + kQueueExts[number % 3])));
  }
  std::set<std::string> bases;
  for (int i = 0; i < 300; ++i) {
    const std::string path = GetUniqueFileName(dir.path());
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(dir.path(), ExtractFileDir(path));
    EXPECT_TRUE(IsUniqueName(ExtractFileName(path))) << path;
    EXPECT_LE(path.size(), 260u);
    for (const char* ext : kQueueExts) {
      ASSERT_FALSE(FileExists(ChangeFileExt(path, ext))) << path;
    }
    // The caller forms its files from the name.
    ASSERT_TRUE(CreateFileExclusive(ChangeFileExt(path, ".cmd")));
    bases.insert(ChangeFileExt(path, ""));
  }
  EXPECT_EQ(300u, bases.size());
  // No temporary file is left behind.
  EXPECT_EQ(0x400u + 300u, ListFolder(dir.path()).size());
  EXPECT_TRUE(ListFolder(dir.path(), "*.TMP").empty());
}

// The form that lists the folder once: no name it hands out shares its
// base name, compared without regard to case, with an entry that was in the
// folder or with a name handed out before, though the caller creates
// nothing from them.
TEST(GetUniqueFileNameTest, FromOneListingNeverOffersABaseInUse) {
  testing::TempDir dir;
  // One in 32 of the possible names in use, under any extension, none, or
  // more than one, in either case; 1,000 names from a search that ignored
  // them, or that offered a name twice, would meet one almost surely.
  const char* const kExts[] = {".cmd", ".dat", ".lck", ".x.y", ""};
  std::set<std::string> inUse;
  for (int number = 1; number <= 0x800; ++number) {
    char base[16];
    std::snprintf(base, sizeof(base), number % 2 ? "svc%X" : "svc%x", number);
    ASSERT_TRUE(CreateFileExclusive(dir.File(std::string(base) + kExts[number % 5])));
    std::snprintf(base, sizeof(base), "svc%X", number);
    inUse.insert(base);
  }
  FolderBaseNames taken(dir.path());
  for (int i = 0; i < 1000; ++i) {
    const std::string path = GetUniqueFileName(dir.path(), taken);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(dir.path(), ExtractFileDir(path));
    EXPECT_TRUE(IsUniqueName(ExtractFileName(path))) << path;
    ASSERT_TRUE(inUse.insert(ExtractFileName(ChangeFileExt(path, ""))).second) << path;
  }
  EXPECT_EQ(0x800u, ListFolder(dir.path()).size()) << "no temporary file is left behind";
}

TEST(GetUniqueFileNameTest, ItsTemporaryNamesAreKnownAndNoOthers) {
  testing::TempDir dir;
  for (int i = 0; i < 50; ++i) {
    const std::string path = GetUniqueFileName(dir.path());
    EXPECT_TRUE(IsUniqueFileNameTemporary(ExtractFileName(path))) << path;
  }
  for (const char* name : {"svc1.TMP", "svcFFFF.TMP", "svc0A1.TMP"})
    EXPECT_TRUE(IsUniqueFileNameTemporary(name)) << name;
  for (const char* name : {"svc.TMP", "svc10000.TMP", "svc1.tmp", "svc1.cmd", "svcG1.TMP",
                           "svc1a.TMP", "xsvc1.TMP", "svc1.TMP.dat", ""}) {
    EXPECT_FALSE(IsUniqueFileNameTemporary(name)) << name;
  }
}

TEST(GetUniqueFileNameTest, FailsWithoutAFolder) {
  testing::TempDir dir;
  EXPECT_EQ("", GetUniqueFileName(dir.File("missing")));
  EXPECT_EQ("", GetUniqueFileName(""));
  std::string error;
  EXPECT_EQ("", GetUniqueFileName(dir.File("missing"), &error));
  EXPECT_EQ(error, std::strerror(ENOENT));
}

TEST(CopyFileTest, ToFolderKeepsTheFileName) {
  testing::TempDir dir;
  dir.Write("queue/5A.dat", std::string("binary\0data\r\n", 13));
  dir.Write("Archive/5A.dat", "older");
  ASSERT_TRUE(ForceDirectories(dir.File("Archive")));
  EXPECT_TRUE(CopyFileToFolder(dir.File("queue/5A.dat"), dir.File("Archive")));
  EXPECT_EQ(std::string("binary\0data\r\n", 13), dir.Read("Archive/5A.dat"));
  // A trailing delimiter on the folder is fine.
  ASSERT_TRUE(ForceDirectories(dir.File("Bad")));
  EXPECT_TRUE(CopyFileToFolder(dir.File("queue/5A.dat"), dir.File("Bad") + "/"));
  EXPECT_TRUE(FileExists(dir.File("Bad/5A.dat")));
  EXPECT_FALSE(CopyFileToFolder(dir.File("queue/5A.dat"), dir.File("Missing")));
  EXPECT_FALSE(CopyFileToFolder(dir.File("queue/5A.dat"), ""));
}

}  // namespace
}  // namespace tarvo
