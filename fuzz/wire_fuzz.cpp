// libFuzzer target for the scale wire protocol on both sides.
//
// Input: the first byte chooses the side and the operation, the rest is
//   - for the emulator (first byte even): everything a client sends to one
//     emulated scale, served through an in-memory connection;
//   - for the driver (first byte odd): the bytes a scale answers to one
//     driver method, sent by a loopback peer that then closes.
// Besides crashes and sanitizer reports the target checks
//   - the driver against an oracle written from the protocol description:
//     LastError is 0 exactly for a well-formed success reply of the right
//     type (with the body the operation needs), the scale's code for a
//     well-formed error reply, 1006 for any other complete frame and 1005
//     when the peer closed before a complete one;
//   - the emulator: every well-formed request frame gets exactly one reply,
//     a well-formed frame of the matching reply type with a code of 0 to 999
//     and a body that decodes, nothing follows the first bad frame, and the
//     scale's memory reads back from its mirror folder as it is held.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "emulator/scale_emulator.h"
#include "emulator/scale_memory.h"
#include "fuzz_support.h"
#include "platform/socket.h"
#include "scaledriver/protocol.h"
#include "scaledriver/scale_driver.h"
#include "support/memory_connection.h"

namespace {

using namespace tarvo;
using fuzz::Check;
using scale::Op;

const std::string& Folder() {
  static const fuzz::RunFolder folder("wire_fuzz");
  return folder.path();
}

// ---------------------------------------------------------------------------
// Replies as the protocol describes them

enum class Verdict { kSuccess, kScaleError, kInvalid, kIncomplete };

struct Judged {
  Verdict verdict = Verdict::kIncomplete;
  int32_t code = 0;
  std::string serial;  // GetInfo
  size_t size = 0;     // bytes of the frame
};

// The reply body a successful `op` must carry.
bool BodyFits(uint8_t op, const std::string& body) {
  std::string error;
  switch (static_cast<Op>(op)) {
    case Op::kGetInfo: {
      std::string serial, version;
      return scale::DecodeInfo(body, &serial, &version, &error);
    }
    case Op::kGetSettings: {
      std::vector<scale::SettingChange> changes;
      if (!scale::DecodeSettings(body, &changes, &error))
        return false;
      std::vector<bool> seen(scale::SettingKeys().size(), false);
      for (const scale::SettingChange& c : changes)
        seen[c.Key] = true;
      for (bool s : seen) {
        if (!s)
          return false;
      }
      return true;
    }
    default:
      return body.empty();
  }
}

// Judges the first frame of `bytes` as the reply to a request of type `op`.
Judged JudgeReply(uint8_t op, const std::string& bytes) {
  Judged j;
  if (bytes.size() < scale::kHeaderSize)
    return j;
  scale::FrameHeader header;
  if (scale::DecodeHeader(bytes.data(), &header) != scale::HeaderStatus::kOk) {
    j.verdict = Verdict::kInvalid;
    return j;
  }
  if (bytes.size() - scale::kHeaderSize < header.length)
    return j;
  j.size = scale::kHeaderSize + header.length;
  j.verdict = Verdict::kInvalid;
  if (header.version != scale::kProtocolVersion || header.type != (op | scale::kReplyFlag))
    return j;
  const std::string payload = bytes.substr(scale::kHeaderSize, header.length);
  scale::PayloadReader r(payload);
  int32_t code = 0;
  std::string message;
  if (!r.GetI32(&code) || !r.GetText(&message) || code < 0 || code > scale::kMaxScaleResult ||
      !scale::IsValidUtf8(message))
    return j;
  const std::string body = payload.substr(8 + message.size());
  if (code != scale::kResultOk) {
    if (body.empty()) {
      j.verdict = Verdict::kScaleError;
      j.code = code;
    }
    return j;
  }
  if (!message.empty() || !BodyFits(op, body))
    return j;
  if (op == static_cast<uint8_t>(Op::kGetInfo)) {
    std::string version, error;
    scale::DecodeInfo(body, &j.serial, &version, &error);
  }
  j.verdict = Verdict::kSuccess;
  return j;
}

// ---------------------------------------------------------------------------
// The driver against a scale that answers with the input

struct Method {
  const char* Name;
  Op Request;
};

constexpr Method kMethods[] = {
    {"GetScaleSerialNumber", Op::kGetInfo},
    {"ClearAllPLUAndMessages", Op::kClear},
    {"SetAllPLU", Op::kSetPlus},
    {"UpdateAllMessages", Op::kSetMessages},
    {"InitBufferSettings", Op::kGetSettings},
    {"SetSettings", Op::kSetSettings},
    {"SetHotKeys", Op::kSetHotKeys},
    {"SetLabelFile", Op::kSetLabel},
};

// A loopback scale: answers a settings read with every setting when told
// to (so that SetSettings can follow), and any other request with the
// bytes of the current input, then closes.
class AnsweringScale {
 public:
  AnsweringScale() : server_("127.0.0.1", 0, 50) {
    server_.SetHandlers(
        nullptr, [this](TcpConnection& c) { Answer(c); }, nullptr);
    std::string error;
    Check(server_.Activate(&error), "the loopback scale listens");
    std::vector<scale::SettingChange> all;
    const scale::SettingValues values = scale::DefaultSettingValues();
    for (size_t i = 0; i < values.size(); ++i)
      all.push_back(scale::SettingChange{static_cast<int>(i), values[i]});
    settings_reply_ = scale::EncodeReply(scale::Reply{0, "", scale::EncodeSettings(all)});
  }

