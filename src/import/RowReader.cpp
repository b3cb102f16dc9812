#include "import/RowReader.h"

#include <algorithm>
#include <utility>

#include "import/CallFormat.h"
#include "import/CsvReader.h"

namespace ordalis::import {
namespace {

constexpr std::size_t kBatchRows = 1024;
constexpr std::size_t kBatchesAhead = 4;

}  // namespace

RowReader::RowReader(std::istream& in, CallFormat& format, bool strict)
    : in_(in), format_(format), strict_(strict), thread_([this] { Work(); }) {}

RowReader::~RowReader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool RowReader::Hand(Batch& batch) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stop_ || ready_.size() < kBatchesAhead; });
  if (stop_) return false;
  ready_.push_back(std::move(batch));
  batch = Batch();
  if (!spare_.empty()) {
    batch = std::move(spare_.back());
    spare_.pop_back();
  }
  batch.count = 0;
  lock.unlock();
  changed_.notify_all();
  return true;
}

void RowReader::Work() {
  Batch batch;
  try {
    CsvReader reader(in_);
    bool first = true;
    while (reader.Next()) {
      if (batch.rows.size() < kBatchRows) batch.rows.resize(kBatchRows);
      ReadRow& row = batch.rows[batch.count];
      row.line = reader.Line();
      row.problem.clear();
      row.bad_header = false;
      bool ends = false;
      try {
        if (first) {
          first = false;
          row.bad_header = true;  // until the header is read
          if (format_.Header(reader.Fields())) continue;
          row.bad_header = false;
        }
        if (!reader.Problem().empty()) throw BadRow(reader.Problem());
        format_.Read(reader.Fields(), row.call);
      } catch (const BadRow& e) {
        row.problem = e.what();
        ends = row.bad_header || strict_;
      }
      ++batch.count;
      if (ends) break;
      if (batch.count == kBatchRows && !Hand(batch)) return;
    }
  } catch (...) {
    std::lock_guard lock(mutex_);
    error_ = std::current_exception();
  }
  if (batch.count > 0 && !Hand(batch)) return;
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
}

bool RowReader::Next(Batch& batch) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || done_; });
  if (ready_.empty()) {
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    return false;
  }
  std::swap(batch, ready_.front());
  spare_.push_back(std::move(ready_.front()));  // its rows' text is reused
  ready_.erase(ready_.begin());
  lock.unlock();
  changed_.notify_all();
  batch.count = std::min(batch.count, batch.rows.size());
  return true;
}

}  // namespace ordalis::import
