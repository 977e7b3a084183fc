// PLU files dropped into the import folder of the real service reach
// emulated scales: full loads and updates in every layout and encoding, and a
// file without a valid PLU.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> kTwoScales = {"127.0.0.111", "127.0.0.112"};
const std::vector<std::string> kThreeScales = {"127.0.0.121", "127.0.0.122", "127.0.0.123"};

// Number, name, price and two message lines per PLU line.
const std::vector<std::string> kPlainFields = {
    "FieldNumber_Pos=1",         "FieldName_Pos=2",           "FieldPrice_Pos=3",
    "FieldMessageString1_Pos=4", "FieldMessageString2_Pos=5",
};

// The rows of a mirror file without its header.
std::vector<std::string> Rows(const std::string& tsv) {
  std::vector<std::string> rows;
  size_t start = tsv.find('\n');
  while (start != std::string::npos && start + 1 < tsv.size()) {
    const size_t end = tsv.find('\n', start + 1);
    rows.push_back(tsv.substr(start + 1, end - start - 1));
    start = end;
  }
  return rows;
}

std::vector<std::string> Columns(const std::string& row) {
  std::vector<std::string> columns;
  size_t start = 0;
  for (;;) {
    const size_t tab = row.find('\t', start);
    columns.push_back(row.substr(start, tab - start));
    if (tab == std::string::npos)
      return columns;
    start = tab + 1;
  }
}

// The first three columns of a plus.tsv row: number, name, add code.
std::string Head(const std::string& row) {
  size_t at = 0;
  for (int i = 0; i < 2 && at != std::string::npos; ++i)
    at = row.find('\t', at + 1);
  return row.substr(0, at);
}

// A messages.tsv row: the number, then 16 lines, the first ones `lines`.
std::string MessageRow(int no, const std::vector<std::string>& lines) {
  std::string row = std::to_string(no);
  for (size_t k = 0; k < 16; ++k)
    row += "\t" + (k < lines.size() ? lines[k] : std::string());
  return row;
}

// `text` right-aligned or left-aligned in `width` columns.
std::string Right(const std::string& text, size_t width) {
  return std::string(width - text.size(), ' ') + text;
}
std::string Left(const std::string& text, size_t width) {
  return text + std::string(width - text.size(), ' ');
}

// UTF-8 text of ASCII and Russian letters in the DOS code page 866.
std::string Cp866(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    const int code = ((c & 0x1f) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3f);
    int byte = 0;
    if (code == 0x401)
      byte = 0xF0;  // Ё
    else if (code == 0x451)
      byte = 0xF1;  // ё
    else if (code >= 0x410 && code < 0x440)
      byte = 0x80 + code - 0x410;  // А..Я, а..п
    else
      byte = 0xE0 + code - 0x440;  // р..я
    out += static_cast<char>(byte);
  }
  return out;
}

class PLUTransferTest : public ::testing::Test {
 protected:
  // Starts the emulator for `scales` and the service with `global` added to
  // its global settings and `fields` as its field configuration.
  void Start(const std::vector<std::string>& scales, const std::vector<std::string>& global,
             const std::vector<std::string>& fields) {
    emu_ = std::make_unique<EmulatorProcess>(scales);
    ASSERT_TRUE(emu_->ok());
    service_.WriteIni(ServiceIni(scales, global, fields));
    started_ = true;
    ASSERT_TRUE(service_.StartAgainst(*emu_));
  }

  void TearDown() override {
    if (!started_)
      return;
    EXPECT_TRUE(service_.Stop());
    EXPECT_EQ(service_.process().exit_code(), 0);
  }

  std::vector<std::string> PLURows(const std::string& ip) {
    return Rows(emu_->ScaleFile(ip, "plus.tsv"));
  }
  std::vector<std::string> MessageRows(const std::string& ip) {
    return Rows(emu_->ScaleFile(ip, "messages.tsv"));
  }

  // The scale's PLUs by number, each as its columns.
  std::map<int, std::vector<std::string>> PLUs(const std::string& ip) {
    std::map<int, std::vector<std::string>> plus;
    for (const std::string& row : PLURows(ip))
      plus[std::stoi(row)] = Columns(row);
    return plus;
  }

