#include "log/logoperations.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "common/newrxstrutils.h"
#include "common/verutil.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/system_formats.h"

namespace tarvo {

namespace {

const char kCrLf[] = "\r\n";

// How often the open log file is compared with the file its name leads to.
constexpr int64_t kFileCheckMillis = 1000;

std::string Stars() {
  return std::string(100, '*');
}

}  // namespace

LogProcessInfo LogProcessInfo::Current() {
  LogProcessInfo info;
  info.ExePath = ExecutablePath();
  info.FileVersion = GetFileVersion("");
  info.ComputerName = tarvo::ComputerName();
  info.UserName = tarvo::UserName();
  return info;
}

TSystemLog::TSystemLog(LogOptions options, const Clock& clock, LogProcessInfo process)
    : clock_(clock), process_(std::move(process)), options_(options) {}

TSystemLog::~TSystemLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (options_.Contains(slDisabled))
    return;
  WriteEventLocked("SystemLog: Log object destroed.", 3);
  WriteEventLocked("#Line", 0);
  WriteEventLocked("#CR", 0);
}

void TSystemLog::SetOptions(LogOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_ = options;
  if (options_.Contains(slDisabled))
    file_.reset();  // a disabled log holds no file open
}

void TSystemLog::SetOption(LogOption option, bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_ = options_.Switched(option, on);
  if (options_.Contains(slDisabled))
    file_.reset();
}

LogOptions TSystemLog::Options() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_;
}

std::string TSystemLog::FileName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_name_;
}

int32_t TSystemLog::LineCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return line_count_;
}

std::vector<std::string> TSystemLog::PendingLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_;
}

std::string TSystemLog::HeaderText() const {
  return HeaderTextNow();
}

std::string TSystemLog::HeaderTextNow() const {
  const DateTime now = clock_.LocalNow();
  std::string h;
  h += kCrLf;
  h += Stars() + kCrLf;
  h += Utf8ToAnsi("Время запуска:  ") + DateToStr(now) + " " + TimeToStr(now) + kCrLf;
  h += Utf8ToAnsi("Приложение:     ") + ExtractFileName(process_.ExePath) + kCrLf;
  h += Utf8ToAnsi("Версия:         ") + process_.FileVersion + " (R)" + kCrLf;
  h += Utf8ToAnsi("Путь/Имя файла: ") + process_.ExePath + kCrLf;
  h += Utf8ToAnsi("Компьютер:      ") + process_.ComputerName + kCrLf;
  h += Utf8ToAnsi("Пользователь:   ") + process_.UserName + kCrLf;
  h += Stars() + kCrLf;
  h += kCrLf;
  h += Utf8ToAnsi("События:") + kCrLf;
  return h;
}

void TSystemLog::WriteEvent(const std::string& text, int32_t level) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteEventLocked(text, level);
}

// Adds `text` to the event's output: the file buffer when a file is set,
// otherwise the pending lines.
void TSystemLog::EmitLocked(const std::string& text, std::string* out) {
  if (file_name_.empty()) {
    for (std::string& line : SplitLines(text))
      pending_.push_back(std::move(line));
  } else {
    *out += text;
  }
}

// Makes file_ the open file at file_name_. The file is opened with
// O_APPEND and no lock: the original system's open denied other writers, but
// here only this object writes the file, its events are serialised by
// mutex_ and each goes out in one write, so a reader (tail, a rotation that
// copies) never sees part of a line, and an advisory lock would bind nobody.
bool TSystemLog::OpenFileLocked() {
  if (!has_written_ && options_.Contains(slRewrite)) {
    file_.reset();
    if (FileExists(file_name_))
      DeleteFile(file_name_);
  }
  const int64_t now = clock_.NowMillis();
  if (file_ != nullptr && now >= next_check_millis_) {
    // Renamed away or deleted (a log rotation): the file is created again.
    next_check_millis_ = now + kFileCheckMillis;
    if (!file_->IsAt(file_name_))
      file_.reset();
  }
  if (file_ == nullptr) {
    if (!FileExists(file_name_))
      ForceDirectories(ExtractFileDir(file_name_));
    file_ = OpenAppendFile(file_name_);
    next_check_millis_ = now + kFileCheckMillis;
  }
  return file_ != nullptr;
}

