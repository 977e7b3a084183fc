#include "scaledriver/protocol.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/socket.h"

namespace tarvo::scale {

namespace {

uint32_t LoadU32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void StoreU32(uint32_t v, char* p) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr)
    *error = text;
  return false;
}

bool Finish(const PayloadReader& reader, std::string* error, const char* what) {
  if (reader.failed())
    return Fail(error, std::string(what) + ": payload ends early");
  if (!reader.AtEnd())
    return Fail(error, std::string(what) + ": trailing bytes after the data");
  return true;
}

bool GetUtf8(PayloadReader& reader, std::string* text, const char* field, std::string* error) {
  if (!reader.GetText(text))
    return false;
  if (!IsValidUtf8(*text))
    return Fail(error, std::string(field) + ": text is not valid UTF-8");
  return true;
}

// The smallest encoded sizes, used to refuse counts that the payload cannot
// hold before reserving room for them.
constexpr size_t kMinPluSize = 4 + 4 + 4 * 10 + 8 * 5;
constexpr size_t kMinMessageSize = 4 + 4 * kMessageLines;
constexpr size_t kMinSettingSize = 4 + 1 + 4;

const std::vector<SettingKey> kSettingKeys = {
    {"PaperType", SettingKind::kInt},
    {"LabelType", SettingKind::kInt},
    {"BarCodeType", SettingKind::kInt},
    {"DateFormat", SettingKind::kInt},
    {"YearFormat", SettingKind::kInt},
    {"PackageTolerance", SettingKind::kInt},
    {"DecimalPosition", SettingKind::kInt},
    {"TotalPricePrecision", SettingKind::kInt},
    {"Rounding", SettingKind::kInt},
    {"Message", SettingKind::kInt},
    {"18BarCode", SettingKind::kInt},
    {"AccountType", SettingKind::kInt},
    {"PrintBackground", SettingKind::kInt},
    {"PrintWeightUnitOfUnitPrice", SettingKind::kInt},
    {"PrintTime", SettingKind::kInt},
    {"PrintDiscountMark", SettingKind::kInt},
    {"PrintWeightUnitOfWeight", SettingKind::kInt},
    {"UseOriginalPriceOnBarcode", SettingKind::kInt},
    {"UpdateTimeFromPCOnConnect", SettingKind::kInt},
    {"AntiWind", SettingKind::kInt},
    {"TotalPriceDiscount", SettingKind::kInt},
    {"RebateTo23Dep", SettingKind::kInt},
    {"NoGapLabel", SettingKind::kInt},
    {"UseExtShelfTime", SettingKind::kInt},
    {"AllowPrintZeroWeight", SettingKind::kInt},
    {"PrintDirection", SettingKind::kInt},
    {"DisplayBrightness", SettingKind::kInt},
    {"LockSystemFunction", SettingKind::kInt},
    {"LockAccountFunction", SettingKind::kInt},
    {"LockPLUFunction", SettingKind::kInt},
    {"LockDiscountFunction", SettingKind::kInt},
    {"LockPriceFunction", SettingKind::kInt},
    {"LockTareFunction", SettingKind::kInt},
    {"OnlyPLUKey", SettingKind::kInt},
    {"SystemPassword", SettingKind::kText},
    {"AccountPassword", SettingKind::kText},
    {"PLUPassword", SettingKind::kText},
    {"DiscountPassword", SettingKind::kText},
    {"PricePassword", SettingKind::kText},
    {"TarePassword", SettingKind::kText},
    {"En_50g", SettingKind::kInt},
    {"En_g", SettingKind::kInt},
    {"En_10g", SettingKind::kInt},
    {"En_100g", SettingKind::kInt},
    {"En_Kg", SettingKind::kInt},
    {"En_Oz", SettingKind::kInt},
    {"En_Lb", SettingKind::kInt},
    {"En_500g", SettingKind::kInt},
    {"En_600g", SettingKind::kInt},
    {"En_PCS_g", SettingKind::kInt},
    {"En_PCS_Kg", SettingKind::kInt},
    {"En_PCS_Oz", SettingKind::kInt},
    {"En_PCS_Lb", SettingKind::kInt},
    {"UserBarCode", SettingKind::kText},
    {"AlignPLUName", SettingKind::kInt},
    {"PrintTestLabel", SettingKind::kInt},
};

