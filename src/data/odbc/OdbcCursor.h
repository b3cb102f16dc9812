#pragma once
// OdbcCursor: rows of one statement through ODBC.
//
// Statements are prepared once per connection and run again with the
// values bound as parameters; rows arrive in blocks (OdbcRows). Read-only
// cursors read as the driver delivers them (with psqlODBC, through a server
// cursor a block at a time). Updatable cursors (keyset, optimistic) need a
// single-table SELECT on a table with a primary key (or special columns the
// driver names):
// - On PostgreSQL, a statement without ORDER BY on a table with one integer
//   key reads its rows in key ranges of kRangeRows, in key order, up to the
//   largest key that matched when the first range was read (rows added
//   later are not visited), so no key list is held; a statement matching
//   fewer rows than one range takes one round trip. Once the cursor writes,
//   each next range is read ahead on another session while the caller works
//   through the one before (StartAhead, TakeAhead), most columns of a row
//   as one text (RecordText). A commit inside a range releases its locks:
//   its next rows are locked again, a window at a time (RelockRows).
// - Otherwise the keys are read first, then the rows by key, kChunk at a
//   time; a row deleted meanwhile is skipped.
//
// A row preparer runs over each block of rows of an updatable cursor when
// the block is read, on the caller's thread.
//
// Update writes the changed columns with one statement per row, inside the
// connection's write batch (a ranged cursor holds the updates of rows it
// read locked, see lock_ranges_):
//   UPDATE t SET c=? ... WHERE key=? ... AND (c=? | c IS NULL) ...
// comparing the changed columns with the values read; no row changed means
// another writer got there first (kErrRowChanged). A row locked by another
// transaction makes the Update wait up to the query timeout and fail.
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/Cursor.h"
#include "data/odbc/OdbcDb.h"
#include "data/odbc/OdbcRows.h"

namespace ordalis::rdo {

class OdbcCursor final : public Cursor {
 public:
  // `params` are the values of the statement's "?" markers, in order.
  OdbcCursor(std::shared_ptr<OdbcDb> db, const std::string& sql, std::vector<Variant> params, bool updatable);
  ~OdbcCursor() override;

 private:
  static constexpr std::size_t kRangeRows = 1000;
  static constexpr std::size_t kChunk = 64;
  static constexpr std::size_t kLookupRows = 32;
  static constexpr std::size_t kLockRestRows = 64;
  static constexpr std::size_t kRelockRows = 16;
  static constexpr int kRecordChars = 4000;  // a row read ahead as one text, at most

  bool FetchNext() override;
  void SetRowPreparer(RowPreparer preparer) override;
  const RowNote* Note() const override;
  void SetNotesTaken(NotesTaken taken) override;
  void SetRowsOwned() override { rows_owned_ = true; }
  // A row of a connection that was lost cannot be edited any more.
  bool Updatable() const override { return updatable_ && !db_->lost(); }
  void WriteUpdate() override;
  void WriteInsert() override;
  void Reread() override;
  void Release() noexcept override;

  void OpenReadOnly(const std::string& sql);
  void OpenUpdatable(const std::string& sql);
  std::vector<std::string> KeyColumns(const std::string& table);
  // Takes the kept statement for `sql`, binds the parameters (the
  // statement's own, then `more`) and runs it. With `above`, it reads the
  // rows whose keys are above that (a range).
  std::unique_ptr<OdbcStatement> Run(const std::string& sql, const std::vector<Variant>& more, bool with_params,
                                     std::optional<std::int64_t> above = std::nullopt);
  // Reads the next block of rows into block_; false when there are no more.
  bool LoadBlock();
  bool LoadRange();
  bool LoadChunk();
  // Prepares the rows of the block from `first` on, and tells their notes.
  void PrepareBlock(std::size_t first);
  bool FetchServerCursor();
  std::string KeyText(const Variant* key) const;
  // This cursor is about to write to its table.
  void Writing();
  // Runs a write statement kept for its text; returns the rows it changed.
  // A protected one (an insert, which may meet a key another session took)
  // is undone alone when it fails (OdbcDb::Protected).
  long Write(const std::string& sql, const std::vector<const Variant*>& values, bool protect);
  // Starts reading the range after last_key_ on the connection's ahead
  // session, while the caller works through this one.
  void StartAhead();
  // Takes the rows read ahead for the range after last_key_ into block_
  // once this session locked that range and found the same rows in the same
  // versions; false (nothing taken) otherwise.
  bool TakeAhead();
  // Locks the rows of the block from the current one on, skipping rows
  // other sessions hold locked: when every one is locked and still as read,
  // the block counts as read locked.
  void LockRestOfBlock();
  // The block's rows are not locked under this transaction from the
  // current one on (it committed since, or they are past the rows locked
  // again): locks the next relock_rows_ again, skipping rows other sessions
  // hold locked, and counts as locked those still in the version they were
  // read in (which rows read ahead know), up to the first that is not.
  // Tried again under the same transaction only past a window locked whole,
  // with one twice as long.
  void RelockRows();
  // Hands the update of a row of a locked block to the batch to run later
  // with others; false when it must be written now.
  bool HoldUpdate(const std::string& sql, const std::vector<const Variant*>& values);
  // The shape of held updates of the columns marked '1' in `mask`; null
  // when the table's rows cannot be written that way.
  std::shared_ptr<const OdbcDb::RowsShape> MakeShape(const std::string& mask);