  int Port() const { return server_.Port(); }

  void Set(const std::string& reply, bool answerSettings) {
    std::lock_guard<std::mutex> lock(mu_);
    reply_ = reply;
    answer_settings_ = answerSettings;
  }

 private:
  // Nothing allocated here outlives the write: the connection lingers
  // after it until the driver closes, which may be after the input ended.
  void Answer(TcpConnection& c) {
    {
      scale::Frame request;
      if (scale::ReadFrame(c, &request) != scale::ReadStatus::kOk) {
        c.Close();
        return;
      }
      std::lock_guard<std::mutex> lock(mu_);
      if (answer_settings_ && request.header.type == static_cast<uint8_t>(Op::kGetSettings)) {
        scale::WriteFrame(c, request.header.type | scale::kReplyFlag, settings_reply_);
        return;
      }
      c.WriteAll(reply_.data(), reply_.size());
    }
    c.Finish(2000);
  }

  std::mutex mu_;
  std::string reply_;
  bool answer_settings_ = false;
  std::string settings_reply_;
  TcpServer server_;
};

void CheckDriver(uint8_t choice, const std::string& reply) {
  static AnsweringScale* peer = new AnsweringScale();
  static const std::string label = [] {
    const std::string path = Folder() + "/label.scr";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fputs("label", f);
      std::fclose(f);
    }
    return path;
  }();
  const Method& method = kMethods[choice % std::size(kMethods)];
  const bool settings = method.Request == Op::kSetSettings;
  peer->Set(reply, settings);

  ScaleDriverOptions options;
  options.Port = peer->Port();
  ScaleDriver driver(options);
  driver.SetProperty("IPAddress", Variant("127.0.0.1"));
  if (settings) {
    driver.Invoke("InitBufferSettings", {});
    Check(driver.GetProperty("LastError").AsInt() == 0, "the settings are read first");
  }
  if (method.Request == Op::kSetLabel)
    driver.Invoke(method.Name, {Variant(label)});
  else
    driver.Invoke(method.Name, {});

  const int32_t error = driver.GetProperty("LastError").AsInt();
  const Judged judged = JudgeReply(static_cast<uint8_t>(method.Request), reply);
  switch (judged.verdict) {
    case Verdict::kSuccess:
      Check(error == 0, "a well-formed success reply succeeds");
      if (method.Request == Op::kGetInfo)
        Check(driver.GetProperty("SerialNumber").AsText() == judged.serial, "the serial number");
      break;
    case Verdict::kScaleError:
      Check(error == judged.code, "a scale's error answer is passed on");
      break;
    case Verdict::kInvalid:
      Check(error == kErrProtocol, "a malformed reply is a protocol error");
      break;
    case Verdict::kIncomplete:
      Check(error == kErrConnectionLost, "a reply cut short is a lost connection");
      break;
  }
  if (error != 0)
    Check(!driver.GetProperty("LastErrorMessage").AsText().empty(), "an error says why");
}