// Settings of a fresh scale that differ from 0 / "".
struct DefaultSetting {
  const char* Name;
  int32_t Int;
  const char* Text;
};
const DefaultSetting kNonZeroDefaults[] = {
    {"DecimalPosition", 2, nullptr},
    {"TotalPricePrecision", 2, nullptr},
    {"PrintWeightUnitOfUnitPrice", 1, nullptr},
    {"PrintWeightUnitOfWeight", 1, nullptr},
    {"PrintTime", 1, nullptr},
    {"PrintDiscountMark", 1, nullptr},
    {"UpdateTimeFromPCOnConnect", 1, nullptr},
    {"DisplayBrightness", 3, nullptr},
    {"En_100g", 1, nullptr},
    {"En_Kg", 1, nullptr},
    {"En_PCS_g", 1, nullptr},
    {"En_PCS_Kg", 1, nullptr},
    {"UserBarCode", 0, "000000000000"},
};

}  // namespace

std::string OpName(uint8_t type) {
  switch (static_cast<Op>(type)) {
    case Op::kGetInfo:
      return "GetInfo";
    case Op::kClear:
      return "Clear";
    case Op::kSetPlus:
      return "SetPlus";
    case Op::kSetMessages:
      return "SetMessages";
    case Op::kGetSettings:
      return "GetSettings";
    case Op::kSetSettings:
      return "SetSettings";
    case Op::kSetHotKeys:
      return "SetHotKeys";
    case Op::kSetLabel:
      return "SetLabel";
    case Op::kSetFont:
      return "SetFont";
    case Op::kSetLogo:
      return "SetLogo";
  }
  return "Unknown";
}

// ---------------------------------------------------------------------------
// Frames

void EncodeHeader(uint8_t type, uint32_t length, char out[kHeaderSize]) {
  std::memcpy(out, kMagic, sizeof(kMagic));
  out[4] = static_cast<char>(kProtocolVersion);
  out[5] = static_cast<char>(type);
  out[6] = 0;
  out[7] = 0;
  StoreU32(length, out + 8);
}

HeaderStatus DecodeHeader(const char in[kHeaderSize], FrameHeader* header) {
  if (std::memcmp(in, kMagic, sizeof(kMagic)) != 0)
    return HeaderStatus::kBadMagic;
  const auto* p = reinterpret_cast<const unsigned char*>(in);
  header->version = p[4];
  header->type = p[5];
  header->length = LoadU32(p + 8);
  if (p[6] != 0 || p[7] != 0)
    return HeaderStatus::kBadReserved;
  if (header->length > kMaxPayloadSize)
    return HeaderStatus::kTooLarge;
  return HeaderStatus::kOk;
}

std::string BuildFrame(uint8_t type, const std::string& payload) {
  std::string frame(kHeaderSize, '\0');
  EncodeHeader(type, static_cast<uint32_t>(payload.size()), frame.data());
  frame += payload;
  return frame;
}

ReadStatus ReadFrame(TcpConnection& connection, Frame* frame) {
  char header[kHeaderSize];
  if (!connection.ReadExact(header, sizeof(header)))
    return ReadStatus::kClosed;
  switch (DecodeHeader(header, &frame->header)) {
    case HeaderStatus::kOk:
      break;
    case HeaderStatus::kBadMagic:
      return ReadStatus::kBadMagic;
    case HeaderStatus::kBadReserved:
      return ReadStatus::kBadReserved;
    case HeaderStatus::kTooLarge:
      return ReadStatus::kTooLarge;
  }
  frame->payload.resize(frame->header.length);
  if (frame->header.length > 0 &&
      !connection.ReadExact(frame->payload.data(), frame->header.length)) {
    return ReadStatus::kTruncated;
  }
  return ReadStatus::kOk;
}

bool WriteFrame(TcpConnection& connection, uint8_t type, const std::string& payload) {
  if (payload.size() > kMaxPayloadSize)
    return false;
  std::string frame = BuildFrame(type, payload);
  return connection.WriteAll(frame.data(), frame.size());
}

// ---------------------------------------------------------------------------
// Payload encoding

void PayloadWriter::PutU16(uint16_t v) {
  PutU8(static_cast<uint8_t>(v >> 8));
  PutU8(static_cast<uint8_t>(v));
}

void PayloadWriter::PutU32(uint32_t v) {
  char bytes[4];
  StoreU32(v, bytes);
  out_.append(bytes, sizeof(bytes));
}

void PayloadWriter::PutDouble(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof(bits));
  PutU32(static_cast<uint32_t>(bits >> 32));
  PutU32(static_cast<uint32_t>(bits));
}

