#pragma once
// SqliteDb: one open SQLite file, shared by the backend and the cursors it
// opened (so a resultset closed after its connection is still safe), with
// the one error check every sqlite3 call goes through and the write batch.
//
// Write batch: row writes of updatable cursors are grouped in one
// transaction (BEGIN IMMEDIATE), committed every SqliteOptions::batch_rows rows or
// SqliteOptions::batch_ms milliseconds, when a cursor that wrote closes
// (unless commits are held), on Flush and on Close, but never inside a
// unit: a unit's writes sit behind a savepoint taken at its first write,
// released when the unit is kept and rolled back to when it is not, and a
// commit due inside it waits for its end. A commit outside a unit runs
// before the next row is written, so a commit that fails because another
// process holds the database fails that row's Update (its edit stays
// pending) and keeps the batch open for the retry. A write or commit the
// database refuses for good (disk full, I/O error, read-only file) rolls the
// whole batch back and throws kErrWriteRefused with the number of rows it
// took back: those rows are in the file as they were before (as after a
// crash).
// The journal mode of the file is left as the host made it.
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/Cursor.h"

namespace ordalis::rdo {

// Tuning of an SQLite connection.
struct SqliteOptions {
  // How long a write (Update, the batch's BEGIN and COMMIT) waits for a lock
  // another process holds before it fails with "database is locked"; the
  // engine's own retry loop does the longer waiting.
  int write_busy_ms = 100;
  // Rows per batch transaction, and its longest life (bounds how long other
  // processes are kept from writing).
  int batch_rows = 20000;
  int batch_ms = 250;
  // Page cache of the connection, in KiB.
  int cache_kib = 64 * 1024;
  // How long Close keeps retrying a commit the database refuses as busy.
  int close_commit_ms = 5000;
  // Giving way to other writers: after a commit of the batch, the write
  // lock is left free until another connection commits, at most turn_ms,
  // after every commit while another writer committed in the last
  // polite_ms, else once every probe_ms (so that a writer that has just
  // begun to wait is found). A writer waiting with sqlite's own busy
  // timeout tries again at least every 100 ms. With a rollback journal the
  // run does not give way while a read of its own connection is open (that
  // read keeps its lock, which a writer let in would wait for while holding
  // the lock the run needs next).
  int turn_ms = 110;
  int polite_ms = 3000;
  int probe_ms = 2000;
  // The batch's longest life while another writer is active.
  int shared_batch_ms = 150;
  // While another writer is active, how long the batch's BEGIN waits for
  // it (its writes are short, but may end in a checkpoint).
  int shared_busy_ms = 2000;
};

class SqliteDb {
 public:
  // Opens an existing file; throws ComponentError when it is missing, not a
  // file, or not an SQLite database.
  SqliteDb(const std::string& path, int query_timeout_s, SqliteOptions options = SqliteOptions());
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  sqlite3* handle() const { return db_; }
  const std::string& path() const { return path_; }
  // The file's full name as sqlite resolved it at the open; empty for a
  // temporary or in-memory database.
  std::string FileName() const;

  // The one check: OK, ROW and DONE pass; anything else throws ComponentError
  // (kErrDataAccess) with sqlite's message for the connection.
  void Check(int rc) const {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc);
  }
  [[noreturn]] void Fail(int rc) const;
  // Prepared statement; throws with sqlite's message (syntax errors...).
  sqlite3_stmt* Prepare(std::string_view sql) const;

  void SetQueryTimeout(int seconds);
  // A statement's time limit (the query timeout) runs from Arm to Disarm.
  void ArmDeadline();
  void DisarmDeadline() noexcept;

