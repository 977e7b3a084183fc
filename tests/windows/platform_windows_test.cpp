// The Windows implementations of the platform layer where the shared tests
// do not reach: Windows paths, file names through the ANSI code page, the
// file operations of the service, the regional settings and the process
// facts. Run under a Russian locale (ANSI 1251, OEM 866), as the service is.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/service_control.h"
#include "platform/system_formats.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// "Весы.txt" in Windows-1251, and the same name as the system holds it.
const std::string kAnsiName = "\xC2\xE5\xF1\xFB.txt";
const std::wstring kWideName = L"\u0412\u0435\u0441\u044B.txt";

TEST(WindowsPathTest, HelpersTakeBothSeparatorsAndKeepRoots) {
  struct Case {
    std::string path, filePath, fileDir, fileName, ext;
  } cases[] = {
      {"C:\\Tarvo\\Log\\Log.txt", "C:\\Tarvo\\Log\\", "C:\\Tarvo\\Log", "Log.txt", ".txt"},
      {"C:/Tarvo/Import/a.b.csv", "C:/Tarvo/Import/", "C:/Tarvo/Import", "a.b.csv", ".csv"},
      {"C:\\Tarvo/Query\\cmd", "C:\\Tarvo/Query\\", "C:\\Tarvo/Query", "cmd", ""},
      {"C:\\file.ini", "C:\\", "C:\\", "file.ini", ".ini"},
      {"C:file.ini", "C:", "C:", "file.ini", ".ini"},
      {"\\\\server\\share\\x.dat", "\\\\server\\share\\", "\\\\server\\share", "x.dat", ".dat"},
      {"dir.d\\name", "dir.d\\", "dir.d", "name", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.path), c.filePath) << c.path;
    EXPECT_EQ(ExtractFileDir(c.path), c.fileDir) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.fileName) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
  }
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\name", ".ini"), "C:\\a.b\\name.ini");
  EXPECT_EQ(ChangeFileExt("C:/a/name.txt", ".bak"), "C:/a/name.bak");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\Tarvo"), "C:\\Tarvo\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\Tarvo\\"), "C:\\Tarvo\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:/Tarvo/"), "C:/Tarvo/");
  EXPECT_EQ(kPathDelim, '\\');
}

TEST(WindowsFilesTest, AnsiNamesReachTheSystemAsTheirLetters) {
  TempDir dir;
  const std::string folder = dir.path() + "\\" + kAnsiName.substr(0, 4) + "/sub";
  ASSERT_TRUE(ForceDirectories(folder));
  ASSERT_TRUE(DirectoryExists(folder));
  const std::string path = folder + "\\" + kAnsiName;
  ASSERT_TRUE(WriteFileAtomic(path, "1;2\r\n"));

  std::vector<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(fs::path(dir.path()).wstring() + L"\\" +
                                                  kWideName.substr(0, 4) + L"\\sub"))
    names.push_back(entry.path().filename().wstring());
  EXPECT_EQ(names, std::vector<std::wstring>{kWideName});

  const std::vector<FileEntry> listed = ListFolder(folder, "*.TXT");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].Name, kAnsiName);
  EXPECT_EQ(listed[0].Size, 5u);
  EXPECT_TRUE(ListFolder(folder, "*.csv").empty());
  std::string data;
  ASSERT_TRUE(ReadFileToString(folder + "\\" + listed[0].Name, &data));
  EXPECT_EQ(data, "1;2\r\n");
}

