// The reading half of the PLU load step: a thread of its own reads the data
// file's lines, converts DOS text and splits delimited lines into fields,
// ahead of the parser, and hands the lines over in file order, a batch at a
// time. The reader never touches the driver or the PLU lists.
#ifndef TARVO_QUERY_PLU_LINE_READER_H_
#define TARVO_QUERY_PLU_LINE_READER_H_

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "query/plu_fields.h"

namespace tarvo {

class PLULineReader {
 public:
  // Calls emit(line) for each line of the file in order, and checks
  // stopped() now and then: once it is true the rest of the file may be
  // skipped. False when the file cannot be read; the lines handed over
  // until then stay handed over.
  using LineSource = std::function<bool(const std::function<void(std::string_view line)>& emit,
                                        const std::function<bool()>& stopped)>;

  struct Options {
    bool FromDos = false;  // convert each line from DOS (OEM) to ANSI text
    bool Split = false;    // split each line with SplitDelimitedLine
    char Separator = ',';  // the field separator when splitting
  };

  // Lines handed over in file order. Views are valid until the next call
  // of Next().
  class Batch {
   public:
    size_t size() const { return count_; }
    // Line `i` as the parser gets it (converted when FromDos).
    std::string_view Line(size_t i) const { return lines_[i]; }
    // The fields of line `i`; only with Split.
    const FieldList& Fields(size_t i) const { return fields_[i]; }

   private:
    friend class PLULineReader;
    std::string text_;  // the lines back to back; never grows while views exist
    std::vector<std::string_view> lines_;
    std::vector<FieldList> fields_;
    size_t count_ = 0;
  };

  // Starts the thread, which runs `source` at once.
  PLULineReader(LineSource source, Options options);
  // Stops the thread and waits for it.
  ~PLULineReader();

  PLULineReader(const PLULineReader&) = delete;
  PLULineReader& operator=(const PLULineReader&) = delete;

  // The next batch, waiting for it; null after the last one. Raises what
  // the thread raised, after the lines read before it.
  const Batch* Next();

  // After Next() has returned null: false when the file could not be read.
  bool ReadSucceeded() const;

 private:
  static std::vector<std::unique_ptr<Batch>> MakeFullList();
  void Run();
  // A batch to fill, waiting while all are in use; null once stopped.
  std::unique_ptr<Batch> TakeFreeBatch();
  void Publish(std::unique_ptr<Batch> batch);

  const LineSource source_;
  const Options options_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Batch>> full_;  // read, in file order
  std::vector<std::unique_ptr<Batch>> free_;  // handed back, to be filled again
  std::unique_ptr<Batch> current_;            // the one the parser holds
  size_t batches_ = 0;                        // made so far
  bool stopped_ = false;                      // the parser has gone
  bool done_ = false;                         // the thread has finished
  bool read_ = true;                          // the file was read whole
  std::exception_ptr error_;

  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_LINE_READER_H_