  // Around each row write of an updatable cursor: BeginRowWrite commits a
  // full batch and opens the batch transaction (both may throw, nothing then
  // written); RowWritten counts the row in the batch.
  void BeginRowWrite();
  void RowWritten() {
    ++batch_count_;
    ++writes_;
    if (unit_bare_) unit_bare_changed_ = true;
  }
  // A statement of the caller's runs in the open unit.
  void StatementInUnit() {
    BeginRowWrite();
    if (unit_bare_) unit_bare_changed_ = true;  // it may take effect in part
  }
  // A statement run outside the cursors, which may have written rows
  // (of any table, or the schema).
  void StatementRun() {
    ++writes_;
    ++statements_;
    ForgetTableStamps();
    paging_.clear();
  }
  // The transaction of the open write batch (0 when none is open): rows
  // read in it can change only through this connection while it lasts.
  std::uint64_t BatchSerial() const { return in_batch_ ? batch_serial_ : 0; }
  // Rows written and statements run through this connection so far.
  std::uint64_t Writes() const { return writes_; }
  // From now on, rows of `table` changed through this connection are counted.
  void CountChanges(std::string_view table);
  // Rows of `table` changed through this connection since the open batch
  // began (triggers included); -1 when that is not known: outside a batch,
  // when the batch began before the counting, when a statement ran outside
  // the cursors, or when some change escaped the row-change hook (a WITHOUT
  // ROWID table, a truncation).
  std::int64_t TableChangesInBatch(std::string_view table) const;
  // After a failed write: when sqlite rolled the batch back, says so in the
  // error; throws in every case.
  [[noreturn]] void FailWrite(int rc);

  // Commits the batch; throws when it cannot (the batch then stays open when
  // sqlite kept it, e.g. for "database is locked"). Inside a unit that
  // wrote, the commit waits for the unit's end.
  void Flush();
  // The writes between BeginUnit and EndUnit are kept or taken back
  // together (Backend::BeginUnit).
  void BeginUnit();
  void EndUnit(bool keep);
  void LastWriteOfUnit();
  bool InUnit() const { return unit_open_; }
  // A batch holds writes not yet committed.
  bool UnitsPending() const;
  // Commits without throwing; false when the batch stays open.
  bool TryFlush() noexcept;
  // Commits (retrying while busy), else rolls back; marks the database closed
  // for writes. The handle itself closes with the last owner.
  void Close() noexcept;
  bool closed() const { return closed_; }

  bool InBatch() const { return in_batch_; }

  // A value that stays the same while the rows of `table` cannot have
  // changed: no other connection committed a change to the file (checked
  // once per batch), and this one changed no row of the table (triggers
  // included) and ran no statement outside its cursors. None outside a
  // batch transaction, where another writer may commit at any moment, and
  // for what is not a plain rowid table of the main schema, whose changes
  // would not all be seen. Equal values are never handed out for different
  // states, even by different connections.
  std::optional<std::uint64_t> TableStamp(std::string_view table);

  // While held, a cursor that wrote leaves its rows in the batch when it
  // closes; ending the hold commits what is held.
  void HoldCommits(bool hold) noexcept;
  bool CommitsHeld() const { return commits_held_; }

  // Prepared read-only statements kept for the next use of the same text.
  // TakeStatement hands one out (its statement is null when none is kept);
  // KeepStatement takes it back, or finalizes it once the database closed
  // or enough are kept.
  struct KeptStatement {
    sqlite3_stmt* stmt = nullptr;
    std::vector<ColumnInfo> columns;
  };
  KeptStatement TakeStatement(const std::string& sql);
  void KeepStatement(std::string sql, KeptStatement kept) noexcept;

  // Whether an updatable cursor's page statement reads its table as one
  // rowid range, as found before for the same text; forgotten when a
  // statement runs outside the cursors (it may have changed the schema).
  std::optional<bool> KnownPaging(const std::string& page_sql) const;
  void RememberPaging(const std::string& page_sql, bool paged);