void PayloadWriter::PutText(const std::string& text) {
  PutU32(static_cast<uint32_t>(text.size()));
  out_ += text;
}

bool PayloadReader::Take(size_t n, const char** p) {
  if (failed_ || data_.size() - pos_ < n) {
    failed_ = true;
    return false;
  }
  *p = data_.data() + pos_;
  pos_ += n;
  return true;
}

bool PayloadReader::GetU8(uint8_t* v) {
  const char* p;
  if (!Take(1, &p))
    return false;
  *v = static_cast<uint8_t>(*p);
  return true;
}

bool PayloadReader::GetU16(uint16_t* v) {
  const char* p;
  if (!Take(2, &p))
    return false;
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  *v = static_cast<uint16_t>((u[0] << 8) | u[1]);
  return true;
}

bool PayloadReader::GetU32(uint32_t* v) {
  const char* p;
  if (!Take(4, &p))
    return false;
  *v = LoadU32(reinterpret_cast<const unsigned char*>(p));
  return true;
}

bool PayloadReader::GetI32(int32_t* v) {
  uint32_t u;
  if (!GetU32(&u))
    return false;
  *v = static_cast<int32_t>(u);
  return true;
}

bool PayloadReader::GetDouble(double* v) {
  uint32_t high, low;
  if (!GetU32(&high) || !GetU32(&low))
    return false;
  uint64_t bits = (uint64_t{high} << 32) | low;
  std::memcpy(v, &bits, sizeof(bits));
  return true;
}

bool PayloadReader::GetText(std::string* text) {
  uint32_t length;
  const char* p;
  if (!GetU32(&length) || !Take(length, &p))
    return false;
  text->assign(p, length);
  return true;
}

bool IsValidUtf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra)
      return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Settings

const std::vector<SettingKey>& SettingKeys() {
  return kSettingKeys;
}

int FindSettingKey(const std::string& name) {
  for (size_t i = 0; i < kSettingKeys.size(); ++i) {
    if (SameTextAscii(name, kSettingKeys[i].Name))
      return static_cast<int>(i);
  }
  return -1;
}

SettingValues DefaultSettingValues() {
  SettingValues values(kSettingKeys.size());
  for (const DefaultSetting& d : kNonZeroDefaults) {
    SettingValue& v = values[FindSettingKey(d.Name)];
    v.Int = d.Int;
    if (d.Text != nullptr)
      v.Text = d.Text;
  }
  return values;
}

std::string SettingText(int keyIndex, const SettingValue& value) {
  return kSettingKeys[keyIndex].Kind == SettingKind::kText ? value.Text : std::to_string(value.Int);
}

bool IsUserBarCode(const std::string& text) {
  if (text.size() != 12)
    return false;
  for (char c : text) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!hex)
      return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Messages

size_t EncodedSize(const PluRecord& record) {
  return kMinPluSize + record.Name.size();
}

size_t EncodedSize(const MessageRecord& message) {
  size_t size = kMinMessageSize;
  for (const std::string& line : message.Lines)
    size += line.size();
  return size;
}

namespace {

template <typename Record>
std::vector<size_t> Ends(const std::vector<Record>& records) {
  std::vector<size_t> ends;
  size_t bytes = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const size_t size = EncodedSize(records[i]);
    if (i > 0 && bytes + size > kMaxRecordBytes) {
      ends.push_back(i);
      bytes = 0;
    }
    bytes += size;
  }
  ends.push_back(records.size());
  return ends;
}

}  // namespace

std::vector<size_t> RequestEnds(const std::vector<PluRecord>& records) {
  return Ends(records);
}

std::vector<size_t> RequestEnds(const std::vector<MessageRecord>& messages) {
  return Ends(messages);
}

std::string EncodePlus(const std::vector<PluRecord>& records) {
  return EncodePlus(records, 0, records.size());
}

std::string EncodePlus(const std::vector<PluRecord>& records, size_t begin, size_t end) {
  PayloadWriter w;
  w.PutU32(static_cast<uint32_t>(end - begin));
  for (size_t i = begin; i < end; ++i) {
    const PluRecord& r = records[i];
    w.PutI32(r.Number);
    w.PutText(r.Name);
    w.PutI32(r.AddCode);
    w.PutI32(r.BarCodeType);
    w.PutDouble(r.Price);
    w.PutI32(r.WeightUnit);
    w.PutI32(r.Dep);
    w.PutDouble(r.Tare);
    w.PutI32(r.ShelfTime);
    w.PutI32(r.Label);
    w.PutI32(r.Rebate);
    w.PutI32(r.Message);
    w.PutI32(r.PackageType);
    w.PutDouble(r.PackageWeight);
    w.PutI32(r.Tolerance);
    w.PutDouble(r.ProductionDate);
    w.PutDouble(r.IcePercent);
  }
  return w.Take();
}