  std::vector<std::string> PLUHeads(const std::string& ip) {
    std::vector<std::string> heads;
    for (const std::string& row : PLURows(ip))
      heads.push_back(Head(row));
    return heads;
  }

  ServiceProcess service_;
  std::unique_ptr<EmulatorProcess> emu_;
  bool started_ = false;
};

TEST_F(PLUTransferTest, FullLoadThenUpdateReachEveryScale) {
  ASSERT_NO_FATAL_FAILURE(Start(kTwoScales, {}, kPlainFields));
  // Line 3 is bad; the name of PLU 3 is Windows-1251 text.
  service_.DropImportFile("goods.txt",
                          "1,\"Milk, 2.5%\",1.20,Keep cold,\r\n"
                          "2,Kefir,0.95,,Bio\r\n"
                          "bad line\r\n"
                          "3,\xD1\xFB\xF0,7.5\r\n");
  // The emulator mirrors its memory shortly after the last request: the
  // last thing sent (the messages) is waited for on every scale.
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const std::string& ip : kTwoScales) {
          if (PLUHeads(ip).size() != 3 || MessageRows(ip).size() != 2)
            return false;
        }
        return true;
      },
      30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  for (const std::string& ip : kTwoScales) {
    EXPECT_EQ(PLUHeads(ip), (std::vector<std::string>{"1\tMilk, 2.5%", "2\tKefir",
                                                      "3\t\xD0\xA1\xD1\x8B\xD1\x80"}))
        << ip;
    const std::vector<std::string> messages = MessageRows(ip);
    ASSERT_EQ(messages.size(), 2u) << ip;  // PLU 3 has no message column
    EXPECT_EQ(messages[0], MessageRow(1, {"Keep cold"}));
    EXPECT_EQ(messages[1], MessageRow(2, {"", "Bio"}));
  }
  const std::string log = service_.Log();
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Bad PLU string. String No: 3."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.112> Loaded:3 PLUs."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Clear data in scale."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.112> Send PLUs (%3)."));
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.111 Operation=SetPLUs     Status=0 File=goods.txt"));

  // An update changes PLU 2, adds PLU 4 and keeps the rest.
  service_.DropImportFile("update#112.txu", "2,Kefir 1%,0.99\r\n4,Tea,3\r\n");
  ASSERT_TRUE(WaitUntil([&] { return PLUHeads(kTwoScales[1]).size() == 4; }, 30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  EXPECT_EQ(PLUHeads(kTwoScales[1]),
            (std::vector<std::string>{"1\tMilk, 2.5%", "2\tKefir 1%", "3\t\xD0\xA1\xD1\x8B\xD1\x80",
                                      "4\tTea"}));
  EXPECT_EQ(PLUHeads(kTwoScales[0]).size(), 3u);
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.112 Operation=UpdatePLUs  Status=0 File=update#112.txu"));
}

// The name of PLU i: quoted in the file, with a comma and doubled quotes.
std::string BigName(int i) {
  return "Cheese \"No " + std::to_string(i) + "\", sliced";
}
std::string BigPrice(int i) {
  return std::to_string(i) + ".25";
}

TEST_F(PLUTransferTest, BatchedLoadOf250PLUsThenPriceUpdate) {
  ASSERT_NO_FATAL_FAILURE(Start(kThreeScales, {}, kPlainFields));
  // PLUs 1..150 carry a two-line message, 151..250 end after the price.
  std::string file;
  for (int i = 1; i <= 250; ++i) {
    file += std::to_string(i) + ",\"Cheese \"\"No " + std::to_string(i) + "\"\", sliced\"," +
            BigPrice(i);
    if (i <= 150)
      file += ",Best before " + std::to_string(i) + ",\"Keep dry, cool\"";
    file += "\r\n";
  }
  service_.DropImportFile("goods.txt", file);
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const std::string& ip : kThreeScales) {
          if (PLURows(ip).size() != 250 || MessageRows(ip).size() != 150)
            return false;
        }
        return true;
      },
      30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());

  std::map<std::string, std::vector<std::string>> before;
  for (const std::string& ip : kThreeScales) {
    const std::vector<std::string> rows = PLURows(ip);
    ASSERT_EQ(rows.size(), 250u) << ip;
    for (int i = 1; i <= 250; ++i) {
      const std::vector<std::string> c = Columns(rows[i - 1]);
      ASSERT_EQ(c.size(), 17u) << ip << " " << rows[i - 1];
      EXPECT_EQ(c[kNumber], std::to_string(i)) << ip;
      EXPECT_EQ(c[kName], BigName(i)) << ip;
      EXPECT_EQ(c[kPrice], BigPrice(i)) << ip;
      EXPECT_EQ(c[kMessage], i <= 150 ? std::to_string(i) : "0") << ip << " PLU " << i;
    }
    const std::vector<std::string> messages = MessageRows(ip);
    ASSERT_EQ(messages.size(), 150u) << ip;
    for (int i = 1; i <= 150; ++i) {
      EXPECT_EQ(messages[i - 1],
                MessageRow(i, {"Best before " + std::to_string(i), "Keep dry, cool"}))
          << ip;
    }
    before[ip] = rows;
  }
  const std::string log = service_.Log();
  for (const std::string& ip : kThreeScales) {
    const std::string tag = "<" + ip + "> ";
    EXPECT_THAT(log, HasSubstr(tag + "Loaded:250 PLUs."));
    EXPECT_THAT(log, HasSubstr(tag + "Clear data in scale."));
    EXPECT_THAT(log, HasSubstr(tag + "Send PLUs (0/2)."));
    EXPECT_THAT(log, HasSubstr(tag + "Send PLUs (1/2)."));
    EXPECT_THAT(log, HasSubstr(tag + "Send PLUs (%50)."));
    EXPECT_THAT(log, HasSubstr(tag + "Send Messages (0/1)."));
    EXPECT_THAT(log, HasSubstr(tag + "Send Messages (%50)."));
    EXPECT_THAT(log, Not(HasSubstr(tag + "Send PLUs (2/2).")));
  }

  // Three new prices; the update neither clears the scale nor touches the
  // other PLUs or the messages.
  const std::map<int, std::string> changed = {{160, "99.9"}, {200, "0.5"}, {250, "1234.56"}};
  std::string update;
  for (const auto& [i, price] : changed)
    update += std::to_string(i) + ",\"Cheese \"\"No " + std::to_string(i) + "\"\", sliced\"," +
              price + "\r\n";
  const size_t logBefore = log.size();
  service_.DropImportFile("prices.txu", update);
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const std::string& ip : kThreeScales) {
          const std::vector<std::string> rows = PLURows(ip);
          if (rows.size() != 250 || Columns(rows[249])[kPrice] != "1234.56")
            return false;
        }
        return true;
      },
      30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  for (const std::string& ip : kThreeScales) {
    std::vector<std::string> expected = before[ip];
    for (const auto& [i, price] : changed) {
      std::vector<std::string> c = Columns(expected[i - 1]);
      c[kPrice] = price;
      std::string row;
      for (size_t k = 0; k < c.size(); ++k)
        row += (k ? "\t" : "") + c[k];
      expected[i - 1] = row;
    }
    EXPECT_EQ(PLURows(ip), expected) << ip;
    EXPECT_EQ(MessageRows(ip).size(), 150u) << ip;
  }
  const std::string updateLog = service_.Log().substr(logBefore);
  EXPECT_THAT(updateLog, HasSubstr("<127.0.0.122> Send PLUs (%3)."));
  EXPECT_THAT(updateLog, Not(HasSubstr("Clear data in scale.")));
  EXPECT_THAT(updateLog, Not(HasSubstr("Send Messages")));
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.123 Operation=UpdatePLUs  Status=0 File=prices.txu"));
}

