#include "emulator/scale_emulator.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <mutex>
#include <set>

#include "emulator/scale_memory.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/socket.h"

namespace tarvo::emu {

using scale::Op;
using scale::Reply;

namespace {

constexpr int kMaxConnectionsPerScale = 50;
constexpr int kDelaySliceMs = 20;
// The production dates a scale keeps: none (0) or 31.12.1899 to 31.12.9999.
constexpr double kLastDate = 2958466.0;

bool ParseNumber(const std::string& text, int64_t* value) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && p == end && !text.empty();
}

Reply Error(int32_t code, const std::string& message) {
  return Reply{code, message, ""};
}

bool IsKnownOp(uint8_t type) {
  return type >= 1 && type <= static_cast<uint8_t>(Op::kSetLogo);
}

// The first refused value of a PLU record; "" when the record is acceptable.
std::string CheckPlu(const scale::PluRecord& r) {
  std::string which = "PLU " + std::to_string(r.Number) + ": ";
  if (r.Number < 1)
    return which + "number must be at least 1";
  if (r.Message < 0)
    return which + "message number must not be negative";
  for (double v : {r.Price, r.Tare, r.PackageWeight, r.IcePercent}) {
    if (!std::isfinite(v))
      return which + "value is not a finite number";
  }
  if (!(r.ProductionDate == 0 || (r.ProductionDate >= 1 && r.ProductionDate < kLastDate))) {
    return which + "production date out of range";
  }
  return "";
}

}  // namespace

