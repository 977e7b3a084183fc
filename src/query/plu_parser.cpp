#include "query/plu_parser.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "common/structdefines.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "query/plu_fill.h"
#include "query/plu_line_reader.h"
#include "query/plu_line_split.h"

namespace tarvo {

namespace {

// Pieces in which an ANSI or DOS data file is read.
constexpr size_t kChunkSize = size_t{1} << 20;

// Lists sized for this many bytes have their memory mapped in ahead of use.
constexpr size_t kPrefaultBytes = size_t{4} << 20;

// The text of a data file. ANSI and DOS text is read in pieces, twice: once
// to count its lines, once to parse them. A file whose byte-order mark
// declares UTF-8 or UTF-16 is read whole and decoded to ANSI text.
class DataFileText {
 public:
  explicit DataFileText(const std::string& path) : path_(path) {}

  // Looks for a byte-order mark and counts the lines. False when the file
  // cannot be read; *error then says why.
  bool Open(size_t* lineCount, std::string* error) {
    LineCounter counter;
    bool first = true;
    auto count = [&](std::string_view chunk) {
      if (first) {
        first = false;
        declared_ = DetectBom(std::string(chunk.substr(0, 4))) != TextEncoding::kNone;
        if (declared_)
          return false;
      }
      counter.Feed(chunk);
      return true;
    };
    if (!ReadFileChunks(path_, kChunkSize, count, error))
      return false;
    if (declared_) {
      std::string bytes;
      if (!ReadFileToString(path_, &bytes, error))
        return false;
      decoded_ = DecodeTextFileToAnsi(bytes);
      counter.Feed(decoded_);
    }
    *lineCount = counter.Lines();
    return true;
  }

  // True when a byte-order mark declared the encoding.
  bool declared() const { return declared_; }

  // Calls emit(line) for each line; once stopped() is true the rest may be
  // skipped. False when the file cannot be read; *error then says why.
  bool ForEachLine(const std::function<void(std::string_view)>& emit,
                   const std::function<bool()>& stopped, std::string* error) const {
    LineSplitter splitter;
    auto split = [&](std::string_view chunk) {
      splitter.Feed(chunk, emit);
      return !stopped();
    };
    if (declared_) {
      splitter.Feed(decoded_, emit);
    } else if (!ReadFileChunks(path_, kChunkSize, split, error)) {
      return false;
    }
    splitter.Finish(emit);
    return true;
  }

 private:
  const std::string path_;
  bool declared_ = false;
  std::string decoded_;
};

// Sets scale state 3 and raises the error of an unreadable data file;
// `reason` is the system's message.
[[noreturn]] void ThrowUnreadable(const StepContext& context, const std::string& reason) {
  const std::string error = "Cannot open file \"" + context.DataFileName + "\". " + reason;
  context.SetScaleState(kStateUnreadable);
  throw std::runtime_error(error);
}

bool AnyMessageFieldPlaced(const MSettingsValues& settings) {
  for (int j = 0; j < MMessage::kLineCount; ++j) {
    if (settings.FieldsConfig[kFieldMessageString1 + j].Pos >= 1)
      return true;
  }
  return false;
}

}  // namespace

bool LoadPLUFile(const StepContext& context, const MSettingsValues& settings) {
  std::vector<MPLUData>& plus = *context.PLUList;
  MMessages& messages = *context.MessageList;
  // A load that is run again after a failure starts afresh.
  plus.clear();
  messages.clear();

  AddScaleLog(context, "Load data from " + context.DataFileName + ".", 1);
  DataFileText file(context.DataFileName);
  size_t lineCount = 0;
  std::string openError;
  if (!file.Open(&lineCount, &openError))
    ThrowUnreadable(context, openError);
  if (lineCount == 0) {
    context.SetScaleState(kStateBadData);
    return false;
  }
  AddScaleLog(context, "File loaded. " + std::to_string(lineCount) + " lines.", 1);
  const bool fixed = settings.ImportFileFixField;
  AddScaleLog(context, fixed ? "Fix field mode. " : "Delimiter field mode. ", 1);

  PLULineParser parser(settings, StepDriver(context), plus, messages, context.AddLog);
  *context.FieldSeparator = parser.FieldSeparator();

  // Without record markers every line is at most one PLU (and one message),
  // so the lists are sized once, and the new memory of large lists is mapped
  // in on another thread while the lines are parsed. The lists do not move
  // until the load has waited for it.
  const bool markers = fixed ? settings.ImportExtraFormat == 1 : settings.ImportExtraFormat == 2;
  std::jthread prefault;
  if (!markers) {
    plus.reserve(lineCount);
    if (settings.ImportExtraFormat == 0 && AnyMessageFieldPlaced(settings))
      messages.reserve(lineCount);
    const size_t plusBytes = plus.capacity() * sizeof(MPLUData);
    const size_t messagesBytes = messages.capacity() * sizeof(MMessage);
    if (plusBytes + messagesBytes >= kPrefaultBytes) {
      prefault = std::jthread([plusData = static_cast<void*>(plus.data()), plusBytes,
                               messagesData = static_cast<void*>(messages.data()), messagesBytes] {
        PrefaultPages(plusData, plusBytes);
        PrefaultPages(messagesData, messagesBytes);
      });
    }
  }

  // A file that declared its encoding is not DOS text. The lines are read
  // and split on a second thread while this one parses them.
  const bool fromDos = !settings.ImportEncodingWindows && !file.declared();
  std::string readError;
  PLULineReader reader(
      [&file, &readError](const std::function<void(std::string_view)>& emit,
                          const std::function<bool()>& stopped) {
        return file.ForEachLine(emit, stopped, &readError);
      },
      {.FromDos = fromDos, .Split = !fixed, .Separator = parser.FieldSeparator()});
  size_t number = 0;
  while (const PLULineReader::Batch* batch = reader.Next()) {
    for (size_t i = 0; i < batch->size(); ++i) {
      ++number;
      if (fromDos)
        AddScaleLog(context, "Encoding from DOS. ", 1);
      bool taken = fixed ? parser.ParseFixedLine(batch->Line(i))
                         : parser.ParseDelimitedFields(batch->Fields(i));
      if (parser.DropInvalidLastPLU())
        taken = false;
      if (!taken)
        AddScaleLog(context, "Bad PLU string. String No: " + std::to_string(number) + ".", 5);
    }
  }
  if (prefault.joinable())
    prefault.join();  // before the lists may move
  if (!reader.ReadSucceeded())
    ThrowUnreadable(context, readError);

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
