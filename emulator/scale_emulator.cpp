#include "emulator/scale_emulator.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
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
constexpr int64_t kNever = INT64_MAX;

// The table mirrors, as bits of Scale::stale.
enum MirrorPart : unsigned {
  kPlusPart = 1,
  kMessagesPart = 2,
  kSettingsPart = 4,
  kHotKeysPart = 8,
};
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

  std::mutex mu;  // guards the members below
  ScaleMemory memory;
  int64_t operations = 0;  // requests of known operations received

  // The mirror (written by the writer thread, and by Stop() after it).
  unsigned stale = 0;          // MirrorPart bits whose files lag the memory
  bool writing = false;        // a write of the mirror is under way
  int64_t stale_since = 0;     // when the oldest unwritten change was made
  int64_t last_request = 0;    // when the last change was made
  int64_t last_write_end = 0;  // when the last mirror write ended
  int64_t last_write_ms = 0;   // how long it took
  std::string mirror_error;    // why the last mirror write failed; "" if it did not

  // Marks `parts` stale; true when the mirror was current before.
  bool MarkStale(unsigned parts, int64_t now) {
    const bool was_current = stale == 0;
    if (was_current)
      stale_since = now;
    stale |= parts;
    last_request = now;
    return was_current;
  }

  // When the stale mirror is to be written: once the scale is idle, or
  // when the oldest change has waited long enough (at least eight times as
  // long as the last write took, so that a large mirror costs a load about a
  // tenth of its time); never sooner after the last write than that write
  // took, and a failed write is tried again kMirrorLagMs later.
  int64_t MirrorDue() const {
    const int64_t idle = last_request + kMirrorIdleMs;
    const int64_t lag = stale_since + std::max<int64_t>(kMirrorLagMs, 8 * last_write_ms);
    const int64_t pause = mirror_error.empty() ? last_write_ms : kMirrorLagMs;
    return std::max(std::min(idle, lag), last_write_end + pause);
  }
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
  mirror_stop_ = false;
  mirror_writer_ = std::thread([this] { MirrorLoop(); });
  return true;
}

void ScaleEmulator::Stop() {
  stopping_ = true;
  for (auto& s : scales_)
    s->server->Deactivate();
  if (mirror_writer_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mirror_mu_);
      mirror_stop_ = true;
    }
    mirror_cv_.notify_all();
    mirror_writer_.join();
  }
  // No request comes any more: what is stale is written now.
  for (auto& s : scales_) {
    WriteMirrorIfDue(*s, true);
    std::lock_guard<std::mutex> lock(s->mu);
    if (!s->mirror_error.empty()) {
      std::fprintf(stderr, "tarvo-scale-emu: %s: %s\n", s->address.c_str(),
                   s->mirror_error.c_str());
    }
  }
  scales_.clear();
}

bool ScaleEmulator::MirrorCurrent() const {
  for (const auto& s : scales_) {
    std::lock_guard<std::mutex> lock(s->mu);
    if (s->stale != 0 || s->writing)
      return false;
  }
  return true;
}

void ScaleEmulator::WakeMirrorWriter() {
  {
    std::lock_guard<std::mutex> lock(mirror_mu_);
    mirror_wake_ = true;
  }
  mirror_cv_.notify_one();
}

void ScaleEmulator::MirrorLoop() {
  Clock* clock = Clock::Real();
  std::unique_lock<std::mutex> lock(mirror_mu_);
  while (!mirror_stop_) {
    mirror_wake_ = false;
    lock.unlock();
    int64_t next = kNever;
    for (auto& s : scales_)
      next = std::min(next, WriteMirrorIfDue(*s, false));
    lock.lock();
    auto woken = [this] { return mirror_stop_ || mirror_wake_; };
    if (next == kNever) {
      mirror_cv_.wait(lock, woken);
    } else {
      const int64_t wait = std::max<int64_t>(next - clock->NowMillis(), 1);
      mirror_cv_.wait_for(lock, std::chrono::milliseconds(wait), woken);
    }
  }
}

