#include "platform/windows/com_dispatch.h"

#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace tarvo {
namespace internal {

namespace {

const char kTypeMismatch[] = "Type mismatch";
const char kOverflow[] = "Overflow";

// DISPIDs the adapter gives start here, clear of the standard ones
// (DISPID_VALUE is 0, the others negative).
constexpr DISPID kFirstDispId = 1000;

// Objects, class factories and server locks of this module.
std::atomic<long>& ModuleUsers() {
  static std::atomic<long> users{0};
  return users;
}

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty())
    return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
  return wide;
}

std::string FromWide(UINT codePage, const wchar_t* wide, size_t length) {
  if (length == 0)
    return std::string();
  const int size = static_cast<int>(length);
  const int n = ::WideCharToMultiByte(codePage, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, 0, wide, size, text.data(), n, nullptr, nullptr);
  return text;
}

std::string BstrToAnsi(BSTR text) {
  return text == nullptr ? std::string() : FromWide(CP_ACP, text, ::SysStringLen(text));
}

// Clears a VARIANT when it goes out of scope.
class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { ::VariantClear(&value_); }
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

// `value` changed to `type`; raises "Overflow" or "Type mismatch".
void ChangeType(const VARIANT& value, VARTYPE type, VARIANT* out) {
  const HRESULT hr = ::VariantChangeType(out, const_cast<VARIANT*>(&value), 0, type);
  if (hr == DISP_E_OVERFLOW)
    throw AutomationError(kOverflow);
  if (FAILED(hr))
    throw AutomationError(kTypeMismatch);
}

// `value` as int32; raises "Overflow" outside its range.
template <typename T>
Variant IntInRange(T value) {
  if (!std::in_range<int32_t>(value))
    throw AutomationError(kOverflow);
  return Variant(static_cast<int32_t>(value));
}

// The upper-case form of a member name, the key names are matched by.
std::wstring NameKey(const wchar_t* name) {
  std::wstring key(name);
  if (!key.empty())
    ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

// The client: an AutomationObject that calls an IDispatch.
class DispatchObject : public AutomationObject {
 public:
  explicit DispatchObject(IDispatch* dispatch) : dispatch_(dispatch) { dispatch_->AddRef(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;
  ~DispatchObject() override { dispatch_->Release(); }

  Variant GetProperty(const std::string& name) override {
    return Call(name, DISPATCH_PROPERTYGET, {});
  }
  void SetProperty(const std::string& name, const Variant& value) override {
    Call(name, DISPATCH_PROPERTYPUT, {value});
  }
  Variant Invoke(const std::string& name, const std::vector<Variant>& args) override {
    return Call(name, DISPATCH_METHOD, args);
  }

 private:
  DISPID IdOf(const std::string& name) {
    std::wstring wide = ToWide(CP_UTF8, name);
    const std::wstring key = NameKey(wide.c_str());
    auto found = ids_.find(key);
    if (found != ids_.end())
      return found->second;
    LPOLESTR names[1] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
      throw AutomationError(HresultMessage(hr) + ": " + name);
    ids_.emplace(key, id);
    return id;
  }

  Variant Call(const std::string& name, WORD flags, const std::vector<Variant>& args) {
    const DISPID id = IdOf(name);
    // Arguments go in reverse order.
    std::vector<VARIANT> values(args.size());
    for (VARIANT& v : values)
      ::VariantInit(&v);
    struct Clear {
      std::vector<VARIANT>* values;
      ~Clear() {
        for (VARIANT& v : *values)
          ::VariantClear(&v);
      }
    } clear{&values};
    for (size_t i = 0; i < args.size(); ++i)
      ToVARIANT(args[i], &values[args.size() - 1 - i]);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params = {values.data(), nullptr, static_cast<UINT>(values.size()), 0};
    if (flags == DISPATCH_PROPERTYPUT) {
      params.rgdispidNamedArgs = &putId;
      params.cNamedArgs = 1;
    }
    ScopedVariant result;
    EXCEPINFO exception = {};
    UINT argError = 0;
    const HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                         flags == DISPATCH_PROPERTYPUT ? nullptr : result.get(),
                                         &exception, &argError);
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn != nullptr)
        exception.pfnDeferredFillIn(&exception);
      std::string message = BstrToAnsi(exception.bstrDescription);
      ::SysFreeString(exception.bstrSource);
      ::SysFreeString(exception.bstrDescription);
      ::SysFreeString(exception.bstrHelpFile);
      if (message.empty())
        message = HresultMessage(exception.scode != 0 ? exception.scode : hr) + ": " + name;
      throw AutomationError(message);
    }
    if (FAILED(hr))
      throw AutomationError(HresultMessage(hr) + ": " + name);
    return FromVARIANT(*result.get());
  }

  IDispatch* const dispatch_;
  std::map<std::wstring, DISPID> ids_;  // by upper-cased name
};

