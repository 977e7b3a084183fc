#include "platform/windows/com_dispatch.h"

#include <gtest/gtest.h>

#include <climits>

#include "support/fake_automation.h"

namespace tarvo::internal {
namespace {

using testing::FakeAutomationLog;
using testing::FakeAutomationObject;

std::string ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const AutomationError& e) {
    return e.what();
  }
  return "<no error>";
}

// A VARIANT cleared when it goes out of scope.
struct Var {
  VARIANT v;
  Var() { ::VariantInit(&v); }
  ~Var() { ::VariantClear(&v); }
};

TEST(ComVariantTest, EveryTypeRoundTrips) {
  const struct {
    Variant value;
    VARTYPE vt;
  } cases[] = {
      {Variant(), VT_EMPTY},     {Variant(true), VT_BOOL},
      {Variant(false), VT_BOOL}, {Variant(int32_t{INT_MIN}), VT_I4},
      {Variant(2.25), VT_R8},    {Variant(DateTime(46363.5)), VT_DATE},
      {Variant(""), VT_BSTR},    {Variant("Сыр «Российский»"), VT_BSTR},
  };
  for (const auto& c : cases) {
    Var v;
    ToVARIANT(c.value, &v.v);
    EXPECT_EQ(v.v.vt, c.vt) << c.value.AsText();
    EXPECT_EQ(FromVARIANT(v.v), c.value) << c.value.AsText();
  }
  Var v;
  ToVARIANT(Variant("Сыр"), &v.v);
  EXPECT_EQ(std::wstring(v.v.bstrVal, ::SysStringLen(v.v.bstrVal)), L"\x0421\x044b\x0440");
  ToVARIANT(Variant(true), &v.v);
  EXPECT_EQ(v.v.boolVal, VARIANT_TRUE);
}

TEST(ComVariantTest, OtherTypesAreConvertedOrRefused) {
  Var v;
  v.v.vt = VT_I2;
  v.v.iVal = -7;
  EXPECT_EQ(FromVARIANT(v.v), Variant(-7));
  v.v.vt = VT_UI1;
  v.v.bVal = 200;
  EXPECT_EQ(FromVARIANT(v.v), Variant(200));
  v.v.vt = VT_R4;
  v.v.fltVal = 1.5f;
  EXPECT_EQ(FromVARIANT(v.v), Variant(1.5));
  v.v.vt = VT_UI4;
  v.v.ulVal = 0x7FFFFFFFu;
  EXPECT_EQ(FromVARIANT(v.v), Variant(INT_MAX));
  v.v.ulVal = 0x80000000u;
  EXPECT_EQ(ErrorOf([&] { FromVARIANT(v.v); }), "Overflow");
  v.v.vt = VT_I8;
  v.v.llVal = -2147483649LL;
  EXPECT_EQ(ErrorOf([&] { FromVARIANT(v.v); }), "Overflow");
  v.v.vt = VT_NULL;
  EXPECT_EQ(FromVARIANT(v.v), Variant());
  v.v.vt = VT_ERROR;
  v.v.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(FromVARIANT(v.v), Variant());
  v.v.scode = E_FAIL;
  EXPECT_EQ(ErrorOf([&] { FromVARIANT(v.v); }), "Type mismatch");

  LONG number = 42;
  v.v.vt = VT_I4 | VT_BYREF;
  v.v.plVal = &number;
  EXPECT_EQ(FromVARIANT(v.v), Variant(42));
  Var inner;
  ToVARIANT(Variant("abc"), &inner.v);
  v.v.vt = VT_VARIANT | VT_BYREF;
  v.v.pvarVal = &inner.v;
  EXPECT_EQ(FromVARIANT(v.v), Variant("abc"));
  v.v.vt = VT_EMPTY;
}

// An object whose members a call through IDispatch must reach as they are:
// a property, a method with a result, and a method that only a call can
// reach.
class ResultObject : public AutomationObject {
 public:
  Variant GetProperty(const std::string& name) override {
    if (name != "Count")
      throw AutomationError("No property " + name);
    return Variant(3);
  }
  void SetProperty(const std::string& name, const Variant&) override {
    throw AutomationError("Read-only " + name);
  }
  Variant Invoke(const std::string& name, const std::vector<Variant>& args) override {
    if (name == "Join") {
      std::string text;
      for (const Variant& a : args)
        text += a.AsText() + "|";
      return Variant(text);
    }
    if (name == "Ping")
      return Variant("pong");
    throw AutomationError("No method " + name);
  }
};