bool DecodePlus(const std::string& payload, std::vector<PluRecord>* records, std::string* error) {
  PayloadReader r(payload);
  uint32_t count;
  if (!r.GetU32(&count))
    return Fail(error, "PLUs: payload ends early");
  if (count > payload.size() / kMinPluSize)
    return Fail(error, "PLUs: count exceeds the payload");
  records->clear();
  records->reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    PluRecord p;
    bool ok = r.GetI32(&p.Number) && GetUtf8(r, &p.Name, "PLU Name", error) &&
              r.GetI32(&p.AddCode) && r.GetI32(&p.BarCodeType) && r.GetDouble(&p.Price) &&
              r.GetI32(&p.WeightUnit) && r.GetI32(&p.Dep) && r.GetDouble(&p.Tare) &&
              r.GetI32(&p.ShelfTime) && r.GetI32(&p.Label) && r.GetI32(&p.Rebate) &&
              r.GetI32(&p.Message) && r.GetI32(&p.PackageType) && r.GetDouble(&p.PackageWeight) &&
              r.GetI32(&p.Tolerance) && r.GetDouble(&p.ProductionDate) &&
              r.GetDouble(&p.IcePercent);
    if (!ok)
      return r.failed() ? Finish(r, error, "PLUs") : false;
    records->push_back(std::move(p));
  }
  return Finish(r, error, "PLUs");
}

std::string EncodeMessages(const std::vector<MessageRecord>& messages) {
  return EncodeMessages(messages, 0, messages.size());
}

std::string EncodeMessages(const std::vector<MessageRecord>& messages, size_t begin, size_t end) {
  PayloadWriter w;
  w.PutU32(static_cast<uint32_t>(end - begin));
  for (size_t i = begin; i < end; ++i) {
    const MessageRecord& m = messages[i];
    w.PutI32(m.No);
    for (const std::string& line : m.Lines)
      w.PutText(line);
  }
  return w.Take();
}

bool DecodeMessages(const std::string& payload, std::vector<MessageRecord>* messages,
                    std::string* error) {
  PayloadReader r(payload);
  uint32_t count;
  if (!r.GetU32(&count))
    return Fail(error, "Messages: payload ends early");
  if (count > payload.size() / kMinMessageSize) {
    return Fail(error, "Messages: count exceeds the payload");
  }
  messages->clear();
  messages->reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    MessageRecord m;
    if (!r.GetI32(&m.No))
      return Finish(r, error, "Messages");
    for (std::string& line : m.Lines) {
      if (!GetUtf8(r, &line, "Message line", error)) {
        return r.failed() ? Finish(r, error, "Messages") : false;
      }
    }
    messages->push_back(std::move(m));
  }
  return Finish(r, error, "Messages");
}

std::string EncodeSettings(const std::vector<SettingChange>& changes) {
  PayloadWriter w;
  w.PutU16(static_cast<uint16_t>(changes.size()));
  for (const SettingChange& c : changes) {
    const SettingKey& key = kSettingKeys[c.Key];
    w.PutText(key.Name);
    w.PutU8(static_cast<uint8_t>(key.Kind));
    if (key.Kind == SettingKind::kInt) {
      w.PutI32(c.Value.Int);
    } else {
      w.PutText(c.Value.Text);
    }
  }
  return w.Take();
}

