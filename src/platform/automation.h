// The automation layer: late-bound objects addressed by member name, created
// by ProgID. It stands in for COM automation (IDispatch) on this platform.
//
// Unlike the rest of the platform layer, a failed call here raises
// AutomationError instead of returning false: a failing late-bound call
// reaches the caller's exception handler, as a failing driver call does in
// the service. The ProgID table loads report failure by their result.
#ifndef TARVO_PLATFORM_AUTOMATION_H_
#define TARVO_PLATFORM_AUTOMATION_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/datetime.h"

namespace tarvo {

// Raised by automation objects and by the registry. what() is the message
// the system shows for the failure.
class AutomationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An automation value. Text is UTF-8.
class Variant {
 public:
  enum class Type { kEmpty, kBool, kInt, kDouble, kText, kDate };

  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(DateTime v) : value_(v) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool IsEmpty() const { return type() == Type::kEmpty; }

  // Conversions as automation performs them; each throws AutomationError
  // ("Type mismatch") when the value cannot be converted, ("Overflow") when
  // a number is out of the range of int32. Text converts to a number only
  // when it is a decimal number written with "." (AsInt: a decimal integer);
  // blanks around it are ignored. Empty converts to 0, false, "" and the
  // zero date. True is -1 as a number and "True" as text; text converts to
  // a boolean from "True"/"False" in any case or from a number. A real
  // becomes an integer by rounding half to even (2.5 -> 2, 3.5 -> 4), and
  // text with "." and up to 15 significant digits ("12.5", "1E20"). A date
  // becomes text in the system short date format, followed by a blank and
  // the long time format when it has a time of day.
  bool AsBool() const;
  int32_t AsInt() const {
    const int32_t* value = std::get_if<int32_t>(&value_);
    return value != nullptr ? *value : ConvertToInt();
  }
  double AsDouble() const {
    if (const double* value = std::get_if<double>(&value_))
      return *value;
    if (const int32_t* value = std::get_if<int32_t>(&value_))
      return *value;
    return ConvertToDouble();
  }
  std::string AsText() const;
  DateTime AsDate() const;

  friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

 private:
  int32_t ConvertToInt() const;
  double ConvertToDouble() const;

  std::variant<std::monostate, bool, int32_t, double, std::string, DateTime> value_;
};

// A late-bound object. Every member is addressed by name (matched without
// regard to letter case, as automation does). An unknown member, a value of
// the wrong type or a failing call raises AutomationError naming the member.
//
// A caller that reads the same property many times may bind its name once,
// as automation does with dispatch ids: GetIdOfName(name) gives an id for
// this object, the same id for the same name every time, and
// GetPropertyById(id) then reads exactly what GetProperty(name) reads. By
// default the object keeps the bound names and reads by name; an object may
// bind faster. An object that knows it has no such member raises
// AutomationError when the name is bound, any other object when it is read.
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
  virtual Variant GetProperty(const std::string& name) = 0;
  virtual void SetProperty(const std::string& name, const Variant& value) = 0;
  virtual Variant Invoke(const std::string& name, const std::vector<Variant>& args = {}) = 0;

  virtual int32_t GetIdOfName(const std::string& name);
  // Raises AutomationError for an id this object did not give.
  virtual Variant GetPropertyById(int32_t id);

 private:
  std::vector<std::string> bound_names_;  // by id
};

using AutomationFactory = std::function<std::unique_ptr<AutomationObject>()>;

// Maps ProgIDs to the factories of built-in components. Registration happens
// before the registry is shared between threads; creation is thread-safe.
class AutomationRegistry {
 public:
  // Makes a built-in component known under `name` (the NAME of builtin:NAME).
  void RegisterBuiltin(const std::string& name, AutomationFactory factory);

  // Maps `progId` to the built-in component `builtinName`.
  void MapProgId(const std::string& progId, const std::string& builtinName);

  // Replaces the ProgID table by the file's: INI text, section [ProgIDs],
  // lines ProgID=builtin:NAME. False (and the table unchanged, `error` set
  // when given) when the file cannot be read; lines in another form are
  // skipped.
  bool LoadTableFile(const std::string& path, std::string* error = nullptr);

  // When the environment variable TARVO_AUTOMATION_REGISTRY names a file,
  // loads it with LoadTableFile. False when it names a file that cannot be read.
  //
  // When the variable is not set and the system keeps a class registry of
  // its own (COM's, on Windows), the table is set aside: from then on
  // CreateOleObject creates every ProgID from the system's registry, so a
  // component registered there replaces a built-in one.
  bool LoadTableFromEnvironment(std::string* error = nullptr);

  // Creates the component registered for `progId` (matched without regard
  // to case). Raises AutomationError("Invalid class string") when the ProgID
  // is unknown or names no built-in component; a component of the system's
  // class registry raises the system's message for its failure.
  std::unique_ptr<AutomationObject> CreateOleObject(const std::string& progId) const;

 private:
  std::map<std::string, AutomationFactory> builtins_;
  std::map<std::string, std::string> prog_ids_;  // upper-cased ProgID -> name
  bool system_classes_ = false;                  // create from the system's registry
};

// Joins the calling thread to the system's multithreaded object apartment
// (COM's, on Windows) for the life of the scope, so that objects of the
// system's class registry can be created and called on it. Every thread
// that creates or calls such objects holds one. Nothing on systems without
// such objects.
class ComThreadScope {
 public:
  ComThreadScope();
  ComThreadScope(const ComThreadScope&) = delete;
  ComThreadScope& operator=(const ComThreadScope&) = delete;
  ~ComThreadScope();

 private:
  bool joined_ = false;
};

namespace internal {

// True where the system keeps a class registry of automation objects.
bool SystemHasClassRegistry();

// Creates the object registered for `progId` in the system's class
// registry. Raises AutomationError with the system's message, "Invalid class
// string" for a ProgID it does not know.
std::unique_ptr<AutomationObject> CreateSystemObject(const std::string& progId);

}  // namespace internal

}  // namespace tarvo

#endif  // TARVO_PLATFORM_AUTOMATION_H_
