#include "scaledriver/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "platform/socket.h"

namespace tarvo::scale {
namespace {

// A connection that reads from a fixed string and records what is written.
class StringConnection : public TcpConnection {
 public:
  explicit StringConnection(std::string input) : input_(std::move(input)) {}

  bool ReadExact(void* buffer, size_t size) override {
    requested_ += size;
    if (input_.size() - pos_ < size) {
      pos_ = input_.size();
      return false;
    }
    std::memcpy(buffer, input_.data() + pos_, size);
    pos_ += size;
    return true;
  }
  bool WriteAll(const void* data, size_t size) override {
    output_.append(static_cast<const char*>(data), size);
    return true;
  }
  bool ReadLn(std::string*, size_t) override { return false; }
  bool WriteLn(const std::string&) override { return false; }
  void SetTimeoutMillis(int) override {}
  void Close() override {}
  std::string PeerAddress() const override { return "test"; }

  size_t requested() const { return requested_; }
  const std::string& output() const { return output_; }

 private:
  std::string input_;
  size_t pos_ = 0;
  size_t requested_ = 0;
  std::string output_;
};

std::string Header(const char magic[4], uint8_t version, uint8_t type, uint16_t reserved,
                   uint32_t length) {
  std::string h(magic, 4);
  h += static_cast<char>(version);
  h += static_cast<char>(type);
  h += static_cast<char>(reserved >> 8);
  h += static_cast<char>(reserved);
  for (int shift = 24; shift >= 0; shift -= 8)
    h += static_cast<char>(length >> shift);
  return h;
}

PluRecord SamplePlu() {
  PluRecord r;
  r.Number = 42;
  r.Name = "Сыр \"Российский\"\t1 кг";
  r.AddCode = -7;
  r.BarCodeType = 12;
  r.Price = 123.45;
  r.WeightUnit = 4;
  r.Dep = 3;
  r.Tare = 0.015;
  r.ShelfTime = -1;
  r.Label = 2;
  r.Rebate = 10;
  r.Message = 5;
  r.PackageType = 1;
  r.PackageWeight = 500;
  r.Tolerance = 3;
  r.ProductionDate = 45000.5;
  r.IcePercent = 2.5;
  return r;
}

TEST(FrameTest, HeaderLayoutIsMagicVersionTypeReservedAndBigEndianLength) {
  std::string frame = BuildFrame(static_cast<uint8_t>(Op::kSetPlus), std::string(0x010203, 'x'));
  ASSERT_EQ(frame.size(), kHeaderSize + 0x010203);
  EXPECT_EQ(frame.substr(0, kHeaderSize), Header("TSCP", 1, 3, 0, 0x010203));
}

TEST(FrameTest, ReadFrameReturnsTypeVersionAndPayload) {
  StringConnection c(BuildFrame(0x85, "payload") + "next");
  Frame f;
  ASSERT_EQ(ReadFrame(c, &f), ReadStatus::kOk);
  EXPECT_EQ(f.header.type, 0x85);
  EXPECT_EQ(f.header.version, kProtocolVersion);
  EXPECT_EQ(f.payload, "payload");
  EXPECT_EQ(c.requested(), kHeaderSize + 7);  // reads no further than the frame
}

TEST(FrameTest, AnotherVersionIsReportedForTheReceiverToJudge) {
  StringConnection c(Header("TSCP", 9, 1, 0, 0));
  Frame f;
  ASSERT_EQ(ReadFrame(c, &f), ReadStatus::kOk);
  EXPECT_EQ(f.header.version, 9);
}

TEST(FrameTest, RefusesForeignOrDamagedHeaders) {
  Frame f;
  StringConnection http("GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(ReadFrame(http, &f), ReadStatus::kBadMagic);
  StringConnection reserved(Header("TSCP", 1, 1, 1, 0));
  EXPECT_EQ(ReadFrame(reserved, &f), ReadStatus::kBadReserved);
  StringConnection shortHeader("TSCP\x01");
  EXPECT_EQ(ReadFrame(shortHeader, &f), ReadStatus::kClosed);
  StringConnection empty("");
  EXPECT_EQ(ReadFrame(empty, &f), ReadStatus::kClosed);
}

TEST(FrameTest, AcceptsThePayloadLimitAndRefusesOneByteMoreWithoutReadingIt) {
  StringConnection atLimit(Header("TSCP", 1, 8, 0, kMaxPayloadSize) +
                           std::string(kMaxPayloadSize, 'L'));
  Frame f;
  EXPECT_EQ(ReadFrame(atLimit, &f), ReadStatus::kOk);
  EXPECT_EQ(f.payload.size(), kMaxPayloadSize);

  StringConnection over(Header("TSCP", 1, 8, 0, kMaxPayloadSize + 1));
  EXPECT_EQ(ReadFrame(over, &f), ReadStatus::kTooLarge);
  EXPECT_EQ(over.requested(), kHeaderSize);

  StringConnection huge(Header("TSCP", 1, 8, 0, 0xFFFFFFFFu));
  EXPECT_EQ(ReadFrame(huge, &f), ReadStatus::kTooLarge);
  EXPECT_EQ(huge.requested(), kHeaderSize);
}

TEST(FrameTest, AFrameCutShortIsTruncated) {
  StringConnection c(BuildFrame(3, "0123456789").substr(0, kHeaderSize + 4));
  Frame f;
  EXPECT_EQ(ReadFrame(c, &f), ReadStatus::kTruncated);
}

TEST(FrameTest, WriteFrameRefusesAnOversizedPayload) {
  StringConnection c("");
  EXPECT_FALSE(WriteFrame(c, 8, std::string(kMaxPayloadSize + 1, 'x')));
  EXPECT_TRUE(c.output().empty());
  EXPECT_TRUE(WriteFrame(c, 8, "abc"));
  EXPECT_EQ(c.output(), BuildFrame(8, "abc"));
}

TEST(PayloadTest, PrimitivesRoundTripIncludingExtremes) {
  PayloadWriter w;
  w.PutU8(0xFE);
  w.PutU16(0xBEEF);
  w.PutI32(std::numeric_limits<int32_t>::min());
  w.PutDouble(-0.1);
  w.PutText(std::string("a\0b", 3));
  std::string data = w.Take();
  EXPECT_EQ(data.substr(1, 2), "\xBE\xEF");
  EXPECT_EQ(data.substr(3, 4), std::string("\x80\0\0\0", 4));

  PayloadReader r(data);
  uint8_t u8;
  uint16_t u16;
  int32_t i32;
  double d;
  std::string text;
  ASSERT_TRUE(r.GetU8(&u8) && r.GetU16(&u16) && r.GetI32(&i32) && r.GetDouble(&d) &&
              r.GetText(&text));
  EXPECT_EQ(u8, 0xFE);
  EXPECT_EQ(u16, 0xBEEF);
  EXPECT_EQ(i32, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(d, -0.1);
  EXPECT_EQ(text, std::string("a\0b", 3));
  EXPECT_TRUE(r.AtEnd());
}

TEST(PayloadTest, ATextLongerThanThePayloadFailsAndStaysFailed) {
  PayloadWriter w;
  w.PutU32(1000);
  w.PutU8('x');
  std::string data = w.Take();
  PayloadReader r(data);
  std::string text;
  EXPECT_FALSE(r.GetText(&text));
  EXPECT_TRUE(r.failed());
  uint8_t u8;
  EXPECT_FALSE(r.GetU8(&u8));
}

TEST(Utf8Test, AcceptsWellFormedTextAndRefusesTheRest) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("Молоко €5 \xF0\x9F\x8D\x8E"));
  EXPECT_FALSE(IsValidUtf8("\xC1\xBF"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xD0"));              // cut short
  EXPECT_FALSE(IsValidUtf8("\xEC\xF2"));          // Windows-1251 text
}

TEST(RecordsTest, PlusRoundTripEveryField) {
  PluRecord second;
  second.Number = 7;
  std::vector<PluRecord> in = {SamplePlu(), second};
  std::vector<PluRecord> out;
  std::string error;
  ASSERT_TRUE(DecodePlus(EncodePlus(in), &out, &error)) << error;
  EXPECT_EQ(out, in);
  ASSERT_TRUE(DecodePlus(EncodePlus({}), &out, &error));
  EXPECT_TRUE(out.empty());
}

TEST(RecordsTest, PlusDecodeRefusesDamage) {
  std::string good = EncodePlus({SamplePlu()});
  std::vector<PluRecord> out;
  std::string error;
  EXPECT_FALSE(DecodePlus(good.substr(0, good.size() - 1), &out, &error));
  EXPECT_FALSE(DecodePlus(good + "x", &out, &error));
  EXPECT_NE(error.find("trailing"), std::string::npos);

  PayloadWriter w;  // a count that the payload cannot hold
  w.PutU32(0x7FFFFFFF);
  EXPECT_FALSE(DecodePlus(w.Take(), &out, &error));
  EXPECT_NE(error.find("count"), std::string::npos);

  PluRecord ansi = SamplePlu();
  ansi.Name = "\xD1\xFB\xF0";  // Windows-1251, not UTF-8
  EXPECT_FALSE(DecodePlus(EncodePlus({ansi}), &out, &error));
  EXPECT_NE(error.find("UTF-8"), std::string::npos);
}

TEST(RecordsTest, MessagesRoundTripAllSixteenLines) {
  MessageRecord m;
  m.No = 3;
  for (int k = 0; k < kMessageLines; ++k)
    m.Lines[k] = "line " + std::to_string(k + 1);
  m.Lines[15] = "";
  std::vector<MessageRecord> out;
  std::string error;
  ASSERT_TRUE(DecodeMessages(EncodeMessages({m, MessageRecord{}}), &out, &error)) << error;
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], m);
  std::string good = EncodeMessages({m});
  EXPECT_FALSE(DecodeMessages(good.substr(0, good.size() - 2), &out, &error));
}

TEST(SettingsTest, KeyTableHoldsEveryKeyInOrderWithItsKind) {
  const std::vector<SettingKey>& keys = SettingKeys();
  ASSERT_EQ(keys.size(), 56u);
  EXPECT_STREQ(keys.front().Name, "PaperType");
  EXPECT_STREQ(keys[10].Name, "18BarCode");
  EXPECT_STREQ(keys[33].Name, "OnlyPLUKey");
  EXPECT_STREQ(keys[40].Name, "En_50g");
  EXPECT_STREQ(keys[52].Name, "En_PCS_Lb");
  EXPECT_STREQ(keys[53].Name, "UserBarCode");
  EXPECT_STREQ(keys.back().Name, "PrintTestLabel");
  int texts = 0;
  for (const SettingKey& k : keys) {
    if (k.Kind == SettingKind::kText) {
      ++texts;
      std::string name = k.Name;
      EXPECT_TRUE(name == "UserBarCode" || name.find("Password") != std::string::npos) << name;
    }
  }
  EXPECT_EQ(texts, 7);
  EXPECT_EQ(FindSettingKey("printtime"), FindSettingKey("PrintTime"));
  EXPECT_EQ(FindSettingKey("Version"), -1);
}

TEST(SettingsTest, DefaultsOfAFreshScale) {
  SettingValues d = DefaultSettingValues();
  ASSERT_EQ(d.size(), SettingKeys().size());
  EXPECT_EQ(d[FindSettingKey("DecimalPosition")].Int, 2);
  EXPECT_EQ(d[FindSettingKey("En_Kg")].Int, 1);
  EXPECT_EQ(d[FindSettingKey("En_Oz")].Int, 0);
  EXPECT_EQ(d[FindSettingKey("SystemPassword")].Text, "");
  EXPECT_EQ(SettingText(FindSettingKey("UserBarCode"), d[FindSettingKey("UserBarCode")]),
            "000000000000");
}

TEST(SettingsTest, ChangesRoundTripAndUnknownOrMistypedNamesAreRefused) {
  std::vector<SettingChange> in = {{FindSettingKey("PrintTime"), {-5, ""}},
                                   {FindSettingKey("PLUPassword"), {0, "пароль"}}};
  std::vector<SettingChange> out;
  std::string error;
  ASSERT_TRUE(DecodeSettings(EncodeSettings(in), &out, &error)) << error;
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].Key, in[0].Key);
  EXPECT_EQ(out[0].Value.Int, -5);
  EXPECT_EQ(out[1].Value.Text, "пароль");