  std::shared_ptr<OdbcDb> db_;
  bool updatable_ = false;
  bool rows_owned_ = false;
  std::vector<Variant> params_;
  // Read-only: the statement and its rows.
  std::string read_sql_;
  std::unique_ptr<OdbcStatement> read_;
  OdbcRows* rows_ = nullptr;                // read_'s
  bool streaming_ = false;
  std::string server_cursor_;               // the layer's server cursor, while open
  std::uint64_t cursor_rollbacks_ = 0;
  std::size_t block_rows_ = 0;              // rows read of the last FETCH
  // Updatable.
  std::string table_, qualifier_, list_;
  std::vector<std::string> key_names_;      // quoted
  std::vector<Variant::Kind> key_kinds_;
  std::vector<std::string> column_names_;   // quoted
  std::vector<OdbcColumn> read_columns_;    // key columns then the row's
  std::string from_, key_list_;
  bool ranged_ = false;
  std::string first_range_sql_;             // ranged: the first rows
  std::string top_sql_;                     // ranged: the largest key
  std::string range_sql_;                   // ranged: next rows after a key, up to the largest
  bool ranges_started_ = false;
  // Ranged, from the cursor's first update on: the next ranges are read
  // locked (range_lock_sql_), each in a transaction of its own, and their
  // rows' updates are held to run together (OdbcDb::HoldUpdate). The block
  // of the first update, read unlocked, is locked from that row on
  // (LockRestOfBlock).
  bool lock_ranges_ = false;
  std::string range_lock_sql_, lock_rest_sql_;
  // Ranged and locking: the next range read ahead on another session, with
  // each row's version (xmin) after its key, and the locking read of its
  // keys and versions that takes it over.
  std::string ahead_sql_, ahead_check_sql_, relock_sql_;
  // The columns (indices into read_columns_) ahead_sql_ reads as the text
  // of one row value (RecordText), in its order; none: read as columns.
  std::vector<std::size_t> ahead_record_;
  struct Ahead {
    std::int64_t above = 0;  // the range's keys are above this
    std::future<std::vector<std::vector<Variant>>> rows;
  };
  std::optional<Ahead> ahead_;
  std::uint64_t block_lock_serial_ = UINT64_MAX;  // the block's rows are locked under it,
  std::size_t locked_end_ = 0;                     // up to this one
  std::vector<std::int64_t> block_versions_;  // block_'s rows' versions (xmin), when known
  std::uint64_t relock_serial_ = UINT64_MAX;  // RelockRows' window, for this lock serial
  std::size_t relock_rows_ = 0;
  std::uint64_t block_writes_ = 0;  // the table's writes as of the block's read, and this cursor's since
  std::unordered_map<std::string, std::shared_ptr<const OdbcDb::RowsShape>> shapes_;  // by columns written, or null
  std::unordered_map<std::string, std::string> update_sql_;  // WriteUpdate's statements, by pattern
  Variant last_key_, max_key_;
  std::vector<Variant> keys_;               // keyed: key_names_.size() values a row
  std::size_t next_key_ = 0;                // keyed: row index into keys_
  std::string chunk_sql_;
  bool exhausted_ = false;
  std::vector<std::vector<Variant>> block_; // rows of the current block, key columns first
  std::size_t block_next_ = 0;
  std::vector<Variant> current_key_;
  // Updatable: notes of block_'s rows, prepared when the block is read.
  RowPreparer preparer_;
  NotesTaken notes_taken_;
  std::vector<std::unique_ptr<RowNote>> notes_;
  std::vector<Variant> preparing_;          // the row being prepared, without its key
  bool wrote_ = false;
};

}  // namespace ordalis::rdo