// The server: an IDispatch that calls an AutomationObject.
class DispatchAdapter final : public IDispatch {
 public:
  explicit DispatchAdapter(std::unique_ptr<AutomationObject> object) : object_(std::move(object)) {
    ++ModuleUsers();
  }
  DispatchAdapter(const DispatchAdapter&) = delete;
  DispatchAdapter& operator=(const DispatchAdapter&) = delete;
  virtual ~DispatchAdapter() { --ModuleUsers(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr)
      return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0)
      delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr)
      return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr)
      *info = nullptr;
    return DISP_E_BADINDEX;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0)
      return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(mu_);
    const std::wstring key = NameKey(names[0]);
    auto found = ids_.find(key);
    if (found == ids_.end()) {
      names_.push_back(FromWide(CP_UTF8, names[0], key.size()));
      found = ids_.emplace(key, kFirstDispId + static_cast<DISPID>(names_.size() - 1)).first;
    }
    ids[0] = found->second;
    // Named arguments are not supported.
    for (UINT i = 1; i < count; ++i)
      ids[i] = DISPID_UNKNOWN;
    return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (params == nullptr)
      params = &none;
    std::lock_guard<std::mutex> lock(mu_);
    const DISPID index = id - kFirstDispId;
    if (index < 0 || static_cast<size_t>(index) >= names_.size())
      return DISP_E_MEMBERNOTFOUND;
    const std::string& name = names_[static_cast<size_t>(index)];
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (put ? params->cArgs != 1 || params->cNamedArgs != 1 : params->cNamedArgs != 0)
      return params->cNamedArgs != 0 && !put ? DISP_E_NONAMEDARGS : DISP_E_BADPARAMCOUNT;
    if (!put && (flags & DISPATCH_METHOD) == 0 && params->cArgs != 0)
      return DISP_E_BADPARAMCOUNT;
    try {
      std::vector<Variant> args;
      for (UINT i = params->cArgs; i > 0; --i)
        args.push_back(FromVARIANT(params->rgvarg[i - 1]));
      Variant value;
      if (put) {
        object_->SetProperty(name, args[0]);
      } else if ((flags & DISPATCH_METHOD) == 0) {
        value = object_->GetProperty(name);
      } else if ((flags & DISPATCH_PROPERTYGET) != 0 && args.empty()) {
        try {
          value = object_->GetProperty(name);
        } catch (const AutomationError&) {
          value = object_->Invoke(name, args);
        }
      } else {
        value = object_->Invoke(name, args);
      }
      if (result != nullptr) {
        ::VariantInit(result);
        ToVARIANT(value, result);
      }
      return S_OK;
    } catch (const std::exception& e) {
      if (exception != nullptr) {
        *exception = EXCEPINFO();
        exception->scode = E_FAIL;
        const std::wstring text = ToWide(CP_ACP, e.what());
        exception->bstrDescription =
            ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      }
      return DISP_E_EXCEPTION;
    }
  }

 private:
  std::atomic<ULONG> refs_{1};
  std::mutex mu_;  // guards the tables and serialises the calls
  const std::unique_ptr<AutomationObject> object_;
  std::map<std::wstring, DISPID> ids_;  // by upper-cased name
  std::vector<std::string> names_;      // by DISPID - kFirstDispId, as first seen
};

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(AutomationFactory factory) : factory_(std::move(factory)) {
    ++ModuleUsers();
  }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;
  virtual ~ClassFactory() { --ModuleUsers(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr)
      return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0)
      delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr)
      return E_POINTER;
    *out = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    std::unique_ptr<AutomationObject> object;
    try {
      object = factory_();
    } catch (const std::exception&) {
      return E_FAIL;
    }
    if (object == nullptr)
      return E_FAIL;
    IDispatch* adapter = NewDispatchAdapter(std::move(object));
    const HRESULT hr = adapter->QueryInterface(riid, out);
    adapter->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++ModuleUsers();
    } else {
      --ModuleUsers();
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  const AutomationFactory factory_;
};

