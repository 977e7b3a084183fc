// The scale wire protocol, shared by the scale driver (client) and the scale
// emulator (server). docs/scale-protocol.md describes it byte for byte.
//
// Every message is a frame: a 12-byte header followed by a payload.
//   offset 0  4 bytes  magic "TSCP"
//   offset 4  1 byte   protocol version (kProtocolVersion)
//   offset 5  1 byte   message type: an Op for a request, Op | kReplyFlag for
//                      its reply
//   offset 6  2 bytes  reserved, 0
//   offset 8  4 bytes  payload length, big-endian, at most kMaxPayloadSize
// Integers in payloads are big-endian, doubles are IEEE 754 binary64 sent as
// a big-endian 64-bit integer, text is a 32-bit length and UTF-8 bytes.
#ifndef TARVO_SCALEDRIVER_PROTOCOL_H_
#define TARVO_SCALEDRIVER_PROTOCOL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scaledriver/driver_interface.h"

namespace tarvo {

class TcpConnection;

namespace scale {

constexpr char kMagic[4] = {'T', 'S', 'C', 'P'};
constexpr uint8_t kProtocolVersion = 1;
constexpr size_t kHeaderSize = 12;
// The largest payload either side sends or accepts: room for a 200000-byte
// label, any font or logo a scale holds, and buffers of thousands of PLUs.
constexpr uint32_t kMaxPayloadSize = 4 * 1024 * 1024;

constexpr uint8_t kReplyFlag = 0x80;

// Request types. Each request gets exactly one reply on the same connection.
enum class Op : uint8_t {
  kGetInfo = 1,      // -> serial number, scale version
  kClear = 2,        // erase every PLU and message
  kSetPlus = 3,      // store PLU records (by number)
  kSetMessages = 4,  // store messages (by number)
  kGetSettings = 5,  // -> every setting
  kSetSettings = 6,  // change the settings named
  kSetHotKeys = 7,   // replace the 224 hot keys
  kSetLabel = 8,     // replace the label layout
  kSetFont = 9,      // store a font under its number
  kSetLogo = 10,     // replace the display logo
};

// The operation's name as logs show it ("SetPlus"); "Unknown" otherwise.
std::string OpName(uint8_t type);

// Result codes a scale answers with. 0 is success; 1 to 999 are the scale's
// own errors. The driver's codes for failures on its side start at 1000.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultMalformed = 1;     // the payload does not decode
constexpr int32_t kResultBadVersion = 2;    // unsupported protocol version
constexpr int32_t kResultUnknownOp = 3;     // the message type is not a request
constexpr int32_t kResultInvalidData = 4;   // decoded, but a value is refused
constexpr int32_t kResultStorageError = 5;  // the scale could not store the data
constexpr int32_t kMaxScaleResult = 999;

// ---------------------------------------------------------------------------
// Frames

struct FrameHeader {
  uint8_t version = kProtocolVersion;
  uint8_t type = 0;
  uint32_t length = 0;
};

enum class HeaderStatus { kOk, kBadMagic, kBadReserved, kTooLarge };

// Fills `out` with a header for `type` and a payload of `length` bytes.
void EncodeHeader(uint8_t type, uint32_t length, char out[kHeaderSize]);

// Decodes a header. The version is reported, not judged: the receiver decides
// what to do with a version it does not speak.
HeaderStatus DecodeHeader(const char in[kHeaderSize], FrameHeader* header);

// Header and payload as one string. The payload must not exceed
// kMaxPayloadSize (checked by the caller).
std::string BuildFrame(uint8_t type, const std::string& payload);

struct Frame {
  FrameHeader header;
  std::string payload;
};

enum class ReadStatus {
  kOk,
  kClosed,       // end of stream, timeout or error before the first header byte
                 // completed the header
  kBadMagic,     // not this protocol
  kBadReserved,  // reserved header bytes not zero
  kTooLarge,     // announced payload above kMaxPayloadSize; nothing allocated
  kTruncated,    // the stream ended or timed out inside the payload
};

// Reads one frame. On any status but kOk the frame's content is meaningless
// and the connection should be closed.
ReadStatus ReadFrame(TcpConnection& connection, Frame* frame);

// Writes one frame; false when the connection fails.
bool WriteFrame(TcpConnection& connection, uint8_t type, const std::string& payload);

// ---------------------------------------------------------------------------
// Payload encoding

class PayloadWriter {
 public:
  void PutU8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void PutU16(uint16_t v);
  void PutU32(uint32_t v);
  void PutI32(int32_t v) { PutU32(static_cast<uint32_t>(v)); }
  void PutDouble(double v);
  void PutText(const std::string& text);  // also used for raw bytes

  const std::string& data() const { return out_; }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

// Reads a payload front to back. Every getter returns false, and leaves the
// reader failed, when the payload ends before the value does.
class PayloadReader {
 public:
  explicit PayloadReader(const std::string& payload) : data_(payload) {}

  bool GetU8(uint8_t* v);
  bool GetU16(uint16_t* v);
  bool GetU32(uint32_t* v);
  bool GetI32(int32_t* v);
  bool GetDouble(double* v);
  bool GetText(std::string* text);

  bool AtEnd() const { return pos_ == data_.size(); }
  bool failed() const { return failed_; }

 private:
  bool Take(size_t n, const char** p);

