#include "platform/files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "platform/codepage.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

std::vector<std::string> Names(const std::vector<FileEntry>& entries) {
  std::vector<std::string> names;
  for (const FileEntry& e : entries)
    names.push_back(e.Name);
  return names;
}

// CreateUniqueTempFile's path; "" when it fails.
std::string UniqueTempFile(const std::string& folder) {
  std::string path;
  return CreateUniqueTempFile(folder, "svc", &path) ? path : "";
}

TEST(PathTextTest, SplitsPaths) {
  EXPECT_EQ(ExtractFilePath("/srv/tarvo/Import/goods.txt"), "/srv/tarvo/Import/");
  EXPECT_EQ(ExtractFilePath("goods.txt"), "");
  EXPECT_EQ(ExtractFileDir("/srv/tarvo/Import/goods.txt"), "/srv/tarvo/Import");
  EXPECT_EQ(ExtractFileDir("/goods.txt"), "/");
  EXPECT_EQ(ExtractFileDir("goods.txt"), "");
  EXPECT_EQ(ExtractFileName("/srv/tarvo/Import/goods.txt"), "goods.txt");
  EXPECT_EQ(ExtractFileName("/srv/tarvo/Import/"), "");
  EXPECT_EQ(ExtractFileName("goods.txt"), "goods.txt");
  EXPECT_EQ(ExtractFileExt("/a/goods.plu.txt"), ".txt");
  EXPECT_EQ(ExtractFileExt("/a.d/goods"), "");
  EXPECT_EQ(ExtractFileExt("/a/.hidden"), ".hidden");
  EXPECT_EQ(ChangeFileExt("/a/base.cmd", ".dat"), "/a/base.dat");
  EXPECT_EQ(ChangeFileExt("/a.d/base", ".lck"), "/a.d/base.lck");
  EXPECT_EQ(ChangeFileExt("/a/svc1F.TMP", ""), "/a/svc1F");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
}

TEST(FilesTest, ReadsWritesAppendsAndDeletes) {
  TempDir dir;
  const std::string path = dir.File("data.txt");
  std::string contents = "stale";
  EXPECT_FALSE(ReadFileToString(path, &contents));
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(GetFileSize64(path), 0u);

  ASSERT_TRUE(AppendToFile(path, "one\r\n"));
  ASSERT_TRUE(AppendToFile(path, "two\r\n"));
  ASSERT_TRUE(ReadFileToString(path, &contents));
  EXPECT_EQ(contents, "one\r\ntwo\r\n");
  EXPECT_EQ(GetFileSize64(path), 10u);

  std::string binary("a\0b\xff", 4);
  ASSERT_TRUE(WriteFileAtomic(path, binary));
  ASSERT_TRUE(ReadFileToString(path, &contents));
  EXPECT_EQ(contents, binary);

  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(DirectoryExists(path));
  EXPECT_TRUE(DeleteFile(path));
  EXPECT_FALSE(FileExists(path));
  std::string error;
  EXPECT_FALSE(DeleteFile(path, &error));
  EXPECT_FALSE(error.empty());
}

TEST(FilesTest, AtomicWriteLeavesNoTemporaryFileAndKeepsPermissions) {
  TempDir dir;
  const std::string path = dir.File("settings.ini");
  ASSERT_TRUE(WriteFileAtomic(path, "old"));
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomic(path, "new contents"));
  EXPECT_EQ(dir.Read("settings.ini"), "new contents");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Names(ListFolder(dir.path())), std::vector<std::string>{"settings.ini"});
  const mode_t oldMask = ::umask(022);
  ::chmod(path.c_str(), 0666);
  const bool again = WriteFileAtomic(path, "again");
  ::umask(oldMask);
  ASSERT_TRUE(again);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u) << "the umask does not narrow a replaced file";
  // A name near the system's limit still gets a temporary sibling.
  const std::string longName(250, 'n');
  EXPECT_TRUE(WriteFileAtomic(dir.File(longName), "long"));
  EXPECT_EQ(dir.Read(longName), "long");
  // A missing folder fails and creates nothing.
  EXPECT_FALSE(WriteFileAtomic(dir.File("no/such/file"), "x"));
  EXPECT_FALSE(DirectoryExists(dir.File("no")));
}