void TSystemLog::WriteEventLocked(const std::string& text, int32_t level) {
  if (options_.Contains(slDisabled) || level < MinLevel())
    return;

  const bool to_file = !file_name_.empty();
  if (to_file && !OpenFileLocked())
    return;  // the event is lost; the next one tries again

  // The event is built whole and appended in one write; if the file cannot
  // be written the event is lost and leaves no trace (no number, no header).
  const int32_t saved_line_count = line_count_;
  std::string out;
  if (!has_written_ && options_.Contains(slHeader))
    EmitLocked(HeaderTextNow(), &out);

  const std::string word = AsciiLower(text);
  if (word == "#header") {
    EmitLocked(HeaderTextNow(), &out);
  } else if (word == "#line") {
    EmitLocked(Stars() + kCrLf, &out);
  } else if (word == "#cr") {
    EmitLocked(kCrLf, &out);
  } else {
    ++line_count_;
    std::string line;
    if (options_.Contains(slNumber)) {
      char number[16];
      std::snprintf(number, sizeof(number), "%.5d", line_count_);
      line += number;
      line += ": ";
    }
    line += "{" + std::to_string(level) + "} ";
    if (options_.Contains(slTime) || options_.Contains(slDate)) {
      const DateTime now = clock_.LocalNow();
      if (options_.Contains(slTime))
        line += "[" + FormatDateTime("hh:nn:ss.zzz", now) + "] ";
      if (options_.Contains(slDate))
        line += "[" + FormatDateTime("dd.mm.yyyy", now) + "] ";
    }
    line += text;
    line += kCrLf;
    EmitLocked(line, &out);
  }

  if (to_file && !file_->Append(out)) {
    line_count_ = saved_line_count;
    file_.reset();  // opened afresh for the next event
    return;
  }
  has_written_ = true;
}

void TSystemLog::SetFileName(const std::string& name) {
  if (name.empty())
    return;
  std::string full = name;
  if (ExtractFileExt(full).empty())
    full += ".log";
  if (ExtractFilePath(full).empty())
    full = ExtractFilePath(process_.ExePath) + full;

  std::lock_guard<std::mutex> lock(mutex_);
  if (full == file_name_)
    return;
  ForceDirectories(ExtractFileDir(full));

  if (file_name_.empty() && !pending_.empty()) {
    std::string out;
    for (const std::string& line : pending_) {
      out += line;
      out += kCrLf;
    }
    std::unique_ptr<AppendFile> file = OpenAppendFile(full);
    if (file == nullptr || !file->Append(out))
      return;  // the lines stay pending
    pending_.clear();
    file_ = std::move(file);
    next_check_millis_ = clock_.NowMillis() + kFileCheckMillis;
  } else {
    // Closed before the move, which a system that cannot rename an open
    // file needs; the next event opens it at its new name.
    file_.reset();
    if (has_written_ && !file_name_.empty()) {
      if (FileExists(full))
        DeleteFile(full);
      RenameFile(file_name_, full);
    }
  }
  file_name_ = full;
}

void LogQueue::Push(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (capacity_ == 0) {
    ++dropped_;
    return;
  }
  if (lines_.size() >= capacity_) {
    lines_.pop_front();
    ++dropped_;
  }
  lines_.push_back(line);
}

std::vector<std::string> LogQueue::TakeAll(size_t* dropped) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out(std::make_move_iterator(lines_.begin()),
                               std::make_move_iterator(lines_.end()));
  lines_.clear();
  if (dropped != nullptr)
    *dropped = dropped_;
  dropped_ = 0;
  return out;
}

size_t LogQueue::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.size();
}

void LogClients::Add(std::shared_ptr<LogQueue> queue) {
  if (!queue)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  queues_.push_back(std::move(queue));
}

void LogClients::Remove(const LogQueue* queue) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(queues_.begin(), queues_.end(),
                         [queue](const std::shared_ptr<LogQueue>& q) { return q.get() == queue; });
  if (it == queues_.end())
    return;
  (*it)->TakeAll();
  queues_.erase(it);
}

size_t LogClients::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queues_.size();
}

void LogClients::Broadcast(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::shared_ptr<LogQueue>& queue : queues_)
    queue->Push(line);
}

std::string LogClientLine(const std::string& text, int32_t level, const DateTime& now) {
  return "{" + std::to_string(level) + "} [" + FormatDateTime("hh:nn:ss.zzz", now) + "] " + text;
}

std::string CutEventText(const std::string& text) {
  if (text.size() <= kMaxEventTextBytes)
    return text;
  return text.substr(0, kMaxEventTextBytes) + " ... [" +
         std::to_string(text.size() - kMaxEventTextBytes) + " bytes cut]";
}

void LogWrite(TSystemLog& log, LogClients* clients, const Clock& clock, const std::string& text,
              int32_t level) noexcept {
  try {
    // A text of many megabytes (a whole import line) is cut once here, for
    // the file and the clients alike; an ordinary one is passed on as is.
    std::string cut;
    const std::string* event = &text;
    if (text.size() > kMaxEventTextBytes) {
      cut = CutEventText(text);
      event = &cut;
    }
    log.WriteEvent(*event, level);
    // The client line is only built when a client may take it; a client
    // that connects meanwhile gets the events from the next one on.
    if (clients != nullptr && clients->Count() > 0)
      clients->Broadcast(LogClientLine(*event, level, clock.LocalNow()));
  } catch (const std::exception& e) {
    try {
      log.WriteEvent(std::string("LogWrite: ") + e.what(), 5);
    } catch (...) {
      // Every thread logs through here, its last-resort handlers too:
      // nothing may escape.
    }
  } catch (...) {
    // Every thread logs through here: nothing may escape.
    try {
      log.WriteEvent("LogWrite: unknown error", 5);
    } catch (...) {
      // Nothing may escape (see above).
    }
  }
}

}  // namespace tarvo
