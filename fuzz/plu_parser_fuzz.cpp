// libFuzzer target for the PLU import parser: the delimited splitter, the
// line parsers of every layout and the whole load step.
//
// Input: the first bytes choose the settings (mode, layout, separator,
// encoding and the field positions), the rest is the import file. Besides
// crashes and sanitizer reports, the target checks what the load promises:
// every PLU kept has a number, a name and a price, every message reference
// points into the message list (or is the driver default), a split line has
// no more fields than separators + 1, and the line count agrees with the
// lines cut.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/textnames.h"
#include "fuzz_support.h"
#include "platform/automation.h"
#include "platform/files.h"
#include "query/plu_fill.h"
#include "query/plu_line_split.h"
#include "query/plu_parser.h"
#include "query/step_context.h"

namespace {

using namespace tarvo;
using fuzz::Check;

constexpr int32_t kMessageDefault = -7;

// A driver that answers every read with a fixed value and accepts writes.
class DefaultsDriver : public AutomationObject {
 public:
  Variant GetProperty(const std::string& name) override {
    if (name == "IPAddress")
      return Variant("10.0.0.1");
    if (name == "PLU_Name_Def")
      return Variant("");
    if (name == "PLU_Message_Def")
      return Variant(kMessageDefault);
    if (name == "PLU_Price_Def" || name == "PLU_Tare_Def")
      return Variant(0.0);
    return Variant(0);
  }
  void SetProperty(const std::string&, const Variant&) override {}
  Variant Invoke(const std::string&, const std::vector<Variant>&) override { return Variant(); }
};

void CheckLists(const std::vector<MPLUData>& plus, const MMessages& messages) {
  for (const MPLUData& plu : plus) {
    Check(plu.Number != 0 && !plu.Name.empty() && plu.Price != 0.0, "invalid PLU kept");
    Check(plu.Message == kMessageDefault ||
              (plu.Message >= 0 && static_cast<size_t>(plu.Message) < messages.size()),
          "message reference outside the list");
  }
}

// Settings from the first bytes of the input; consumes what it uses.
MSettingsValues SettingsFrom(std::string_view* data) {
  MSettingsValues settings;
  auto next = [data]() -> uint8_t {
    if (data->empty())
      return 0;
    const uint8_t b = static_cast<uint8_t>(data->front());
    data->remove_prefix(1);
    return b;
  };
  const uint8_t flags = next();
  settings.ImportFileFixField = flags & 1;
  settings.ImportExtraFormat = (flags >> 1) & 3;
  settings.ImportEncodingWindows = (flags & 8) == 0;
  const uint8_t separator = next();
  if (separator != 0)
    settings.ImportSimpleSeparator = std::string(1, static_cast<char>(separator));
  // Number, name and price always placed, in varying spots; other fields
  // placed when their byte says so.
  for (int i = 0; i < kPLUFieldCount; ++i) {
    const uint8_t a = next();
    const uint8_t b = next();
    MFieldConfig& field = settings.FieldsConfig[i];
    field.Pos = a % 36;
    field.PosHome = b % 48;
    field.PosEnd = field.PosHome + (a >> 4) - 2;
  }
  return settings;
}

// One file per fuzzing process, rewritten for every input.
const std::string& TempFileName() {
  static const std::string path = [] {
    std::string created;
    CreateUniqueTempFile(std::filesystem::temp_directory_path().string(), "plu", &created);
    return created;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string_view data(reinterpret_cast<const char*>(bytes), size);
  const MSettingsValues settings = SettingsFrom(&data);
  DefaultsDriver driver;

  // The splitter alone.
  {
    const char separator = ImportFieldSeparator(settings.ImportSimpleSeparator);
    FieldList fields;
    SplitDelimitedLine(data, separator, &fields);
    size_t separators = 0;
    for (char c : data)
      separators += c == separator ? 1 : 0;
    Check(fields.size() <= separators + 1, "more fields than separators + 1");
  }

  // The line splitter and the line counter agree, whatever the pieces.
  {
    const size_t piece = 1 + (size % 7);
    LineSplitter splitter;
    LineCounter counter;
    size_t lines = 0;
    auto countLine = [&lines](std::string_view) { ++lines; };
    for (size_t at = 0; at < data.size(); at += piece) {
      splitter.Feed(data.substr(at, piece), countLine);
      counter.Feed(data.substr(at, piece));
    }
    splitter.Finish(countLine);
    Check(lines == counter.Lines(), "line count differs from the lines cut");
  }

  // Every line through both line parsers.
  {
    std::vector<MPLUData> plus;
    MMessages messages;
    PLULineParser parser(settings, driver, plus, messages, nullptr);
    size_t start = 0;
    while (start <= data.size()) {
      size_t end = data.find('\n', start);
      if (end == std::string_view::npos)
        end = data.size();
      const std::string_view line = data.substr(start, end - start);
      parser.ParseDelimitedLine(line);
      parser.DropInvalidLastPLU();
      parser.ParseFixedLine(line);
      parser.DropInvalidLastPLU();
      start = end + 1;
    }
    CheckLists(plus, messages);
  }

  // The whole load from a file.
  {
    const std::string& path = TempFileName();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(data.data(), 1, data.size(), f);
      std::fclose(f);
    }
    std::vector<MPLUData> plus;
    MMessages messages;
    char separator = 0;
    StepContext context;
    context.Driver = &driver;
    context.DataFileName = path;
    context.Operation = 1;
    context.PLUList = &plus;
    context.MessageList = &messages;
    context.FieldSeparator = &separator;
    context.AddLog = [](const std::string&, int) {};
    context.SetScaleState = [](int32_t) {};
    context.Terminated = [] { return false; };
    const bool loaded = LoadPLUFile(context, settings);
    Check(loaded == !plus.empty(), "result does not match the list");
    CheckLists(plus, messages);
    for (const MMessage& message : messages) {
      for (int k = 1; k <= MMessage::kLineCount; ++k)
        Check(message.Line(k).size() <= data.size() * 2 + 2, "message line longer than input");
    }
  }
  return 0;
}
