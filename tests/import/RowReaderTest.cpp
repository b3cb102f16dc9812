// The import's reading thread: rows and problems handed over in file order
// across many batches, a strict reader stopping at the first bad row, a
// stream that fails after a first part, and a caller that stops listening.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "import/CallFormat.h"
#include "import/RowReader.h"
#include "ordalis/ComponentError.h"

namespace ordalis::import {
namespace {

constexpr char kHeader[] = "site,extension,number,start,duration\n";

// `rows` calls; the duration of every `bad_every`-th one is not a number.
std::string Calls(int rows, int bad_every) {
  std::string text = kHeader;
  for (int i = 1; i <= rows; ++i)
    text += "MI,200,06" + std::to_string(1000000 + i) + ",2024-01-15 10:00:00," +
            (i % bad_every == 0 ? std::string("x") : std::to_string(i)) + "\n";
  return text;
}

// Each row as "line:number" or "line:!problem".
std::vector<std::string> ReadAll(RowReader& reader) {
  std::vector<std::string> out;
  RowReader::Batch batch;
  while (reader.Next(batch))
    for (std::size_t i = 0; i < batch.count; ++i) {
      const ReadRow& r = batch.rows[i];
      out.push_back(std::to_string(r.line) + ":" + (r.problem.empty() ? r.call.number : "!" + r.problem));
    }
  return out;
}

// ReadAll over `count` CSV calls, every `bad_every`th with a bad duration.
std::vector<std::string> ReadCalls(int count, int bad_every, bool strict) {
  auto format = MakeCsvFormat(ImportOptions());
  std::istringstream in(Calls(count, bad_every));
  RowReader reader(in, *format, strict);
  return ReadAll(reader);
}

TEST(RowReaderTest, RowsAndProblemsComeInFileOrderAcrossBatches) {
  const std::vector<std::string> rows = ReadCalls(9000, 1500, false);
  ASSERT_EQ(rows.size(), 9000u);
  for (int i = 1; i <= 9000; ++i) {
    const std::string& row = rows[static_cast<std::size_t>(i - 1)];
    const std::string line = std::to_string(i + 1) + ":";
    ASSERT_EQ(row.substr(0, line.size()), line) << i;
    if (i % 1500 == 0)
      EXPECT_EQ(row, line + "!duration is not a whole number of seconds: \"x\"");
    else
      EXPECT_EQ(row, line + "06" + std::to_string(1000000 + i));
  }
}

TEST(RowReaderTest, StrictReaderStopsAtTheFirstBadRowAndABadHeaderEndsTheFile) {
  const std::vector<std::string> rows = ReadCalls(5000, 2500, true);
  ASSERT_EQ(rows.size(), 2500u);
  EXPECT_EQ(rows.back(), "2501:!duration is not a whole number of seconds: \"x\"");

  auto other = MakeCsvFormat(ImportOptions());
  std::istringstream headless("MI,200,061,2024-01-15 10:00:00,5\n");
  RowReader reader(headless, *other, false);
  RowReader::Batch batch;
  ASSERT_TRUE(reader.Next(batch));
  ASSERT_EQ(batch.count, 1u);
  EXPECT_TRUE(batch.rows[0].bad_header);
  EXPECT_FALSE(reader.Next(batch));
}

// Gives `good` and then fails, as a file on a disk that went away.
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::string good) : good_(std::move(good)) {
    setg(good_.data(), good_.data(), good_.data() + good_.size());
  }

 protected:
  int_type underflow() override { throw std::runtime_error("read error"); }

 private:
  std::string good_;
};

TEST(RowReaderTest, AStreamThatFailsHandsOverTheRowsReadBeforeAndThenTheError) {
  const ImportOptions options;
  auto format = MakeCsvFormat(options);
  // More than one read of the reader's buffer (1 MiB) before the failure.
  FailingBuffer buffer(Calls(40000, 1000000));
  std::istream in(&buffer);
  RowReader reader(in, *format, false);
  RowReader::Batch batch;
  std::size_t rows = 0;
  try {
    while (reader.Next(batch)) rows += batch.count;
    FAIL() << "the failure of the stream must be reported";
  } catch (const ComponentError& e) {
    EXPECT_NE(std::string(e.Description()).find("cannot be read"), std::string::npos) << e.Description();
  }
  EXPECT_GT(rows, 10000u);
  EXPECT_LT(rows, 40000u);
}

TEST(RowReaderTest, ACallerThatStopsListeningEndsTheReading) {
  const ImportOptions options;
  auto format = MakeCsvFormat(options);
  std::istringstream in(Calls(50000, 1000000));
  RowReader reader(in, *format, false);
  RowReader::Batch batch;
  ASSERT_TRUE(reader.Next(batch));
  EXPECT_EQ(batch.rows[0].call.number, "061000001");
  // The reader, blocked with its batches ready, must not keep the
  // destructor waiting.
}

}  // namespace
}  // namespace ordalis::import
