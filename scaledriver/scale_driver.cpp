#include "scaledriver/scale_driver.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <unordered_map>

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
    {"ShlefTime", Kind::kInt, &PluRecord::ShelfTime, nullptr, nullptr},
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

// Member names are matched without regard to case.
struct NoCaseHash {
  size_t operator()(const std::string& s) const {
    size_t h = 14695981039346656037ull;
    for (char c : s)
      h = (h ^ static_cast<unsigned char>(AsciiUpper(c))) * 1099511628211ull;
    return h;
  }
};

struct NoCaseEqual {
  bool operator()(const std::string& a, const std::string& b) const { return SameTextAscii(a, b); }
};

enum class Member {
  // Properties
  kIPAddress,
  kShowProgress,
  kClearAccount,
  kLastError,
  kLastErrorMessage,
  kSerialNumber,
  kScaleVersion,
  kPluField,    // Index: kPluFields
  kPluDefault,  // Index: kPluFields
  kMessageNo,
  kMessageLine,  // Index: line 1..16
  kPluFits,
  kMessageFits,
  kSetting,  // Index: scale::SettingKeys()
  // Methods
  kGetScaleSerialNumber,
  kClearAllPLUAndMessages,
  kInitBufferPLU,
  kAddPLUToBuffer,
  kSetAllPLU,
  kInitBufferMessages,
  kAddMessageToBuffer,
  kUpdateAllMessages,
  kInitBufferSettings,
  kSetSettings,
  kInitBufferHotKey,
  kSetHotKeyValue,
  kSetHotKeys,
  kSetLabelFile,
  kSetFontFile,
  kSetLogoFile,
};

}  // namespace

// One member of the driver: what it is, and which field, line or key.
struct ScaleDriverMember {
  Member Id;
  int Index = 0;
};