// Layout 1: "A" lines of fixed columns, "I" lines that give the message of
// the article above.
TEST_F(PLUTransferTest, FixedColumnLayoutWithIngredientsReachesTheNamedScale) {
  const std::vector<std::string> scales = {"127.0.0.101", "127.0.0.102"};
  ASSERT_NO_FATAL_FAILURE(
      Start(scales, {"ImportExtraFormat=1", "ImportFileFixField=True"},
            {"FieldNumber_Pos=1", "FieldNumber_PosHome=2", "FieldNumber_PosEnd=7",
             "FieldName_Pos=2", "FieldName_PosHome=8", "FieldName_PosEnd=27", "FieldPrice_Pos=3",
             "FieldPrice_PosHome=28", "FieldPrice_PosEnd=35", "FieldShlefTime_Pos=4",
             "FieldShlefTime_PosHome=39", "FieldShlefTime_PosEnd=41"}));
  // Columns: 1 marker, 2-7 number, 8-27 name, 28-35 price, 37 pieces,
  // 38 100 g, 39-41 shelf time.
  auto article = [](const std::string& marker, int number, const std::string& name,
                    const std::string& price, const std::string& units, int shelf) {
    return marker + Right(std::to_string(number), 6) + Left(name, 20) + Left(price, 8) + " " +
           units + Right(std::to_string(shelf), 3) + "\r\n";
  };
  auto ingredients = [](const std::string& marker, int number, const std::string& text) {
    return marker + Right(std::to_string(number), 15) + text + "\r\n";
  };
  service_.DropImportFile("goods101.txt",
                          article("A", 1, "Rye bread", "1.50", "00", 5) +        // 1
                              ingredients("I", 1, "Flour\x03Water  \x03Salt") +  // 2
                              article("A", 2, "Apples", "2.30", "01", 14) +      // 3
                              article("a", 3, "Eggs box", "3.10", "10", 20) +    // 4
                              article("A", 4, "Sprats", "0.95", "11", 365) +     // 5
                              ingredients("i", 4, "Fish\x03\x03Oil") +           // 6
                              ingredients("I", 7, "No such article") +           // 7
                              article("X", 8, "Unknown marker", "1", "00", 1));  // 8
  ASSERT_TRUE(WaitUntil([&] { return MessageRows(scales[0]).size() == 2; }, 30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());

  std::map<int, std::vector<std::string>> plus = PLUs(scales[0]);
  ASSERT_EQ(plus.size(), 4u);
  const struct {
    int number;
    const char* name;
    const char* price;
    const char* unit;
    const char* shelf;
    const char* message;
  } expected[] = {
      {1, "Rye bread", "1.5", "4", "5", "1"},
      {2, "Apples", "2.3", "3", "14", "0"},
      {3, "Eggs box", "3.1", "10", "20", "0"},
      {4, "Sprats", "0.95", "9", "365", "2"},
  };
  for (const auto& e : expected) {
    const std::vector<std::string>& c = plus[e.number];
    ASSERT_EQ(c.size(), 17u) << e.number;
    EXPECT_EQ(c[kName], e.name) << e.number;
    EXPECT_EQ(c[kPrice], e.price) << e.number;
    EXPECT_EQ(c[kWeightUnit], e.unit) << e.number;
    EXPECT_EQ(c[kShelfTime], e.shelf) << e.number;
    EXPECT_EQ(c[kMessage], e.message) << e.number;
  }
  EXPECT_EQ(MessageRows(scales[0]),
            (std::vector<std::string>{MessageRow(1, {"Flour", "Water", "Salt"}),
                                      MessageRow(2, {"Fish", "Oil"})}));
  // Only the scale the file name ends with gets the file.
  EXPECT_TRUE(PLURows(scales[1]).empty());
  const std::string log = service_.Log();
  EXPECT_THAT(log, HasSubstr("<127.0.0.101> Fix field mode."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.101> Bad PLU string. String No: 7."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.101> Bad PLU string. String No: 8."));
  EXPECT_THAT(log, Not(HasSubstr("String No: 6.")));
  EXPECT_THAT(log, HasSubstr("<127.0.0.101> Loaded:4 PLUs."));
  EXPECT_THAT(log, Not(HasSubstr("<127.0.0.102> Load data from")));
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.101 Operation=SetPLUs     Status=0 File=goods101.txt"));
}

// Layout 2: delimited "A" and "I" lines; the weight unit comes from the
// pieces and 100 g fields, store code and department share one field.
TEST_F(PLUTransferTest, DelimitedMarkerLayoutDerivesWeightUnits) {
  const std::vector<std::string> scales = {"127.0.0.101", "127.0.0.102"};
  ASSERT_NO_FATAL_FAILURE(
      Start(scales, {"ImportExtraFormat=2"},
            {"FieldNumber_Pos=2", "FieldName_Pos=3", "FieldPrice_Pos=4", "FieldCode_Pos=5",
             "FieldDep_Pos=5", "FieldShlefTime_Pos=8", "FieldWeightUnit_DefVal=1"}));
  service_.DropImportFile("goods102.txt",
                          "A,1,Apples,2.50,0712345,0,0,10\r\n"   // 1: kg
                          "A,2,Eggs,3.10,0300002,1,1,65535\r\n"  // 2: pcs kg
                          "A,3,Pepper,0.80,05123,0,1,5\r\n"      // 3: 100 g
                          "A,4,Bread,1.20,0200004,0\r\n"         // 4: no field 7, kg
                          "A,5,Salt,0.40,0200005\r\n"            // 5: unit not derived
                          "I,1,Apple,,Sugar\r\n"                 // 6
                          "I,9,Orphan\r\n"                       // 7: no PLU 9
                          "Q,6,Odd,1\r\n"                        // 8: unknown marker
                          "a,6,Lemons,1.10,0400006,0,1,7\r\n");  // 9: 100 g
  ASSERT_TRUE(WaitUntil(
      [&] { return PLURows(scales[1]).size() == 6 && MessageRows(scales[1]).size() == 1; }, 30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());

  std::map<int, std::vector<std::string>> plus = PLUs(scales[1]);
  ASSERT_EQ(plus.size(), 6u);
  const struct {
    int number;
    const char* name;
    const char* price;
    const char* code;
    const char* dep;
    const char* unit;
    const char* shelf;
    const char* message;
  } expected[] = {
      {1, "Apples", "2.5", "12345", "7", "4", "10", "1"},
      {2, "Eggs", "3.1", "2", "3", "10", "-1", "0"},
      {3, "Pepper", "0.8", "123", "5", "3", "5", "0"},
      {4, "Bread", "1.2", "4", "2", "4", "0", "0"},
      {5, "Salt", "0.4", "5", "2", "1", "0", "0"},
      {6, "Lemons", "1.1", "6", "4", "3", "7", "0"},
  };
  for (const auto& e : expected) {
    const std::vector<std::string>& c = plus[e.number];
    ASSERT_EQ(c.size(), 17u) << e.number;
    EXPECT_EQ(c[kName], e.name) << e.number;
    EXPECT_EQ(c[kPrice], e.price) << e.number;
    EXPECT_EQ(c[kAddCode], e.code) << e.number;
    EXPECT_EQ(c[kDep], e.dep) << e.number;
    EXPECT_EQ(c[kWeightUnit], e.unit) << e.number;
    EXPECT_EQ(c[kShelfTime], e.shelf) << e.number;
    EXPECT_EQ(c[kMessage], e.message) << e.number;
  }
  EXPECT_EQ(MessageRows(scales[1]), (std::vector<std::string>{MessageRow(1, {"Apple", "Sugar"})}));
  EXPECT_TRUE(PLURows(scales[0]).empty());
  const std::string log = service_.Log();
  EXPECT_THAT(log, HasSubstr("<127.0.0.102> Delimiter field mode."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.102> Bad PLU string. String No: 7."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.102> Bad PLU string. String No: 8."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.102> Loaded:6 PLUs."));
}

TEST_F(PLUTransferTest, DosEncodedFileArrivesAsCyrillic) {
  ASSERT_NO_FATAL_FAILURE(Start({"127.0.0.111"}, {"ImportEncodingWindows=False"}, kPlainFields));
  service_.DropImportFile("goods.txt", Cp866("1,Молоко,1.20,Хранить в холоде\r\n"
                                             "2,\"Сыр \"\"Ёлочный\"\", ломтики\",7.5\r\n"
                                             "3,Щи ЭЮЯ эюя,2\r\n"));
  ASSERT_TRUE(WaitUntil(
      [&] { return PLURows("127.0.0.111").size() == 3 && MessageRows("127.0.0.111").size() == 1; },
      30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  EXPECT_EQ(
      PLUHeads("127.0.0.111"),
      (std::vector<std::string>{"1\tМолоко", "2\tСыр \"Ёлочный\", ломтики", "3\tЩи ЭЮЯ эюя"}));
  EXPECT_EQ(MessageRows("127.0.0.111"),
            (std::vector<std::string>{MessageRow(1, {"Хранить в холоде"})}));
  EXPECT_THAT(service_.Log(), HasSubstr("<127.0.0.111> Encoding from DOS."));
}

TEST_F(PLUTransferTest, Utf8FileWithByteOrderMarkArrivesAsWritten) {
  ASSERT_NO_FATAL_FAILURE(Start({"127.0.0.111"}, {"ImportEncodingWindows=True"}, kPlainFields));
  // "ü" has no Windows-1251 code and becomes "?".
  service_.DropImportFile("goods.txt",
                          "\xEF\xBB\xBF"
                          "1,Молоко,1.20,Хранить в холоде\r\n"
                          "2,Ёлочный сыр,7.5\r\n"
                          "3,Müsli,3\r\n");
  ASSERT_TRUE(WaitUntil(
      [&] { return PLURows("127.0.0.111").size() == 3 && MessageRows("127.0.0.111").size() == 1; },
      30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  EXPECT_EQ(PLUHeads("127.0.0.111"),
            (std::vector<std::string>{"1\tМолоко", "2\tЁлочный сыр", "3\tM?sli"}));
  EXPECT_EQ(MessageRows("127.0.0.111"),
            (std::vector<std::string>{MessageRow(1, {"Хранить в холоде"})}));
  EXPECT_THAT(service_.Log(), Not(HasSubstr("Encoding from DOS.")));
}

TEST_F(PLUTransferTest, FileWithoutValidPLUGoesToBadAndSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(Start(kTwoScales, {}, kPlainFields));
  service_.DropImportFile("broken#111.plu", "0,No number,1\r\n5,,1\r\n6,No price,0\r\n");
  ASSERT_TRUE(service_.WaitQueueEmpty());
  ASSERT_TRUE(WaitUntil([&] { return service_.BadDataFiles() > 0; }, 30000));
  const std::string log = service_.Log();
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Loaded:0 PLUs."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Error load file. No or bad data in input file."));
  EXPECT_THAT(log, Not(HasSubstr("Clear data in scale.")));
  EXPECT_THAT(log, HasSubstr("Set scale state: ip=127.0.0.111 state=4"));
  EXPECT_THAT(log, Not(HasSubstr("Set scale state: ip=127.0.0.111 state=6")));
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.111 Operation=SetPLUs     Status=4 File=broken#111.plu"));
  EXPECT_TRUE(PLURows(kTwoScales[0]).empty());
}

// Lines far longer than a shop writes. Batches of 100 make requests of
// several megabytes, which the driver splits, and the level 0 lines that show
// the messages are cut in the log. A name that no request can hold sets its
// file aside as bad before the scale is cleared, and it is not retried.
TEST_F(PLUTransferTest, HugeRecordsAreSplitOrSetAsideBeforeTheScaleIsCleared) {
  const std::string ip = "127.0.0.111";
  ASSERT_NO_FATAL_FAILURE(Start({ip}, {}, kPlainFields));
  const std::string name(50000, 'L');
  const std::string line(50000, 'M');
  std::string file;
  for (int i = 1; i <= 300; ++i)
    file += std::to_string(i) + "," + name + ",1.0" + (i <= 100 ? "," + line : "") + "\r\n";
  service_.DropImportFile("long.txt", file);
  ASSERT_TRUE(
      WaitUntil([&] { return PLURows(ip).size() == 300 && MessageRows(ip).size() == 100; }, 60000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  const std::vector<std::string> plus = PLURows(ip);
  const std::vector<std::string> messages = MessageRows(ip);
  for (int i = 1; i <= 300; ++i) {
    EXPECT_EQ(Head(plus[i - 1]), std::to_string(i) + "\t" + name) << i;
    if (i <= 100) {
      EXPECT_EQ(messages[i - 1], MessageRow(i, {line})) << i;
    }
  }
  EXPECT_THAT(service_.Journal(), HasSubstr("IP=127.0.0.111 Operation=SetPLUs     Status=0"));
  // 100 message lines of 50,000 bytes would be 5 MB of log; cut, they are 0.4.
  EXPECT_THAT(service_.Log(), HasSubstr("MMMM ... ["));
  EXPECT_LT(service_.Log().size(), 1000000u);

  service_.DropImportFile("huge.txt", "3,Tea,2\r\n4," + std::string(4200000, 'H') + ",5\r\n");
  ASSERT_TRUE(WaitUntil([&] { return service_.BadDataFiles() > 0; }, 30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  const std::string log = service_.Log();
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> PLU 4 is too large to send to the scale."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Data refused: 1 record(s) too large for the scale. "
                             "Nothing was sent."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Error load file. No or bad data in input file."));
  EXPECT_THAT(log, Not(HasSubstr("Retry timer started.")));
  const std::string clear = "<127.0.0.111> Clear data in scale.";
  const size_t first = log.find(clear);  // of long.txt only
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(log.find(clear, first + 1), std::string::npos);
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.111 Operation=SetPLUs     Status=4 File=huge.txt"));
  EXPECT_EQ(PLURows(ip).size(), 300u);
}

// Four loads queued 2.5 s apart while their scale is down reach it, once it
// answers, in the order they came: the newest price wins.
TEST_F(PLUTransferTest, AfterAnOutageTheLoadsArriveInTheOrderTheyCame) {
  const std::string down = "127.0.0.161";
  // The first emulator only gives the port; nobody serves the scale yet.
  emu_ = std::make_unique<EmulatorProcess>(std::vector<std::string>{"127.0.0.160"});
  ASSERT_TRUE(emu_->ok());
  service_.WriteIni(ServiceIni({down}, {}, kPlainFields));
  started_ = true;
  ASSERT_TRUE(service_.StartAgainst(*emu_));
  for (int n = 11; n <= 14; ++n) {
    if (n > 11)
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const std::string v = std::to_string(n);
    service_.DropImportFile("v" + v + ".txt", "1,Version" + v + "," + v + "\r\n");
  }
  ASSERT_TRUE(service_.WaitForLog("ServiceExecute: Import file <v14.txt> deleted.", 10000));
  ASSERT_TRUE(service_.WaitForLog("Retry timer started.", 10000));

  EmulatorProcess late({down}, {}, emu_->port());
  ASSERT_TRUE(late.ok());
  ASSERT_TRUE(service_.WaitQueueEmpty(60000)) << service_.Log();

  // Every journal line, failures included, names v11 to v14 in turn.
  std::vector<std::string> files;
  const std::string journal = service_.Journal();
  for (size_t at = journal.find("File="); at != std::string::npos;
       at = journal.find("File=", at + 1)) {
    const std::string file = journal.substr(at + 5, journal.find('\r', at) - at - 5);
    if (files.empty() || files.back() != file)
      files.push_back(file);
  }
  EXPECT_THAT(files, ElementsAre("v11.txt", "v12.txt", "v13.txt", "v14.txt")) << journal;
  for (int n = 11; n <= 14; ++n) {
    EXPECT_THAT(journal, HasSubstr("IP=" + down + " Operation=SetPLUs     Status=0 File=v" +
                                   std::to_string(n) + ".txt"));
  }
  late.Stop();  // the emulator writes its last state as it ends
  const std::vector<std::string> rows = Rows(late.ScaleFile(down, "plus.tsv"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Columns(rows[0])[kName], "Version14");
  EXPECT_EQ(Columns(rows[0])[kPrice], "14");
}

}  // namespace
}  // namespace tarvo::testing
