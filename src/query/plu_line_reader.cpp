#include "query/plu_line_reader.h"

#include <utility>

#include "platform/codepage.h"
#include "query/plu_line_split.h"

namespace tarvo {

namespace {

// A batch holds up to this many lines, or this much text (more only for one
// longer line).
constexpr size_t kBatchLines = 1024;
constexpr size_t kBatchBytes = size_t{128} << 10;
// Batches in use at once: one filled, one parsed and two waiting between.
constexpr size_t kBatchCount = 4;

}  // namespace

PLULineReader::PLULineReader(LineSource source, Options options)
    : source_(std::move(source)),
      options_(options),
      full_(MakeFullList()),
      thread_([this] { Run(); }) {}

std::vector<std::unique_ptr<PLULineReader::Batch>> PLULineReader::MakeFullList() {
  std::vector<std::unique_ptr<Batch>> list;
  list.reserve(kBatchCount);  // Publish() never allocates
  return list;
}

PLULineReader::~PLULineReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

const PLULineReader::Batch* PLULineReader::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (current_) {
    free_.push_back(std::move(current_));
    changed_.notify_all();
  }
  changed_.wait(lock, [this] { return !full_.empty() || done_; });
  if (!full_.empty()) {
    current_ = std::move(full_.front());
    full_.erase(full_.begin());
    return current_.get();
  }
  if (error_)
    std::rethrow_exception(error_);
  return nullptr;
}

bool PLULineReader::ReadSucceeded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return read_;
}

std::unique_ptr<PLULineReader::Batch> PLULineReader::TakeFreeBatch() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return stopped_ || !free_.empty() || batches_ < kBatchCount; });
  if (stopped_)
    return nullptr;
  if (free_.empty()) {
    ++batches_;
    auto batch = std::make_unique<Batch>();
    batch->text_.reserve(kBatchBytes);
    return batch;
  }
  std::unique_ptr<Batch> batch = std::move(free_.back());
  free_.pop_back();
  batch->text_.clear();
  batch->count_ = 0;
  return batch;
}

void PLULineReader::Publish(std::unique_ptr<Batch> batch) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    full_.push_back(std::move(batch));
  }
  changed_.notify_all();
}

void PLULineReader::Run() {
  bool read = true;
  std::exception_ptr error;
  std::unique_ptr<Batch> batch;
  try {
    batch = TakeFreeBatch();
    std::string converted;
    auto emit = [&](std::string_view line) {
      if (!batch)
        return;  // stopped
      if (options_.FromDos) {
        converted = OemToAnsi(std::string(line));
        line = converted;
      }
      if (batch->count_ == kBatchLines ||
          (batch->count_ > 0 && batch->text_.size() + line.size() > batch->text_.capacity())) {
        Publish(std::move(batch));
        if (!(batch = TakeFreeBatch()))
          return;
      }
      // Appending within the capacity leaves the earlier views valid.
      std::string& text = batch->text_;
      if (batch->count_ == 0 && line.size() > text.capacity())
        text.reserve(line.size());
      // The line counts only once it is complete: after a failure here the
      // lines before it are handed over, and nothing of it.
      const size_t i = batch->count_;
      if (batch->lines_.size() <= i) {
        batch->lines_.resize(i + 1);
        if (options_.Split)
          batch->fields_.resize(i + 1);
      }
      const size_t at = text.size();
      text.append(line);
      const std::string_view stored = std::string_view(text).substr(at, line.size());
      batch->lines_[i] = stored;
      if (options_.Split)
        SplitDelimitedLine(stored, options_.Separator, &batch->fields_[i]);
      ++batch->count_;
    };
    auto stopped = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      return stopped_;
    };
    read = source_(emit, stopped);
  } catch (...) {
    // The reading thread must survive anything: Next() rethrows it.
    error = std::current_exception();
  }
  // The lines read before an error are handed over before it.
  if (batch && batch->count_ > 0)
    Publish(std::move(batch));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    read_ = read;
    error_ = error;
    done_ = true;
  }
  changed_.notify_all();
}

}  // namespace tarvo
