#include "scaledriver/scale_driver.h"

#include <cmath>
#include <cstring>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace tarvo {

using scale::MessageRecord;
using scale::Op;
using scale::PluRecord;

namespace {

constexpr const char kBuiltinName[] = "TarvoNetDriver";
constexpr const char kProgId[] = "TarvoDriver.TarvoOLEDriver";
constexpr const char kOk[] = "OK";

enum class Kind { kBool, kInt, kDouble, kText, kDate };

// One PLU field: its property name (without "PLU_"), its type and where it
// lives in the record.
struct PluField {
  const char* Name;
  Kind Type;
  int32_t PluRecord::*Int;
  double PluRecord::*Real;  // doubles and the date
  std::string PluRecord::*Text;
};

const PluField kPluFields[] = {
    {"Number", Kind::kInt, &PluRecord::Number, nullptr, nullptr},
    {"Name", Kind::kText, nullptr, nullptr, &PluRecord::Name},
    {"AddCode", Kind::kInt, &PluRecord::AddCode, nullptr, nullptr},
    {"BarCodeType", Kind::kInt, &PluRecord::BarCodeType, nullptr, nullptr},
    {"Price", Kind::kDouble, nullptr, &PluRecord::Price, nullptr},
    {"WeightUnit", Kind::kInt, &PluRecord::WeightUnit, nullptr, nullptr},
    {"Dep", Kind::kInt, &PluRecord::Dep, nullptr, nullptr},
    {"Tare", Kind::kDouble, nullptr, &PluRecord::Tare, nullptr},
    {"ShlefTime", Kind::kInt, &PluRecord::ShlefTime, nullptr, nullptr},
    {"Label", Kind::kInt, &PluRecord::Label, nullptr, nullptr},
    {"Rebate", Kind::kInt, &PluRecord::Rebate, nullptr, nullptr},
    {"Message", Kind::kInt, &PluRecord::Message, nullptr, nullptr},
    {"PackageType", Kind::kInt, &PluRecord::PackageType, nullptr, nullptr},
    {"PackageWeight", Kind::kDouble, nullptr, &PluRecord::PackageWeight, nullptr},
    {"Tolerance", Kind::kInt, &PluRecord::Tolerance, nullptr, nullptr},
    {"ProductionDate", Kind::kDate, nullptr, &PluRecord::ProductionDate, nullptr},
    {"IcePercent", Kind::kDouble, nullptr, &PluRecord::IcePercent, nullptr},
};

// "No message" for the caller is PLU_Message_Def + 1 = 0, the message
// number 0 that a new record starts with.
constexpr int32_t kMessageDefault = -1;

PluRecord DefaultPlu() {
  PluRecord r;
  r.WeightUnit = 4;  // kg
  r.Message = kMessageDefault + 1;
  return r;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
      return false;
  }
  return true;
}

// When `name` starts with `prefix` (without regard to case), stores the rest.
bool StripPrefix(std::string_view name, std::string_view prefix, std::string_view* rest) {
  if (name.size() < prefix.size() || !EqualsNoCase(name.substr(0, prefix.size()), prefix)) {
    return false;
  }
  *rest = name.substr(prefix.size());
  return true;
}

bool StripSuffix(std::string_view name, std::string_view suffix, std::string_view* rest) {
  if (name.size() < suffix.size() ||
      !EqualsNoCase(name.substr(name.size() - suffix.size()), suffix)) {
    return false;
  }
  *rest = name.substr(0, name.size() - suffix.size());
  return true;
}

const PluField* FindPluField(std::string_view name) {
  for (const PluField& f : kPluFields) {
    if (EqualsNoCase(name, f.Name))
      return &f;
  }
  return nullptr;
}

// The line number of "Line1".."Line16"; 0 otherwise.
int MessageLineNumber(std::string_view rest) {
  std::string_view digits;
  if (!StripPrefix(rest, "Line", &digits) || digits.empty() || digits.size() > 2 ||
      digits[0] == '0') {
    return 0;
  }
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9')
      return 0;
    n = n * 10 + (c - '0');
  }
  return n <= scale::kMessageLines ? n : 0;
}