int64_t ScaleEmulator::WriteMirrorIfDue(Scale& s, bool now) {
  Clock* clock = Clock::Real();
  // Formatted under the lock, so that the files show one moment of the
  // scale; written without it, so that requests go on meanwhile.
  // The time a write takes, which paces the next, counts the formatting,
  // since that holds the scale's requests up.
  std::vector<std::pair<const char*, std::string>> files;
  unsigned parts = 0;
  int64_t start = 0;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.stale == 0)
      return kNever;
    const int64_t due = s.MirrorDue();
    start = clock->NowMillis();
    if (!now && start < due)
      return due;
    parts = s.stale;
    const ScaleMemory& m = s.memory;
    if (parts & kPlusPart)
      files.emplace_back("plus.tsv", FormatPlus(m.Plus));
    if (parts & kMessagesPart)
      files.emplace_back("messages.tsv", FormatMessages(m.Messages));
    if (parts & kSettingsPart)
      files.emplace_back("settings.ini", FormatSettings(m.Settings));
    if ((parts & kHotKeysPart) && m.HotKeys)
      files.emplace_back("hotkeys.tsv", FormatHotKeys(*m.HotKeys));
    s.stale = 0;
    s.writing = true;
  }
  std::string reason;
  bool ok = true;
  for (const auto& [name, text] : files) {
    if (!s.mirror.WriteText(name, text, &reason)) {
      ok = false;
      break;
    }
  }
  const int64_t end = clock->NowMillis();
  std::lock_guard<std::mutex> lock(s.mu);
  s.writing = false;
  s.last_write_end = end;
  s.last_write_ms = end - start;
  if (ok) {
    s.mirror_error.clear();
  } else {
    // Tried again later; until then the scale stores nothing new.
    if (s.stale == 0)
      s.stale_since = end;
    s.stale |= parts;
    s.mirror_error = reason;
  }
  return s.stale == 0 ? kNever : s.MirrorDue();
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
  std::unique_lock<std::mutex> lock(s.mu);
  bool wake_writer = false;
  // Marks the mirror files of `parts` stale.
  auto changed = [&](unsigned parts) {
    wake_writer = s.MarkStale(parts, Clock::Real()->NowMillis());
  };
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
    // The tables are refused while their mirror cannot be written.
    const Reply tablesNotStored = notStored(s.mirror_error);
    const bool tablesStorable = s.mirror_error.empty();
    switch (static_cast<Op>(type)) {
      case Op::kGetInfo:
        if (!payload.empty())
          break;
        return Reply{scale::kResultOk, "", scale::EncodeInfo(s.serial, options_.Version)};

      case Op::kClear: {
        if (!payload.empty())
          break;
        if (!tablesStorable)
          return tablesNotStored;
        m.Plus.clear();
        m.Messages.clear();
        changed(kPlusPart | kMessagesPart);
        return stored;
      }

      case Op::kSetPlus: {
        std::vector<scale::PluRecord> records;
        if (!scale::DecodePlus(payload, &records, &error))
          break;
        // Checked whole before anything is stored: a refused record
        // refuses the request.
        for (const scale::PluRecord& r : records) {
          std::string refused = CheckPlu(r);
          if (!refused.empty())
            return Error(scale::kResultInvalidData, refused);
        }
        if (!tablesStorable)
          return tablesNotStored;
        // A scale keeps the production date as a day; its mirror and a
        // restart show the day only, so the time of day is not kept here
        // either.
        for (scale::PluRecord& r : records) {
          r.ProductionDate = std::floor(r.ProductionDate);
          m.Plus[r.Number] = std::move(r);
        }
        changed(kPlusPart);
        return stored;
      }

      case Op::kSetMessages: {
        std::vector<scale::MessageRecord> messages;
        if (!scale::DecodeMessages(payload, &messages, &error))
          break;
        for (const scale::MessageRecord& message : messages) {
          if (message.No < 1) {
            return Error(scale::kResultInvalidData,
                         "message number " + std::to_string(message.No) + " is below 1");
          }
        }
        if (!tablesStorable)
          return tablesNotStored;
        for (scale::MessageRecord& message : messages)
          m.Messages[message.No] = std::move(message);
        changed(kMessagesPart);
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
        if (!tablesStorable)
          return tablesNotStored;
        m.Settings.swap(next.Settings);
        changed(kSettingsPart);
        return stored;
      }

      case Op::kSetHotKeys: {
        scale::HotKeyTable keys;
        if (!scale::DecodeHotKeys(payload, &keys, &error))
          break;
        if (!tablesStorable)
          return tablesNotStored;
        m.HotKeys = keys;
        changed(kHotKeysPart);
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
  lock.unlock();
  if (wake_writer)
    WakeMirrorWriter();
  return reply;
}

}  // namespace tarvo::emu
