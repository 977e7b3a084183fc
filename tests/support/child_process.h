// Runs a program as a child process for end-to-end tests.
#ifndef TARVO_TESTS_SUPPORT_CHILD_PROCESS_H_
#define TARVO_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <map>
#include <string>
#include <vector>

#include "support/wait.h"

namespace tarvo::testing {

class ChildProcess {
 public:
  // Starts `program` with `args` in folder `cwd`; `env` entries are added to
  // (or replace those of) the test's environment. Standard output and error
  // are captured to files in `cwd` ("stdout.txt", "stderr.txt"). A `uid` of
  // 0 or more runs the child as that user and group (the test must be root).
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd, const std::map<std::string, std::string>& env = {},
               int uid = -1);
  // Kills the child (SIGKILL) if it still runs.
  ~ChildProcess();

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  // Sends a signal (SIGTERM by default).
  void Signal(int signal);
  // Waits up to `timeoutMs` for the child to end. True when it ended; its
  // exit code (or 128 + signal) is then in exit_code().
  bool Wait(int timeoutMs);
  int exit_code() const { return exit_code_; }
  bool running() const { return running_; }

  std::string Stdout() const;
  std::string Stderr() const;

  // Waits up to `timeoutMs` until Stdout() contains `text`.
  bool WaitForStdout(const std::string& text, int timeoutMs) const;

 private:
  std::string cwd_;
  int pid_ = -1;
  bool running_ = false;
  int exit_code_ = -1;
};

// What a program run to its end printed, and its exit code (-1 when it ran
// past the wait and was killed).
struct ProgramOutcome {
  int code = -1;
  std::string out, err;
};

// Runs `program` in `cwd` to its end, at most a minute.
ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& cwd,
                          const std::map<std::string, std::string>& env = {});

// Runs the program to its end (at most `timeoutMs`) and returns its exit
// code; -1 on timeout (the child is killed). Output goes to `output` when
// given (stdout and stderr together).
int RunToEnd(const std::string& program, const std::vector<std::string>& args,
             const std::string& cwd, const std::map<std::string, std::string>& env, int timeoutMs,
             std::string* output = nullptr);

// The folder of the built executables.
std::string BinDir();

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_CHILD_PROCESS_H_