  const std::string& data_;
  size_t pos_ = 0;
  bool failed_ = false;
};

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(const std::string& text);

// ---------------------------------------------------------------------------
// Records

// One article as it travels to the scale. ProductionDate is days since
// 30.12.1899 (the automation date); 0 means none.
struct PluRecord {
  int32_t Number = 0;
  std::string Name;
  int32_t AddCode = 0;
  int32_t BarCodeType = 0;
  double Price = 0.0;
  int32_t WeightUnit = 0;
  int32_t Dep = 0;
  double Tare = 0.0;
  int32_t ShelfTime = 0;
  int32_t Label = 0;
  int32_t Rebate = 0;
  int32_t Message = 0;  // message number; 0 = none
  int32_t PackageType = 0;
  double PackageWeight = 0.0;
  int32_t Tolerance = 0;
  double ProductionDate = 0.0;
  double IcePercent = 0.0;

  friend bool operator==(const PluRecord&, const PluRecord&) = default;
};

constexpr int kMessageLines = 16;

struct MessageRecord {
  int32_t No = 0;
  std::array<std::string, kMessageLines> Lines;

  friend bool operator==(const MessageRecord&, const MessageRecord&) = default;
};

// The bytes one record takes in a SetPlus or SetMessages payload.
size_t EncodedSize(const PluRecord& record);
size_t EncodedSize(const MessageRecord& message);

// The most record bytes that one SetPlus or SetMessages request can carry:
// the payload limit less the record count in front of the records.
constexpr size_t kMaxRecordBytes = kMaxPayloadSize - 4;

// Cuts a buffer of records into requests of consecutive records, each filled
// as far as kMaxRecordBytes allows: the index one past the last record of
// each request, in order. No records give one empty request. A record larger
// than kMaxRecordBytes gets a request of its own (which the limit refuses).
std::vector<size_t> RequestEnds(const std::vector<PluRecord>& records);
std::vector<size_t> RequestEnds(const std::vector<MessageRecord>& messages);

using HotKeyTable = std::array<int32_t, kHotKeyCount>;  // index 0 = key 1

// ---------------------------------------------------------------------------
// Settings

enum class SettingKind : uint8_t { kInt = 0, kText = 1 };

struct SettingKey {
  const char* Name;  // without the driver's "Settings_" prefix
  SettingKind Kind;
};

// Every scale setting, in the order a settings file applies them, with
// UserBarCode (12 hexadecimal digits) in its place.
const std::vector<SettingKey>& SettingKeys();

// The key's index in SettingKeys() (name matched without regard to case);
// -1 when unknown.
int FindSettingKey(const std::string& name);

struct SettingValue {
  int32_t Int = 0;
  std::string Text;

  friend bool operator==(const SettingValue&, const SettingValue&) = default;
};

// One value per key of SettingKeys(), in that order.
using SettingValues = std::vector<SettingValue>;

// The settings of a scale that has never been configured.
SettingValues DefaultSettingValues();

// The value as text: the decimal integer or the text itself.
std::string SettingText(int keyIndex, const SettingValue& value);

// True when `text` is 12 hexadecimal digits.
bool IsUserBarCode(const std::string& text);

// A settings change: some keys with their new values.
struct SettingChange {
  int Key = 0;  // index in SettingKeys()
  SettingValue Value;
};

// ---------------------------------------------------------------------------
// Messages. Encoders build request or reply payloads; decoders return false,
// with `error` set to a readable reason, when the payload is malformed
// (truncated, trailing bytes, counts beyond the payload, invalid UTF-8,
// unknown setting names or kinds).

std::string EncodePlus(const std::vector<PluRecord>& records);
// Only the records [begin, end) of `records`.
std::string EncodePlus(const std::vector<PluRecord>& records, size_t begin, size_t end);
bool DecodePlus(const std::string& payload, std::vector<PluRecord>* records, std::string* error);

std::string EncodeMessages(const std::vector<MessageRecord>& messages);
std::string EncodeMessages(const std::vector<MessageRecord>& messages, size_t begin, size_t end);
bool DecodeMessages(const std::string& payload, std::vector<MessageRecord>* messages,
                    std::string* error);

std::string EncodeSettings(const std::vector<SettingChange>& changes);
bool DecodeSettings(const std::string& payload, std::vector<SettingChange>* changes,
                    std::string* error);

std::string EncodeHotKeys(const HotKeyTable& keys);
bool DecodeHotKeys(const std::string& payload, HotKeyTable* keys, std::string* error);

// Label and logo payloads are one text field (the file's bytes).
std::string EncodeFile(const std::string& bytes);
bool DecodeFile(const std::string& payload, std::string* bytes, std::string* error);

std::string EncodeFont(int32_t number, const std::string& bytes);
bool DecodeFont(const std::string& payload, int32_t* number, std::string* bytes,
                std::string* error);

// Requests without a body (GetInfo, Clear, GetSettings) have an empty payload.

// A reply: result code, message ("" on success) and, on success, the body of
// the operation (GetInfo: serial and version texts; GetSettings: an
// EncodeSettings list of every key; others: empty).
struct Reply {
  int32_t Code = kResultOk;
  std::string Message;
  std::string Body;
};

std::string EncodeReply(const Reply& reply);
bool DecodeReply(const std::string& payload, Reply* reply, std::string* error);

// Checks a decoded reply to a request of type `requestType` against the
// rules every reply follows: a code of 0 to kMaxScaleResult, a UTF-8
// message that is empty on success, no body after an error, and no body on
// success unless the operation has one (GetInfo, GetSettings: their decoders
// check it). False, with `error` set, for a reply that breaks one.
bool CheckReply(uint8_t requestType, const Reply& reply, std::string* error);

std::string EncodeInfo(const std::string& serial, const std::string& version);
bool DecodeInfo(const std::string& body, std::string* serial, std::string* version,
                std::string* error);

}  // namespace scale
}  // namespace tarvo

#endif  // TARVO_SCALEDRIVER_PROTOCOL_H_