 private:
  static int OnBusy(void* self, int count);
  static void OnRowChange(void* self, int op, const char* schema, const char* table, sqlite3_int64 rowid);
  void ForgetTableStamps();
  bool IsPlainTable(std::string_view table) const;
  std::int64_t DataVersion() const;
  static int OnProgress(void* self);
  void CommitBatch();
  void BeginBatch();
  bool CommitDue() const;
  // After a commit of the batch: lets a writer of another connection in.
  void GiveWay();
  // A statement of this connection is part-way through its rows.
  bool ReadingOpen() const;
  // Another connection committed lately.
  bool OtherWriterActive() const;
  bool JournalIsWal() const;
  void ExecSimple(const char* sql);
  // Runs one of the unit statements (savepoint, release, rollback to),
  // prepared at their first use and kept: every call takes and releases one.
  int RunUnitStatement(int which) noexcept;
  // Rolls the open batch back after a failure; the rows it took back.
  long DropBatch() noexcept;

  sqlite3* db_ = nullptr;
  std::string path_;
  SqliteOptions options_;
  int query_timeout_s_ = 0;
  int busy_limit_ms_ = -1;  // -1: no limit
  std::chrono::steady_clock::time_point busy_since_{};
  std::chrono::steady_clock::time_point deadline_{};
  bool deadline_armed_ = false;
  bool deadline_hit_ = false;
  bool in_batch_ = false;
  bool closed_ = false;
  bool commits_held_ = false;
  bool unit_open_ = false;
  bool unit_wrote_ = false;     // the unit's savepoint is taken (or unit_bare_)
  bool unit_last_write_ = false;  // announced: the unit writes once
  bool unit_bare_ = false;        // the unit wrote without a savepoint
  bool unit_bare_changed_ = false;  // and the write took effect
  sqlite3_stmt* unit_stmts_[3] = {nullptr, nullptr, nullptr};
  bool commit_wanted_ = false;  // a Flush waits for the unit's end
  // The message of a write refused for good, thrown again by every later
  // write until EndUnit or Flush has reported it (so that a caller that
  // swallowed the first report still learns that the batch was lost).
  std::string refused_;
  [[noreturn]] void ThrowRefused();
  // Rolls the batch back and keeps the reason for the next report.
  void LoseBatch(const std::string& reason);
  [[noreturn]] void Refuse(const std::string& reason);
  void CheckBatchAlive();
  long batch_count_ = 0;
  std::uint64_t batch_serial_ = 0;
  std::uint64_t writes_ = 0;
  std::int64_t batch_first_change_ = 0;
  struct WatchedTable {
    std::string name;
    std::optional<bool> plain;  // known once a stamp was asked for
    std::uint64_t stamp = 0;
    std::int64_t changes = 0, changes_at_batch = 0;  // rows changed so far, and when the batch began
    std::uint64_t counted_from_batch = 0;            // the first batch whose changes were all counted
  };
  WatchedTable& Watch(std::string_view table);
  const WatchedTable* Watched(std::string_view table) const;
  std::int64_t hooked_ = 0, hooked_at_batch_ = 0;  // changes the hook saw so far, and when the batch began
  std::uint64_t statements_ = 0, statements_at_batch_ = 0;
  std::vector<WatchedTable> watched_;
  std::uint64_t stamps_batch_ = 0;    // the batch in which the data version was last read
  std::int64_t data_version_ = -1;
  std::unordered_map<std::string, KeptStatement> kept_;
  std::unordered_map<std::string, bool> paging_;
  std::chrono::steady_clock::time_point batch_started_{};
  // After a commit between units found the database held by another
  // process, the next try waits until then.
  std::chrono::steady_clock::time_point commit_retry_at_{};
  // The data version last read, and when another connection was last seen
  // to commit and this one last gave way.
  std::int64_t version_seen_ = -1;
  bool wal_ = false;  // the file is in WAL mode
  std::chrono::steady_clock::time_point other_writer_at_{}, gave_way_at_{};

  friend class WriteLockWait;
};

// While alive, lock waits of the database are the short write wait.
class WriteLockWait {
 public:
  explicit WriteLockWait(SqliteDb& db);
  ~WriteLockWait();
  WriteLockWait(const WriteLockWait&) = delete;
  WriteLockWait& operator=(const WriteLockWait&) = delete;

 private:
  SqliteDb& db_;
  int saved_;
};

}  // namespace ordalis::rdo