[[noreturn]] void Raise(const std::string& text) {
  throw AutomationError(text);
}

[[noreturn]] void RaiseUnknown(const std::string& member) {
  Raise("Member \"" + member + "\" not supported by the scale driver");
}

const char* KindText(Kind kind) {
  switch (kind) {
    case Kind::kBool:
      return "a boolean";
    case Kind::kInt:
      return "an integer";
    case Kind::kDouble:
      return "a number";
    case Kind::kText:
      return "text";
    case Kind::kDate:
      return "a date";
  }
  return "a value";
}

[[noreturn]] void RaiseType(const std::string& member, Kind expected) {
  Raise("Type mismatch: " + member + " expects " + KindText(expected));
}

bool ToBool(const std::string& member, const Variant& v) {
  if (v.type() != Variant::Type::kBool)
    RaiseType(member, Kind::kBool);
  return v.AsBool();
}

int32_t ToInt(const std::string& member, const Variant& v) {
  if (v.type() == Variant::Type::kInt)
    return v.AsInt();
  if (v.type() == Variant::Type::kDouble) {
    double d = v.AsDouble();
    if (std::isfinite(d) && d == std::trunc(d) && d >= INT32_MIN && d <= INT32_MAX) {
      return static_cast<int32_t>(d);
    }
  }
  RaiseType(member, Kind::kInt);
}

double ToDouble(const std::string& member, const Variant& v, Kind kind = Kind::kDouble) {
  double d;
  if (v.type() == Variant::Type::kInt) {
    d = v.AsInt();
  } else if (v.type() == Variant::Type::kDouble) {
    d = v.AsDouble();
  } else if (kind == Kind::kDate && v.type() == Variant::Type::kDate) {
    d = v.AsDate().Days();
  } else {
    RaiseType(member, kind);
  }
  if (!std::isfinite(d))
    Raise(member + ": the value is not a finite number");
  return d;
}

std::string ToText(const std::string& member, const Variant& v) {
  if (v.type() != Variant::Type::kText)
    RaiseType(member, Kind::kText);
  std::string text = v.AsText();
  if (!scale::IsValidUtf8(text))
    Raise(member + ": the text is not valid UTF-8");
  return text;
}

void CheckArgCount(const std::string& member, const std::vector<Variant>& args, size_t count) {
  if (args.size() != count) {
    Raise(member + ": " + std::to_string(count) + " argument(s) expected, " +
          std::to_string(args.size()) + " given");
  }
}

Variant PluFieldValue(const PluField& f, const PluRecord& r) {
  switch (f.Type) {
    case Kind::kInt:
      return Variant(r.*f.Int);
    case Kind::kDouble:
      return Variant(r.*f.Real);
    case Kind::kDate:
      return Variant(DateTime(r.*f.Real));
    case Kind::kText:
      return Variant(r.*f.Text);
    case Kind::kBool:
      break;
  }
  return Variant();
}

}  // namespace

// ---------------------------------------------------------------------------

struct ScaleDriver::Buffers {
  bool showProgress = false;
  bool clearAccount = true;
  std::string ip;
  int32_t lastError = 0;
  std::string lastErrorMessage = kOk;
  std::string serial;
  std::string version;

  std::vector<PluRecord> plus;
  std::vector<MessageRecord> messages;
  scale::HotKeyTable hotKeys{};

  scale::SettingValues settings = scale::DefaultSettingValues();
  bool settingsLoaded = false;
  std::string settingsIp;  // the address the settings were loaded from
  std::string settingsLoadError = "InitBufferSettings was not called";
};

ScaleDriverOptions ScaleDriverOptionsFromEnvironment() {
  ScaleDriverOptions options;
  std::string text = GetEnv("TARVO_SCALE_PORT");
  if (!text.empty() && text.size() <= 5 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    int port = std::stoi(text);
    if (port >= 1 && port <= 65535)
      options.Port = port;
  }
  return options;
}

