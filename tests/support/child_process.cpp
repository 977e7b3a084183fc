#include "support/child_process.h"

#include <csignal>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvo::testing {

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& cwd, const std::map<std::string, std::string>& env,
                           int uid)
    : cwd_(cwd) {
  std::vector<std::string> argv_text;
  argv_text.push_back(program);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  const std::string out = cwd + "/stdout.txt";
  const std::string err = cwd + "/stderr.txt";
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(cwd.c_str()) != 0)
      _exit(126);
    int fd_out = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int fd_err = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int fd_in = open("/dev/null", O_RDONLY);
    dup2(fd_in, 0);
    dup2(fd_out, 1);
    dup2(fd_err, 2);
    for (const auto& [name, value] : env)
      setenv(name.c_str(), value.c_str(), 1);
    if (uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
      _exit(126);
    std::vector<char*> argv;
    for (std::string& a : argv_text)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  running_ = pid_ > 0;
}

ChildProcess::~ChildProcess() {
  if (running_) {
    kill(pid_, SIGKILL);
    Wait(5000);
  }
}

void ChildProcess::Signal(int signal) {
  if (running_)
    kill(pid_, signal);
}

bool ChildProcess::Wait(int timeoutMs) {
  if (!running_)
    return true;
  return WaitUntil(
      [&] {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r != pid_)
          return false;
        running_ = false;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      timeoutMs);
}

std::string ChildProcess::Stdout() const {
  return ReadAll(cwd_ + "/stdout.txt");
}
std::string ChildProcess::Stderr() const {
  return ReadAll(cwd_ + "/stderr.txt");
}

bool ChildProcess::WaitForStdout(const std::string& text, int timeoutMs) const {
  return WaitUntil([&] { return Stdout().find(text) != std::string::npos; }, timeoutMs);
}

int RunToEnd(const std::string& program, const std::vector<std::string>& args,
             const std::string& cwd, const std::map<std::string, std::string>& env, int timeoutMs,
             std::string* output) {
  ChildProcess child(program, args, cwd, env);
  const bool ended = child.Wait(timeoutMs);
  if (output)
    *output = child.Stdout() + child.Stderr();
  return ended ? child.exit_code() : -1;
}

std::string BinDir() {
#ifdef TARVO_BIN_DIR
  return TARVO_BIN_DIR;
#else
  return "build/bin";
#endif
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& cwd, const std::map<std::string, std::string>& env) {
  ChildProcess child(program, args, cwd, env);
  ProgramOutcome run;
  if (child.Wait(60000))
    run.code = child.exit_code();
  run.out = child.Stdout();
  run.err = child.Stderr();
  return run;
}

}  // namespace tarvo::testing