TEST(FilesTest, TemporaryFilesOfAReplacementNameTheirTarget) {
  const struct {
    std::string name;
    std::string target;
  } kCases[] = {
      {".settings.ini.0123ABCD.tmp", "settings.ini"},
      {".svc1A.dat.FFFFFFFF.tmp", "svc1A.dat"},
      {".a.00000000.tmp", "a"},
      {"." + std::string(200, 'n') + ".0123ABCD.tmp", std::string(200, 'n')},
      {"settings.ini.0123ABCD.tmp", ""},  // no leading point
      {"..0123ABCD.tmp", ""},             // no target
      {".settings.ini.0123abcd.tmp", ""},
      {".settings.ini.0123ABC.tmp", ""},
      {".settings.ini.0123ABCDE.tmp", ""},
      {".settings.ini.0123ABCD.TMP", ""},
      {".settings.ini-0123ABCD.tmp", ""},
      {"settings.ini", ""},
      {"", ""},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(ReplacedFileOfTemporary(c.name), c.target) << c.name;

  // The names the writers really use, seen while they write.
  TempDir dir;
  const std::string target = "journal.log";
  std::atomic<bool> done{false};
  std::thread writer([&] {
    const std::string data(1 << 20, 'd');
    for (int i = 0; i < 400 && !done; ++i) {
      WriteFileAtomic(dir.File(target), data);
      CopyFileReplace(dir.File(target), dir.File("copy.dat"));
    }
    done = true;
  });
  std::set<std::string> seen;
  while (!done) {
    for (const FileEntry& e : ListFolder(dir.path())) {
      if (e.Name != target && e.Name != "copy.dat")
        seen.insert(e.Name);
    }
    if (seen.size() >= 2)
      done = true;
  }
  writer.join();
  ASSERT_FALSE(seen.empty()) << "no temporary file seen during 800 writes";
  for (const std::string& name : seen) {
    const std::string named = ReplacedFileOfTemporary(name);
    EXPECT_TRUE(named == target || named == "copy.dat") << name;
  }
}

TEST(FilesTest, ReadersNeverSeePartOfAnAtomicWrite) {
  TempDir dir;
  const std::string path = dir.File("journal.log");
  const std::string a(200000, 'a');
  const std::string b(300000, 'b');
  ASSERT_TRUE(WriteFileAtomic(path, a));
  std::thread writer([&] {
    for (int i = 0; i < 30; ++i)
      WriteFileAtomic(path, i % 2 ? a : b);
  });
  for (int i = 0; i < 200; ++i) {
    std::string seen;
    ASSERT_TRUE(ReadFileToString(path, &seen));
    ASSERT_TRUE(seen == a || seen == b) << "read " << seen.size() << " bytes";
  }
  writer.join();
}

TEST(FilesTest, CopyReplacesTheTarget) {
  TempDir dir;
  dir.Write("src.dat", "new data");
  dir.Write("dst.dat", "old data that is longer");
  ASSERT_TRUE(CopyFileReplace(dir.File("src.dat"), dir.File("dst.dat")));
  EXPECT_EQ(dir.Read("dst.dat"), "new data");
  EXPECT_EQ(dir.Read("src.dat"), "new data");
  ::chmod(dir.File("src.dat").c_str(), 0600);
  ASSERT_TRUE(CopyFileReplace(dir.File("src.dat"), dir.File("fresh.dat")));
  EXPECT_EQ(dir.Read("fresh.dat"), "new data");
  struct stat st;
  ASSERT_EQ(::stat(dir.File("fresh.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(CopyFileReplace(dir.File("missing.dat"), dir.File("dst.dat")));
  EXPECT_EQ(dir.Read("dst.dat"), "new data");
  EXPECT_FALSE(CopyFileReplace(dir.File("missing.dat"), dir.File("never.dat")));
  EXPECT_FALSE(FileExists(dir.File("never.dat")));
  // A folder is not a source, and a failed copy leaves no temporary file.
  ASSERT_TRUE(ForceDirectories(dir.File("sub")));
  EXPECT_FALSE(CopyFileReplace(dir.File("sub"), dir.File("x.dat")));
  EXPECT_FALSE(CopyFileReplace(dir.File("src.dat"), dir.File("nofolder/x.dat")));
  EXPECT_EQ(Names(ListFolder(dir.path())),
            (std::vector<std::string>{"dst.dat", "fresh.dat", "src.dat", "sub"}));
}

TEST(FilesTest, CreatesFoldersWithParents) {
  TempDir dir;
  EXPECT_FALSE(ForceDirectories(""));
  const std::string deep = dir.File("a/b/c/");
  ASSERT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
  EXPECT_FALSE(FileExists(dir.File("a/b/c")));
  EXPECT_TRUE(ForceDirectories(deep));  // already there
  dir.Write("file", "x");
  EXPECT_FALSE(ForceDirectories(dir.File("file")));
  EXPECT_FALSE(ForceDirectories(dir.File("file/sub")));
  EXPECT_EQ(GetFileSize64(dir.File("a")), 0u);
}

TEST(FilesTest, RenameReplacesAndExclusiveCreateRefusesExisting) {
  TempDir dir;
  dir.Write("a", "A");
  dir.Write("b", "B");
  ASSERT_TRUE(RenameFile(dir.File("a"), dir.File("b")));
  EXPECT_EQ(dir.Read("b"), "A");
  EXPECT_FALSE(FileExists(dir.File("a")));
  EXPECT_FALSE(RenameFile(dir.File("a"), dir.File("c")));

  EXPECT_TRUE(CreateFileExclusive(dir.File("base.lck")));
  EXPECT_FALSE(CreateFileExclusive(dir.File("base.lck")));
  EXPECT_EQ(GetFileSize64(dir.File("base.lck")), 0u);
}

// A failure says why in the system's words, also when clean-up calls follow
// it, and an operation given no place for the reason fails the same way.
TEST(FilesTest, FailuresGiveTheSystemsReason) {
  TempDir dir;
  dir.Write("file", "x");
  const std::string missing = dir.File("missing/data");
  std::string contents;
  std::string path;
  const struct {
    const char* what;
    std::function<bool(std::string* error)> call;
    int reason;
  } cases[] = {
      {"ForceDirectories \"\"", [&](std::string* e) { return ForceDirectories("", e); }, EINVAL},
      {"ForceDirectories below a file",
       [&](std::string* e) { return ForceDirectories(dir.File("file/sub"), e); }, ENOTDIR},
      {"DeleteFile", [&](std::string* e) { return DeleteFile(missing, e); }, ENOENT},
      {"RenameFile", [&](std::string* e) { return RenameFile(missing, dir.File("to"), e); },
       ENOENT},
      {"CopyFileReplace from nothing",
       [&](std::string* e) { return CopyFileReplace(missing, dir.File("to"), e); }, ENOENT},
      {"CopyFileReplace from a folder",
       [&](std::string* e) { return CopyFileReplace(dir.path(), dir.File("to"), e); }, EISDIR},
      {"CopyFileReplace into nothing",
       [&](std::string* e) { return CopyFileReplace(dir.File("file"), missing, e); }, ENOENT},
      {"ReadFileToString", [&](std::string* e) { return ReadFileToString(missing, &contents, e); },
       ENOENT},
      {"ReadFileToString of a folder",
       [&](std::string* e) { return ReadFileToString(dir.path(), &contents, e); }, EISDIR},
      {"ReadFileChunks",
       [&](std::string* e) {
         return ReadFileChunks(
             dir.path(), 16, [](std::string_view) { return true; }, e);
       },
       EISDIR},
      {"WriteFileAtomic", [&](std::string* e) { return WriteFileAtomic(missing, "x", e); }, ENOENT},
      {"AppendToFile", [&](std::string* e) { return AppendToFile(missing, "x", e); }, ENOENT},
      {"CreateFileExclusive",
       [&](std::string* e) { return CreateFileExclusive(dir.File("file"), e); }, EEXIST},
      {"CreateUniqueTempFile",
       [&](std::string* e) { return CreateUniqueTempFile(dir.File("missing"), "svc", &path, e); },
       ENOENT},
  };
  for (const auto& c : cases) {
    std::string error = "stale";
    EXPECT_FALSE(c.call(&error)) << c.what;
    EXPECT_EQ(error, std::strerror(c.reason)) << c.what;
    EXPECT_FALSE(c.call(nullptr)) << c.what;
  }
  EXPECT_EQ(Names(ListFolder(dir.path())), std::vector<std::string>{"file"});
}

TEST(FilesTest, ListsInNameOrderByMask) {
  TempDir dir;
  for (const char* name : {"b.TXT", "a.txt", "C.txt", "goods.plu", "x.txt.bak", "noext"}) {
    dir.Write(name, "12345");
  }
  ASSERT_TRUE(ForceDirectories(dir.File("folder.txt")));
  const auto all = ListFolder(dir.path());
  EXPECT_EQ(Names(all), (std::vector<std::string>{"a.txt", "b.TXT", "C.txt", "folder.txt",
                                                  "goods.plu", "noext", "x.txt.bak"}));
  EXPECT_EQ(Names(ListFolder(dir.path(), "*.*")), Names(all));
  EXPECT_EQ(Names(ListFolder(dir.path(), "*.txt")),
            (std::vector<std::string>{"a.txt", "b.TXT", "C.txt", "folder.txt"}));
  EXPECT_EQ(Names(ListFolder(dir.path(), "?.TXT")),
            (std::vector<std::string>{"a.txt", "b.TXT", "C.txt"}));
  EXPECT_EQ(Names(ListFolder(dir.path(), "*s.p*")), std::vector<std::string>{"goods.plu"});
  EXPECT_EQ(Names(ListFolder(dir.path(), "*.cmd")), std::vector<std::string>{});
  EXPECT_TRUE(ListFolder(dir.File("missing")).empty());
  EXPECT_TRUE(ListFolder("").empty());

  for (const FileEntry& e : all) {
    EXPECT_EQ(e.IsFolder, e.Name == "folder.txt") << e.Name;
    EXPECT_EQ(e.Size, e.IsFolder ? 0u : 5u) << e.Name;
    EXPECT_GT(e.ModifiedMillis, 1600000000000LL) << e.Name;
    // Written before now, on the same scale as FileTimeNowMillis().
    EXPECT_LE(e.ModifiedMillis, FileTimeNowMillis()) << e.Name;
  }
}

TEST(FilesTest, NamesCrossTheBoundaryAsAnsi) {
  TempDir dir;
  // "Товар.txt" in Windows-1251, stored on disk in UTF-8.
  const std::string ansiName = "\xD2\xEE\xE2\xE0\xF0.txt";
  const std::string utf8Name = "\xD0\xA2\xD0\xBE\xD0\xB2\xD0\xB0\xD1\x80.txt";
  ASSERT_TRUE(WriteFileAtomic(dir.path() + "/" + ansiName, "data"));
  EXPECT_TRUE(fs::exists(fs::path(dir.File(utf8Name))));
  EXPECT_EQ(Names(ListFolder(dir.path())), std::vector<std::string>{ansiName});
  // The mask matches Cyrillic letters without regard to case: "товар*".
  EXPECT_EQ(Names(ListFolder(dir.path(), "\xF2\xEE\xE2\xE0\xF0*")),
            std::vector<std::string>{ansiName});
  EXPECT_TRUE(FileExists(dir.path() + "/" + ansiName));
  EXPECT_EQ(GetFileSize64(dir.path() + "/" + ansiName), 4u);
}

TEST(FilesTest, EntryKindsAreTakenWithoutFollowingLinks) {
  TempDir dir;
  dir.Write("file.txt", "12345");
  ASSERT_TRUE(ForceDirectories(dir.File("folder.txt")));
  fs::create_symlink(dir.File("file.txt"), dir.File("link-to-file.txt"));
  fs::create_directory_symlink(dir.File("folder.txt"), dir.File("link-to-folder.txt"));
  fs::create_symlink(dir.File("missing"), dir.File("dangling.txt"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.txt").c_str(), 0600), 0);
  std::map<std::string, std::pair<FileKind, uint64_t>> seen;
  for (const FileEntry& e : ListFolder(dir.path(), "*.txt")) {
    seen[e.Name] = {e.Kind, e.Size};
    EXPECT_EQ(e.IsFolder, e.Kind == FileKind::kFolder) << e.Name;
  }
  const std::map<std::string, std::pair<FileKind, uint64_t>> expected = {
      {"dangling.txt", {FileKind::kOther, 0}},     {"fifo.txt", {FileKind::kOther, 0}},
      {"file.txt", {FileKind::kRegular, 5}},       {"folder.txt", {FileKind::kFolder, 0}},
      {"link-to-file.txt", {FileKind::kOther, 0}}, {"link-to-folder.txt", {FileKind::kOther, 0}},
  };
  EXPECT_EQ(seen, expected);
}

TEST(FilesTest, CopyReadsOnlyARegularFile) {
  TempDir dir;
  dir.Write("secret", "not for the scales");
  fs::create_symlink(dir.File("secret"), dir.File("link.txt"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.txt").c_str(), 0600), 0);
  // A FIFO without a writer: an open that waited for one would never end.
  for (const char* source : {"link.txt", "fifo.txt"}) {
    std::string error;
    EXPECT_FALSE(CopyFileReplace(dir.File(source), dir.File("copy"), &error)) << source;
    EXPECT_THAT(error, ::testing::StartsWith("Not a regular file")) << source;
    EXPECT_FALSE(fs::exists(dir.File("copy"))) << source;
  }
  EXPECT_TRUE(fs::is_symlink(dir.File("link.txt")));
  EXPECT_TRUE(fs::is_fifo(dir.File("fifo.txt")));
  ASSERT_TRUE(CopyFileReplace(dir.File("secret"), dir.File("copy")));
  EXPECT_EQ(dir.Read("copy"), "not for the scales");
}

TEST(FilesTest, NamesThatAreNotAnsiTextAreListedAndUsedAsTheirBytes) {
  const struct {
    const char* what;
    std::string name;  // as the system holds it
  } cases[] = {
      // "Привет.txt" in Windows-1251, as a Windows share writes it.
      {"Windows-1251 bytes", "\xCF\xF0\xE8\xE2\xE5\xF2.txt"},
      // UTF-8 letters that Windows-1251 lacks: "货物.txt".
      {"UTF-8 beyond ANSI", "\xE8\xB4\xA7\xE7\x89\xA9.txt"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.Write(c.name, "44,x,1\r\n");
    ASSERT_EQ(Names(ListFolder(dir.path())), std::vector<std::string>{c.name}) << c.what;
    const std::string path = dir.path() + "/" + c.name;
    EXPECT_TRUE(FileExists(path)) << c.what;
    EXPECT_EQ(GetFileSize64(path), 8u) << c.what;
    std::string contents;
    EXPECT_TRUE(ReadFileToString(path, &contents)) << c.what;
    EXPECT_EQ(contents, "44,x,1\r\n") << c.what;
    ASSERT_TRUE(CopyFileReplace(path, dir.File("copy"))) << c.what;
    EXPECT_EQ(dir.Read("copy"), "44,x,1\r\n") << c.what;
    std::string error;
    EXPECT_TRUE(DeleteFile(path, &error)) << c.what << ": " << error;
    EXPECT_EQ(Names(ListFolder(dir.path())), std::vector<std::string>{"copy"}) << c.what;
    // A new file of that ANSI name is made in the system's UTF-8.
    EXPECT_TRUE(WriteFileAtomic(path, "x")) << c.what;
    EXPECT_TRUE(fs::exists(fs::path(dir.File(AnsiToUtf8(c.name))))) << c.what;
  }
}

TEST(FilesTest, UniqueTempFilesAreCreatedExclusively) {
  TempDir dir;
  std::set<std::string> paths;
  for (int i = 0; i < 200; ++i) {
    const std::string path = UniqueTempFile(dir.path());
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(paths.insert(path).second) << path;
    EXPECT_EQ(ExtractFilePath(path), dir.path() + "/");
    const std::string name = ExtractFileName(path);
    ASSERT_GE(name.size(), 8u);
    ASSERT_LE(name.size(), 11u);
    EXPECT_EQ(name.substr(0, 3), "svc");
    EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
    const std::string hex = name.substr(3, name.size() - 7);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << name;
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(GetFileSize64(path), 0u);
  }
  EXPECT_EQ(ListFolder(dir.path(), "svc*.TMP").size(), 200u);
  EXPECT_EQ(UniqueTempFile(dir.File("missing")), "");
  EXPECT_EQ(UniqueTempFile(""), "");
}

TEST(FilesTest, UniqueTempFileFindsTheLastFreeName) {
  TempDir dir;
  // Occupy every name but one; the search must still find it.
  for (int n = 1; n <= 0xFFFF; ++n) {
    if (n == 0xBEEF)
      continue;
    char name[16];
    std::snprintf(name, sizeof(name), "svc%X.TMP", n);
    ASSERT_TRUE(CreateFileExclusive(dir.File(name)));
  }
  EXPECT_EQ(UniqueTempFile(dir.path()), dir.File("svcBEEF.TMP"));
  EXPECT_EQ(UniqueTempFile(dir.path()), "");
}

TEST(FilesTest, UniqueTempFilesFromManyThreadsNeverCollide) {
  TempDir dir;
  std::vector<std::vector<std::string>> made(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i)
        made[t].push_back(UniqueTempFile(dir.path()));
    });
  }
  for (auto& t : threads)
    t.join();
  std::set<std::string> all;
  for (const auto& v : made) {
    for (const std::string& p : v) {
      EXPECT_FALSE(p.empty());
      all.insert(p);
    }
  }
  EXPECT_EQ(all.size(), 400u);
}

}  // namespace
}  // namespace tarvo