ScaleDriver::ScaleDriver(ScaleDriverOptions options)
    : options_(options), b_(std::make_unique<Buffers>()) {}

ScaleDriver::~ScaleDriver() = default;

void ScaleDriver::SetError(int32_t code, const std::string& message) {
  b_->lastError = code;
  b_->lastErrorMessage = message;
}

Variant ScaleDriver::GetProperty(const std::string& name) {
  Buffers& b = *b_;
  std::string_view rest;
  if (EqualsNoCase(name, "IPAddress"))
    return Variant(b.ip);
  if (EqualsNoCase(name, "LastError"))
    return Variant(b.lastError);
  if (EqualsNoCase(name, "LastErrorMessage"))
    return Variant(b.lastErrorMessage);
  if (EqualsNoCase(name, "SerialNumber"))
    return Variant(b.serial);
  if (EqualsNoCase(name, "ScaleVersion"))
    return Variant(b.version);
  if (EqualsNoCase(name, "Driver_EnableShowProgress"))
    return Variant(b.showProgress);
  if (EqualsNoCase(name, "ClearAccountAfterUpload"))
    return Variant(b.clearAccount);

  if (StripPrefix(name, "PLU_", &rest)) {
    std::string_view field;
    if (StripSuffix(rest, "_Def", &field)) {
      const PluField* f = FindPluField(field);
      if (f == nullptr || f->Type == Kind::kDate)
        RaiseUnknown(name);
      if (f->Int == &PluRecord::Message)
        return Variant(kMessageDefault);
      return PluFieldValue(*f, DefaultPlu());
    }
    const PluField* f = FindPluField(rest);
    if (f == nullptr)
      RaiseUnknown(name);
    if (b.plus.empty())
      Raise(name + ": no PLU in the buffer (call AddPLUToBuffer first)");
    return PluFieldValue(*f, b.plus.back());
  }

  if (StripPrefix(name, "Message_", &rest)) {
    bool current = EqualsNoCase(rest, "CurrentNo");
    int line = MessageLineNumber(rest);
    if (!current && line == 0)
      RaiseUnknown(name);
    if (b.messages.empty()) {
      Raise(name + ": no message in the buffer (call AddMessageToBuffer first)");
    }
    const MessageRecord& m = b.messages.back();
    return current ? Variant(m.No) : Variant(m.Lines[line - 1]);
  }

  if (StripPrefix(name, "Settings_", &rest)) {
    int key = scale::FindSettingKey(std::string(rest));
    if (key < 0)
      RaiseUnknown(name);
    const scale::SettingValue& v = b.settings[key];
    if (scale::SettingKeys()[key].Kind == scale::SettingKind::kText)
      return Variant(v.Text);
    return Variant(v.Int);
  }
  RaiseUnknown(name);
}

