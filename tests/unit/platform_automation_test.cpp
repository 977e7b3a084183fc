#include "platform/automation.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include "platform/system_formats.h"
#include "support/fake_automation.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using testing::FakeAutomationLog;
using testing::FakeAutomationObject;
using testing::TempDir;

std::string ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const AutomationError& e) {
    return e.what();
  }
  return "<no error>";
}

class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSystemFormats(SystemFormats()); }
  void TearDown() override { SetSystemFormats(SystemFormats()); }
};

TEST_F(VariantTest, KeepsItsType) {
  EXPECT_EQ(Variant().type(), Variant::Type::kEmpty);
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_EQ(Variant(true).type(), Variant::Type::kBool);
  EXPECT_EQ(Variant(int32_t{5}).type(), Variant::Type::kInt);
  EXPECT_EQ(Variant(2.5).type(), Variant::Type::kDouble);
  EXPECT_EQ(Variant("x").type(), Variant::Type::kText);
  EXPECT_EQ(Variant(DateTime(1.0)).type(), Variant::Type::kDate);
  EXPECT_EQ(Variant(5), Variant(5));
  EXPECT_FALSE(Variant(5) == Variant(5.0));
}

TEST_F(VariantTest, RealsBecomeIntegersByRoundingHalfToEven) {
  EXPECT_EQ(Variant(2.5).AsInt(), 2);
  EXPECT_EQ(Variant(3.5).AsInt(), 4);
  EXPECT_EQ(Variant(-2.5).AsInt(), -2);
  EXPECT_EQ(Variant(-3.5).AsInt(), -4);
  EXPECT_EQ(Variant(2.4999).AsInt(), 2);
  EXPECT_EQ(Variant(2.5001).AsInt(), 3);
  EXPECT_EQ(Variant(-0.4).AsInt(), 0);
  EXPECT_EQ(Variant(2147483647.0).AsInt(), 2147483647);
  EXPECT_EQ(Variant(-2147483648.0).AsInt(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ErrorOf([] { Variant(2147483648.0).AsInt(); }), "Overflow");
  EXPECT_EQ(ErrorOf([] { Variant(std::numeric_limits<double>::quiet_NaN()).AsInt(); }), "Overflow");
  EXPECT_EQ(Variant(DateTime(3.5)).AsInt(), 4);
}

TEST_F(VariantTest, TextBecomesAnIntegerOnlyWhenItIsOne) {
  EXPECT_EQ(Variant("42").AsInt(), 42);
  EXPECT_EQ(Variant("-7").AsInt(), -7);
  EXPECT_EQ(Variant("+7").AsInt(), 7);
  EXPECT_EQ(Variant(" 12 ").AsInt(), 12);
  EXPECT_EQ(Variant("2147483647").AsInt(), 2147483647);
  for (const char* bad : {"", "abc", "12abc", "1.5", "0x10", "--1", "+-1", "-", "2147483648"}) {
    EXPECT_EQ(ErrorOf([bad] { Variant(bad).AsInt(); }), "Type mismatch") << bad;
  }
}

TEST_F(VariantTest, ConvertsToAndFromBooleans) {
  EXPECT_TRUE(Variant("True").AsBool());
  EXPECT_TRUE(Variant("TRUE").AsBool());
  EXPECT_FALSE(Variant("false").AsBool());
  EXPECT_TRUE(Variant("1").AsBool());
  EXPECT_TRUE(Variant("-0.5").AsBool());
  EXPECT_FALSE(Variant("0").AsBool());
  EXPECT_EQ(ErrorOf([] { Variant("yes").AsBool(); }), "Type mismatch");
  EXPECT_TRUE(Variant(3).AsBool());
  EXPECT_FALSE(Variant(0.0).AsBool());
  EXPECT_FALSE(Variant().AsBool());
  // Automation's true is -1.
  EXPECT_EQ(Variant(true).AsInt(), -1);
  EXPECT_EQ(Variant(false).AsInt(), 0);
  EXPECT_EQ(Variant(true).AsText(), "True");
  EXPECT_EQ(Variant(false).AsText(), "False");
}

TEST_F(VariantTest, RealsAsTextUseThePointAndFifteenDigits) {
  EXPECT_EQ(Variant(12.5).AsText(), "12.5");
  EXPECT_EQ(Variant(3.0).AsText(), "3");
  EXPECT_EQ(Variant(0.1).AsText(), "0.1");
  EXPECT_EQ(Variant(1.0 / 3.0).AsText(), "0.333333333333333");
  EXPECT_EQ(Variant(-0.0).AsText(), "0");
  EXPECT_EQ(Variant(1e20).AsText(), "1E20");
  EXPECT_EQ(Variant(1.5e-7).AsText(), "1.5E-7");
  // The system decimal separator does not change automation text.
  SystemFormats formats;
  formats.DecimalSeparator = ',';
  SetSystemFormats(formats);
  EXPECT_EQ(Variant(12.5).AsText(), "12.5");
  EXPECT_EQ(Variant("12.5").AsDouble(), 12.5);
  EXPECT_EQ(ErrorOf([] { Variant("12,5").AsDouble(); }), "Type mismatch");
}

TEST_F(VariantTest, TextBecomesARealOnlyWhenWrittenWithThePoint) {
  EXPECT_EQ(Variant("12.25").AsDouble(), 12.25);
  EXPECT_EQ(Variant("-1e3").AsDouble(), -1000.0);
  EXPECT_EQ(Variant(7).AsDouble(), 7.0);
  for (const char* bad : {"", "12,5", "inf", "nan", "1.2.3", "e5", "."}) {
    EXPECT_EQ(ErrorOf([bad] { Variant(bad).AsDouble(); }), "Type mismatch") << bad;
  }
  EXPECT_EQ(Variant(42).AsText(), "42");
  EXPECT_EQ(Variant().AsText(), "");
}

TEST_F(VariantTest, DatesConvert) {
  const DateTime dt = DateTime::FromParts({2026, 12, 7, 14, 5, 9, 0});
  EXPECT_EQ(Variant(dt).AsDate(), dt);
  EXPECT_EQ(Variant(dt).AsDouble(), dt.Days());
  EXPECT_EQ(Variant(dt).AsText(), "07.12.2026 14:05:09");
  EXPECT_EQ(Variant(DateTime::FromParts({2026, 12, 7})).AsText(), "07.12.2026");
  EXPECT_EQ(Variant("07.12.2026").AsDate(), DateTime::FromParts({2026, 12, 7}));
  EXPECT_EQ(Variant(46363.5).AsDate(), DateTime(46363.5));
  EXPECT_EQ(ErrorOf([] { Variant("31.02.2026").AsDate(); }), "Type mismatch");
}

TEST_F(VariantTest, NumbersComeFromEveryType) {
  // Each type read as the other number type, and as its own.
  EXPECT_EQ(Variant().AsInt(), 0);
  EXPECT_EQ(Variant().AsDouble(), 0.0);
  EXPECT_EQ(Variant(true).AsDouble(), -1.0);
  EXPECT_EQ(Variant(false).AsDouble(), 0.0);
  EXPECT_EQ(Variant(std::numeric_limits<int32_t>::min()).AsInt(),
            std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Variant(-7).AsDouble(), -7.0);
  EXPECT_EQ(Variant(2.75).AsDouble(), 2.75);
  EXPECT_EQ(Variant(1e300).AsDouble(), 1e300);
  EXPECT_EQ(Variant(" 42 ").AsDouble(), 42.0);
  EXPECT_EQ(ErrorOf([] { Variant("7x").AsDouble(); }), "Type mismatch");
  EXPECT_EQ(ErrorOf([] { Variant(1e300).AsInt(); }), "Overflow");
}

std::unique_ptr<AutomationObject> MakeFake(std::shared_ptr<FakeAutomationLog> log) {
  return std::make_unique<FakeAutomationObject>(std::move(log));
}

TEST(AutomationRegistryTest, StartsEmptyAndRefusesUnknownProgIds) {
  AutomationRegistry registry;
  EXPECT_EQ(ErrorOf([&] { registry.CreateOleObject("TarvoDriver.TarvoOLEDriver"); }),
            "Invalid class string");
  registry.RegisterBuiltin("fake", [] { return MakeFake(std::make_shared<FakeAutomationLog>()); });
  EXPECT_EQ(ErrorOf([&] { registry.CreateOleObject("fake"); }), "Invalid class string");
  // A ProgID mapped to a name that no component has.
  registry.MapProgId("Other.Thing", "missing");
  EXPECT_EQ(ErrorOf([&] { registry.CreateOleObject("Other.Thing"); }), "Invalid class string");
}

TEST(AutomationRegistryTest, CreatesTheMappedComponentWhateverTheCase) {
  auto log = std::make_shared<FakeAutomationLog>();
  AutomationRegistry registry;
  int created = 0;
  registry.RegisterBuiltin("Fake", [&] {
    ++created;
    return MakeFake(log);
  });
  registry.MapProgId("TarvoDriver.TarvoOLEDriver", "fake");
  auto a = registry.CreateOleObject("TarvoDriver.TarvoOLEDriver");
  auto b = registry.CreateOleObject("tarvodriver.tarvooledriver");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(created, 2);
  a->SetProperty("IPAddress", Variant("10.0.0.5"));
  EXPECT_EQ(b->GetProperty("IPAddress").AsText(), "10.0.0.5");
  EXPECT_EQ(log->CallStrings(),
            (std::vector<std::string>{"set IPAddress='10.0.0.5'", "get IPAddress"}));
}

TEST(AutomationRegistryTest, ATableFileReplacesTheTable) {
  TempDir dir;
  dir.Write("reg.ini",
            "; test table\r\n"
            "[Other]\r\n"
            "Ignored.Prog=builtin:fake\r\n"
            "[progids]\r\n"
            "TarvoDriver.TarvoOLEDriver = builtin:fake\r\n"
            "Bad.Line=fake\r\n"
            "no equals sign\r\n"
            "Empty.Name=builtin:\r\n");
  AutomationRegistry registry;
  registry.RegisterBuiltin("fake", [] { return MakeFake(std::make_shared<FakeAutomationLog>()); });
  registry.MapProgId("Old.ProgId", "fake");
  ASSERT_TRUE(registry.LoadTableFile(dir.File("reg.ini")));
  EXPECT_NE(registry.CreateOleObject("TarvoDriver.TarvoOLEDriver"), nullptr);
  for (const char* id : {"Old.ProgId", "Ignored.Prog", "Bad.Line", "Empty.Name"}) {
    EXPECT_EQ(ErrorOf([&] { registry.CreateOleObject(id); }), "Invalid class string") << id;
  }
}

TEST(AutomationRegistryTest, AnUnreadableTableFileLeavesTheTable) {
  TempDir dir;
  AutomationRegistry registry;
  registry.RegisterBuiltin("fake", [] { return MakeFake(std::make_shared<FakeAutomationLog>()); });
  registry.MapProgId("Keep.Me", "fake");
  EXPECT_FALSE(registry.LoadTableFile(dir.File("missing.ini")));
  EXPECT_NE(registry.CreateOleObject("Keep.Me"), nullptr);

  ::setenv("TARVO_AUTOMATION_REGISTRY", dir.File("missing.ini").c_str(), 1);
  std::string error;
  EXPECT_FALSE(registry.LoadTableFromEnvironment(&error));
  EXPECT_EQ(error, std::strerror(ENOENT));
  EXPECT_NE(registry.CreateOleObject("Keep.Me"), nullptr);

  dir.Write("empty.ini", "[ProgIDs]\n");
  ::setenv("TARVO_AUTOMATION_REGISTRY", dir.File("empty.ini").c_str(), 1);
  EXPECT_TRUE(registry.LoadTableFromEnvironment());
  EXPECT_EQ(ErrorOf([&] { registry.CreateOleObject("Keep.Me"); }), "Invalid class string");

  ::unsetenv("TARVO_AUTOMATION_REGISTRY");
  registry.MapProgId("Keep.Me", "fake");
  EXPECT_TRUE(registry.LoadTableFromEnvironment());
  if (internal::SystemHasClassRegistry()) {
    // Without a table file the system's class registry answers; it knows
    // no Keep.Me.
    EXPECT_THROW(registry.CreateOleObject("Keep.Me"), AutomationError);
  } else {
    EXPECT_NE(registry.CreateOleObject("Keep.Me"), nullptr);
  }
}

TEST(AutomationRegistryTest, FactoryErrorsReachTheCaller) {
  AutomationRegistry registry;
  registry.RegisterBuiltin("broken", []() -> std::unique_ptr<AutomationObject> {
    throw AutomationError("Component failed to start");
  });
  registry.RegisterBuiltin("null", [] { return std::unique_ptr<AutomationObject>(); });
  registry.MapProgId("A.Broken", "broken");
  registry.MapProgId("A.Null", "null");
  EXPECT_EQ(ErrorOf([&] { registry.CreateOleObject("A.Broken"); }), "Component failed to start");
  EXPECT_EQ(ErrorOf([&] { registry.CreateOleObject("A.Null"); }), "Invalid class string");
}

TEST(AutomationRegistryTest, CreationFromManyThreads) {
  auto log = std::make_shared<FakeAutomationLog>();
  AutomationRegistry registry;
  registry.RegisterBuiltin("fake", [log] { return MakeFake(log); });
  registry.MapProgId("P.Id", "fake");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&registry] {
      for (int i = 0; i < 100; ++i)
        registry.CreateOleObject("P.Id")->Invoke("Ping");
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(log->CallStrings().size(), 400u);
}

TEST(AutomationObjectTest, ABoundNameReadsWhatTheNameReads) {
  auto log = std::make_shared<FakeAutomationLog>();
  FakeAutomationObject object(log);
  AutomationObject& o = object;
  log->Set("PLU_Price_Def", Variant(2.5));
  log->Set("PLU_Name_Def", Variant("Bread"));
  const int32_t price = o.GetIdOfName("PLU_Price_Def");
  const int32_t name = o.GetIdOfName("PLU_Name_Def");
  const int32_t priceAgain = o.GetIdOfName("PLU_Price_Def");
  EXPECT_NE(price, name);
  EXPECT_EQ(price, priceAgain);  // binding again adds nothing
  EXPECT_EQ(o.GetPropertyById(price), Variant(2.5));
  EXPECT_EQ(o.GetPropertyById(name), Variant("Bread"));
  EXPECT_EQ(o.GetPropertyById(priceAgain), Variant(2.5));
  // Read when asked, not when bound.
  log->Set("PLU_Price_Def", Variant(3.0));
  EXPECT_EQ(o.GetPropertyById(price), Variant(3.0));
  EXPECT_EQ(log->CallStrings(),
            (std::vector<std::string>{"get PLU_Price_Def", "get PLU_Name_Def", "get PLU_Price_Def",
                                      "get PLU_Price_Def"}));
}

TEST(AutomationObjectTest, AnIdNotGivenOrAFailingReadRaises) {
  auto log = std::make_shared<FakeAutomationLog>();
  FakeAutomationObject object(log);
  AutomationObject& o = object;
  EXPECT_THROW(o.GetPropertyById(0), AutomationError);
  log->failing.insert("Broken");
  const int32_t broken = o.GetIdOfName("Broken");  // the fake cannot tell at binding
  EXPECT_EQ(ErrorOf([&] { o.GetPropertyById(broken); }), "Fake failure in Broken");
  for (int32_t bad :
       {-1, broken + 1, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
    EXPECT_THROW(o.GetPropertyById(bad), AutomationError) << bad;
  }
  // Ids belong to the object that gave them.
  FakeAutomationObject other(log);
  EXPECT_THROW(other.GetPropertyById(broken), AutomationError);
}

}  // namespace
}  // namespace tarvo