namespace {

using MemberRef = ScaleDriverMember;

using MemberTable = std::unordered_map<std::string, MemberRef, NoCaseHash, NoCaseEqual>;

MemberTable BuildMemberTable() {
  MemberTable t = {
      {"IPAddress", {Member::kIPAddress}},
      {"Driver_EnableShowProgress", {Member::kShowProgress}},
      {"ClearAccountAfterUpload", {Member::kClearAccount}},
      {"LastError", {Member::kLastError}},
      {"LastErrorMessage", {Member::kLastErrorMessage}},
      {"SerialNumber", {Member::kSerialNumber}},
      {"ScaleVersion", {Member::kScaleVersion}},
      {"Message_CurrentNo", {Member::kMessageNo}},
      {"PLU_RecordFits", {Member::kPluFits}},
      {"Message_RecordFits", {Member::kMessageFits}},
      {"GetScaleSerialNumber", {Member::kGetScaleSerialNumber}},
      {"ClearAllPLUAndMessages", {Member::kClearAllPLUAndMessages}},
      {"InitBufferPLU", {Member::kInitBufferPLU}},
      {"AddPLUToBuffer", {Member::kAddPLUToBuffer}},
      {"SetAllPLU", {Member::kSetAllPLU}},
      {"InitBufferMessages", {Member::kInitBufferMessages}},
      {"AddMessageToBuffer", {Member::kAddMessageToBuffer}},
      {"UpdateAllMessages", {Member::kUpdateAllMessages}},
      {"InitBufferSettings", {Member::kInitBufferSettings}},
      {"SetSettings", {Member::kSetSettings}},
      {"InitBufferHotKey", {Member::kInitBufferHotKey}},
      {"SetHotKeyValue", {Member::kSetHotKeyValue}},
      {"SetHotKeys", {Member::kSetHotKeys}},
      {"SetLabelFile", {Member::kSetLabelFile}},
      {"SetFontFile", {Member::kSetFontFile}},
      {"SetLogoFile", {Member::kSetLogoFile}},
  };
  for (int i = 0; i < static_cast<int>(std::size(kPluFields)); ++i) {
    const PluField& f = kPluFields[i];
    t.emplace(std::string("PLU_") + f.Name, MemberRef{Member::kPluField, i});
    if (f.Type != Kind::kDate) {
      t.emplace(std::string("PLU_") + f.Name + "_Def", MemberRef{Member::kPluDefault, i});
    }
  }
  for (int line = 1; line <= scale::kMessageLines; ++line) {
    t.emplace("Message_Line" + std::to_string(line), MemberRef{Member::kMessageLine, line});
  }
  for (int key = 0; key < static_cast<int>(scale::SettingKeys().size()); ++key) {
    t.emplace(std::string("Settings_") + scale::SettingKeys()[key].Name,
              MemberRef{Member::kSetting, key});
  }
  return t;
}

// The member of that name; null when the driver has none.
const MemberRef* FindMember(const std::string& name) {
  static const MemberTable table = BuildMemberTable();  // built once, read-only
  auto it = table.find(name);
  return it == table.end() ? nullptr : &it->second;
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

  std::unique_ptr<TcpConnection> connection;  // kept open between exchanges
  std::string connectionIp;                   // the address it leads to

  // The members bound by GetIdOfName, by id, with the names they were bound by.
  std::vector<std::pair<const MemberRef*, std::string>> bound;

  // The members found so far, by the exact name asked for: a transfer sets
  // the same few properties by name for every record, and an exact lookup
  // costs far less than the table's case-blind one. Bounded, so that a
  // caller asking for ever new names cannot grow it without limit.
  std::unordered_map<std::string, const MemberRef*> found;
  const MemberRef* Find(const std::string& name) {
    auto it = found.find(name);
    if (it != found.end())
      return it->second;
    const MemberRef* m = FindMember(name);
    if (m != nullptr && found.size() < kMaxFoundNames)
      found.emplace(name, m);
    return m;
  }
  static constexpr size_t kMaxFoundNames = 512;
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
  const MemberRef* m = b_->Find(name);
  if (m == nullptr)
    RaiseUnknown(name);
  return ReadProperty(m, name);
}

int32_t ScaleDriver::GetIdOfName(const std::string& name) {
  for (size_t id = 0; id < b_->bound.size(); ++id) {
    if (b_->bound[id].second == name)
      return static_cast<int32_t>(id);
  }
  const MemberRef* m = b_->Find(name);
  if (m == nullptr)
    RaiseUnknown(name);
  b_->bound.emplace_back(m, name);
  return static_cast<int32_t>(b_->bound.size() - 1);
}

Variant ScaleDriver::GetPropertyById(int32_t id) {
  if (id < 0 || static_cast<size_t>(id) >= b_->bound.size())
    Raise("Unknown member id " + std::to_string(id));
  const auto& [m, name] = b_->bound[static_cast<size_t>(id)];
  return ReadProperty(m, name);
}

Variant ScaleDriver::ReadProperty(const ScaleDriverMember* m, const std::string& name) {
  Buffers& b = *b_;
  switch (m->Id) {
    case Member::kIPAddress:
      return Variant(b.ip);
    case Member::kShowProgress:
      return Variant(b.showProgress);
    case Member::kClearAccount:
      return Variant(b.clearAccount);
    case Member::kLastError:
      return Variant(b.lastError);
    case Member::kLastErrorMessage:
      return Variant(b.lastErrorMessage);
    case Member::kSerialNumber:
      return Variant(b.serial);
    case Member::kScaleVersion:
      return Variant(b.version);
    case Member::kPluField:
      return PluFieldValue(kPluFields[m->Index], CurrentPlu(name));
    case Member::kPluDefault:
      if (kPluFields[m->Index].Int == &PluRecord::Message)
        return Variant(kMessageDefault);
      return PluFieldValue(kPluFields[m->Index], DefaultPlu());
    case Member::kMessageNo:
      return Variant(CurrentMessage(name).No);
    case Member::kMessageLine:
      return Variant(CurrentMessage(name).Lines[m->Index - 1]);
    case Member::kPluFits:
      return Variant(scale::EncodedSize(CurrentPlu(name)) <= scale::kMaxRecordBytes);
    case Member::kMessageFits:
      return Variant(scale::EncodedSize(CurrentMessage(name)) <= scale::kMaxRecordBytes);
    case Member::kSetting: {
      const scale::SettingValue& v = b.settings[m->Index];
      if (scale::SettingKeys()[m->Index].Kind == scale::SettingKind::kText)
        return Variant(v.Text);
      return Variant(v.Int);
    }
    default:
      Raise("\"" + name + "\" is a method of the scale driver, not a property");
  }
}

void ScaleDriver::SetProperty(const std::string& name, const Variant& value) {
  Buffers& b = *b_;
  const MemberRef* m = b_->Find(name);
  if (m == nullptr)
    RaiseUnknown(name);
  switch (m->Id) {
    case Member::kIPAddress: {
      std::string ip = ToText(name, value);
      if (ip != b.ip)
        b.connection.reset();  // frees the previous scale's connection at once
      b.ip = std::move(ip);
      return;
    }
    case Member::kShowProgress:
      b.showProgress = ToBool(name, value);
      return;
    case Member::kClearAccount:
      b.clearAccount = ToBool(name, value);
      return;
    case Member::kLastError:
    case Member::kLastErrorMessage:
    case Member::kSerialNumber:
    case Member::kScaleVersion:
    case Member::kPluDefault:
    case Member::kPluFits:
    case Member::kMessageFits:
      Raise("Property \"" + name + "\" is read-only");
    case Member::kPluField: {
      const PluField& f = kPluFields[m->Index];
      PluRecord& r = CurrentPlu(name);
      switch (f.Type) {
        case Kind::kInt:
          r.*f.Int = ToInt(name, value);
          break;
        case Kind::kDouble:
        case Kind::kDate:
          r.*f.Real = ToDouble(name, value, f.Type);
          break;
        case Kind::kText:
          r.*f.Text = ToText(name, value);
          break;
        case Kind::kBool:
          break;
      }
      return;
    }
    case Member::kMessageNo:
      CurrentMessage(name).No = ToInt(name, value);
      return;
    case Member::kMessageLine:
      CurrentMessage(name).Lines[m->Index - 1] = ToText(name, value);
      return;
    case Member::kSetting: {
      scale::SettingValue& v = b.settings[m->Index];
      const scale::SettingKey& key = scale::SettingKeys()[m->Index];
      if (key.Kind == scale::SettingKind::kInt) {
        v.Int = ToInt(name, value);
        return;
      }
      std::string text = ToText(name, value);
      if (std::strcmp(key.Name, "UserBarCode") == 0) {
        if (!scale::IsUserBarCode(text))
          Raise(name + ": 12 hexadecimal digits expected");
        for (char& c : text)
          c = AsciiUpper(c);
      }
      v.Text = std::move(text);
      return;
    }
    default:
      Raise("\"" + name + "\" is a method of the scale driver, not a property");
  }
}

PluRecord& ScaleDriver::CurrentPlu(const std::string& member) {
  if (b_->plus.empty())
    Raise(member + ": no PLU in the buffer (call AddPLUToBuffer first)");
  return b_->plus.back();
}

MessageRecord& ScaleDriver::CurrentMessage(const std::string& member) {
  if (b_->messages.empty())
    Raise(member + ": no message in the buffer (call AddMessageToBuffer first)");
  return b_->messages.back();
}

Variant ScaleDriver::Invoke(const std::string& name, const std::vector<Variant>& args) {
  Buffers& b = *b_;
  const MemberRef* m = b_->Find(name);
  if (m == nullptr)
    RaiseUnknown(name);
  const int reply = options_.ReplyTimeoutMs;
  std::string body;
  switch (m->Id) {
    // Buffer work.
    case Member::kInitBufferPLU:
      CheckArgCount(name, args, 0);
      b.plus.clear();
      break;
    case Member::kAddPLUToBuffer:
      CheckArgCount(name, args, 0);
      b.plus.push_back(DefaultPlu());
      break;
    case Member::kInitBufferMessages:
      CheckArgCount(name, args, 0);
      b.messages.clear();
      break;
    case Member::kAddMessageToBuffer:
      CheckArgCount(name, args, 0);
      b.messages.emplace_back();
      break;
    case Member::kInitBufferHotKey:
      CheckArgCount(name, args, 0);
      b.hotKeys.fill(0);
      break;
    case Member::kSetHotKeyValue: {
      CheckArgCount(name, args, 2);
      int32_t key = ToInt(name, args[0]);
      int32_t value = ToInt(name, args[1]);
      if (key < 1 || key > kHotKeyCount) {
        Raise(name + ": key number " + std::to_string(key) + " is outside 1.." +
              std::to_string(kHotKeyCount));
      }
      b.hotKeys[key - 1] = value;
      break;
    }

    // Exchanges with the scale.
    case Member::kGetScaleSerialNumber: {
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
      break;
    }
    case Member::kClearAllPLUAndMessages:
      CheckArgCount(name, args, 0);
      Exchange(Op::kClear, "", reply, &body);
      break;
    case Member::kSetAllPLU:
      CheckArgCount(name, args, 0);
      SendRecords(Op::kSetPlus, b.plus);
      break;
    case Member::kUpdateAllMessages:
      CheckArgCount(name, args, 0);
      SendRecords(Op::kSetMessages, b.messages);
      break;
    case Member::kInitBufferSettings:
      CheckArgCount(name, args, 0);
      LoadSettings();
      break;
    case Member::kSetSettings:
      CheckArgCount(name, args, 0);
      SendSettings();
      break;
    case Member::kSetHotKeys:
      CheckArgCount(name, args, 0);
      Exchange(Op::kSetHotKeys, scale::EncodeHotKeys(b.hotKeys), reply, &body);
      break;
    case Member::kSetLabelFile:
      SendFile(name, args, Op::kSetLabel);
      break;
    case Member::kSetLogoFile:
      SendFile(name, args, Op::kSetLogo);
      break;
    case Member::kSetFontFile:
      SendFile(name, args, Op::kSetFont);
      break;
    default:
      Raise("\"" + name + "\" is a property of the scale driver, not a method");
  }
  return Variant();
}

namespace {

std::string RecordName(const PluRecord& r) {
  return "PLU " + std::to_string(r.Number);
}

std::string RecordName(const MessageRecord& m) {
  return "Message " + std::to_string(m.No);
}

std::string EncodeRecords(const std::vector<PluRecord>& plus, size_t begin, size_t end) {
  return scale::EncodePlus(plus, begin, end);
}

std::string EncodeRecords(const std::vector<MessageRecord>& messages, size_t begin, size_t end) {
  return scale::EncodeMessages(messages, begin, end);
}

}  // namespace

template <typename Record>
void ScaleDriver::SendRecords(Op op, const std::vector<Record>& records) {
  for (const Record& r : records) {
    const size_t size = scale::EncodedSize(r);
    if (size > scale::kMaxRecordBytes) {
      SetError(kErrRequestTooLarge,
               RecordName(r) + " takes " + std::to_string(size) + " bytes, more than the " +
                   std::to_string(scale::kMaxRecordBytes) + " of one request; nothing was sent");
      return;
    }
  }
  size_t begin = 0;
  for (size_t end : scale::RequestEnds(records)) {
    std::string body;
    if (!Exchange(op, EncodeRecords(records, begin, end), options_.ReplyTimeoutMs, &body))
      return;
    begin = end;
  }
}

void ScaleDriver::LoadSettings() {
  Buffers& b = *b_;
  b.settingsLoaded = false;
  b.settings = scale::DefaultSettingValues();
  std::string body, error;
  if (Exchange(Op::kGetSettings, "", options_.ReplyTimeoutMs, &body)) {
    std::vector<scale::SettingChange> reported;
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
      SetError(kErrProtocol, "Invalid settings reply from scale " + b.ip + ": " + error);
    }
  }
  if (!b.settingsLoaded)
    b.settingsLoadError = b.lastErrorMessage;
}