void ScaleDriver::SetProperty(const std::string& name, const Variant& value) {
  Buffers& b = *b_;
  std::string_view rest;
  if (EqualsNoCase(name, "IPAddress")) {
    b.ip = ToText(name, value);
    return;
  }
  if (EqualsNoCase(name, "Driver_EnableShowProgress")) {
    b.showProgress = ToBool(name, value);
    return;
  }
  if (EqualsNoCase(name, "ClearAccountAfterUpload")) {
    b.clearAccount = ToBool(name, value);
    return;
  }
  if (EqualsNoCase(name, "LastError") || EqualsNoCase(name, "LastErrorMessage") ||
      EqualsNoCase(name, "SerialNumber") || EqualsNoCase(name, "ScaleVersion")) {
    Raise("Property \"" + name + "\" is read-only");
  }

  if (StripPrefix(name, "PLU_", &rest)) {
    std::string_view field;
    const PluField* def = StripSuffix(rest, "_Def", &field) ? FindPluField(field) : nullptr;
    if (def != nullptr && def->Type != Kind::kDate) {
      Raise("Property \"" + name + "\" is read-only");
    }
    const PluField* f = FindPluField(rest);
    if (f == nullptr)
      RaiseUnknown(name);
    if (b.plus.empty())
      Raise(name + ": no PLU in the buffer (call AddPLUToBuffer first)");
    PluRecord& r = b.plus.back();
    switch (f->Type) {
      case Kind::kInt:
        r.*f->Int = ToInt(name, value);
        break;
      case Kind::kDouble:
      case Kind::kDate:
        r.*f->Real = ToDouble(name, value, f->Type);
        break;
      case Kind::kText:
        r.*f->Text = ToText(name, value);
        break;
      case Kind::kBool:
        break;
    }
    return;
  }

  if (StripPrefix(name, "Message_", &rest)) {
    bool current = EqualsNoCase(rest, "CurrentNo");
    int line = MessageLineNumber(rest);
    if (!current && line == 0)
      RaiseUnknown(name);
    if (b.messages.empty()) {
      Raise(name + ": no message in the buffer (call AddMessageToBuffer first)");
    }
    MessageRecord& m = b.messages.back();
    if (current) {
      m.No = ToInt(name, value);
    } else {
      m.Lines[line - 1] = ToText(name, value);
    }
    return;
  }

  if (StripPrefix(name, "Settings_", &rest)) {
    int key = scale::FindSettingKey(std::string(rest));
    if (key < 0)
      RaiseUnknown(name);
    scale::SettingValue& v = b.settings[key];
    if (scale::SettingKeys()[key].Kind == scale::SettingKind::kInt) {
      v.Int = ToInt(name, value);
      return;
    }
    std::string text = ToText(name, value);
    if (std::strcmp(scale::SettingKeys()[key].Name, "UserBarCode") == 0) {
      if (!scale::IsUserBarCode(text))
        Raise(name + ": 12 hexadecimal digits expected");
      for (char& c : text)
        c = AsciiUpper(c);
    }
    v.Text = std::move(text);
    return;
  }
  RaiseUnknown(name);
}

