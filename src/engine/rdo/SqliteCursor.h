#pragma once
// SqliteCursor: rows of one statement on an SQLite file.
//
// Read-only cursors step the statement as it is. Updatable cursors (keyset,
// optimistic) need a single-table SELECT; every row carries its rowid, and
// they run in one of two ways, chosen from sqlite's query plan:
//  - streaming, when the plan is a plain scan of the table in rowid order:
//    rows written back behind the scan cannot come round again, and rows
//    added after the open (rowid above the highest one at open) are not
//    visited;
//  - keys first otherwise (an index or a sort decides the order, which a
//    written row could change): the rowids are collected at open, 8 bytes a
//    row, and each row is read by its rowid when it is reached; a row deleted
//    meanwhile is skipped.
// Neither holds more than one row's values.
//
// Update writes the changed columns with
//   UPDATE t SET c=? ... WHERE _rowid_=? AND c IS <value as read> ...
// comparing the changed columns with the values stored when the row was read
// (exactly as stored, whatever form a host wrote them in); no row changed
// means another writer got there first (kErrRowChanged).
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/rdo/Cursor.h"

namespace ordalis::rdo {

class SqliteDb;

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(std::shared_ptr<SqliteDb> db, const std::string& sql, bool updatable);
  ~SqliteCursor() override;

 private:
  enum class Mode { ReadOnly, Stream, Keys };

  bool FetchNext() override;
  bool Updatable() const override { return kind_ != Mode::ReadOnly; }
  void WriteUpdate() override;
  void WriteInsert() override;
  void Reread() override;
  void OnFirstChange(int index) override;
  void OnEditEnded() noexcept override;
  void Release() noexcept override;

  void OpenReadOnly(const std::string& sql);
  void OpenUpdatable(const std::string& sql);
  std::vector<ColumnInfo> Describe(sqlite3_stmt* stmt, int first) const;
  void ReadRow(sqlite3_stmt* stmt, int first);
  sqlite3_stmt* PointStatement();
  sqlite3_stmt* CachedStatement(std::unordered_map<std::string, sqlite3_stmt*>& cache, bool insert);
  void BindValue(sqlite3_stmt* stmt, int param, const Variant& value);
  void FreeOriginals() noexcept;

  std::shared_ptr<SqliteDb> db_;
  Mode kind_ = Mode::ReadOnly;
  sqlite3_stmt* read_ = nullptr;   // the streamed statement
  sqlite3_stmt* point_ = nullptr;  // one row by rowid
  // The statement still positioned on the current row as read; null once the
  // row was written (row_ then holds exactly what is stored).
  sqlite3_stmt* source_ = nullptr;
  std::string table_;      // as written in the statement
  std::string qualifier_;  // alias or table
  std::string list_;       // select list
  std::int64_t rowid_ = 0;
  std::int64_t max_rowid_ = 0;  // streaming: highest rowid at open
  std::vector<std::int64_t> keys_;
  std::size_t next_key_ = 0;
  std::vector<sqlite3_value*> original_;  // per column, stored value as read (changed columns)
  std::vector<std::string> quoted_names_;
  std::unordered_map<std::string, sqlite3_stmt*> update_cache_;
  std::unordered_map<std::string, sqlite3_stmt*> insert_cache_;
  std::string cache_key_;
};

}  // namespace ordalis::rdo
