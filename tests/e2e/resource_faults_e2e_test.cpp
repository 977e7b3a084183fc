// Resource faults under the running service: a query folder that fills up or
// turns read-only for a while, an import file the service may not read, and
// a settings file it may not write. Each fault is logged, nothing is lost,
// and the service carries on once the fault has passed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/command_client.h"
#include "support/harness.h"
#include "support/wait.h"

namespace tarvo::testing {
namespace {

namespace fs = std::filesystem;

// A small tmpfs mounted on `folder` for the life of the object; ok() is false
// where this process may not mount.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& folder, const std::string& size) : folder_(folder) {
    fs::create_directories(folder);
    ok_ = RunToEnd("/bin/mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder}, "/", {},
                   10000, &output_) == 0;
  }
  ~TmpfsMount() {
    if (ok_)
      RunToEnd("/bin/umount", {"-l", folder_}, "/", {}, 10000);
  }
  bool ok() const { return ok_; }
  const std::string& output() const { return output_; }
  bool SetReadOnly(bool readOnly) {
    return RunToEnd("/bin/mount", {"-o", readOnly ? "remount,ro" : "remount,rw", folder_}, "/", {},
                    10000) == 0;
  }

 private:
  std::string folder_;
  std::string output_;
  bool ok_ = false;
};

// Writes `path` until the file system is full, then frees `slackKiB`: room
// for a command file, not for its data.
void Fill(const std::string& path, int slackKiB) {
  const std::string slack = path + ".slack";
  std::ofstream(slack, std::ios::binary) << std::string(slackKiB * 1024, 's');
  std::ofstream out(path, std::ios::binary);
  const std::string block(4096, 'f');
  while (out.write(block.data(), block.size()) && out.flush()) {
  }
  fs::remove(slack);
}

// The queued data files (".dat") in `folder`.
std::vector<std::string> DataFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".dat")
      files.push_back(entry.path().string());
  }
  return files;
}

std::string PluFile() {
  std::string data;
  for (int i = 1; i <= 3000; ++i)
    data += std::to_string(i) + ";Article " + std::to_string(i) + "\r\n";
  return data;
}

struct QueryFault {
  const char* name;
  bool readOnly;  // else full
};

void PrintTo(const QueryFault& fault, std::ostream* out) {
  *out << fault.name;
}

class QueryFolderFaultTest : public ::testing::TestWithParam<QueryFault> {};

TEST_P(QueryFolderFaultTest, TheImportFileWaitsUntilTheQueryFolderTakesItAgain) {
  ServiceProcess service;
  service.WriteIni(ServiceIni({"127.0.0.199"}));
  TmpfsMount query(service.dir().File("Query"), "256k");
  if (!query.ok())
    GTEST_SKIP() << "no tmpfs can be mounted here (" << query.output()
                 << "); the query-folder faults need root";
  service.Start();
  ASSERT_TRUE(service.WaitForLog("ServiceExecute: Execute begining.", 10000));
  const std::string filler = service.dir().File("Query/filler");
  if (GetParam().readOnly) {
    ASSERT_TRUE(query.SetReadOnly(true));
  } else {
    Fill(filler, 16);
  }

  const std::string data = PluFile();
  service.DropImportFile("fault.plu", data);
  ASSERT_TRUE(service.WaitForLog("ServiceExecuteImport: ", 15000)) << service.Log();
  const size_t firstError = service.Log().find("ServiceExecuteImport: ");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return service.Log().find("ServiceExecuteImport: ", firstError + 1) != std::string::npos;
      },
      15000));  // a later scan failed too, and the file is still there
  EXPECT_EQ(service.dir().Read("Import/fault.plu"), data);
  EXPECT_TRUE(DataFiles(service.dir().File("Query")).empty());

  if (GetParam().readOnly) {
    ASSERT_TRUE(query.SetReadOnly(false));
  } else {
    fs::remove(filler);
  }
  ASSERT_TRUE(
      WaitUntil([&] { return !fs::exists(service.dir().File("Import/fault.plu")); }, 15000));
  const std::vector<std::string> queued = DataFiles(service.dir().File("Query"));
  ASSERT_EQ(queued.size(), 1u);
  std::ifstream in(queued[0], std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), data);
  EXPECT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, QueryFolderFaultTest,
                         ::testing::Values(QueryFault{"Full", false}, QueryFault{"ReadOnly", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The permission cases need a service that permissions bind: as root the
// test runs it as the unprivileged user "nobody".
constexpr int kNobody = 65534;

int ServiceUid(const ServiceProcess& service) {
  if (geteuid() != 0)
    return -1;
  fs::permissions(service.dir().path(), fs::perms::all);
  return kNobody;
}

TEST(ResourceFaultsE2ETest, AnUnreadableImportFileStaysUntilItCanBeRead) {
  ServiceProcess service;
  service.WriteIni(ServiceIni({"127.0.0.199"}));
  fs::create_directories(service.dir().File("Import"));
  fs::permissions(service.dir().File("Import"), fs::perms::all);
  service.DropImportFile("secret.plu", PluFile());
  fs::permissions(service.dir().File("Import/secret.plu"), fs::perms::none);
  service.DropImportFile("open.plu", PluFile());
  service.Start({}, ServiceUid(service));

  ASSERT_TRUE(
      service.WaitForLog("ServiceExecute: Import file <secret.plu> cannot be read (", 15000))
      << service.Log();
  ASSERT_TRUE(WaitUntil([&] { return !fs::exists(service.dir().File("Import/open.plu")); }, 15000));
  EXPECT_TRUE(fs::exists(service.dir().File("Import/secret.plu")));

  fs::permissions(service.dir().File("Import/secret.plu"),
                  fs::perms::owner_read | fs::perms::others_read);
  ASSERT_TRUE(
      WaitUntil([&] { return !fs::exists(service.dir().File("Import/secret.plu")); }, 15000));
  EXPECT_EQ(DataFiles(service.dir().File("Query")).size(), 2u);
  EXPECT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
}

TEST(ResourceFaultsE2ETest, AReadOnlySettingsFileIsLeftAsItIs) {
  ServiceProcess service;
  service.WriteIni(ServiceIni({"127.0.0.199"}));
  const std::string ini = service.ReadIni();
  fs::permissions(service.dir().File("tarvo-scale-server.ini"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  service.Start({}, ServiceUid(service));
  ASSERT_TRUE(service.WaitForLog("ServiceExecute: Execute begining.", 10000));

  CommandClient client(service.CommandPort());
  EXPECT_EQ(client.Exchange("SetSettings ImportInterval=7").back(), "500 Error save settings.");
  EXPECT_EQ(client.Exchange("Version").back(), "200");  // the connection still serves
  EXPECT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
  EXPECT_EQ(service.ReadIni(), ini);
  for (const char* line :
       {"ServiceCmd: Error save settings.", "ServiceStop: Error save settings.",
        "ServiceStop: Error save scale list.", "ServiceStop: Error save fields config."}) {
    EXPECT_NE(service.Log().find(line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace tarvo::testing
