#include "platform/service_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/system_error.h"

extern char** environ;

namespace tarvo {

namespace {

const char kDefaultUnitFolder[] = "/etc/systemd/system";
const char kServiceExists[] = "The specified service already exists.";
const char kServiceMissing[] = "The specified service does not exist as an installed service.";
const char kInvalidParameter[] = "The parameter is incorrect.";

// The self-pipe that carries signals from the handler to
// WaitControlRequest(): one byte, the signal number, per signal.
int signalPipe[2] = {-1, -1};

void OnSignal(int signo) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  // A full pipe drops the signal; the requests already in it suffice.
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
  errno = savedErrno;
}

bool IsFolder(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool SystemdRuns() {
  return IsFolder("/run/systemd/system");
}

// Runs `args` (the program looked up in PATH) with standard input from
// /dev/null, and collects what it writes to standard output and error.
// Returns its exit status; -1 when it could not run, was killed or took
// longer than `timeoutMs` (it is then killed).
int RunProgram(const std::vector<std::string>& args, std::string* output, int timeoutMs) {
  output->clear();
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0)
    return -1;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return -1;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool timedOut = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd pfd = {pipeFds[0], POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0) {
      timedOut = ready == 0;
      break;
    }
    char buf[4096];
    const ssize_t n = ::read(pipeFds[0], buf, sizeof(buf));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    output->append(buf, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  if (timedOut)
    ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR)
      return -1;
  }
  if (timedOut || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

std::string TrimmedOutput(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ')) {
    --end;
  }
  return text.substr(0, end);
}

// Runs "systemctl <args>"; on failure sets `error` to a readable text.
bool Systemctl(const std::vector<std::string>& args, std::string* error) {
  std::vector<std::string> command = {"systemctl"};
  command.insert(command.end(), args.begin(), args.end());
  std::string output;
  const int status = RunProgram(command, &output, 30000);
  if (status == 0)
    return true;
  std::string text = "systemctl";
  for (const std::string& a : args)
    text += " " + a;
  text +=
      status < 0 ? " could not be run." : " failed with exit code " + std::to_string(status) + ".";
  output = TrimmedOutput(output);
  if (!output.empty())
    text += " " + output;
  return internal::Fail(error, Utf8ToAnsi(text));
}

// True when this system is going down: systemd runs and reports the
// system as stopping.
bool SystemIsStopping() {
  if (!SystemdRuns())
    return false;
  std::string output;
  RunProgram({"systemctl", "is-system-running"}, &output, 5000);
  return TrimmedOutput(output) == "stopping";
}

// systemctl manages only units in its own folder; a unit written
// elsewhere (a test's folder) is left alone by systemctl.
bool SystemdManagesUnitFolder() {
  const char* folder = std::getenv("TARVO_SYSTEMD_UNIT_DIR");
  const bool defaultFolder = folder == nullptr || *folder == '\0' ||
                             std::string(folder) == kDefaultUnitFolder ||
                             std::string(folder) == std::string(kDefaultUnitFolder) + "/";
  return defaultFolder && SystemdRuns();
}

bool ValidUnitName(const std::string& name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      return false;
  }
  return true;
}

bool HasControlCharacters(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      return true;
  }
  return false;
}

std::string UnitFileName(const std::string& name) {
  return IncludeTrailingPathDelimiter(ServiceUnitFolder()) + name + ".service";
}

// Text for a unit file setting: "%" starts a specifier in systemd, so it
// is doubled.
std::string UnitText(const std::string& text) {
  std::string out;
  for (char c : text) {
    out.push_back(c);
    if (c == '%')
      out.push_back('%');
  }
  return out;
}

