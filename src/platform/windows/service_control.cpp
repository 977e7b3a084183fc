// Service control on Windows: the Service Control Manager.
//
// Started by the manager, the program runs as an own-process service: stop
// (SERVICE_CONTROL_STOP) and shutdown (SERVICE_CONTROL_SHUTDOWN) arrive as
// its control codes. Started from a console, Ctrl-C, Ctrl-Break and closing
// the console ask for a stop, the console's shutdown event for a shutdown.
// Units, systemd and its folder do not exist here: ServiceUnitFolder() is
// empty and StartedBySystemd() false (a service has no console, so the
// console log is left off by the terminal check alone).
#include "platform/service_control.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/system_error.h"
#include "platform/windows/win32.h"

namespace tarvo {

namespace {

const char kInvalidParameter[] = "The parameter is incorrect.";

// Wait hints for the manager: how long a start or a stop may take before
// the next report.
constexpr DWORD kStartWaitHintMs = 30000;
constexpr DWORD kStopWaitHintMs = 60000;

// The state the manager's callbacks share with the program. The manager
// calls the control handler on the dispatcher's thread.
struct ServiceHost {
  std::mutex mu;
  std::condition_variable requested;
  std::deque<ControlRequest> requests;

  // Set while the program runs under the manager.
  std::wstring name;
  const std::function<int()>* body = nullptr;
  int result = 0;
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status = {};
};

ServiceHost& Host() {
  // Never destroyed: the handlers may still run while the process ends.
  static ServiceHost* host = new ServiceHost;
  return *host;
}

void PushRequest(ControlRequest request) {
  ServiceHost& host = Host();
  {
    std::lock_guard<std::mutex> lock(host.mu);
    host.requests.push_back(request);
  }
  host.requested.notify_all();
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty())
    return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), n);
  return wide;
}

// Closes a service manager handle when it goes out of scope.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  ~ScHandle() {
    if (handle_ != nullptr)
      ::CloseServiceHandle(handle_);
  }
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

// Reports `state` to the manager. Call with host.mu held.
void SetStateLocked(ServiceHost& host, DWORD state, DWORD waitHintMs) {
  if (host.handle == nullptr)
    return;
  SERVICE_STATUS& status = host.status;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
  status.dwWaitHint = pending ? waitHintMs : 0;
  ::SetServiceStatus(host.handle, &status);
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD, void*, void*) {
  ServiceHost& host = Host();
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
      {
        std::lock_guard<std::mutex> lock(host.mu);
        if (host.status.dwCurrentState == SERVICE_RUNNING)
          SetStateLocked(host, SERVICE_STOP_PENDING, kStopWaitHintMs);
      }
      PushRequest(control == SERVICE_CONTROL_STOP ? ControlRequest::kStop
                                                  : ControlRequest::kShutdown);
      return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE: {
      std::lock_guard<std::mutex> lock(host.mu);
      if (host.handle != nullptr)
        ::SetServiceStatus(host.handle, &host.status);
      return NO_ERROR;
    }
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  ServiceHost& host = Host();
  const SERVICE_STATUS_HANDLE handle =
      ::RegisterServiceCtrlHandlerExW(host.name.c_str(), OnServiceControl, nullptr);
  if (handle == nullptr) {
    host.result = 1;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(host.mu);
    host.handle = handle;
    SetStateLocked(host, SERVICE_START_PENDING, kStartWaitHintMs);
  }
  const int result = (*host.body)();
  std::lock_guard<std::mutex> lock(host.mu);
  host.result = result;
  if (result != 0) {
    host.status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    host.status.dwServiceSpecificExitCode = static_cast<DWORD>(result);
  }
  SetStateLocked(host, SERVICE_STOPPED, 0);
  host.handle = nullptr;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      PushRequest(ControlRequest::kStop);
      return TRUE;
    case CTRL_SHUTDOWN_EVENT: {
      // A service hears of the shutdown from the manager.
      bool service = false;
      {
        std::lock_guard<std::mutex> lock(Host().mu);
        service = !Host().name.empty();
      }
      if (!service)
        PushRequest(ControlRequest::kShutdown);
      return TRUE;
    }
    default:
      // A logoff ends neither a service nor the program.
      return TRUE;
  }
}

}  // namespace