bool DecodeSettings(const std::string& payload, std::vector<SettingChange>* changes,
                    std::string* error) {
  PayloadReader r(payload);
  uint16_t count;
  if (!r.GetU16(&count))
    return Fail(error, "Settings: payload ends early");
  if (count > payload.size() / kMinSettingSize) {
    return Fail(error, "Settings: count exceeds the payload");
  }
  changes->clear();
  for (uint16_t i = 0; i < count; ++i) {
    std::string name;
    uint8_t kind;
    // A name is checked as UTF-8 before it is named in an error: the error
    // text goes back to the client as the reply's message.
    if (!GetUtf8(r, &name, "Setting name", error))
      return r.failed() ? Finish(r, error, "Settings") : false;
    if (!r.GetU8(&kind))
      return Finish(r, error, "Settings");
    SettingChange c;
    c.Key = FindSettingKey(name);
    if (c.Key < 0)
      return Fail(error, "Settings: unknown setting \"" + name + "\"");
    if (kind != static_cast<uint8_t>(kSettingKeys[c.Key].Kind)) {
      return Fail(error, "Settings: wrong value kind for \"" + name + "\"");
    }
    if (kind == static_cast<uint8_t>(SettingKind::kInt)) {
      if (!r.GetI32(&c.Value.Int))
        return Finish(r, error, "Settings");
    } else if (!GetUtf8(r, &c.Value.Text, "Setting", error)) {
      return r.failed() ? Finish(r, error, "Settings") : false;
    }
    changes->push_back(std::move(c));
  }
  return Finish(r, error, "Settings");
}

std::string EncodeHotKeys(const HotKeyTable& keys) {
  PayloadWriter w;
  w.PutU16(static_cast<uint16_t>(keys.size()));
  for (int32_t v : keys)
    w.PutI32(v);
  return w.Take();
}

bool DecodeHotKeys(const std::string& payload, HotKeyTable* keys, std::string* error) {
  PayloadReader r(payload);
  uint16_t count;
  if (!r.GetU16(&count))
    return Fail(error, "Hot keys: payload ends early");
  if (count != kHotKeyCount) {
    return Fail(error, "Hot keys: " + std::to_string(count) + " keys instead of " +
                           std::to_string(kHotKeyCount));
  }
  for (int32_t& v : *keys)
    r.GetI32(&v);
  return Finish(r, error, "Hot keys");
}

std::string EncodeFile(const std::string& bytes) {
  PayloadWriter w;
  w.PutText(bytes);
  return w.Take();
}

bool DecodeFile(const std::string& payload, std::string* bytes, std::string* error) {
  PayloadReader r(payload);
  r.GetText(bytes);
  return Finish(r, error, "File");
}

std::string EncodeFont(int32_t number, const std::string& bytes) {
  PayloadWriter w;
  w.PutI32(number);
  w.PutText(bytes);
  return w.Take();
}

bool DecodeFont(const std::string& payload, int32_t* number, std::string* bytes,
                std::string* error) {
  PayloadReader r(payload);
  if (r.GetI32(number))
    r.GetText(bytes);
  return Finish(r, error, "Font");
}

std::string EncodeReply(const Reply& reply) {
  PayloadWriter w;
  w.PutI32(reply.Code);
  w.PutText(reply.Message);
  std::string out = w.Take();
  out += reply.Body;
  return out;
}

bool DecodeReply(const std::string& payload, Reply* reply, std::string* error) {
  PayloadReader r(payload);
  if (!r.GetI32(&reply->Code) || !r.GetText(&reply->Message)) {
    return Fail(error, "Reply: payload ends early");
  }
  size_t headLength = 4 + 4 + reply->Message.size();
  reply->Body = payload.substr(headLength);
  return true;
}

bool CheckReply(uint8_t requestType, const Reply& reply, std::string* error) {
  if (reply.Code < kResultOk || reply.Code > kMaxScaleResult)
    return Fail(error, "Reply: result code " + std::to_string(reply.Code) + " out of range");
  if (!IsValidUtf8(reply.Message))
    return Fail(error, "Reply: message is not valid UTF-8");
  if (reply.Code != kResultOk) {
    return reply.Body.empty() ? true : Fail(error, "Reply: trailing bytes after an error");
  }
  if (!reply.Message.empty())
    return Fail(error, "Reply: a message with success");
  const bool has_body = requestType == static_cast<uint8_t>(Op::kGetInfo) ||
                        requestType == static_cast<uint8_t>(Op::kGetSettings);
  if (!has_body && !reply.Body.empty())
    return Fail(error, "Reply: trailing bytes after the data");
  return true;
}

std::string EncodeInfo(const std::string& serial, const std::string& version) {
  PayloadWriter w;
  w.PutText(serial);
  w.PutText(version);
  return w.Take();
}

bool DecodeInfo(const std::string& body, std::string* serial, std::string* version,
                std::string* error) {
  PayloadReader r(body);
  if (!GetUtf8(r, serial, "Serial number", error) || !GetUtf8(r, version, "Version", error)) {
    return r.failed() ? Finish(r, error, "Info") : false;
  }
  return Finish(r, error, "Info");
}

}  // namespace tarvo::scale
