#pragma once
// SqlitePageReader: reads the next page of a paged cursor on a thread of its
// own, through a read-only connection of its own to the same file, while the
// cursor's owner works on the rows of the current page.
//
// It sees only what is committed in the file, so its pages are worth what a
// read through the cursor's connection would give only while that
// connection's open transaction holds nothing but the cursor's own writes of
// rows behind the page (the cursor decides; see SqliteCursor). A page that
// cannot be read (busy file, any error) is reported as not read, and the
// reader reads no more: the cursor then reads its pages itself. With a row
// preparer, each row read is prepared here too, into the row's note.
#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data/Cursor.h"

namespace ordalis::rdo {

// Rows of a paged cursor, kept from page to page so that their storage is
// reused.
struct SqlitePage {
  SqlitePage() = default;
  SqlitePage(std::size_t rows, std::size_t columns)
      : rows(rows, std::vector<Variant>(columns)), rowids(rows, 0), notes(rows) {}
  std::vector<std::vector<Variant>> rows;
  std::vector<std::int64_t> rowids;
  std::vector<std::unique_ptr<RowNote>> notes;
  std::size_t count = 0;   // rows filled
  bool prepared = false;   // whether the notes of those rows were prepared
};

class SqlitePageReader {
 public:
  // `page_sql` has the rowid first and binds `values` to its first markers,
  // then :rdo_after (after this rowid) and :rdo_upto (up to this rowid);
  // `columns` describe the columns after the rowid.
  SqlitePageReader(std::string path, std::string page_sql, std::vector<std::string> values,
                   std::vector<ColumnInfo> columns, std::size_t page_rows);
  ~SqlitePageReader();
  SqlitePageReader(const SqlitePageReader&) = delete;
  SqlitePageReader& operator=(const SqlitePageReader&) = delete;

  // Starts reading the rows after `after` up to `up_to`.
  void Request(std::int64_t after, std::int64_t up_to);
  // Waits for the page of the last request; true with it swapped into
  // `page` (which must have page_rows slots), false when it could not be read.
  bool Take(SqlitePage& page);
  bool Broken() const { return broken_; }
  // For the pages read from now on; waits for a page under way.
  void SetPreparer(RowPreparer preparer);

 private:
  void Work();
  bool ReadPage();  // on the reader's thread

  const std::string path_, page_sql_;
  const std::vector<std::string> values_;
  const std::vector<ColumnInfo> columns_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  SqlitePage page_;
  RowPreparer preparer_;
  std::int64_t after_ = 0, up_to_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false, ready_ = false, read_ok_ = false, stop_ = false, reading_ = false;
  bool broken_ = false;  // owner's side: a page failed, no more requests
  std::thread thread_;
};

}  // namespace ordalis::rdo
