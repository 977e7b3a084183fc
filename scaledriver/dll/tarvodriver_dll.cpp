// tarvodriver.dll: the scale driver as an in-process COM server. It serves
// ScaleDriver through IDispatch under the ProgID kScaleDriverProgId and
// registers itself (regsvr32 tarvodriver.dll) in HKEY_CLASSES_ROOT, so
// that the service creates it by its ProgID as it would a vendor's driver.
// Its objects may be called from any apartment: ThreadingModel=Both.
#include <objbase.h>
#include <windows.h>

#include <new>

#include "platform/windows/com_dispatch.h"
#include "scaledriver/scale_driver.h"

namespace {

// {7D84124E-E5D7-446B-B137-A46D44C736E0}
const CLSID kDriverClsid = {
    0x7d84124e, 0xe5d7, 0x446b, {0xb1, 0x37, 0xa4, 0x6d, 0x44, 0xc7, 0x36, 0xe0}};

tarvo::internal::InprocServerInfo DriverInfo() {
  return {kDriverClsid, tarvo::kScaleDriverProgId, "Tarvo scale driver", "Both"};
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  if (out == nullptr)
    return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kDriverClsid))
    return CLASS_E_CLASSNOTAVAILABLE;
  try {
    IClassFactory* factory = tarvo::internal::NewClassFactory([] {
      return std::unique_ptr<tarvo::AutomationObject>(
          std::make_unique<tarvo::ScaleDriver>(tarvo::ScaleDriverOptionsFromEnvironment()));
    });
    const HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllCanUnloadNow() {
  return tarvo::internal::ComServerInUse() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
  return tarvo::internal::RegisterInprocServer(DriverInfo());
}

STDAPI DllUnregisterServer() {
  return tarvo::internal::UnregisterInprocServer(DriverInfo());
}