// ---------------------------------------------------------------------------
// The emulator fed a client's bytes

const char kAddress[] = "127.0.0.1";

bool Near(double a, double b) {
  return a == b || std::fabs(a - b) <= 1e-13 * std::max(std::fabs(a), std::fabs(b));
}

bool SamePlu(const scale::PluRecord& a, const scale::PluRecord& b) {
  scale::PluRecord x = a, y = b;
  const bool numbers = Near(x.Price, y.Price) && Near(x.Tare, y.Tare) &&
                       Near(x.PackageWeight, y.PackageWeight) && Near(x.IcePercent, y.IcePercent) &&
                       Near(x.ProductionDate, y.ProductionDate);
  x.Price = y.Price = x.Tare = y.Tare = x.PackageWeight = y.PackageWeight = 0;
  x.IcePercent = y.IcePercent = x.ProductionDate = y.ProductionDate = 0;
  return numbers && x == y;
}

void CheckMemory(const emu::ScaleMemory& held, const std::string& folder) {
  for (const auto& [number, plu] : held.Plus)
    Check(number == plu.Number && number >= 1, "PLUs are held by their number");
  for (const auto& [no, message] : held.Messages)
    Check(no == message.No && no >= 1, "messages are held by their number");
  Check(held.Settings.size() == scale::SettingKeys().size(), "every setting is held");
  for (const auto& [number, font] : held.Fonts)
    Check(number >= 0, "fonts are held by their number");

  emu::ScaleMemory read;
  std::string error;
  Check(emu::ScaleMirror(folder).Load(&read, &error), "the mirror folder reads back");
  Check(read.Plus.size() == held.Plus.size(), "the mirror holds every PLU");
  for (const auto& [number, plu] : held.Plus) {
    const auto it = read.Plus.find(number);
    Check(it != read.Plus.end() && SamePlu(it->second, plu), "the mirror holds each PLU as held");
  }
  Check(read.Messages == held.Messages, "the mirror holds the messages");
  Check(read.Settings == held.Settings, "the mirror holds the settings");
  Check(read.HotKeys == held.HotKeys, "the mirror holds the hot keys");
}

void CheckEmulator(const std::string& stream) {
  const std::string state = Folder() + "/state";
  std::filesystem::remove_all(state);
  emu::EmulatorOptions options;
  options.StateDir = state;
  options.Addresses = {kAddress};
  options.Port = 0;
  emu::ScaleEmulator emulator(options);
  std::string error;
  Check(emulator.Start(&error), "the emulator starts");

  testing::MemoryConnection connection(stream);
  Check(emulator.ServeConnection(kAddress, connection), "the scale is known");

  // The requests: well-formed frames up to the first bad one.
  std::vector<uint8_t> requests;
  bool closes_after_reply = false;
  for (size_t at = 0; at + scale::kHeaderSize <= stream.size() && !closes_after_reply;) {
    scale::FrameHeader header;
    if (scale::DecodeHeader(stream.data() + at, &header) != scale::HeaderStatus::kOk ||
        stream.size() - at - scale::kHeaderSize < header.length)
      break;
    requests.push_back(header.type);
    closes_after_reply = header.version != scale::kProtocolVersion;
    at += scale::kHeaderSize + header.length;
  }

  // One well-formed reply each, and nothing more.
  const std::string& out = connection.Output();
  size_t at = 0;
  for (uint8_t type : requests) {
    const Judged judged = JudgeReply(type, out.substr(at));
    Check(judged.verdict == Verdict::kSuccess || judged.verdict == Verdict::kScaleError,
          "every request gets a well-formed reply");
    at += judged.size;
  }
  Check(at == out.size(), "nothing is sent but the replies");

  emu::ScaleMemory held;
  Check(emulator.Memory(kAddress, &held), "the scale's memory");
  emulator.Stop();  // writes the table mirrors still waiting
  CheckMemory(held, state + "/" + kAddress);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1)
    CheckDriver(data[0] >> 1, rest);
  else
    CheckEmulator(rest);
  return 0;
}
