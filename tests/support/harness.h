// End-to-end harnesses: the real service binary in a private folder, and the
// real scale emulator serving loopback addresses.
#ifndef TARVO_TESTS_SUPPORT_HARNESS_H_
#define TARVO_TESTS_SUPPORT_HARNESS_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tarvo::testing {

// tarvo-scale-emu serving `addresses` on a free port, its state in a
// temporary folder.
class EmulatorProcess {
 public:
  // Starts the emulator and waits until every address is listening.
  // `extra` are added options such as {"--error-after", "0", ...}. `port` 0
  // lets the emulator choose a free port.
  explicit EmulatorProcess(const std::vector<std::string>& addresses,
                           const std::vector<std::string>& extra = {}, int port = 0);
  ~EmulatorProcess();

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  // The file `name` of the scale at `address`, e.g. "plus.tsv"; "" if missing.
  std::string ScaleFile(const std::string& address, const std::string& name) const;
  std::string StateDir() const { return dir_.File("state"); }
  void Stop();

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// The service binary copied into a private folder, so its INI, Import/,
// Query/ and Log/ are the test's own.
class ServiceProcess {
 public:
  ServiceProcess();
  ~ServiceProcess();

  const TempDir& dir() const { return dir_; }
  std::string Exe() const { return dir_.File("tarvo-scale-server"); }

  // The settings file beside the executable.
  void WriteIni(const std::string& text) const { dir_.Write("tarvo-scale-server.ini", text); }
  std::string ReadIni() const { return dir_.Read("tarvo-scale-server.ini"); }

  // Starts the service with `env` added to a private port base; as user
  // `uid` when it is 0 or more (the test must be root).
  void Start(const std::map<std::string, std::string>& env = {}, int uid = -1);
  // The command port of the last start (the first of its four ports).
  int CommandPort() const { return port_base_; }
  // Starts the service against `emulator`'s scales with the workers' timers
  // a hundred times faster; true once its main loop runs.
  bool StartAgainst(const EmulatorProcess& emulator);
  // SIGTERM and wait; true when it ended within `timeoutMs`.
  bool Stop(int timeoutMs = 20000);
  ChildProcess& process() { return *process_; }

  // The log file as UTF-8 text.
  std::string Log() const;
  bool WaitForLog(const std::string& text, int timeoutMs) const;

  // Waits until Import/ and Query/ hold nothing but folders (Bad/, Archive/).
  bool WaitQueueEmpty(int timeoutMs = 30000) const;
  // The send journals in Log/ (every file but the log), concatenated.
  std::string Journal() const;
  // The data files set aside in Query/Bad/.
  size_t BadDataFiles() const;

  // Drops a file into Import/ with a modification time in the past, so the
  // next scan takes it at once.
  void DropImportFile(const std::string& name, const std::string& data) const;

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
  int port_base_ = 0;
};

// Columns of an emulated scale's plus.tsv row.
enum PluColumn {
  kNumber = 0,
  kName = 1,
  kAddCode = 2,
  kPrice = 4,
  kWeightUnit = 5,
  kDep = 6,
  kShelfTime = 8,
  kMessage = 11,
};

// Settings file text: every level logged and a one-second import interval,
// then `global` in [GlobalSettings]; `scales` as Scale1.. in [ListScales];
// `fields` in [FieldsConfig], a section left out when there are none.
std::string ServiceIni(const std::vector<std::string>& scales,
                       const std::vector<std::string>& global = {},
                       const std::vector<std::string>& fields = {"FieldNumber_Pos=1",
                                                                 "FieldName_Pos=2"});

// A port base for the service's four TCP ports that are free now and lie
// outside the system's range for outgoing connections (best effort: another
// process may still take one before the service binds it).
int PrivatePortBase();

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_HARNESS_H_
