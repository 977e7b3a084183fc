#include "query/plu_parser.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/structdefines.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "query/plu_lines.h"

namespace tarvo {

namespace {

// The lines of a text: CR, LF and CR LF each end a line, and a line break at
// the very end adds no empty line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  bool Next(std::string_view* line) {
    if (rest_.empty())
      return false;
    const char* begin = rest_.data();
    const void* lf = std::memchr(begin, '\n', rest_.size());
    size_t end = lf == nullptr ? rest_.size() : static_cast<const char*>(lf) - begin;
    size_t skip = lf == nullptr ? 0 : 1;
    if (const void* cr = std::memchr(begin, '\r', end); cr != nullptr) {
      const size_t at = static_cast<const char*>(cr) - begin;
      skip = at + 1 == end && lf != nullptr ? 2 : 1;
      end = at;
    }
    *line = rest_.substr(0, end);
    rest_.remove_prefix(end + skip);
    return true;
  }

 private:
  std::string_view rest_;
};

size_t CountLines(std::string_view text) {
  LineReader reader(text);
  std::string_view line;
  size_t count = 0;
  while (reader.Next(&line))
    ++count;
  return count;
}

bool AnyMessageFieldPlaced(const MSettingsValues& settings) {
  for (int j = 0; j < MMessage::kLineCount; ++j) {
    if (settings.FieldsConfig[kFieldMessageString1 + j].Pos >= 1)
      return true;
  }
  return false;
}

}  // namespace

bool LoadPLUFile(TWorkQueryFilesThread& thread) {
  PLUStepContext context = MakePLUStepContext(thread);
  const MSettingsValues settings = thread.Settings->Snapshot();
  return LoadPLUFile(context, settings);
}

bool LoadPLUFile(PLUStepContext& context, const MSettingsValues& settings) {
  std::vector<MPLUData>& plus = *context.PLUList;
  MMessages& messages = *context.MessageList;
  // A load that is run again after a failure starts afresh.
  plus.clear();
  messages.clear();

  AddScaleLog(context, "Load data from " + context.DataFileName + ".", 1);
  std::string text;
  if (!ReadFileToString(context.DataFileName, &text)) {
    const std::string error =
        "Cannot open file \"" + context.DataFileName + "\". " + LastSystemErrorMessage();
    context.SetScaleState(kStateUnreadable);
    throw std::runtime_error(error);
  }
  // A file with a byte-order mark has declared its encoding: it is neither
  // ANSI nor DOS text.
  const bool declared = DetectBom(text) != TextEncoding::kNone;
  if (declared)
    text = DecodeTextFileToAnsi(text);

  const size_t lineCount = CountLines(text);
  if (lineCount == 0) {
    context.SetScaleState(kStateBadData);
    return false;
  }
  AddScaleLog(context, "File loaded. " + std::to_string(lineCount) + " lines.", 1);
  const bool fixed = settings.ImportFileFixField;
  AddScaleLog(context, fixed ? "Fix field mode. " : "Delimiter field mode. ", 1);

  PLULineParser parser(settings, StepDriver(context), plus, messages, context.AddLog);
  *context.FieldSeparator = parser.FieldSeparator();

  // Without record markers every line is at most one PLU (and one message).
  const bool markers = fixed ? settings.ImportExtraFormat == 1 : settings.ImportExtraFormat == 2;
  if (!markers) {
    plus.reserve(lineCount);
    if (settings.ImportExtraFormat == 0 && AnyMessageFieldPlaced(settings))
      messages.reserve(lineCount);
  }

  const bool fromDos = !settings.ImportEncodingWindows && !declared;
  LineReader reader(text);
  std::string_view line;
  std::string converted;
  for (size_t number = 1; reader.Next(&line); ++number) {
    if (fromDos) {
      AddScaleLog(context, "Encoding from DOS. ", 1);
      converted = OemToAnsi(std::string(line));
      line = converted;
    }
    bool taken = fixed ? parser.ParseFixedLine(line) : parser.ParseDelimitedLine(line);
    if (parser.DropInvalidLastPLU())
      taken = false;
    if (!taken)
      AddScaleLog(context, "Bad PLU string. String No: " + std::to_string(number) + ".", 5);
  }

  AddScaleLog(context, "Loaded:" + std::to_string(plus.size()) + " PLUs.", 1);
  if (plus.capacity() > plus.size() + plus.size() / 4)
    plus.shrink_to_fit();
  if (messages.capacity() > messages.size() + messages.size() / 4)
    messages.shrink_to_fit();
  if (plus.empty()) {
    context.SetScaleState(kStateBadData);
    return false;
  }
  context.SetScaleState(kStateSuccess);
  return true;
}

}  // namespace tarvo