bool ParseEmulatorArgs(const std::vector<std::string>& args, int defaultPort,
                       EmulatorOptions* options, std::string* error) {
  *options = EmulatorOptions();
  options->Port = defaultPort;
  bool haveErrorAfter = false, haveErrorCode = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      options->Addresses.push_back(arg);
      continue;
    }
    if (i + 1 == args.size()) {
      *error = arg + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    int64_t n = 0;
    auto number = [&](int64_t low, int64_t high) {
      if (ParseNumber(value, &n) && n >= low && n <= high)
        return true;
      *error = arg + " expects a number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not \"" + value + "\"";
      return false;
    };
    if (arg == "--state") {
      options->StateDir = value;
    } else if (arg == "--port") {
      if (!number(0, 65535))
        return false;
      options->Port = static_cast<int>(n);
    } else if (arg == "--serial") {
      options->Serial = value;
    } else if (arg == "--scale-version") {
      options->Version = value;
    } else if (arg == "--error-after") {
      if (!number(0, INT64_MAX))
        return false;
      options->ErrorAfter = n;
      haveErrorAfter = true;
    } else if (arg == "--error-code") {
      if (!number(1, scale::kMaxScaleResult))
        return false;
      options->ErrorCode = static_cast<int32_t>(n);
      haveErrorCode = true;
    } else if (arg == "--delay-ms") {
      if (!number(0, 3600000))
        return false;
      options->DelayMs = static_cast<int>(n);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (options->StateDir.empty()) {
    *error = "--state DIR is required";
    return false;
  }
  if (options->Addresses.empty()) {
    *error = "no address given";
    return false;
  }
  if (haveErrorAfter != haveErrorCode) {
    *error = "--error-after and --error-code go together";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------

struct ScaleEmulator::Scale {
  Scale(std::string address, std::string folder, std::string serial)
      : address(std::move(address)), mirror(std::move(folder)), serial(std::move(serial)) {}

  const std::string address;
  const ScaleMirror mirror;
  const std::string serial;
  std::unique_ptr<TcpServer> server;

  std::mutex mu;  // guards the members below and the scale's folder
  ScaleMemory memory;
  int64_t operations = 0;  // requests of known operations received
};

ScaleEmulator::ScaleEmulator(EmulatorOptions options) : options_(std::move(options)) {}

ScaleEmulator::~ScaleEmulator() {
  Stop();
}

bool ScaleEmulator::Start(std::string* error) {
  std::set<std::string> seen;
  for (const std::string& address : options_.Addresses) {
    if (!seen.insert(address).second) {
      *error = "address " + address + " given twice";
      return false;
    }
  }
  stopping_ = false;
  port_ = options_.Port;
  for (const std::string& address : options_.Addresses) {
    std::string folder = IncludeTrailingPathDelimiter(options_.StateDir) + address;
    auto s = std::make_unique<Scale>(address, folder,
                                     options_.Serial.empty() ? "EMU-" + address : options_.Serial);
    if (!s->mirror.Load(&s->memory, error))
      break;
    std::string reason;
    if (!s->mirror.WriteAll(s->memory, &reason)) {
      *error = "cannot write the state folder " + folder + ": " + reason;
      break;
    }
    s->server = std::make_unique<TcpServer>(address, port_, kMaxConnectionsPerScale);
    Scale* raw = s.get();
    s->server->SetHandlers([](TcpConnection& c) { c.SetTimeoutMillis(kIdleTimeoutMs); },
                           [this, raw](TcpConnection& c) { Serve(*raw, c); }, nullptr);
    if (!s->server->Activate(error))
      break;
    port_ = s->server->Port();
    scales_.push_back(std::move(s));
  }
  if (scales_.size() != options_.Addresses.size()) {
    Stop();
    return false;
  }
  return true;
}

void ScaleEmulator::Stop() {
  stopping_ = true;
  for (auto& s : scales_)
    s->server->Deactivate();
  scales_.clear();
}

void ScaleEmulator::Delay() {
  Clock* clock = Clock::Real();
  const int64_t end = clock->NowMillis() + options_.DelayMs;
  for (int64_t now = clock->NowMillis(); now < end && !stopping_; now = clock->NowMillis()) {
    clock->SleepMillis(std::min<int64_t>(kDelaySliceMs, end - now));
  }
}

ScaleEmulator::Scale* ScaleEmulator::Find(const std::string& address) {
  for (auto& s : scales_) {
    if (s->address == address)
      return s.get();
  }
  return nullptr;
}

bool ScaleEmulator::ServeConnection(const std::string& address, TcpConnection& connection) {
  Scale* s = Find(address);
  if (s == nullptr)
    return false;
  while (!connection.Closed())
    Serve(*s, connection);
  return true;
}

bool ScaleEmulator::Memory(const std::string& address, ScaleMemory* memory) {
  Scale* s = Find(address);
  if (s == nullptr)
    return false;
  std::lock_guard<std::mutex> lock(s->mu);
  *memory = s->memory;
  return true;
}

void ScaleEmulator::Serve(Scale& s, TcpConnection& connection) {
  scale::Frame frame;
  if (scale::ReadFrame(connection, &frame) != scale::ReadStatus::kOk) {
    connection.Close();
    return;
  }
  const uint8_t replyType = frame.header.type | scale::kReplyFlag;
  if (frame.header.version != scale::kProtocolVersion) {
    {
      std::lock_guard<std::mutex> lock(s.mu);
      s.mirror.LogOperation(scale::OpName(frame.header.type), scale::kResultBadVersion);
    }
    Reply reply =
        Error(scale::kResultBadVersion, "protocol version " + std::to_string(frame.header.version) +
                                            " not supported; this scale speaks version " +
                                            std::to_string(scale::kProtocolVersion));
    scale::WriteFrame(connection, replyType, scale::EncodeReply(reply));
    connection.Close();
    return;
  }
  Reply reply = Apply(s, frame.header.type, frame.payload);
  if (options_.DelayMs > 0)
    Delay();
  // A scale being switched off answers nothing more.
  if (stopping_ || !scale::WriteFrame(connection, replyType, scale::EncodeReply(reply)))
    connection.Close();
}

Reply ScaleEmulator::Apply(Scale& s, uint8_t type, const std::string& payload) {
  std::lock_guard<std::mutex> lock(s.mu);
  Reply reply = [&]() -> Reply {
    if (!IsKnownOp(type))
      return Error(scale::kResultUnknownOp, "unknown operation");
    if (options_.ErrorAfter >= 0 && ++s.operations > options_.ErrorAfter) {
      return Error(options_.ErrorCode, "injected error");
    }
    ScaleMemory& m = s.memory;
    const ScaleMirror& mirror = s.mirror;
    const Reply stored;
    auto notStored = [](const std::string& reason) {
      return Error(scale::kResultStorageError, "cannot store the data: " + reason);
    };
    std::string error;
    std::string reason;  // why the scale's memory could not be stored
    switch (static_cast<Op>(type)) {
      case Op::kGetInfo:
        if (!payload.empty())
          break;
        return Reply{scale::kResultOk, "", scale::EncodeInfo(s.serial, options_.Version)};

      case Op::kClear: {
        if (!payload.empty())
          break;
        ScaleMemory next;
        next.Settings = m.Settings;
        if (!mirror.WritePlus(next, &reason) || !mirror.WriteMessages(next, &reason))
          return notStored(reason);
        m.Plus.clear();
        m.Messages.clear();
        return stored;
      }

      case Op::kSetPlus: {
        std::vector<scale::PluRecord> records;
        if (!scale::DecodePlus(payload, &records, &error))
          break;
        ScaleMemory next;
        next.Plus = m.Plus;
        for (const scale::PluRecord& r : records) {
          std::string refused = CheckPlu(r);
          if (!refused.empty())
            return Error(scale::kResultInvalidData, refused);
          // A scale keeps the production date as a day; its mirror and a
          // restart show the day only, so the time of day is not kept here
          // either.
          scale::PluRecord& kept = next.Plus[r.Number] = r;
          kept.ProductionDate = std::floor(kept.ProductionDate);
        }
        if (!mirror.WritePlus(next, &reason))
          return notStored(reason);
        m.Plus.swap(next.Plus);
        return stored;
      }

      case Op::kSetMessages: {
        std::vector<scale::MessageRecord> messages;
        if (!scale::DecodeMessages(payload, &messages, &error))
          break;
        ScaleMemory next;
        next.Messages = m.Messages;
        for (const scale::MessageRecord& message : messages) {
          if (message.No < 1) {
            return Error(scale::kResultInvalidData,
                         "message number " + std::to_string(message.No) + " is below 1");
          }
          next.Messages[message.No] = message;
        }
        if (!mirror.WriteMessages(next, &reason))
          return notStored(reason);
        m.Messages.swap(next.Messages);
        return stored;
      }

      case Op::kGetSettings: {
        if (!payload.empty())
          break;
        std::vector<scale::SettingChange> all(m.Settings.size());
        for (size_t i = 0; i < all.size(); ++i) {
          all[i].Key = static_cast<int>(i);
          all[i].Value = m.Settings[i];
        }
        return Reply{scale::kResultOk, "", scale::EncodeSettings(all)};
      }

      case Op::kSetSettings: {
        std::vector<scale::SettingChange> changes;
        if (!scale::DecodeSettings(payload, &changes, &error))
          break;
        ScaleMemory next;
        next.Settings = m.Settings;
        for (scale::SettingChange& c : changes) {
          const std::string name = scale::SettingKeys()[c.Key].Name;
          if (name == "UserBarCode") {
            if (!scale::IsUserBarCode(c.Value.Text)) {
              return Error(scale::kResultInvalidData, "UserBarCode must be 12 hexadecimal digits");
            }
            for (char& ch : c.Value.Text)
              ch = static_cast<char>(std::toupper(ch));
          }
          next.Settings[c.Key] = c.Value;
        }
        if (!mirror.WriteSettings(next, &reason))
          return notStored(reason);
        m.Settings.swap(next.Settings);
        return stored;
      }

      case Op::kSetHotKeys: {
        ScaleMemory next;
        next.HotKeys.emplace();
        if (!scale::DecodeHotKeys(payload, &*next.HotKeys, &error))
          break;
        if (!mirror.WriteHotKeys(next, &reason))
          return notStored(reason);
        m.HotKeys = next.HotKeys;
        return stored;
      }

      case Op::kSetLabel:
      case Op::kSetLogo: {
        std::string bytes;
        if (!scale::DecodeFile(payload, &bytes, &error))
          break;
        bool label = static_cast<Op>(type) == Op::kSetLabel;
        if (!(label ? mirror.WriteLabel(bytes, &reason) : mirror.WriteLogo(bytes, &reason)))
          return notStored(reason);
        (label ? m.Label : m.Logo) = std::move(bytes);
        return stored;
      }

      case Op::kSetFont: {
        int32_t number = 0;
        std::string bytes;
        if (!scale::DecodeFont(payload, &number, &bytes, &error))
          break;
        if (number < 0)
          return Error(scale::kResultInvalidData, "font number below 0");
        if (!mirror.WriteFont(number, bytes, &reason))
          return notStored(reason);
        m.Fonts[number] = std::move(bytes);
        return stored;
      }
    }
    return Error(scale::kResultMalformed,
                 error.empty() ? scale::OpName(type) + ": unexpected payload" : error);
  }();
  s.mirror.LogOperation(scale::OpName(type), reply.Code);
  return reply;
}

}  // namespace tarvo::emu
