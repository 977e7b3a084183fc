#include "support/fake_automation.h"

#include <cstdio>

namespace tarvo::testing {

namespace {

std::string VariantText(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
      return "<empty>";
    case Variant::Type::kBool:
      return v.AsBool() ? "true" : "false";
    case Variant::Type::kText:
      return "'" + v.AsText() + "'";
    case Variant::Type::kDate:
      return "date:" + FormatDateTime("yyyy-mm-dd", v.AsDate());
    default:
      return v.AsText();
  }
}

}  // namespace

std::string AutomationCall::ToString() const {
  switch (kind) {
    case Kind::kGet:
      return "get " + member;
    case Kind::kSet:
      return "set " + member + "=" + VariantText(values.at(0));
    case Kind::kInvoke: {
      std::string s = "call " + member + "(";
      for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
          s += ",";
        s += VariantText(values[i]);
      }
      return s + ")";
    }
  }
  return "";
}

std::vector<std::string> FakeAutomationLog::CallStrings() {
  std::lock_guard<std::mutex> lock(mu);
  std::vector<std::string> out;
  for (const AutomationCall& c : calls)
    out.push_back(c.ToString());
  return out;
}

std::vector<std::string> FakeAutomationLog::Invokes() {
  std::lock_guard<std::mutex> lock(mu);
  std::vector<std::string> out;
  for (const AutomationCall& c : calls) {
    if (c.kind == AutomationCall::Kind::kInvoke)
      out.push_back(c.ToString());
  }
  return out;
}

void FakeAutomationLog::ClearCalls() {
  std::lock_guard<std::mutex> lock(mu);
  calls.clear();
}

void FakeAutomationLog::Set(const std::string& name, const Variant& value) {
  std::lock_guard<std::mutex> lock(mu);
  values[name] = value;
}

Variant FakeAutomationObject::GetProperty(const std::string& name) {
  std::lock_guard<std::mutex> lock(log_->mu);
  log_->calls.push_back({AutomationCall::Kind::kGet, name, {}});
  if (log_->failing.count(name))
    throw AutomationError("Fake failure in " + name);
  auto it = log_->values.find(name);
  return it == log_->values.end() ? Variant() : it->second;
}

void FakeAutomationObject::SetProperty(const std::string& name, const Variant& value) {
  std::lock_guard<std::mutex> lock(log_->mu);
  log_->calls.push_back({AutomationCall::Kind::kSet, name, {value}});
  if (log_->failing.count(name))
    throw AutomationError("Fake failure in " + name);
  log_->values[name] = value;
}

Variant FakeAutomationObject::Invoke(const std::string& name, const std::vector<Variant>& args) {
  {
    std::lock_guard<std::mutex> lock(log_->mu);
    log_->calls.push_back({AutomationCall::Kind::kInvoke, name, args});
    if (log_->failing.count(name))
      throw AutomationError("Fake failure in " + name);
  }
  if (log_->onInvoke)
    log_->onInvoke(name, *log_);
  return Variant();
}

}  // namespace tarvo::testing
