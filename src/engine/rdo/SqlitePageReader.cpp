#include "engine/rdo/SqlitePageReader.h"

#include "engine/rdo/SqliteRow.h"

namespace ordalis::rdo {

SqlitePageReader::SqlitePageReader(std::string path, std::string page_sql, std::vector<ColumnInfo> columns,
                                   std::size_t page_rows)
    : path_(std::move(path)),
      page_sql_(std::move(page_sql)),
      columns_(std::move(columns)),
      rows_(page_rows, std::vector<Variant>(columns_.size())),
      rowids_(page_rows, 0) {
  thread_ = std::thread([this] { Work(); });
}

SqlitePageReader::~SqlitePageReader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  sqlite3_finalize(stmt_);
  sqlite3_close_v2(db_);
}

void SqlitePageReader::Request(std::int64_t after, std::int64_t up_to) {
  {
    std::lock_guard lock(mutex_);
    after_ = after;
    up_to_ = up_to;
    requested_ = true;
    ready_ = false;
  }
  wake_.notify_all();
}

bool SqlitePageReader::Take(std::vector<std::vector<Variant>>& rows, std::vector<std::int64_t>& rowids,
                            std::size_t& count) {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return ready_; });
  ready_ = false;
  if (!read_ok_) {
    broken_ = true;
    return false;
  }
  rows.swap(rows_);  // the reader fills the other buffers next time, reusing their text storage
  rowids.swap(rowids_);
  count = count_;
  return true;
}

void SqlitePageReader::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || stop_; });
    if (stop_) return;
    requested_ = false;
    lock.unlock();
    bool ok = ReadPage();
    lock.lock();
    read_ok_ = ok;
    ready_ = true;
    wake_.notify_all();
  }
}

bool SqlitePageReader::ReadPage() {
  try {
    if (!stmt_) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        return false;
      // The owner's connection holds the file only while it commits.
      sqlite3_busy_timeout(db_, 100);
      if (sqlite3_prepare_v3(db_, page_sql_.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK)
        return false;
    }
    sqlite3_bind_int64(stmt_, 1, after_);
    sqlite3_bind_int64(stmt_, 2, up_to_);
    count_ = 0;
    int rc = SQLITE_DONE;
    while (count_ < rows_.size() && (rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
      rowids_[count_] = sqlite3_column_int64(stmt_, 0);
      ReadRow(stmt_, 1, columns_, rows_[count_]);
      ++count_;
    }
    sqlite3_reset(stmt_);  // no read lock kept between pages
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
  } catch (...) {
    if (stmt_) sqlite3_reset(stmt_);
    return false;
  }
}

}  // namespace ordalis::rdo
