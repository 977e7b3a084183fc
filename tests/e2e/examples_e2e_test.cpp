// The files of examples/ load into the real service under the example
// settings file, one after another as tools/demo.sh drops them, and each
// emulated scale ends up holding what docs/import-formats.md says it does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/command_client.h"
#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Strings = std::vector<std::string>;

// The examples folder of the source tree, beside tests/.
std::string ExamplesDir() {
  return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "examples")
      .lexically_normal()
      .string();
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The rows of a mirror table after its header, each cut at its tabs.
std::vector<Strings> Table(const std::string& tsv) {
  std::vector<Strings> rows;
  std::istringstream in(tsv);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    Strings columns(1);
    for (char c : line) {
      if (c == '\t')
        columns.emplace_back();
      else
        columns.back() += c;
    }
    rows.push_back(columns);
  }
  return rows;
}

// name -> value of an emulated scale's settings.ini.
std::map<std::string, std::string> Settings(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

const Strings kScales = {"127.0.0.101", "127.0.0.102", "127.0.0.103"};
const Strings kShop = {"127.0.0.101", "127.0.0.102"};
const Strings kCounter = {"127.0.0.103"};

// One PLU as a plus.tsv row shows it.
struct PLU {
  std::string Number, Name, AddCode, Price, WeightUnit, Dep, ShelfTime, Message;
};

TEST(ExamplesE2ETest, EveryExampleReachesItsScales) {
  const std::string examples = ExamplesDir();
  const std::string ini = ReadBytes(examples + "/tarvo-scale-server.ini");
  ASSERT_THAT(ini, HasSubstr("[FieldsConfig]")) << "no example settings in " << examples;

  EmulatorProcess emulator(kScales);
  ASSERT_TRUE(emulator.ok());
  ServiceProcess service;
  service.WriteIni(ini);
  ASSERT_TRUE(service.StartAgainst(emulator));

  // Each file in the demo's order, the fixed-column file after the switch to
  // fixed columns.
  const struct {
    std::string File;
    std::string Operation;
    Strings Targets;
  } kDrops[] = {
      {"goods.txt", "SetPLUs", kScales},        {"goods.txu", "UpdatePLUs", kScales},
      {"counter#103.plu", "SetPLUs", kCounter}, {"scale-settings.ini", "SetSettings", kScales},
      {"hotkeys.key", "SetKeys", kScales},      {"logo.bmp", "SetLogo", kScales},
  };
  for (const auto& drop : kDrops) {
    SCOPED_TRACE(drop.File);
    if (drop.File == "counter#103.plu") {
      CommandClient client(service.CommandPort());
      ASSERT_TRUE(client.ok());
      EXPECT_EQ(client.Exchange("SetSettings ImportFileFixField=True").back(), "200");
      EXPECT_EQ(client.Exchange("ReloadSettings").back(), "200");
    }
    const std::string data = ReadBytes(examples + "/" + drop.File);
    ASSERT_FALSE(data.empty());
    service.DropImportFile(drop.File, data);
    ASSERT_TRUE(service.WaitQueueEmpty(60000)) << service.Log();
    const std::string journal = service.Journal();
    size_t sends = 0;
    for (size_t at = journal.find("File=" + drop.File + "\r"); at != std::string::npos;
         at = journal.find("File=" + drop.File + "\r", at + 1))
      ++sends;
    EXPECT_EQ(sends, drop.Targets.size()) << journal;
    std::string operation = drop.Operation;
    operation.resize(11, ' ');
    for (const std::string& ip : drop.Targets) {
      EXPECT_THAT(journal, HasSubstr("IP=" + ip + " Operation=" + operation +
                                     " Status=0 File=" + drop.File));
    }
  }
  // Every line of every example is an article the service took.
  EXPECT_THAT(service.Log(), Not(HasSubstr("Bad PLU string")));
  EXPECT_EQ(service.BadDataFiles(), 0u);

  // Windows-1251 (goods.txt, counter#103.plu) and UTF-8 (goods.txu) names
  // arrive as the same letters; DefVal fills the department.
  const struct {
    Strings Scales;
    PLU Expected;
  } kPLUs[] = {
      {kShop, {"1", "Молоко 3,2%", "2001", "89.9", "10", "1", "7", "1"}},
      {kShop, {"2", "Хлеб \"Бородинский\"", "2002", "54.5", "10", "1", "3", "2"}},
      {kShop, {"3", "Яблоки Голден", "2003", "119", "4", "1", "14", "0"}},
      {kShop, {"4", "Сыр Российский", "2004", "749", "4", "1", "30", "3"}},
      {kShop, {"5", "Колбаса докторская", "2005", "689", "4", "1", "15", "4"}},
      {kShop, {"6", "Огурцы грунтовые", "2006", "159", "4", "1", "7", "0"}},
      {kCounter, {"21", "Сельдь слабосолёная", "2021", "349", "4", "1", "5", "1"}},
      {kCounter, {"22", "Салат оливье", "2022", "42", "3", "1", "2", "2"}},
      {kCounter, {"23", "Котлета по-киевски", "2023", "115", "10", "1", "2", "3"}},
      {kCounter, {"24", "Ветчина в/к", "2024", "899", "4", "1", "10", "4"}},
  };
  emulator.Stop();  // its table mirrors are written at the latest now
  std::map<std::string, std::vector<Strings>> held;
  for (const std::string& ip : kScales)
    held[ip] = Table(emulator.ScaleFile(ip, "plus.tsv"));
  std::map<std::string, size_t> count;
  for (const auto& plu : kPLUs) {
    for (const std::string& ip : plu.Scales) {
      const size_t i = count[ip]++;
      ASSERT_LT(i, held[ip].size()) << ip << " lacks PLU " << plu.Expected.Number;
      const Strings& row = held[ip][i];
      ASSERT_GT(row.size(), size_t{kMessage}) << ip;
      const PLU& e = plu.Expected;
      EXPECT_EQ((Strings{row[kNumber], row[kName], row[kAddCode], row[kPrice], row[kWeightUnit],
                         row[kDep], row[kShelfTime], row[kMessage]}),
                (Strings{e.Number, e.Name, e.AddCode, e.Price, e.WeightUnit, e.Dep, e.ShelfTime,
                         e.Message}))
          << ip;
    }
  }
  for (const std::string& ip : kScales)
    EXPECT_EQ(held[ip].size(), count[ip]) << ip << " holds more PLUs than the examples give";

  // Message lines: first and last line of each file's messages.
  const struct {
    Strings Scales;
    size_t Count;
    Strings First, Last;
  } kMessages[] = {
      {kShop,
       4,
       {"1", "Пастеризованное", "Хранить при +2...+6 °C", ""},
       {"4", "Состав: свинина, говядина,", "яйцо, молоко, соль, специи", ""}},
      {kCounter, 4, {"1", "Филе в масле, без костей", "", ""}, {"4", "Нарезка по желанию", "", ""}},
  };
  for (const auto& m : kMessages) {
    for (const std::string& ip : m.Scales) {
      const std::vector<Strings> rows = Table(emulator.ScaleFile(ip, "messages.tsv"));
      ASSERT_EQ(rows.size(), m.Count) << ip;
      EXPECT_EQ(Strings(rows.front().begin(), rows.front().begin() + 4), m.First) << ip;
      EXPECT_EQ(Strings(rows.back().begin(), rows.back().begin() + 4), m.Last) << ip;
    }
  }

  // The logo is a whole bitmap: its header agrees with its size.
  const std::string logo = ReadBytes(examples + "/logo.bmp");
  ASSERT_GE(logo.size(), 62u);
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;)
      v = (v << 8) | static_cast<unsigned char>(logo[at + i]);
    return v;
  };
  EXPECT_EQ(logo.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), logo.size());
  const uint32_t stride = (u32(18) * (u32(28) & 0xffff) + 31) / 32 * 4;
  EXPECT_EQ(u32(10) + stride * u32(22), logo.size()) << "the pixels end the file";
  for (const std::string& ip : kScales) {
    SCOPED_TRACE(ip);
    EXPECT_EQ(Settings(emulator.ScaleFile(ip, "settings.ini"))["DisplayBrightness"], "5");
    EXPECT_EQ(emulator.ScaleFile(ip, "logo.bmp"), logo);
    const std::vector<Strings> keys = Table(emulator.ScaleFile(ip, "hotkeys.tsv"));
    ASSERT_EQ(keys.size(), 224u);
    for (int key = 1; key <= 224; ++key) {
      const std::string plu = key <= 6 ? std::to_string(key) : "0";
      EXPECT_EQ(keys[key - 1], (Strings{std::to_string(key), plu}));
    }
  }
  ASSERT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
}

}  // namespace
}  // namespace tarvo::testing
