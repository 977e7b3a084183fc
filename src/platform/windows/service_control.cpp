// Service control of the Windows console build: a stop request is Ctrl+C,
// Ctrl+Break or the closing of the console window; a system shutdown is the
// log-off or shutdown notice that the console receives. Registration with
// the Service Control Manager is not part of this build: INSTALL and
// UNINSTALL fail and say so, and no service is ever reported installed.

#include "platform/service_control.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/system_error.h"
#include "platform/windows/win32.h"

namespace tarvo {

namespace {

constexpr char kNotAvailable[] =
    "Registration with the Service Control Manager is not available in this build";

// Requests handed from the system's console-control thread to
// WaitControlRequest(). Lives for the whole process, as the handler does.
struct Requests {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<ControlRequest> queue;
};

Requests& PendingRequests() {
  static Requests* requests = new Requests;  // never destroyed: the handler may still run
  return *requests;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  ControlRequest request;
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      request = ControlRequest::kStop;
      break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      request = ControlRequest::kShutdown;
      break;
    default:
      return FALSE;
  }
  Requests& r = PendingRequests();
  {
    std::lock_guard<std::mutex> lock(r.mu);
    r.queue.push_back(request);
  }
  r.cv.notify_all();
  return TRUE;
}

}  // namespace

void InstallControlHandlers() {
  static const bool installed = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
  (void)installed;
}

ControlRequest WaitControlRequest(int timeoutMs) {
  Requests& r = PendingRequests();
  std::unique_lock<std::mutex> lock(r.mu);
  r.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                [&r] { return !r.queue.empty(); });
  if (r.queue.empty())
    return ControlRequest::kNone;
  const ControlRequest request = r.queue.front();
  r.queue.pop_front();
  return request;
}

bool StartedBySystemd() {
  return false;
}

std::string ServiceUnitFolder() {
  return "";
}

bool ServiceExists(const std::string&) {
  return false;
}

bool InstallService(const ServiceRegistration&, std::string* error) {
  return internal::Fail(error, kNotAvailable);
}

bool UninstallService(const std::string&, std::string* error) {
  return internal::Fail(error, kNotAvailable);
}

}  // namespace tarvo
