// An in-process automation object for tests. It records every member access
// in order, keeps written property values, answers reads from a table of
// preset values (then from what was written), and can be told to raise on
// chosen members.
#ifndef TARVO_TESTS_SUPPORT_FAKE_AUTOMATION_H_
#define TARVO_TESTS_SUPPORT_FAKE_AUTOMATION_H_

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace tarvo::testing {

struct AutomationCall {
  enum class Kind { kGet, kSet, kInvoke };
  Kind kind;
  std::string member;
  std::vector<Variant> values;  // the value set, or the arguments

  // "get IPAddress", "set PLU_Number=5", "call SetHotKeyValue(1,42)".
  std::string ToString() const;
};

// State shared between a fake and the test that created it, so the test can
// inspect the calls after the service has taken ownership of the object.
struct FakeAutomationLog {
  std::mutex mu;
  std::vector<AutomationCall> calls;
  std::map<std::string, Variant> values;  // preset or written properties
  std::set<std::string> failing;          // members that raise
  // Called after each Invoke (under no lock) to let a test script effects.
  std::function<void(const std::string& method, FakeAutomationLog& log)> onInvoke;

  std::vector<std::string> CallStrings();
  // Only the method calls: "call Name(args)".
  std::vector<std::string> Invokes();
  void ClearCalls();
  void Set(const std::string& name, const Variant& value);
};

class FakeAutomationObject : public AutomationObject {
 public:
  explicit FakeAutomationObject(std::shared_ptr<FakeAutomationLog> log) : log_(std::move(log)) {}

  Variant GetProperty(const std::string& name) override;
  void SetProperty(const std::string& name, const Variant& value) override;
  Variant Invoke(const std::string& name, const std::vector<Variant>& args) override;

 private:
  std::shared_ptr<FakeAutomationLog> log_;
};

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_FAKE_AUTOMATION_H_
