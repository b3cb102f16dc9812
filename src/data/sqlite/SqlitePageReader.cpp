#include "data/sqlite/SqlitePageReader.h"

#include "data/sqlite/SqliteRow.h"

namespace ordalis::rdo {

SqlitePageReader::SqlitePageReader(std::string path, std::string page_sql, std::vector<std::string> values,
                                   std::vector<ColumnInfo> columns, std::size_t page_rows)
    : path_(std::move(path)),
      page_sql_(std::move(page_sql)),
      values_(std::move(values)),
      columns_(std::move(columns)),
      page_(page_rows, columns_.size()) {
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

bool SqlitePageReader::Take(SqlitePage& page) {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return ready_; });
  ready_ = false;
  if (!read_ok_) {
    broken_ = true;
    return false;
  }
  std::swap(page, page_);  // the reader fills the other one next time, reusing its storage
  return true;
}

void SqlitePageReader::SetPreparer(RowPreparer preparer) {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return !reading_; });
  preparer_ = std::move(preparer);
}

void SqlitePageReader::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || stop_; });
    if (stop_) return;
    requested_ = false;
    reading_ = true;
    const bool prepare = static_cast<bool>(preparer_);
    lock.unlock();
    bool ok = ReadPage();
    if (ok && prepare) {
      for (std::size_t i = 0; i < page_.count; ++i) {
        try {
          preparer_(page_.rows[i], page_.notes[i]);
        } catch (...) {
          page_.notes[i].reset();
        }
      }
    }
    page_.prepared = ok && prepare;
    lock.lock();
    read_ok_ = ok;
    reading_ = false;
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
      for (std::size_t i = 0; i < values_.size(); ++i)
        sqlite3_bind_text(stmt_, static_cast<int>(i) + 1, values_[i].data(), static_cast<int>(values_[i].size()),
                          SQLITE_STATIC);
    }
    const int after = static_cast<int>(values_.size()) + 1;
    sqlite3_bind_int64(stmt_, after, after_);
    sqlite3_bind_int64(stmt_, after + 1, up_to_);
    page_.count = 0;
    int rc = SQLITE_DONE;
    while (page_.count < page_.rows.size() && (rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
      page_.rowids[page_.count] = sqlite3_column_int64(stmt_, 0);
      ReadRow(stmt_, 1, columns_, page_.rows[page_.count]);
      ++page_.count;
    }
    sqlite3_reset(stmt_);  // no read lock kept between pages
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
  } catch (...) {
    if (stmt_) sqlite3_reset(stmt_);
    return false;
  }
}

}  // namespace ordalis::rdo