// The executable as the first word of ExecStart: quoted when it holds
// blanks, quotes or backslashes; "$" doubled so that it is not expanded.
std::string ExecStartText(const std::string& path) {
  bool quote = false;
  for (char c : path) {
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\' || c == ';')
      quote = true;
  }
  std::string out;
  for (char c : UnitText(path)) {
    if (quote && (c == '"' || c == '\\'))
      out.push_back('\\');
    out.push_back(c);
    if (c == '$')
      out.push_back('$');
  }
  return quote ? "\"" + out + "\"" : out;
}

}  // namespace

void InstallControlHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
      return;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGPWR, &action, nullptr);
    // A peer that goes away while the service writes to it must not end
    // the process; the write reports the failure instead.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
  });
}

ControlRequest WaitControlRequest(int timeoutMs) {
  const int readFd = signalPipe[0];
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (readFd < 0) {
      // No handlers: nothing can arrive.
      if (left > 0)
        ::poll(nullptr, 0, static_cast<int>(left));
      if (std::chrono::steady_clock::now() >= deadline)
        return ControlRequest::kNone;
      continue;
    }
    unsigned char signo = 0;
    if (::read(readFd, &signo, 1) == 1) {
      if (signo == SIGPWR)
        return ControlRequest::kShutdown;
      if (signo == SIGTERM && SystemIsStopping())
        return ControlRequest::kShutdown;
      return ControlRequest::kStop;
    }
    if (left <= 0)
      return ControlRequest::kNone;
    pollfd pfd = {readFd, POLLIN, 0};
    ::poll(&pfd, 1, static_cast<int>(left));
  }
}

bool StartedBySystemd() {
  for (const char* name : {"INVOCATION_ID", "JOURNAL_STREAM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      return true;
  }
  return false;
}

int RunAsService(const std::string&, const std::function<int()>& body) {
  return body();
}

void ReportServiceRunning() {}

void ShowServiceNotice(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

std::string ServiceUnitFolder() {
  const char* folder = std::getenv("TARVO_SYSTEMD_UNIT_DIR");
  if (folder == nullptr || *folder == '\0')
    return kDefaultUnitFolder;
  return Utf8ToAnsi(folder);
}

bool ServiceExists(const std::string& name) {
  return ValidUnitName(name) && FileExists(UnitFileName(name));
}

bool InstallService(const ServiceRegistration& reg, std::string* error) {
  if (!ValidUnitName(reg.Name) || reg.ExecPath.empty() || HasControlCharacters(reg.ExecPath) ||
      HasControlCharacters(reg.DisplayName)) {
    return internal::Fail(error, kInvalidParameter);
  }
  if (ServiceExists(reg.Name))
    return internal::Fail(error, kServiceExists);
  if (!ForceDirectories(ServiceUnitFolder(), error))
    return false;
  const std::string unit = AnsiToUtf8(
      "[Unit]\n"
      "Description=" +
      UnitText(reg.DisplayName) +
      "\n"
      "Wants=network-online.target\n"
      "After=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=simple\n"
      "ExecStart=" +
      ExecStartText(reg.ExecPath) +
      "\n"
      "Restart=on-failure\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n");
  const std::string file = UnitFileName(reg.Name);
  if (!WriteFileAtomic(file, unit, error))
    return false;
  if (SystemdManagesUnitFolder()) {
    const std::string unitName = reg.Name + ".service";
    if (!Systemctl({"daemon-reload"}, error) || !Systemctl({"enable", unitName}, error)) {
      // Leave the system as it was: a unit that is not enabled would
      // never start.
      DeleteFile(file);
      Systemctl({"daemon-reload"}, nullptr);
      return false;
    }
  }
  return true;
}

bool UninstallService(const std::string& name, std::string* error) {
  if (!ValidUnitName(name) || !ServiceExists(name))
    return internal::Fail(error, kServiceMissing);
  const bool systemd = SystemdManagesUnitFolder();
  if (systemd && !Systemctl({"disable", name + ".service"}, error))
    return false;
  if (!DeleteFile(UnitFileName(name), error))
    return false;
  if (systemd)
    Systemctl({"daemon-reload"}, nullptr);
  return true;
}

}  // namespace tarvo