TEST(WindowsFilesTest, ReplacesCopiesAndRefusesReadOnlyFiles) {
  TempDir dir;
  const std::string path = dir.path() + "\\TarvoService.ini";
  ASSERT_TRUE(WriteFileAtomic(path, "old"));
  ASSERT_TRUE(WriteFileAtomic(path, "new"));
  std::string data;
  ASSERT_TRUE(ReadFileToString(path, &data));
  EXPECT_EQ(data, "new");
  EXPECT_EQ(ListFolder(dir.path()).size(), 1u);  // no temporary file left

  ASSERT_TRUE(CopyFileReplace(path, dir.path() + "\\copy.ini"));
  ASSERT_TRUE(ReadFileToString(dir.path() + "\\copy.ini", &data));
  EXPECT_EQ(data, "new");
  std::string error;
  EXPECT_FALSE(CopyFileReplace(dir.path(), dir.path() + "\\copy.ini", &error));
  EXPECT_FALSE(error.empty());

  fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_FALSE(WriteFileAtomic(path, "lost", &error));
  EXPECT_EQ(error, "The file is read-only");
  ASSERT_TRUE(ReadFileToString(path, &data));
  EXPECT_EQ(data, "new");
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);

  EXPECT_FALSE(ReadFileToString(dir.path() + "\\missing.ini", &data, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(DeleteFile(dir.path() + "\\missing.ini", &error));
  EXPECT_FALSE(error.empty());
}

TEST(WindowsFilesTest, ExclusiveAndUniqueNames) {
  TempDir dir;
  const std::string path = dir.path() + "\\lock";
  EXPECT_TRUE(CreateFileExclusive(path));
  EXPECT_FALSE(CreateFileExclusive(path));
  std::string first, second;
  ASSERT_TRUE(CreateUniqueTempFile(dir.path(), "svc", &first));
  ASSERT_TRUE(CreateUniqueTempFile(dir.path() + "\\", "svc", &second));
  EXPECT_NE(first, second);
  for (const std::string& name : {first, second}) {
    EXPECT_TRUE(FileExists(name)) << name;
    EXPECT_EQ(ExtractFilePath(name), dir.path() + "\\");
    EXPECT_EQ(ExtractFileName(name).substr(0, 3), "svc");
    EXPECT_EQ(ExtractFileExt(name), ".TMP");
  }
}

// The log stays open for appending while it is renamed away; the writer
// then sees that the path names another file and opens a new one.
TEST(WindowsFilesTest, AnAppendFileFollowsItsFileThroughARename) {
  TempDir dir;
  const std::string log = dir.path() + "\\Log.txt";
  std::unique_ptr<AppendFile> file = OpenAppendFile(log);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->Append("one\r\n"));
  ASSERT_TRUE(AppendToFile(log, "two\r\n"));  // another writer
  ASSERT_TRUE(file->Append("three\r\n"));
  EXPECT_TRUE(file->IsAt(log));

  ASSERT_TRUE(RenameFile(log, dir.path() + "\\Log.old"));
  EXPECT_FALSE(file->IsAt(log));
  ASSERT_TRUE(file->Append("four\r\n"));
  ASSERT_TRUE(AppendToFile(log, "new\r\n"));
  EXPECT_FALSE(file->IsAt(log));
  file.reset();

  std::string data;
  ASSERT_TRUE(ReadFileToString(dir.path() + "\\Log.old", &data));
  EXPECT_EQ(data, "one\r\ntwo\r\nthree\r\nfour\r\n");
  ASSERT_TRUE(ReadFileToString(log, &data));
  EXPECT_EQ(data, "new\r\n");
}

