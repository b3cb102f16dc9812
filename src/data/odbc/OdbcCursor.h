#pragma once
// OdbcCursor: rows of one statement through ODBC.
//
// Read-only cursors fetch the statement as the driver delivers it (psqlODBC
// buffers a result in client memory unless the data source sets
// UseDeclareFetch=1; the engine's read-only statements are counts and
// look-ups). Updatable cursors (keyset, optimistic) need a single-table
// SELECT on a table with a primary key (or special columns the driver
// names): the keys are read first, then the rows are read by key, 64 at a
// time, so that only the keys and one chunk of rows are held. A row deleted
// meanwhile is skipped.
//
// Update writes the changed columns with one statement per row on the same
// connection (autocommit):
//   UPDATE t SET c=? ... WHERE key=? ... AND (c=? | c IS NULL) ...
// comparing the changed columns with the values read; no row changed means
// another writer got there first (kErrRowChanged). A row locked by another
// transaction makes the Update wait up to the query timeout and fail.
#include <memory>
#include <string>
#include <vector>

#include "data/Cursor.h"
#include "data/odbc/OdbcDb.h"

namespace ordalis::rdo {

class OdbcCursor final : public Cursor {
 public:
  OdbcCursor(std::shared_ptr<OdbcDb> db, const std::string& sql, bool updatable);
  ~OdbcCursor() override;

 private:
  static constexpr std::size_t kChunk = 64;

  bool FetchNext() override;
  bool Updatable() const override { return updatable_; }
  void WriteUpdate() override;
  void WriteInsert() override;
  void Reread() override;
  void Release() noexcept override;

  void OpenReadOnly(const std::string& sql);
  void OpenUpdatable(const std::string& sql);
  std::vector<std::string> KeyColumns(const std::string& table);
  std::vector<ColumnInfo> Describe(SQLHSTMT stmt, int first, std::vector<std::string>* names) const;
  // Reads column `column` (1-based) of the fetched row as `kind`.
  Variant ReadColumn(SQLHSTMT stmt, int column, Variant::Kind kind) const;
  void LoadChunk();
  std::string KeyText(const Variant* key) const;
  std::string KeyCondition() const;

  std::shared_ptr<OdbcDb> db_;
  bool updatable_ = false;
  std::unique_ptr<OdbcStatement> read_;
  std::vector<Variant::Kind> read_kinds_;  // key columns then the row's
  std::string table_, qualifier_, list_;
  std::vector<std::string> key_names_;      // quoted
  std::vector<Variant::Kind> key_kinds_;
  std::vector<std::string> column_names_;   // quoted
  std::vector<Variant> keys_;               // key_names_.size() values a row
  std::size_t next_key_ = 0;                // row index into keys_
  std::vector<std::vector<Variant>> chunk_; // the rows of the current chunk, key columns first
  std::size_t chunk_next_ = 0;
  std::vector<Variant> current_key_;
};

}  // namespace ordalis::rdo