Variant ScaleDriver::Invoke(const std::string& name, const std::vector<Variant>& args) {
  Buffers& b = *b_;
  const int reply = options_.ReplyTimeoutMs;
  std::string body;

  // Buffer work.
  if (EqualsNoCase(name, "InitBufferPLU")) {
    CheckArgCount(name, args, 0);
    b.plus.clear();
  } else if (EqualsNoCase(name, "AddPLUToBuffer")) {
    CheckArgCount(name, args, 0);
    b.plus.push_back(DefaultPlu());
  } else if (EqualsNoCase(name, "InitBufferMessages")) {
    CheckArgCount(name, args, 0);
    b.messages.clear();
  } else if (EqualsNoCase(name, "AddMessageToBuffer")) {
    CheckArgCount(name, args, 0);
    b.messages.emplace_back();
  } else if (EqualsNoCase(name, "InitBufferHotKey")) {
    CheckArgCount(name, args, 0);
    b.hotKeys.fill(0);
  } else if (EqualsNoCase(name, "SetHotKeyValue")) {
    CheckArgCount(name, args, 2);
    int32_t key = ToInt(name, args[0]);
    int32_t value = ToInt(name, args[1]);
    if (key < 1 || key > scale::kHotKeyCount) {
      Raise(name + ": key number " + std::to_string(key) + " is outside 1.." +
            std::to_string(scale::kHotKeyCount));
    }
    b.hotKeys[key - 1] = value;

    // Exchanges with the scale.
  } else if (EqualsNoCase(name, "GetScaleSerialNumber")) {
    CheckArgCount(name, args, 0);
    b.serial.clear();
    b.version.clear();
    std::string serial, version, error;
    if (Exchange(Op::kGetInfo, "", reply, &body)) {
      if (scale::DecodeInfo(body, &serial, &version, &error)) {
        b.serial = serial;
        b.version = version;
      } else {
        SetError(kErrProtocol, "Invalid reply from scale " + b.ip + ": " + error);
      }
    }
  } else if (EqualsNoCase(name, "ClearAllPLUAndMessages")) {
    CheckArgCount(name, args, 0);
    Exchange(Op::kClear, "", reply, &body);
  } else if (EqualsNoCase(name, "SetAllPLU")) {
    CheckArgCount(name, args, 0);
    Exchange(Op::kSetPlus, scale::EncodePlus(b.plus), reply, &body);
  } else if (EqualsNoCase(name, "UpdateAllMessages")) {
    CheckArgCount(name, args, 0);
    Exchange(Op::kSetMessages, scale::EncodeMessages(b.messages), reply, &body);
  } else if (EqualsNoCase(name, "InitBufferSettings")) {
    CheckArgCount(name, args, 0);
    b.settingsLoaded = false;
    b.settings = scale::DefaultSettingValues();
    std::vector<scale::SettingChange> reported;
    std::string error;
    if (Exchange(Op::kGetSettings, "", reply, &body)) {
      std::vector<bool> seen(scale::SettingKeys().size(), false);
      size_t distinct = 0;
      if (scale::DecodeSettings(body, &reported, &error)) {
        for (const scale::SettingChange& c : reported) {
          if (!seen[c.Key])
            ++distinct;
          seen[c.Key] = true;
        }
        if (distinct != seen.size())
          error = "the scale did not report every setting";
      }
      if (error.empty()) {
        for (const scale::SettingChange& c : reported)
          b.settings[c.Key] = c.Value;
        b.settingsLoaded = true;
        b.settingsIp = b.ip;
      } else {
        b.settings = scale::DefaultSettingValues();
        SetError(kErrProtocol, "Invalid settings reply from scale " + b.ip + ": " + error);
      }
    }
    if (!b.settingsLoaded)
      b.settingsLoadError = b.lastErrorMessage;
  } else if (EqualsNoCase(name, "SetSettings")) {
    CheckArgCount(name, args, 0);
    if (!b.settingsLoaded || b.settingsIp != b.ip) {
      std::string reason =
          b.settingsLoaded ? "they were read from " + b.settingsIp : b.settingsLoadError;
      SetError(kErrSettingsNotLoaded, "Settings not sent to " + b.ip +
                                          ": the scale's settings were not read first (" + reason +
                                          ")");
    } else {
      std::vector<scale::SettingChange> all(b.settings.size());
      for (size_t i = 0; i < all.size(); ++i) {
        all[i].Key = static_cast<int>(i);
        all[i].Value = b.settings[i];
      }
      Exchange(Op::kSetSettings, scale::EncodeSettings(all), reply, &body);
    }
  } else if (EqualsNoCase(name, "SetHotKeys")) {
    CheckArgCount(name, args, 0);
    Exchange(Op::kSetHotKeys, scale::EncodeHotKeys(b.hotKeys), reply, &body);
  } else if (EqualsNoCase(name, "SetLabelFile")) {
    SendFile(name, args, Op::kSetLabel);
  } else if (EqualsNoCase(name, "SetLogoFile")) {
    SendFile(name, args, Op::kSetLogo);
  } else if (EqualsNoCase(name, "SetFontFile")) {
    SendFile(name, args, Op::kSetFont);
  } else {
    RaiseUnknown(name);
  }
  return Variant();
}

void ScaleDriver::SendFile(const std::string& member, const std::vector<Variant>& args, Op op) {
  CheckArgCount(member, args, op == Op::kSetFont ? 2 : 1);
  std::string path = ToText(member, args[0]);
  int32_t fontNumber = 0;
  if (op == Op::kSetFont) {
    fontNumber = ToInt(member, args[1]);
    if (fontNumber < 0)
      Raise(member + ": the font number must not be negative");
  }
  std::string bytes;
  if (!ReadFileToString(Utf8ToAnsi(path), &bytes)) {
    SetError(kErrFileRead, "Cannot read file " + path + ": " + LastSystemErrorMessage());
    return;
  }
  std::string payload =
      op == Op::kSetFont ? scale::EncodeFont(fontNumber, bytes) : scale::EncodeFile(bytes);
  std::string body;
  Exchange(op, payload, options_.FileReplyTimeoutMs, &body);
}

