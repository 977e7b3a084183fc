// Automation objects over COM: the client side that calls an IDispatch as
// an AutomationObject, the server side that serves an AutomationObject as an
// IDispatch, and what an in-process server needs besides (a class factory,
// its registration, the count that tells whether it may be unloaded).
// Windows only.
#ifndef TARVO_PLATFORM_WINDOWS_COM_DISPATCH_H_
#define TARVO_PLATFORM_WINDOWS_COM_DISPATCH_H_

#include <oaidl.h>
#include <windows.h>

#include <memory>
#include <string>

#include "platform/automation.h"

namespace tarvo {
namespace internal {

// Fills `out`, which the caller has initialised (VariantInit), with
// `value`: empty VT_EMPTY, bool VT_BOOL, int32 VT_I4, double VT_R8, date
// VT_DATE, UTF-8 text a UTF-16 BSTR. The caller clears `out`.
void ToVARIANT(const Variant& value, VARIANT* out);

// The Variant of `value`, through one level of reference. Other integer
// types become int32 (raising "Overflow" when out of its range), other real
// types double, VT_NULL empty; any other type raises "Type mismatch".
Variant FromVARIANT(const VARIANT& value);

// The system's message for `hr`, in the program's ANSI text, without the
// trailing stop and line break: "Invalid class string" for
// CO_E_CLASSSTRING on an English system. Where the system has no text, the
// common COM codes read as on English Windows, any other as "Error
// 0x8000FFFF".
std::string HresultMessage(HRESULT hr);

// Calls `dispatch` late-bound: each member name is bound with
// GetIDsOfNames once, then every call is one Invoke. A failing call raises
// AutomationError with the exception's description, or the system's message
// for the failing HRESULT. Takes a reference of its own.
std::unique_ptr<AutomationObject> WrapDispatch(IDispatch* dispatch);

// Serves `object` as an IDispatch (reference count 1). GetIDsOfNames gives
// each member name, matched without regard to case, a DISPID of its own on
// first sight; Invoke calls GetProperty, SetProperty or Invoke with the
// arguments converted, and reports an exception from the object as
// DISP_E_EXCEPTION with its message as the description. A call of both
// method and property get without arguments reads the property when the
// object has it and calls the method otherwise. Calls are serialised, so
// the object may be used from any thread.
IDispatch* NewDispatchAdapter(std::unique_ptr<AutomationObject> object);

// A class factory (reference count 1) that creates objects with `factory`
// and serves each through NewDispatchAdapter.
IClassFactory* NewClassFactory(AutomationFactory factory);

// True while an object or a class factory of this module is alive or the
// module is locked (IClassFactory::LockServer): DllCanUnloadNow's answer.
bool ComServerInUse();

// What the registry holds of an in-process server.
struct InprocServerInfo {
  CLSID clsid;
  std::string ProgID;
  std::string Description;
  std::string ThreadingModel;  // "Both", "Apartment", "Free"
};

// Writes the ProgID and class keys of `info` for the module (DLL) that
// holds this code under HKEY_CLASSES_ROOT. S_OK or the failure's HRESULT;
// a failed registration leaves nothing behind.
HRESULT RegisterInprocServer(const InprocServerInfo& info);

// Removes the keys RegisterInprocServer wrote. Keys already missing are no
// failure.
HRESULT UnregisterInprocServer(const InprocServerInfo& info);

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_WINDOWS_COM_DISPATCH_H_
