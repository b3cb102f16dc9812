#pragma once
// RowReader: reads the records of a file on a thread of its own and hands
// them over in batches, in file order, each a call or a row that could not
// be read and why; the caller appends one batch while the next is read.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <istream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "import/ImportedCall.h"

namespace ordalis::import {

class CallFormat;

struct ReadRow {
  ImportedCall call;
  std::int64_t line = 0;  // where the record starts, from 1
  std::string problem;    // why it is not a call; empty for a call
  bool bad_header = false;  // the problem is the file's header: nothing more is read
};

class RowReader {
 public:
  struct Batch {
    std::vector<ReadRow> rows;
    std::size_t count = 0;  // rows[0, count) are filled
  };

  // Starts reading. A strict reader stops after the first bad row. `in` and
  // `format` must outlive it.
  RowReader(std::istream& in, CallFormat& format, bool strict);
  // Stops the reading and waits for its thread.
  ~RowReader();
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  // Swaps the next batch into `batch` (whose rows are reused); false at the
  // end of the file. Throws what stopped the reading (an unreadable stream)
  // once the rows read before it are handed over.
  bool Next(Batch& batch);

 private:
  void Work();
  // Hands a filled batch over; false when the caller stopped listening.
  bool Hand(Batch& batch);

  std::istream& in_;
  CallFormat& format_;
  const bool strict_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Batch> ready_;  // in file order, at most kBatchesAhead
  std::vector<Batch> spare_;  // handed back by the caller, to be filled again
  bool done_ = false;         // the reading ended
  bool stop_ = false;         // the caller went away
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace ordalis::import