void ScaleDriver::SendSettings() {
  Buffers& b = *b_;
  if (!b.settingsLoaded || b.settingsIp != b.ip) {
    std::string reason =
        b.settingsLoaded ? "they were read from " + b.settingsIp : b.settingsLoadError;
    SetError(kErrSettingsNotLoaded, "Settings not sent to " + b.ip +
                                        ": the scale's settings were not read first (" + reason +
                                        ")");
    return;
  }
  std::vector<scale::SettingChange> all(b.settings.size());
  for (size_t i = 0; i < all.size(); ++i) {
    all[i].Key = static_cast<int>(i);
    all[i].Value = b.settings[i];
  }
  std::string body;
  Exchange(Op::kSetSettings, scale::EncodeSettings(all), options_.ReplyTimeoutMs, &body);
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
  std::string error;
  if (!ReadFileToString(Utf8ToAnsi(path), &bytes, &error)) {
    SetError(kErrFileRead, "Cannot read file " + path + ": " + error);
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

  // The connection to the scale is kept between exchanges. A kept connection
  // that the scale has closed meanwhile (idle timeout, restart) fails before
  // any reply arrives; the request then goes once more on a new connection.
  // Every operation stores or reads whole records, so a repeat is harmless.
  const uint8_t type = static_cast<uint8_t>(op);
  scale::Frame frame;
  scale::ReadStatus status = scale::ReadStatus::kClosed;
  bool sent = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool kept = b_->connection != nullptr && b_->connectionIp == ip;
    if (!kept) {
      b_->connection.reset();
      std::string error;
      ConnectFailure failure = ConnectFailure::kNone;
      b_->connection = TcpConnect(ip, options_.Port, options_.ConnectTimeoutMs, &failure, &error);
      if (b_->connection == nullptr) {
        int32_t code = failure == ConnectFailure::kRefused    ? kErrConnectRefused
                       : failure == ConnectFailure::kTimedOut ? kErrConnectTimeout
                                                              : kErrConnectFailed;
        SetError(code, "Cannot connect to scale " + where + ": " + error);
        return false;
      }
      b_->connectionIp = ip;
    }
    b_->connection->SetTimeoutMillis(replyTimeoutMs);
    sent = scale::WriteFrame(*b_->connection, type, payload);
    status = sent ? scale::ReadFrame(*b_->connection, &frame) : scale::ReadStatus::kClosed;
    if (!(kept && status == scale::ReadStatus::kClosed && !b_->connection->TimedOut()))
      break;
    b_->connection.reset();
  }
  // Whatever fails below leaves the connection unusable.
  std::unique_ptr<TcpConnection> failed;
  if (status != scale::ReadStatus::kOk)
    failed = std::move(b_->connection);

  switch (status) {
    case scale::ReadStatus::kOk:
      break;
    case scale::ReadStatus::kClosed:
    case scale::ReadStatus::kTruncated:
      if (failed->TimedOut()) {
        SetError(kErrReplyTimeout, sent ? "No reply from scale " + where + " within " +
                                              std::to_string(replyTimeoutMs) + " ms"
                                        : "Sending to scale " + where + " timed out");
      } else {
        SetError(kErrConnectionLost,
                 sent ? "Scale " + where + " closed the connection before replying"
                      : "Connection to scale " + where + " lost while sending");
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
  std::string error;
  if (frame.header.version != scale::kProtocolVersion) {
    b_->connection.reset();
    SetError(kErrProtocol, "Scale " + where + " speaks protocol version " +
                               std::to_string(frame.header.version) + ", the driver version " +
                               std::to_string(scale::kProtocolVersion));
    return false;
  }
  scale::Reply reply;
  if (frame.header.type != (type | scale::kReplyFlag)) {
    b_->connection.reset();
    SetError(kErrProtocol, "Invalid reply from scale " + where + ": unexpected message type");
    return false;
  }
  if (!scale::DecodeReply(frame.payload, &reply, &error) ||
      !scale::CheckReply(type, reply, &error)) {
    b_->connection.reset();
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
  registry.MapProgId(kScaleDriverProgId, kBuiltinName);
}

}  // namespace tarvo
