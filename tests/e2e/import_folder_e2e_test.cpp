// What real shops drop into the import folder, against the real service and
// emulator: entries that are not regular files, and names that are not UTF-8.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/harness.h"
#include "support/wait.h"

namespace tarvo::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

const std::vector<std::string> kFields = {"FieldNumber_Pos=1", "FieldName_Pos=2",
                                          "FieldPrice_Pos=3"};

// Waits until the service has begun `more` further import scans.
bool WaitForScans(const ServiceProcess& service, size_t more) {
  const size_t start = Occurrences(service.Log(), "Start find import files.");
  return WaitUntil(
      [&] { return Occurrences(service.Log(), "Start find import files.") >= start + more; },
      20000);
}

TEST(ImportFolderE2ETest, LinksAndFifosAreLeftInPlaceAndTheServiceStillStops) {
  const std::vector<std::string> scales = {"127.0.0.161", "127.0.0.162"};
  EmulatorProcess emulator(scales);
  ASSERT_TRUE(emulator.ok());
  ServiceProcess service;
  service.WriteIni(ServiceIni(scales, {}, kFields));
  // A link to data outside the folder, which the service could read as root,
  // and a FIFO that nobody writes; both old enough to be taken.
  service.dir().Write("secret.txt", "99,Secret,1\r\n");
  fs::create_directories(service.dir().File("Import"));
  fs::create_symlink(service.dir().File("secret.txt"), service.dir().File("Import/passwd.txt"));
  ASSERT_EQ(::mkfifo(service.dir().File("Import/fifo.txt").c_str(), 0600), 0);
  service.dir().Age("Import/fifo.txt", 5);
  ASSERT_TRUE(service.StartAgainst(emulator));

  ASSERT_TRUE(WaitForScans(service, 1));
  service.DropImportFile("goods.txt", "1,Milk,1.5\r\n");
  for (const std::string& ip : scales) {
    EXPECT_TRUE(WaitUntil(
        [&] { return emulator.ScaleFile(ip, "plus.tsv").find("\n1\tMilk\t") != std::string::npos; },
        30000))
        << ip << " never got the file dropped after the link and the FIFO";
  }
  ASSERT_TRUE(WaitForScans(service, 3));

  const std::string log = service.Log();
  EXPECT_EQ(Occurrences(log, "Import file <passwd.txt> is not a regular file, left in place."), 1u)
      << log;
  EXPECT_EQ(Occurrences(log, "Import file <fifo.txt> is not a regular file, left in place."), 1u);
  EXPECT_THAT(log, Not(HasSubstr("<passwd.txt> deleted.")));
  for (const std::string& ip : scales)
    EXPECT_THAT(emulator.ScaleFile(ip, "plus.tsv"), Not(HasSubstr("Secret"))) << ip;
  EXPECT_EQ(service.BadDataFiles(), 0u);
  EXPECT_TRUE(fs::is_symlink(service.dir().File("Import/passwd.txt")));
  EXPECT_TRUE(fs::is_fifo(service.dir().File("Import/fifo.txt")));
  EXPECT_FALSE(fs::exists(service.dir().File("Import/goods.txt")));

  ASSERT_TRUE(service.Stop(5000)) << "a stop request is honoured within seconds";
  EXPECT_EQ(service.process().exit_code(), 0);
}

TEST(ImportFolderE2ETest, AWindows1251NameArrivesOnceAndIsDeleted) {
  const std::string scale = "127.0.0.171";
  EmulatorProcess emulator({scale});
  ASSERT_TRUE(emulator.ok());
  ServiceProcess service;
  service.WriteIni(ServiceIni({scale}, {}, kFields));
  ASSERT_TRUE(service.StartAgainst(emulator));

  // "Привет.txt" as a Windows share or an old back office writes it.
  service.DropImportFile("\xCF\xF0\xE8\xE2\xE5\xF2.txt", "44,x,1\r\n");
  ASSERT_TRUE(service.WaitQueueEmpty());
  EXPECT_TRUE(WaitUntil(
      [&] { return emulator.ScaleFile(scale, "plus.tsv").find("\n44\tx\t") != std::string::npos; },
      10000))
      << emulator.ScaleFile(scale, "plus.tsv");
  ASSERT_TRUE(WaitForScans(service, 3));

  const std::string log = service.Log();
  EXPECT_EQ(Occurrences(log, "ServiceExecute: Command file <"), 1u) << log;
  EXPECT_EQ(Occurrences(log, "ServiceExecute: Import file <Привет.txt> deleted."), 1u);
  EXPECT_THAT(log, Not(HasSubstr("Error delete import file")));
  EXPECT_THAT(service.Journal(), HasSubstr("Status=0 File=\xCF\xF0\xE8\xE2\xE5\xF2.txt"));
  EXPECT_EQ(service.BadDataFiles(), 0u);
  EXPECT_TRUE(fs::is_empty(service.dir().File("Import")));

  ASSERT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
}

}  // namespace
}  // namespace tarvo::testing
