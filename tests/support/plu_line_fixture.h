// A PLU line parser over a recording driver, for the tests of the parser
// and of the load step that drives it: settings to place fields in, the
// lists the parser fills and the log lines it writes.
#ifndef TARVO_TESTS_SUPPORT_PLU_LINE_FIXTURE_H_
#define TARVO_TESTS_SUPPORT_PLU_LINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/textnames.h"
#include "platform/system_formats.h"
#include "query/plu_data.h"
#include "query/plu_fields.h"
#include "query/plu_fill.h"
#include "settings/workservicesettings.h"
#include "support/worker_harness.h"

namespace tarvo::testing {

class PLULineTest : public ::testing::Test, protected StepHarness {
 protected:
  void SetUp() override {
    SetSystemFormats(SystemFormats());
    settings.ImportEncodingWindows = true;
    settings.ImportSimpleSeparator = ",";
  }
  void TearDown() override { SetSystemFormats(SystemFormats()); }

  void Place(int field, int pos) { settings.FieldsConfig[field].Pos = pos; }
  void PlaceFixed(int field, int home, int end, int pos) {
    settings.FieldsConfig[field].PosHome = home;
    settings.FieldsConfig[field].PosEnd = end;
    settings.FieldsConfig[field].Pos = pos;
  }
  void Default(int field, const std::string& value) { settings.FieldsConfig[field].DefVal = value; }

  // Number, Name and Price in fields 1, 2, 3 (delimited).
  void PlaceBasic() {
    Place(kFieldNumber, 1);
    Place(kFieldName, 2);
    Place(kFieldPrice, 3);
  }

  PLULineParser& Parser() {
    if (!parser_) {
      parser_ = std::make_unique<PLULineParser>(settings, driver, plus, messages, context.AddLog);
    }
    return *parser_;
  }

  bool Delimited(std::string_view line) {
    const bool taken = Parser().ParseDelimitedLine(line);
    return Parser().DropInvalidLastPLU() ? false : taken;
  }
  bool Fixed(std::string_view line) {
    const bool taken = Parser().ParseFixedLine(line);
    return Parser().DropInvalidLastPLU() ? false : taken;
  }

  // Fills `FieldList` from texts and maps them.
  void Fill(const std::vector<std::string>& texts) {
    FieldList fields;
    for (const std::string& t : texts)
      fields.Add(t);
    Parser().FillPLUFromFields(fields);
  }

  std::vector<std::string> MessageLines(size_t index) const {
    std::vector<std::string> out;
    for (int k = 1; k <= MMessage::kLineCount; ++k)
      out.emplace_back(messages.at(index).Line(k));
    return out;
  }

  std::vector<std::string> DriverGets() {
    std::vector<std::string> out;
    for (const std::string& call : driverLog->CallStrings()) {
      if (call.rfind("get ", 0) == 0)
        out.push_back(call.substr(4));
    }
    return out;
  }

  MSettingsValues settings;

 private:
  std::unique_ptr<PLULineParser> parser_;
};

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_PLU_LINE_FIXTURE_H_