TEST(ComDispatchTest, CallsReachTheServedObjectInOrder) {
  auto log = std::make_shared<FakeAutomationLog>();
  IDispatch* dispatch = NewDispatchAdapter(std::make_unique<FakeAutomationObject>(log));
  std::unique_ptr<AutomationObject> client = WrapDispatch(dispatch);
  dispatch->Release();

  client->SetProperty("IPAddress", Variant("127.0.0.5"));
  client->SetProperty("PLU_Name", Variant("Сыр"));
  client->SetProperty("PLU_Price", Variant(12.5));
  // Names are matched without regard to case: the first spelling is kept.
  EXPECT_EQ(client->GetProperty("IPADDRESS"), Variant("127.0.0.5"));
  EXPECT_EQ(client->GetProperty("plu_name"), Variant("Сыр"));
  client->Invoke("SetHotKeyValue", {Variant(1), Variant(42)});
  log->failing.insert("SetAllPLU");
  EXPECT_EQ(ErrorOf([&] { client->Invoke("SetAllPLU", {}); }), "Fake failure in SetAllPLU");
  EXPECT_EQ(log->CallStrings(),
            (std::vector<std::string>{"set IPAddress='127.0.0.5'", "set PLU_Name='Сыр'",
                                      "set PLU_Price=12.5", "get IPAddress", "get PLU_Name",
                                      "call SetHotKeyValue(1,42)", "call SetAllPLU()"}));
}

TEST(ComDispatchTest, ResultsAndErrorsComeBack) {
  IDispatch* dispatch = NewDispatchAdapter(std::make_unique<ResultObject>());
  std::unique_ptr<AutomationObject> client = WrapDispatch(dispatch);
  EXPECT_EQ(client->GetProperty("Count"), Variant(3));
  EXPECT_EQ(client->Invoke("Join", {Variant(1), Variant("ж"), Variant(true)}),
            Variant("1|ж|True|"));
  EXPECT_EQ(ErrorOf([&] { client->SetProperty("Count", Variant(1)); }), "Read-only Count");
  EXPECT_EQ(ErrorOf([&] { client->Invoke("Nothing", {}); }), "No method Nothing");

  // A caller that cannot tell a property from a method asks for both.
  for (const auto& [name, expected] :
       {std::pair<const wchar_t*, Variant>{L"Count", Variant(3)}, {L"Ping", Variant("pong")}}) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    Var result;
    ASSERT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                               &result.v, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(FromVARIANT(result.v), expected);
  }
  EXPECT_EQ(
      dispatch->Invoke(12345, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
      DISP_E_MEMBERNOTFOUND);
  dispatch->Release();
}

TEST(ComDispatchTest, TheClassFactoryKeepsTheModuleInUse) {
  EXPECT_FALSE(ComServerInUse());
  IClassFactory* factory = NewClassFactory([] { return std::make_unique<ResultObject>(); });
  IDispatch* dispatch = nullptr;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IDispatch,
                                    reinterpret_cast<void**>(&dispatch)),
            CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
            S_OK);
  factory->Release();
  EXPECT_TRUE(ComServerInUse());
  EXPECT_EQ(WrapDispatch(dispatch)->GetProperty("Count"), Variant(3));
  dispatch->Release();
  EXPECT_FALSE(ComServerInUse());
}

TEST(ComObjectsTest, AnUnregisteredProgIdFailsWithTheSystemsMessage) {
  const ComThreadScope com;
  const std::string message = HresultMessage(CO_E_CLASSSTRING);
  EXPECT_NE(message.rfind("Error 0x", 0), 0u) << message;
  EXPECT_NE(message.back(), '.');
  EXPECT_EQ(ErrorOf([] { CreateSystemObject("Tarvo.NoSuchClass"); }), message);
}

}  // namespace
}  // namespace tarvo::internal