// The full path of the module (DLL or program) that holds this code.
std::wstring ThisModulePath() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ThisModulePath), &module)) {
    return std::wstring();
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0)
      return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring ClsidText(const CLSID& clsid) {
  wchar_t text[64];
  const int n = ::StringFromGUID2(clsid, text, 64);
  return n > 0 ? std::wstring(text, static_cast<size_t>(n - 1)) : std::wstring();
}

// Sets the string value `name` (nullptr: the default value) of the key
// `path` below HKEY_CLASSES_ROOT, creating the key.
LONG SetClassesValue(const std::wstring& path, const wchar_t* name, const std::wstring& data) {
  HKEY key = nullptr;
  LONG rc = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  return rc;
}

// Deletes the key `path` below HKEY_CLASSES_ROOT with all it holds; a
// missing key is no failure.
LONG DeleteClassesTree(const std::wstring& path) {
  const LONG rc = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

}  // namespace

void ToVARIANT(const Variant& value, VARIANT* out) {
  switch (value.type()) {
    case Variant::Type::kEmpty:
      out->vt = VT_EMPTY;
      return;
    case Variant::Type::kBool:
      out->vt = VT_BOOL;
      out->boolVal = value.AsBool() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case Variant::Type::kInt:
      out->vt = VT_I4;
      out->lVal = value.AsInt();
      return;
    case Variant::Type::kDouble:
      out->vt = VT_R8;
      out->dblVal = value.AsDouble();
      return;
    case Variant::Type::kDate:
      out->vt = VT_DATE;
      out->date = value.AsDate().Days();
      return;
    case Variant::Type::kText: {
      const std::wstring text = ToWide(CP_UTF8, value.AsText());
      BSTR bstr = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (bstr == nullptr)
        throw AutomationError("Out of memory");
      out->vt = VT_BSTR;
      out->bstrVal = bstr;
      return;
    }
  }
}

Variant FromVARIANT(const VARIANT& value) {
  const VARIANT* v = &value;
  ScopedVariant direct;
  if ((v->vt & VT_BYREF) != 0) {
    if (FAILED(::VariantCopyInd(direct.get(), const_cast<VARIANT*>(v))))
      throw AutomationError(kTypeMismatch);
    v = direct.get();
  }
  ScopedVariant changed;
  switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
      return Variant();
    case VT_ERROR:
      // An optional argument left out.
      if (v->scode == DISP_E_PARAMNOTFOUND)
        return Variant();
      throw AutomationError(kTypeMismatch);
    case VT_BOOL:
      return Variant(v->boolVal != VARIANT_FALSE);
    case VT_I4:
      return Variant(static_cast<int32_t>(v->lVal));
    case VT_R8:
      return Variant(v->dblVal);
    case VT_DATE:
      return Variant(DateTime(v->date));
    case VT_BSTR:
      return Variant(v->bstrVal == nullptr
                         ? std::string()
                         : FromWide(CP_UTF8, v->bstrVal, ::SysStringLen(v->bstrVal)));
    case VT_I1:
      return Variant(static_cast<int32_t>(v->cVal));
    case VT_I2:
      return Variant(static_cast<int32_t>(v->iVal));
    case VT_INT:
      return Variant(static_cast<int32_t>(v->intVal));
    case VT_UI1:
      return Variant(static_cast<int32_t>(v->bVal));
    case VT_UI2:
      return Variant(static_cast<int32_t>(v->uiVal));
    case VT_UI4:
    case VT_UINT:
      return IntInRange(v->ulVal);
    case VT_I8:
      return IntInRange(v->llVal);
    case VT_UI8:
      return IntInRange(v->ullVal);
    case VT_R4:
    case VT_CY:
    case VT_DECIMAL:
      ChangeType(*v, VT_R8, changed.get());
      return Variant(changed.get()->dblVal);
    default:
      throw AutomationError(kTypeMismatch);
  }
}