// The shared tests pin Windows-1251; these the system's OEM page, 866.
TEST(WindowsFilesTest, ListsKindsAndSizesAndRefusesAFolderOverAFile) {
  TempDir dir;
  ASSERT_TRUE(WriteFileAtomic(dir.path() + "\\b.dat", std::string(70000, 'x')));
  ASSERT_TRUE(ForceDirectories(dir.path() + "\\A.d\\inner"));
  const std::vector<FileEntry> entries = ListFolder(dir.path(), "*.*");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "A.d");
  EXPECT_EQ(entries[0].Kind, FileKind::kFolder);
  EXPECT_EQ(entries[0].Size, 0u);
  EXPECT_EQ(entries[1].Kind, FileKind::kRegular);
  EXPECT_EQ(entries[1].Size, 70000u);
  EXPECT_EQ(GetFileSize64(dir.path() + "\\b.dat"), 70000u);
  EXPECT_NEAR(static_cast<double>(entries[1].ModifiedMillis),
              static_cast<double>(FileTimeNowMillis()), 600000.0);
  size_t pieces = 0, bytes = 0;
  ASSERT_TRUE(ReadFileChunks(dir.path() + "\\b.dat", 65536, [&](std::string_view piece) {
    ++pieces;
    bytes += piece.size();
    return true;
  }));
  EXPECT_EQ(pieces, 2u);
  EXPECT_EQ(bytes, 70000u);
  std::string error;
  EXPECT_FALSE(ForceDirectories(dir.path() + "\\b.dat\\sub", &error));
  EXPECT_FALSE(error.empty());
}

// The console build cannot register a service, and says so.
// Registration itself runs against the real Service Control Manager in
// tools/windows-e2e.sh.
TEST(WindowsServiceControlTest, AnUnknownServiceIsNotInstalledAndNoRequestIsPending) {
  EXPECT_FALSE(ServiceExists("TarvoNoSuchService"));
  std::string error;
  EXPECT_FALSE(UninstallService("TarvoNoSuchService", &error));
  EXPECT_FALSE(error.empty());
  InstallControlHandlers();
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kNone);
}

TEST(WindowsCodePageTest, AnsiAndOemAreTheSystemsCyrillicPages) {
  EXPECT_EQ(AnsiToUtf8(kAnsiName), "\xD0\x92\xD0\xB5\xD1\x81\xD1\x8B.txt");
  EXPECT_EQ(OemToAnsi("\x82\xA5\xE1\xEB \xFC \xF1"), "\xC2\xE5\xF1\xFB \xB9 \xB8");
  EXPECT_EQ(OemToAnsi("\xB0\xC4"), "??");  // box drawing: not in Windows-1251
}

TEST(WindowsSystemFormatsTest, TheRegionalSettingsComeFirstAndTheEnvironmentOverrides) {
  LoadSystemFormatsFromEnvironment();
  EXPECT_EQ(GetSystemFormats().DecimalSeparator, ',');
  EXPECT_EQ(GetSystemFormats().ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(GetSystemFormats().DateSeparator, '.');
  EXPECT_EQ(GetSystemFormats().TimeSeparator, ':');
  double value = 0;
  EXPECT_TRUE(TryStrToFloat("2,5", &value));
  EXPECT_EQ(value, 2.5);
  EXPECT_EQ(FloatToStr(0.25), "0,25");

  ::setenv("TARVO_DECIMAL_SEPARATOR", ".", 1);
  LoadSystemFormatsFromEnvironment();
  ::unsetenv("TARVO_DECIMAL_SEPARATOR");
  EXPECT_EQ(GetSystemFormats().DecimalSeparator, '.');
  EXPECT_EQ(GetSystemFormats().ShortDateFormat, "dd.mm.yyyy");
  SetSystemFormats(SystemFormats());
}

TEST(WindowsProcessTest, KnowsItsExecutableAndEnvironment) {
  const std::string exe = ExecutablePath();
  EXPECT_EQ(exe.substr(1, 2), ":\\");
  EXPECT_TRUE(FileExists(exe));
  EXPECT_TRUE(SameTextAnsi(ExtractFileName(exe), "windows_platform_windows_test.exe"));
  const std::string computer = ComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_EQ(computer, AnsiUpperCase(computer));
  ::setenv("TARVO_WINDOWS_TEST", "\xC2\xE5\xF1\xFB", 1);
  EXPECT_EQ(GetEnv("TARVO_WINDOWS_TEST"), "\xC2\xE5\xF1\xFB");
  ::unsetenv("TARVO_WINDOWS_TEST");
  EXPECT_EQ(GetEnv("TARVO_WINDOWS_TEST"), "");
}

}  // namespace
}  // namespace tarvo