void InstallControlHandlers() {
  static std::once_flag once;
  std::call_once(once, [] { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); });
}

ControlRequest WaitControlRequest(int timeoutMs) {
  ServiceHost& host = Host();
  std::unique_lock<std::mutex> lock(host.mu);
  host.requested.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                          [&host] { return !host.requests.empty(); });
  if (host.requests.empty())
    return ControlRequest::kNone;
  const ControlRequest request = host.requests.front();
  host.requests.pop_front();
  return request;
}

bool StartedBySystemd() {
  return false;
}

int RunAsService(const std::string& name, const std::function<int()>& body) {
  ServiceHost& host = Host();
  {
    std::lock_guard<std::mutex> lock(host.mu);
    host.name = internal::WideFromAnsi(name);
    host.body = &body;
  }
  SERVICE_TABLE_ENTRYW table[] = {{host.name.data(), ServiceMain}, {nullptr, nullptr}};
  if (::StartServiceCtrlDispatcherW(table)) {
    std::lock_guard<std::mutex> lock(host.mu);
    host.body = nullptr;
    return host.result;
  }
  // Not started by the manager (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT):
  // run on this thread, as from a console.
  {
    std::lock_guard<std::mutex> lock(host.mu);
    host.name.clear();
    host.body = nullptr;
  }
  return body();
}

void ReportServiceRunning() {
  ServiceHost& host = Host();
  std::lock_guard<std::mutex> lock(host.mu);
  // A stop that arrived during the start keeps the service stopping.
  if (host.status.dwCurrentState == SERVICE_START_PENDING)
    SetStateLocked(host, SERVICE_RUNNING, 0);
}

void ShowServiceNotice(const std::string& text) {
  std::string caption;
  std::string body = text;
  const size_t split = text.find("\n\n");
  if (split != std::string::npos) {
    caption = text.substr(0, split);
    body = text.substr(split + 2);
  }
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
    body.pop_back();
  ::MessageBoxW(nullptr, Utf8ToWide(body).c_str(), Utf8ToWide(caption).c_str(),
                MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

std::string ServiceUnitFolder() {
  return std::string();
}

bool ServiceExists(const std::string& name) {
  // The manager of this machine, addressed by its loopback address.
  const ScHandle manager(::OpenSCManagerW(L"127.0.0.1", nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr)
    return false;
  const ScHandle service(
      ::OpenServiceW(manager.get(), internal::WideFromAnsi(name).c_str(), SERVICE_ALL_ACCESS));
  return service.get() != nullptr;
}

bool InstallService(const ServiceRegistration& reg, std::string* error) {
  if (reg.Name.empty() || reg.ExecPath.empty())
    return internal::Fail(error, kInvalidParameter);
  const ScHandle manager(
      ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (manager.get() == nullptr)
    return internal::FailWithLastError(error);
  const std::wstring command = L"\"" + internal::WideFromAnsi(reg.ExecPath) + L"\"";
  const ScHandle service(::CreateServiceW(manager.get(), internal::WideFromAnsi(reg.Name).c_str(),
                                          internal::WideFromAnsi(reg.DisplayName).c_str(),
                                          SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                          SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                          nullptr, nullptr, nullptr, nullptr, nullptr));
  if (service.get() == nullptr)
    return internal::FailWithLastError(error);
  return true;
}

bool UninstallService(const std::string& name, std::string* error) {
  const ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr)
    return internal::FailWithLastError(error);
  const ScHandle service(
      ::OpenServiceW(manager.get(), internal::WideFromAnsi(name).c_str(), DELETE));
  if (service.get() == nullptr || !::DeleteService(service.get()))
    return internal::FailWithLastError(error);
  return true;
}

}  // namespace tarvo