bool ScaleDriver::Exchange(Op op, const std::string& payload, int replyTimeoutMs,
                           std::string* body) {
  const std::string& ip = b_->ip;
  const std::string where = ip + ":" + std::to_string(options_.Port);
  if (payload.size() > scale::kMaxPayloadSize) {
    SetError(kErrRequestTooLarge, "Request of " + std::to_string(payload.size()) +
                                      " bytes exceeds the limit of " +
                                      std::to_string(scale::kMaxPayloadSize) + " bytes");
    return false;
  }
  if (ip.empty()) {
    SetError(kErrConnectFailed, "No scale address: IPAddress is empty");
    return false;
  }

  std::string error;
  ConnectFailure failure = ConnectFailure::kNone;
  std::unique_ptr<TcpConnection> connection =
      TcpConnect(ip, options_.Port, options_.ConnectTimeoutMs, &error, &failure);
  if (connection == nullptr) {
    int32_t code = failure == ConnectFailure::kRefused    ? kErrConnectRefused
                   : failure == ConnectFailure::kTimedOut ? kErrConnectTimeout
                                                          : kErrConnectFailed;
    SetError(code, "Cannot connect to scale " + where + ": " + error);
    return false;
  }
  connection->SetTimeoutMillis(replyTimeoutMs);
  const uint8_t type = static_cast<uint8_t>(op);
  if (!scale::WriteFrame(*connection, type, payload)) {
    if (connection->TimedOut()) {
      SetError(kErrReplyTimeout, "Sending to scale " + where + " timed out");
    } else {
      SetError(kErrConnectionLost, "Connection to scale " + where + " lost while sending");
    }
    return false;
  }

  scale::Frame frame;
  switch (scale::ReadFrame(*connection, &frame)) {
    case scale::ReadStatus::kOk:
      break;
    case scale::ReadStatus::kClosed:
    case scale::ReadStatus::kTruncated:
      if (connection->TimedOut()) {
        SetError(kErrReplyTimeout, "No reply from scale " + where + " within " +
                                       std::to_string(replyTimeoutMs) + " ms");
      } else {
        SetError(kErrConnectionLost, "Scale " + where + " closed the connection before replying");
      }
      return false;
    case scale::ReadStatus::kBadMagic:
    case scale::ReadStatus::kBadReserved:
      SetError(kErrProtocol, "Invalid reply from scale " + where + ": not a scale protocol frame");
      return false;
    case scale::ReadStatus::kTooLarge:
      SetError(kErrProtocol, "Invalid reply from scale " + where + ": reply exceeds the limit");
      return false;
  }
  if (frame.header.version != scale::kProtocolVersion) {
    SetError(kErrProtocol, "Scale " + where + " speaks protocol version " +
                               std::to_string(frame.header.version) + ", the driver version " +
                               std::to_string(scale::kProtocolVersion));
    return false;
  }
  scale::Reply reply;
  if (frame.header.type != (type | scale::kReplyFlag)) {
    SetError(kErrProtocol, "Invalid reply from scale " + where + ": unexpected message type");
    return false;
  }
  if (!scale::DecodeReply(frame.payload, &reply, &error)) {
    SetError(kErrProtocol, "Invalid reply from scale " + where + ": " + error);
    return false;
  }
  if (reply.Code != scale::kResultOk) {
    SetError(reply.Code, "Scale " + ip + " answered error " + std::to_string(reply.Code) + ": " +
                             reply.Message);
    return false;
  }
  SetError(0, kOk);
  *body = std::move(reply.Body);
  return true;
}

void RegisterScaleDriver(AutomationRegistry& registry) {
  registry.RegisterBuiltin(kBuiltinName, [] {
    return std::unique_ptr<AutomationObject>(
        std::make_unique<ScaleDriver>(ScaleDriverOptionsFromEnvironment()));
  });
  registry.MapProgId(kProgId, kBuiltinName);
}

}  // namespace tarvo
