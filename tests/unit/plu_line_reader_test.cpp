// PLULineReader: lines read, converted and split on the reader's thread
// arrive whole and in file order; failures and early ends pass over.

#include "query/plu_line_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "query/plu_line_split.h"

namespace tarvo {
namespace {

using Emit = std::function<void(std::string_view)>;
using Stopped = std::function<bool()>;

// A source that hands over `lines`, then answers `result`.
PLULineReader::LineSource SourceOf(const std::vector<std::string>& lines, bool result = true) {
  return [&lines, result](const Emit& emit, const Stopped&) {
    for (const std::string& line : lines)
      emit(line);
    return result;
  };
}

std::vector<std::string> Fields(const FieldList& fields) {
  std::vector<std::string> out;
  for (size_t i = 0; i < fields.size(); ++i)
    out.emplace_back(fields[i]);
  return out;
}

// Every line as the reader hands it over.
std::vector<std::string> ReadAll(PLULineReader& reader) {
  std::vector<std::string> out;
  while (const PLULineReader::Batch* batch = reader.Next()) {
    for (size_t i = 0; i < batch->size(); ++i)
      out.emplace_back(batch->Line(i));
  }
  return out;
}

TEST(PLULineReaderTest, LinesArriveInOrderAcrossBatchesWithTheirFields) {
  // Many short lines, an empty one, quoted fields and two lines longer
  // than a whole batch of text, so that lines land in many batches.
  std::vector<std::string> lines;
  for (int i = 0; i < 5000; ++i) {
    lines.push_back(std::to_string(i) + ",\"Name " + std::to_string(i) + ", fresh\"," +
                    std::string(static_cast<size_t>(i % 97), 'x'));
    if (i == 1200)
      lines.push_back("");
    if (i == 2500 || i == 2501)
      lines.push_back("big;" + std::string(300000, 'b') + "," + std::to_string(i));
  }
  PLULineReader reader(SourceOf(lines), {.Split = true, .Separator = ','});

  size_t n = 0;
  size_t batches = 0;
  while (const PLULineReader::Batch* batch = reader.Next()) {
    ++batches;
    for (size_t i = 0; i < batch->size(); ++i, ++n) {
      ASSERT_LT(n, lines.size());
      ASSERT_EQ(batch->Line(i), lines[n]) << "line " << n;
      FieldList expected;
      SplitDelimitedLine(lines[n], ',', &expected);
      ASSERT_EQ(Fields(batch->Fields(i)), Fields(expected)) << "line " << n;
    }
  }
  EXPECT_EQ(n, lines.size());
  EXPECT_GT(batches, 4u);  // batches were handed back and filled again
  EXPECT_TRUE(reader.ReadSucceeded());
}

TEST(PLULineReaderTest, DosLinesAreConvertedAndOnlySplitWhenAsked) {
  const std::vector<std::string> lines = {"1,\x8F\xE0\xA8\xA2\xA5\xE2", "2,plain"};
  PLULineReader reader(SourceOf(lines), {.FromDos = true, .Split = false});
  const PLULineReader::Batch* batch = reader.Next();
  ASSERT_NE(batch, nullptr);
  ASSERT_EQ(batch->size(), 2u);
  EXPECT_EQ(batch->Line(0), OemToAnsi(lines[0]));
  EXPECT_NE(batch->Line(0), lines[0]);
  EXPECT_EQ(batch->Line(1), "2,plain");
  EXPECT_EQ(reader.Next(), nullptr);
}

TEST(PLULineReaderTest, EmptyFileAndUnreadableFile) {
  const std::vector<std::string> none;
  PLULineReader empty(SourceOf(none), {});
  EXPECT_EQ(empty.Next(), nullptr);
  EXPECT_EQ(empty.Next(), nullptr);
  EXPECT_TRUE(empty.ReadSucceeded());

  // The lines read before the failure are handed over first.
  const std::vector<std::string> lines = {"1,a", "2,b", "3,c"};
  PLULineReader failed(SourceOf(lines, false), {.Split = true});
  EXPECT_EQ(ReadAll(failed), lines);
  EXPECT_FALSE(failed.ReadSucceeded());
}

TEST(PLULineReaderTest, AnErrorOfTheSourceIsRaisedAfterTheLinesBeforeIt) {
  PLULineReader reader(
      [](const Emit& emit, const Stopped&) -> bool {
        for (int i = 0; i < 3000; ++i)
          emit("line " + std::to_string(i));
        throw std::runtime_error("disk gone");
      },
      {});
  size_t n = 0;
  try {
    while (const PLULineReader::Batch* batch = reader.Next())
      n += batch->size();
    FAIL() << "no error raised";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "disk gone");
  }
  EXPECT_EQ(n, 3000u);
}

TEST(PLULineReaderTest, AReaderLeftEarlyStopsItsSource) {
  std::atomic<bool> sawStop{false};
  std::atomic<long> emitted{0};
  {
    PLULineReader reader(
        [&](const Emit& emit, const Stopped& stopped) {
          // An endless file: only stopping ends it.
          for (long i = 0;; ++i) {
            emit("1,endless line " + std::to_string(i));
            emitted = i + 1;
            if (i % 1000 == 0 && stopped()) {
              sawStop = true;
              return true;
            }
          }
        },
        {.Split = true});
    const PLULineReader::Batch* batch = reader.Next();
    ASSERT_NE(batch, nullptr);
    EXPECT_EQ(batch->Line(0), "1,endless line 0");
  }  // the parser gives up here, as on a driver error
  EXPECT_TRUE(sawStop);
  EXPECT_GT(emitted.load(), 0);
}

}  // namespace
}  // namespace tarvo