  PayloadWriter unknown;
  unknown.PutU16(1);
  unknown.PutText("Volume");
  unknown.PutU8(0);
  unknown.PutI32(1);
  EXPECT_FALSE(DecodeSettings(unknown.Take(), &out, &error));
  EXPECT_NE(error.find("Volume"), std::string::npos);

  PayloadWriter mistyped;
  mistyped.PutU16(1);
  mistyped.PutText("PrintTime");
  mistyped.PutU8(1);
  mistyped.PutText("1");
  EXPECT_FALSE(DecodeSettings(mistyped.Take(), &out, &error));
}

// The refusal of a setting name is sent back as a reply's message, which
// must be UTF-8 whatever bytes the name held.
TEST(SettingsTest, ARefusedNameThatIsNotUtf8IsNotQuotedInTheError) {
  for (const std::string& name : {std::string("Paper\xFF\xFFType"), std::string("\xC0\xAF"),
                                  std::string("Volume\xED\xA0\x80")}) {
    SCOPED_TRACE(name);
    PayloadWriter w;
    w.PutU16(1);
    w.PutText(name);
    w.PutU8(0);
    w.PutI32(1);
    std::vector<SettingChange> out;
    std::string error;
    EXPECT_FALSE(DecodeSettings(w.Take(), &out, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(IsValidUtf8(error)) << error;
  }
}

TEST(SettingsTest, UserBarCodeIsTwelveHexDigits) {
  EXPECT_TRUE(IsUserBarCode("35000000000A"));
  EXPECT_TRUE(IsUserBarCode("abcdef012345"));
  EXPECT_FALSE(IsUserBarCode("35000000000"));
  EXPECT_FALSE(IsUserBarCode("35000000000G"));
}

TEST(OtherMessagesTest, HotKeysFontsFilesRepliesAndInfoRoundTrip) {
  HotKeyTable keys{};
  keys[0] = 17;
  keys[223] = -1;
  HotKeyTable gotKeys{};
  std::string error;
  ASSERT_TRUE(DecodeHotKeys(EncodeHotKeys(keys), &gotKeys, &error));
  EXPECT_EQ(gotKeys, keys);
  PayloadWriter fewKeys;
  fewKeys.PutU16(3);
  for (int i = 0; i < 3; ++i)
    fewKeys.PutI32(i);
  EXPECT_FALSE(DecodeHotKeys(fewKeys.Take(), &gotKeys, &error));

  std::string bytes(70000, '\0');
  bytes[5] = '\xFF';
  std::string got;
  int32_t number = -1;
  ASSERT_TRUE(DecodeFont(EncodeFont(3, bytes), &number, &got, &error));
  EXPECT_EQ(number, 3);
  EXPECT_EQ(got, bytes);
  ASSERT_TRUE(DecodeFile(EncodeFile(bytes), &got, &error));
  EXPECT_EQ(got, bytes);
  EXPECT_FALSE(DecodeFile(EncodeFile(bytes) + "x", &got, &error));

  Reply reply{7, "label memory full", "BODY"};
  Reply gotReply;
  ASSERT_TRUE(DecodeReply(EncodeReply(reply), &gotReply, &error));
  EXPECT_EQ(gotReply.Code, 7);
  EXPECT_EQ(gotReply.Message, "label memory full");
  EXPECT_EQ(gotReply.Body, "BODY");
  EXPECT_FALSE(DecodeReply(std::string("\0\0", 2), &gotReply, &error));

  std::string serial, version;
  ASSERT_TRUE(DecodeInfo(EncodeInfo("SN-1", "v2"), &serial, &version, &error));
  EXPECT_EQ(serial, "SN-1");
  EXPECT_EQ(version, "v2");
}

TEST(OtherMessagesTest, CheckReplyKeepsTheCodeRangeMessageAndBodyRules) {
  constexpr uint8_t kInfo = static_cast<uint8_t>(Op::kGetInfo);
  constexpr uint8_t kSettings = static_cast<uint8_t>(Op::kGetSettings);
  constexpr uint8_t kClear = static_cast<uint8_t>(Op::kClear);
  constexpr uint8_t kLabel = static_cast<uint8_t>(Op::kSetLabel);
  const struct {
    uint8_t request;
    Reply reply;
    bool ok;
  } cases[] = {
      {kClear, {0, "", ""}, true},
      {kInfo, {0, "", EncodeInfo("SN", "v1")}, true},
      {kSettings, {0, "", "body"}, true},  // the settings decoder judges the body
      {kLabel, {5, "disk full", ""}, true},
      {kLabel, {kMaxScaleResult, "", ""}, true},
      {kClear, {kMaxScaleResult + 1, "", ""}, false},  // would pass for a driver code
      {kClear, {1005, "", ""}, false},
      {kClear, {-1, "", ""}, false},
      {kClear, {0, "", "x"}, false},         // a body the operation does not have
      {kClear, {0, "done", ""}, false},      // a message with success
      {kLabel, {4, "refused", "x"}, false},  // bytes after an error
      {kLabel, {4, "bad \xFF", ""}, false},  // a message that is not UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.request) + " " + std::to_string(c.reply.Code) + " '" +
                 c.reply.Message + "' '" + c.reply.Body + "'");
    std::string error;
    EXPECT_EQ(CheckReply(c.request, c.reply, &error), c.ok);
    EXPECT_EQ(error.empty(), c.ok);
  }
}

TEST(OtherMessagesTest, OperationNames) {
  EXPECT_EQ(OpName(static_cast<uint8_t>(Op::kSetPlus)), "SetPlus");
  EXPECT_EQ(OpName(static_cast<uint8_t>(Op::kSetLogo)), "SetLogo");
  EXPECT_EQ(OpName(0), "Unknown");
  EXPECT_EQ(OpName(0x83), "Unknown");
}

}  // namespace
}  // namespace tarvo::scale