std::string HresultMessage(HRESULT hr) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", n);
  if (buffer != nullptr)
    ::LocalFree(buffer);
  // As the system's error texts are shown: without the final stop and
  // line break.
  while (!text.empty() && (text.back() <= L' ' || text.back() == L'.'))
    text.pop_back();
  if (text.empty()) {
    // Not every system has a text for every COM code (Wine has none for
    // most); these read as Windows writes them.
    static const struct {
      HRESULT hr;
      const char* text;
    } kKnown[] = {
        {CO_E_CLASSSTRING, "Invalid class string"},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {CO_E_NOTINITIALIZED, "CoInitialize has not been called"},
        {E_NOINTERFACE, "No such interface supported"},
        {E_FAIL, "Unspecified error"},
        {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation"},
        {DISP_E_UNKNOWNNAME, "Unknown name"},
        {DISP_E_MEMBERNOTFOUND, "Member not found"},
        {DISP_E_TYPEMISMATCH, "Type mismatch"},
        {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
        {DISP_E_EXCEPTION, "Exception occurred"},
        {DISP_E_OVERFLOW, "Out of present range"},
        {DISP_E_NONAMEDARGS, "Does not support named arguments"},
    };
    for (const auto& known : kKnown) {
      if (known.hr == hr)
        return known.text;
    }
    char code[32];
    std::snprintf(code, sizeof(code), "Error 0x%08lX", static_cast<unsigned long>(hr));
    return code;
  }
  return FromWide(CP_ACP, text.data(), text.size());
}

std::unique_ptr<AutomationObject> WrapDispatch(IDispatch* dispatch) {
  return std::make_unique<DispatchObject>(dispatch);
}

IDispatch* NewDispatchAdapter(std::unique_ptr<AutomationObject> object) {
  return new DispatchAdapter(std::move(object));
}

IClassFactory* NewClassFactory(AutomationFactory factory) {
  return new ClassFactory(std::move(factory));
}

bool ComServerInUse() {
  return ModuleUsers() != 0;
}

HRESULT RegisterInprocServer(const InprocServerInfo& info) {
  const std::wstring path = ThisModulePath();
  const std::wstring clsid = ClsidText(info.clsid);
  if (path.empty() || clsid.empty())
    return E_UNEXPECTED;
  const std::wstring progId = ToWide(CP_ACP, info.ProgID);
  const std::wstring description = ToWide(CP_ACP, info.Description);
  const std::wstring classKey = L"CLSID\\" + clsid;
  LONG rc = SetClassesValue(progId, nullptr, description);
  if (rc == ERROR_SUCCESS)
    rc = SetClassesValue(progId + L"\\CLSID", nullptr, clsid);
  if (rc == ERROR_SUCCESS)
    rc = SetClassesValue(classKey, nullptr, description);
  if (rc == ERROR_SUCCESS)
    rc = SetClassesValue(classKey + L"\\ProgID", nullptr, progId);
  if (rc == ERROR_SUCCESS)
    rc = SetClassesValue(classKey + L"\\InprocServer32", nullptr, path);
  if (rc == ERROR_SUCCESS) {
    rc = SetClassesValue(classKey + L"\\InprocServer32", L"ThreadingModel",
                         ToWide(CP_ACP, info.ThreadingModel));
  }
  if (rc != ERROR_SUCCESS) {
    UnregisterInprocServer(info);
    return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
  }
  return S_OK;
}

HRESULT UnregisterInprocServer(const InprocServerInfo& info) {
  const std::wstring clsid = ClsidText(info.clsid);
  if (clsid.empty())
    return E_UNEXPECTED;
  LONG rc = DeleteClassesTree(L"CLSID\\" + clsid);
  const LONG progRc = DeleteClassesTree(ToWide(CP_ACP, info.ProgID));
  if (rc == ERROR_SUCCESS)
    rc = progRc;
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

}  // namespace internal
}  // namespace tarvo
