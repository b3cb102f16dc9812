#pragma once
// SqliteCursor: rows of one statement on an SQLite file.
//
// Read-only cursors step the statement as it is. Updatable cursors (keyset,
// optimistic) need a single-table SELECT; every row carries its rowid, and
// they run in one of two ways, chosen from sqlite's query plan:
//  - pages in rowid order, when the statement can be read as a range of
//    rowids: kPage rows at a time from the rowid after the last one read up
//    to the highest rowid at open (rows added later are not visited). A
//    row written back lies behind the next page, so it cannot come round
//    again, and no read lock is held while the caller works on a row;
//  - keys first otherwise (an index or a sort decides the order, which a
//    written row could change): the rowids are collected at open, 8 bytes a
//    row, and each row is read by its rowid when it is reached.
// A row deleted meanwhile is skipped. At most one page of values is held,
// and one more when the next page is read ahead: on a file, with a
// statement that reads no other table, the next page is read on another
// thread through another connection (SqlitePageReader) while the caller
// works on the rows of this one. That connection sees only what is
// committed, so the page is taken only when the batch transaction open when
// it was asked for is still open and holds nothing but this cursor's own
// writes (rows behind the page): what it read is then exactly what this
// connection would read. Otherwise the page is read again here. A row
// preparer runs on that thread over each page it reads; pages read here
// have no notes.
//
// Update runs inside the write batch's transaction (which holds sqlite's
// write lock, so nobody writes between the check and the write): it reads
// the changed columns of the row again, compares them, read the same way,
// with the values the row was read with, and writes those whose new value
// differs from the one read with
//   UPDATE t SET c=? ... WHERE _rowid_=?
// A row gone or a column that differs means another writer got there first
// (kErrRowChanged). The check is left out for a row read in the same batch
// transaction when nothing but this cursor has written since: nobody else
// can have changed it. Comparing values as read keeps a row a host stored in
// another accepted form (a date as 'YYYY-MM-DDTHH:MM:SS') from looking changed.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/Cursor.h"
#include "data/sqlite/SqlitePageReader.h"

namespace ordalis::rdo {

class SqliteDb;

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(std::shared_ptr<SqliteDb> db, const std::string& sql, bool updatable);
  // Over `sql` with its "?" markers bound to `values`; the prepared
  // statements are kept in the database for the next use of the same text.
  SqliteCursor(std::shared_ptr<SqliteDb> db, std::string sql, const std::vector<std::string_view>& values,
               bool updatable);
  ~SqliteCursor() override;

 private:
  enum class Mode { ReadOnly, Pages, Keys };
  static constexpr int kPage = 256;

  bool FetchNext() override;
  bool Updatable() const override { return kind_ != Mode::ReadOnly; }
  void SetRowPreparer(RowPreparer preparer) override;
  const RowNote* Note() const override;
  void WriteUpdate() override;
  void WriteInsert() override;
  void Reread() override;
  void Release() noexcept override;

  void OpenReadOnly(const std::string& sql);
  void OpenUpdatable(const std::string& sql, const std::vector<std::string_view>& values = {});
  // Statements of updatable cursors, by their text: one a cursor of this
  // connection prepared and gave back, or a new one.
  sqlite3_stmt* Statement(const std::string& sql);
  void GiveBack(sqlite3_stmt* stmt) noexcept;
  void BindValues(sqlite3_stmt* stmt) const;
  std::vector<ColumnInfo> Describe(sqlite3_stmt* stmt, int first) const;
  sqlite3_stmt* PointStatement();
  enum class Sql { Update, Check, Insert };
  static constexpr std::size_t kMaxCachedStatements = 64;
  // The statement of a kind over a set of columns, prepared once.
  sqlite3_stmt* CachedStatement(Sql kind, const std::vector<char>& columns);
  sqlite3_stmt* FindOrPrepare(Sql kind, const std::vector<char>& columns);
  // Binds without a copy: the value, and the text of a date, must stay
  // as they are until the statement has run.
  void BindValue(sqlite3_stmt* stmt, int param, const Variant& value);
  bool LoadPage();
  // The page asked of the reader, when it is as this connection reads it.
  bool TakePageAhead();
  void AskPageAhead();
  void CountOwnWrite();
  // The rows just read: whether they can have changed before a write is
  // decided from the batch and the writes of the moment.
  void NoteRead();
  bool UnchangedSinceRead() const;

  std::shared_ptr<SqliteDb> db_;
  Mode kind_ = Mode::ReadOnly;
  sqlite3_stmt* read_ = nullptr;   // read-only: the statement; pages: one page
  sqlite3_stmt* point_ = nullptr;  // one row by rowid
  std::string table_;      // as written in the statement
  std::string qualifier_;  // alias or table
  std::string list_;       // select list
  std::int64_t rowid_ = 0;
  std::int64_t max_rowid_ = 0;  // pages: highest rowid at open
  SqlitePage page_;
  std::size_t page_next_ = 0;  // the page's row after the current one
  bool pages_done_ = false;
  std::int64_t page_last_ = 0;  // rowid of the last row paged in
  std::string page_sql_;  // binds the values, then :rdo_after and :rdo_upto
  std::vector<std::string> values_;  // for the "?" markers of the statement
  bool read_ahead_ = false;  // pages of a file, with a statement that reads no other table
  std::unique_ptr<SqlitePageReader> ahead_;
  RowPreparer preparer_;
  std::uint64_t ahead_batch_ = 0;  // the batch open when the page ahead was asked for; 0: none asked for
  std::uint64_t own_batch_ = 0;    // the batch of this cursor's last write, and its writes in it
  std::int64_t own_in_batch_ = 0;
  std::vector<std::int64_t> keys_;
  std::size_t next_key_ = 0;
  std::vector<std::string> quoted_names_;
  // Prepared statements by kind and set of changed columns.
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  struct DateText {
    char text[32];
  };
  std::vector<DateText> date_texts_;  // by parameter: the texts of bound dates
  std::vector<char> write_;  // Update: the columns whose value differs from the row as read
  Sql last_kind_ = Sql::Update;  // the statement used last, found without a look-up
  std::vector<char> last_columns_;
  sqlite3_stmt* last_stmt_ = nullptr;
  bool wrote_ = false;
  std::string cache_key_;
  std::string kept_sql_;  // non-empty: read_ goes back to the database's kept statements
  std::uint64_t read_batch_ = 0, read_writes_ = 0, read_own_ = 0, own_writes_ = 0;
};

}  // namespace ordalis::rdo
