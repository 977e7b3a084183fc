// Automation objects of COM's class registry: a ProgID becomes a class id,
// the object is created in-process or in its own server and called through
// IDispatch.
#include <objbase.h>
#include <windows.h>

#include "platform/automation.h"
#include "platform/windows/com_dispatch.h"

namespace tarvo {

ComThreadScope::ComThreadScope() {
  // S_FALSE: the thread had joined already; it still needs its matching
  // CoUninitialize. A thread in another apartment keeps it.
  joined_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

ComThreadScope::~ComThreadScope() {
  if (joined_)
    ::CoUninitialize();
}

namespace internal {

bool SystemHasClassRegistry() {
  return true;
}

std::unique_ptr<AutomationObject> CreateSystemObject(const std::string& progId) {
  const int size = static_cast<int>(progId.size());
  std::wstring wide(
      static_cast<size_t>(::MultiByteToWideChar(CP_ACP, 0, progId.data(), size, nullptr, 0)),
      L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, progId.data(), size, wide.data(), static_cast<int>(wide.size()));
  CLSID clsid;
  HRESULT hr = ::CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr))
    throw AutomationError(HresultMessage(hr));
  IDispatch* dispatch = nullptr;
  hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&dispatch));
  if (FAILED(hr))
    throw AutomationError(HresultMessage(hr));
  std::unique_ptr<AutomationObject> object = WrapDispatch(dispatch);
  dispatch->Release();
  return object;
}

}  // namespace internal
}  // namespace tarvo
