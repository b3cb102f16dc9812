#pragma once
// OdbcDb: one ODBC connection, shared by the backend and the cursors it
// opened, with the one check every ODBC return code goes through, and the
// statement and parameter helpers the backend and its cursors use.
//
// Text goes to the driver as UTF-16 (SQL_C_WCHAR), so that the driver
// manager's locale does not matter, and comes back so too, or as the bytes
// the server sent where it sends UTF-8 (utf8_text).
//
// Write batch: the connection runs in manual-commit mode. Row writes and
// statements are grouped in one transaction, committed every
// OdbcOptions::batch_rows rows or OdbcOptions::batch_ms milliseconds (checked
// before the next write), when a resultset that wrote closes (unless commits
// are held), on Flush and on Close. A unit of writes (BeginUnit/EndUnit) is
// never split by a commit; one that is given up is rolled back to a
// savepoint taken before its first write (or with the whole transaction when
// nothing else is in it). A commit that fails throws the driver's SQLSTATE
// and message and says how many rows went back to their previous values;
// the server has then rolled the batch back, as after a crash.
//
// With psqlODBC the driver's own savepoint around every statement is turned
// off (Protocol=7.4-0): a statement that fails aborts the server's
// transaction, and the layer rolls back to its last whole point (Failed).
//
// While every write of the batch is an update of a row through an
// updatable resultset, units take no savepoint: the layer keeps those
// updates (statement and values), and when a statement fails it rolls the
// transaction back and runs them again, all but the open unit's, so that
// only the failed unit is lost. A write of another kind (a statement, an
// insert) ends the log until the next commit; a unit begun without a
// savepoint that makes one gets its savepoint then, by the same replay.
// An update that no longer finds its row as it was loses the batch, as a
// failed commit does. Updates of rows read locked are held in that log and
// run together (HoldUpdate), from a thread of their own once enough wait;
// meanwhile look-ups may read through a second connection (ReaderFor).
//
// Read-only selects are read whole by the driver, except a read of a whole
// table, which goes through a server cursor of the layer's (OdbcCursor). A
// data source that sets UseDeclareFetch=1 has the driver read every select
// through a cursor that ends with the transaction: a due commit then waits
// while a read-only resultset is still being read (Flush and Close commit
// all the same).
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/odbc/OdbcRows.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"
#include "platform/TextLines.h"

namespace ordalis::rdo {

// The one check: success, success with info and no data pass; anything else
// throws ComponentError (kErrDataAccess) with the driver's diagnostic
// message (SQLSTATE and native code are kept in front of it).
void OdbcCheck(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle);
[[noreturn]] void OdbcFail(SQLSMALLINT handle_type, SQLHANDLE handle, SQLRETURN rc);

using platform::ToUtf16;
using platform::ToUtf8;

// A statement handle, freed on destruction.
class OdbcStatement {
 public:
  // utf8_text: the driver hands text over as the server's UTF-8 bytes
  // (OdbcDb::utf8_text).
  OdbcStatement(SQLHDBC dbc, int query_timeout_s, bool utf8_text = false);
  ~OdbcStatement();
  OdbcStatement(const OdbcStatement&) = delete;
  OdbcStatement& operator=(const OdbcStatement&) = delete;

  SQLHSTMT handle() const { return stmt_; }
  void Check(SQLRETURN rc) const { OdbcCheck(rc, SQL_HANDLE_STMT, stmt_); }
  void ExecDirect(std::string_view sql);
  void Prepare(std::string_view sql);
  void Execute();
  // Closes an open result so the statement can run again.
  void CloseCursor() noexcept;
  // Binds a value as parameter number (1-based). Each parameter keeps its
  // buffer in the statement: a kept statement run again with values of the
  // same kinds only copies them, without binding anew.
  void Bind(int number, const Variant& value);
  // Before the values of the next run are bound.
  void ResetParams() { bound_ = 0; }
  long RowCount();
  // The rows of the statement's last run, read into buffers bound at the
  // first call and kept with the statement while the columns and the block
  // size stay the same: a kept statement run again reads without binding
  // anew. Without columns, the statement's as the driver describes them.
  OdbcRows& Rows(std::size_t block_rows = OdbcRows::kBlockRows);
  OdbcRows& Rows(const std::vector<OdbcColumn>& columns, std::size_t block_rows = OdbcRows::kBlockRows);
  // The columns of the statement's result, as it reads them.
  std::vector<OdbcColumn> Columns() const { return DescribeColumns(stmt_, utf8_text_); }
  std::size_t RowBytes() const noexcept { return rows_ ? rows_->Bytes() : 0; }
  void DropRows() noexcept { rows_.reset(); }

 private:
  struct Param {
    SQLSMALLINT c_type = 0, sql_type = 0, digits = 0;
    SQLULEN size = 0;
    std::string data;
    SQLLEN length = 0;
  };
  void BindParam(std::size_t index);

  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool utf8_text_ = false;
  std::unique_ptr<OdbcRows> rows_;
  std::size_t rows_block_ = 0;
  std::deque<Param> params_;  // by number - 1; a deque keeps them in place
  std::size_t bound_ = 0;     // parameters bound for the next run
};

// Tuning of an ODBC connection.
struct OdbcOptions {
  // Rows per batch transaction, and its longest life (bounds how long other
  // sessions wait for the rows and the locks).
  int batch_rows = 20000;
  int batch_ms = 250;
  // Longest life of a table stamp: another session's commit is seen by the
  // users of TableStamp at the latest this long after it.
  int stamp_ms = 1000;
  // Each statement commits itself (a connection that only reads).
  bool autocommit = false;
};

class OdbcDb {
 public:
  // Connects with the connect string (no prompt); throws with the driver's
  // message (unknown data source, wrong password...).
  OdbcDb(const std::string& connect, int query_timeout_s, OdbcOptions options = OdbcOptions());
  ~OdbcDb();
  OdbcDb(const OdbcDb&) = delete;
  OdbcDb& operator=(const OdbcDb&) = delete;

  // The connection, for a statement about to be made: first waits for
  // held rows on their way to the server (see HoldUpdate), and throws when
  // they failed.
  SQLHDBC handle() {
    Settle();
    return dbc_;
  }
  int query_timeout() const { return query_timeout_s_; }
  void set_query_timeout(int seconds) { query_timeout_s_ = seconds; }
  bool closed() const { return closed_; }
  // The server or the session went away: nothing more can be read or
  // written through this connection.
  bool lost() const { return lost_; }
  // The server sends text as UTF-8 (PostgreSQL with client_encoding UTF8):
  // its statements read text as the bytes sent.
  bool utf8_text() const { return utf8_text_; }
  // Throws when the connection is closed or lost.
  void RequireUsable() const;
  // The driver's identifier quote ('"' unless it says otherwise).
  const std::string& quote() const { return quote_; }
  std::string QuoteName(std::string_view name) const;
  bool IsPostgres() const { return postgres_; }

  // Around each write (a row of an updatable resultset, a statement):
  // BeginWrite commits a due batch when no unit has written yet and takes
  // the unit's savepoint (both may throw, nothing then written); Written
  // counts the rows in the batch and the unit. A row update the batch's
  // log takes (BeginWrite says so) is handed to Logged once it changed its
  // row.
  // A write of rows other processes may write too (shared) ends a shared
  // run's unit with a commit.
  bool BeginWrite(bool row_update = false, bool shared = true, std::string_view table = {});
  void Written(long rows);
  void Logged(const std::string& sql, const std::vector<const Variant*>& values);
  // A statement that reads ran: the transaction is open.
  void ReadRan() { in_transaction_ = true; }

  // Changes whenever the transaction ends or goes back to a savepoint: rows
  // a resultset read and locked (FOR UPDATE) under the same serial are still
  // locked by this connection.
  std::uint64_t LockSerial() const { return rollbacks_ + commits_; }
  // The shape of updates that can be run together: the same columns of
  // rows of one table, found by one key.
  struct RowsShape {
    std::string table;                 // as the statements name it
    std::string key;                   // quoted
    std::vector<std::string> columns;  // quoted, the ones set
    // For each column of the table's row type (RowType), where its value
    // is among a row's values (the columns', then the key's); -1: none.
    std::vector<int> value_at;
    // The UPDATE of any number of rows, given as one array of the table's
    // row type, in its text form (the server reads each value as its
    // column's type; the columns not set are NULL).
    const std::string& Sql() const;
    // A row, the columns' values then the key's, as an element of that array.
    std::string Row(const std::vector<const Variant*>& values) const;
   private:
    mutable std::string sql_;
  };
  // The columns of the table's row type, in order, asked of the server
  // once; null when they cannot be known, or one's type is a domain (whose
  // checks could refuse the NULLs of the columns not set).
  const std::vector<std::string>* RowType(const std::string& table);
  // The update of a row read and locked under `lock_serial`, so that no
  // other session can have changed it: taken into the batch's log like a
  // row update (`sql` and `values` are its statement alone, key and check
  // included; the row counts as written), but run later, together with the
  // other rows held of the same shape, in one statement per group of rows:
  // before a commit, any other write, and any statement that names the
  // table. True when held; false, with nothing done, when the batch cannot
  // hold it (the caller then writes the row at once). Held rows that fail
  // when they run lose the batch (kErrWriteRefused).
  //
  // Once enough rows are held, they are sent from a thread of their own,
  // so that the server writes them while the caller goes on; every other
  // use of the connection first waits for them (Settle, Drain), and the
  // first call that reaches the server after they failed says so.
  // `written` are the new values of the shape's columns, then the key.
  bool HoldUpdate(std::uint64_t lock_serial, const std::shared_ptr<const RowsShape>& shape, const std::string& sql,
                  const std::vector<const Variant*>& values, const std::vector<const Variant*>& written,
                  std::int64_t key);
  // Waits for held rows on their way to the server; when they failed, the
  // next call that reaches the server says so.
  void Drain() noexcept;
  // While held rows are on their way, a read of `table` (as the statement
  // names it), which this transaction has not written, can go through
  // a second connection of the same data source: committed rows are all it
  // could see here too. Null when it cannot: nothing on its way, the table
  // written, or not a plain table of the database (a view, a temporary
  // table), a table written that has triggers or rules (which could have
  // written it), the second connection refused.
  std::shared_ptr<OdbcDb> ReaderFor(std::string_view table);
  // A statement is about to run: rows held for a table it names run first.
  void BeforeStatement(const std::string& sql);
  // A read of the rows of `table` whose keys are above `above` (the next
  // range of a ranged resultset) is about to run: held rows of the table
  // run first when one of them could be among those rows.
  void BeforeRangeRead(std::string_view table, std::int64_t above);
  // Between two blocks of locked rows, outside a unit: commits a due batch,
  // or any batch that wrote other than held rows (whose locks other
  // sessions may wait for), so that a commit seldom falls inside a block
  // and the block is read, locked and written in one transaction.
  void CommitBetweenBlocks();
  // Throws `error` (from a statement that failed on the server) after
  // putting the transaction right: psqlODBC runs without savepoints of its
  // own, so the server has aborted the transaction. Inside a unit that took
  // its savepoint the unit's writes are rolled back (and its further writes
  // refused until it ends), else the whole batch; the error then says how
  // many rows went back to their previous values.
  [[noreturn]] void Failed(const ComponentError& error);
  // Runs `f`, a write that may fail for reasons a caller retries (a unique
  // key another session took, a deadlock), behind a savepoint of its own on
  // PostgreSQL: when it fails, only it is undone and its error thrown.
  template <class F>
  decltype(auto) Protected(F&& f) {
    Settle();
    if (!postgres_) return f();
    TakeRowSavepoint();
    try {
      return f();
    } catch (const ComponentError& e) {
      UndoRow(e);
    }
  }
  // Runs `f`, a call that reaches the server, through Failed.
  template <class F>
  decltype(auto) Guarded(F&& f) {
    Settle();
    try {
      return f();
    } catch (const ComponentError& e) {
      Failed(e);
    }
  }
  // Commits the batch; throws when it cannot (the rows are then rolled back).
  // Inside a unit the commit waits for its end.
  void Flush();
  void HoldCommits(bool hold) noexcept;
  // A resultset that wrote closed: commits unless held or inside a unit.
  void WriterClosed() noexcept;
  void BeginUnit();
  void EndUnit(bool keep);
  // Each kept unit commits at its end (Backend::ShareRows), unless all it
  // wrote were held updates (rows this connection locked) or rows no other
  // process writes (Cursor::SetRowsOwned): nothing another process waits for.
  void ShareRows(bool shared) { share_rows_ = shared; }
  // Backend::TakeTurn: a transaction-scoped advisory lock on PostgreSQL.
  // With rows in the transaction, a statement that fails while asking for
  // it goes through Failed.
  void TakeTurn();
  // Rows of kept units wait for a commit.
  bool UnitsPending() const { return in_transaction_ && pending_ > 0; }
  // Backend::CommitOnFlush and CommitDue.
  void CommitOnFlush(bool on) noexcept { commit_on_flush_ = on; }
  bool CommitDue() const {
    return in_transaction_ && pending_ > 0 && !unit_open_ && streams_ == 0 && (shared_waiting_ || BatchDue());
  }
  // Commits what it can, else rolls back; marks the connection closed.
  void Close() noexcept;
  // Whether the driver reads selects through cursors of its own that end
  // with the transaction (UseDeclareFetch=1 in the connect string).
  bool DriverCursors() const { return driver_cursors_; }
  // A read-only resultset reading through such a cursor opened or ended.
  void StreamOpened() { ++streams_; }
  void StreamEnded() noexcept { --streams_; }
  // A session of its own for reading rows ahead on other threads
  // (autocommit: it sees what other sessions committed), opened at the
  // first call and kept until Close; null when the server refuses it. A
  // thread uses it only while it holds its Use lock.
  std::shared_ptr<OdbcDb> AheadSession();
  std::unique_lock<std::mutex> Use() { return std::unique_lock<std::mutex>(use_); }
  // Runs a statement without parameters or rows through Failed.
  void Run(const std::string& sql);
  // A new name for a server cursor of the layer's.
  std::string NewCursorName() { return "ordalis_rows_" + std::to_string(++cursors_); }
  // Rollbacks so far: a server cursor declared before the last one may be
  // gone.
  std::uint64_t Rollbacks() const { return rollbacks_; }
  // Closes a server cursor, when it can be known to exist; never throws.
  void CloseCursor(const std::string& name, std::uint64_t rollbacks_at_declare) noexcept;

  // A value that stays the same while the rows of `table` have not changed
  // as far as this connection can tell: it wrote nothing to the table and
  // rolled nothing back, and the stamp is younger than
  // OdbcOptions::stamp_ms (other sessions commit when they like).
  std::uint64_t TableStamp(std::string_view table);
  // This connection is about to write to `table`, or to run a write
  // statement (which names its table, or else may write any).
  void TableWritten(std::string_view table);
  void StatementWrites(std::string_view sql);
  // How many writes to `table` this connection began so far (a statement
  // that does not name its table counts for every table).
  std::uint64_t TableWrites(std::string_view table) const;

  // Prepared statements kept for the next use of the same text. Take hands
  // one out (prepared, or made and prepared); Keep takes it back.
  std::unique_ptr<OdbcStatement> Take(const std::string& sql);
  void Keep(const std::string& sql, std::unique_ptr<OdbcStatement> stmt) noexcept;

  // What an updatable resultset found about its statement at an earlier
  // open (the table's key columns, the columns read), by statement text;
  // null when not known.
  struct Shape {
    std::vector<std::string> keys;
    std::vector<OdbcColumn> columns;
  };
  const Shape* KnownShape(const std::string& sql) const;
  void RememberShape(const std::string& sql, Shape shape);

 private:
  void Connect(const std::string& connect);
  void Disconnect() noexcept;
  void Commit();
  // Close's commit: an open unit is taken back, the rest committed.
  void CommitAtClose() noexcept;
  void ExecSimple(const std::string& sql);
  void TakeRowSavepoint();
  [[noreturn]] void UndoRow(const ComponentError& error);
  bool TryExec(const std::string& sql) noexcept;
  // Rolls the transaction back and runs the logged updates of the batch up
  // to `upto` again, taking the unit's savepoint before the one at
  // `savepoint_at` when there is one; false (the transaction then rolled
  // back) when one fails or no longer finds its row.
  bool RollBackAndReplay(std::size_t upto, std::size_t savepoint_at = SIZE_MAX) noexcept;
  // The transaction ended: nothing of the batch is pending.
  void ForgetBatch() noexcept;
  static std::string BatchLost(long rows);
  // Rolls the whole transaction back and forgets the batch (`why` breaks
  // the open unit); returns how many rows it had.
  long RollBackBatch(const std::string& why) noexcept;

  OdbcOptions options_;
  bool postgres_ = false;
  bool utf8_text_ = false;
  bool in_transaction_ = false;
  long pending_ = 0;        // rows written since the last commit
  bool unit_open_ = false;
  long unit_rows_ = 0;      // rows the open unit wrote
  bool savepoint_ = false;  // the open unit's savepoint is taken
  bool stale_savepoint_ = false;  // an earlier unit's savepoint is still there
  bool stale_row_savepoint_ = false;  // a protected write's savepoint is still there
  bool commit_wanted_ = false;    // a Flush or a close came inside a unit
  bool share_rows_ = false;
  bool unit_wrote_shared_ = false;  // the open unit wrote rows other processes may write
  // Runs the held row updates; on failure the batch is lost.
  void RunHeld();
  // Sends them from a thread of their own.
  void SendHeld();
  // Drain, then throws when the rows sent failed (the batch is then lost).
  void Settle();
  [[noreturn]] void HeldFailed(const std::string& table, const ComponentError& error);
  // The statements of the held rows not run yet, one per shape, bound.
  struct HeldRows {
    std::shared_ptr<const RowsShape> shape;
    std::unique_ptr<OdbcStatement> stmt;
    long count;
  };
  std::vector<HeldRows> BindHeld();
  // BindHeld; when it fails, the batch is lost.
  std::vector<HeldRows> BindHeldOrFail();
  // Held rows run at once or sent from a thread.
  struct Sending {
    std::vector<HeldRows> rows;
    // How many rows each statement changed, until the one that failed.
    std::vector<long> changed;
    std::optional<ComponentError> error;
    std::future<void> done;  // sent from a thread: when it is through
  };
  // Runs the statements in order, until one fails.
  static void RunRows(Sending& run) noexcept;
  // Keeps the statements; the first that failed or missed rows becomes
  // send_error_ (told by Settle).
  void Collect(Sending& run) noexcept;
  std::unique_ptr<Sending> sending_;
  std::string connect_;
  std::shared_ptr<OdbcDb> reader_;
  bool reader_refused_ = false;
  std::shared_ptr<OdbcDb> ahead_;
  bool ahead_refused_ = false;
  // Another session of the same data source in autocommit: `kept` while it
  // is usable, else a new one; null, and `refused` set for good, when the
  // server refuses it.
  const std::shared_ptr<OdbcDb>& SideSession(std::shared_ptr<OdbcDb>& kept, bool& refused);
  std::mutex use_;
  // What the second connection found about a table, by TableNameKey: a
  // plain table (for reads), no triggers or rules (for writes).
  std::unordered_map<std::string, bool> plain_tables_, quiet_tables_;
  // Asks the second connection `sql` (one parameter, the key; one value,
  // 1 for yes) once per key; no when it cannot answer.
  bool AskReader(std::unordered_map<std::string, bool>& known, const std::string& key, const char* sql) noexcept;
  // TableNameKey of the tables the open transaction wrote (or any table).
  std::unordered_set<std::string> written_tables_;
  bool wrote_any_table_ = false;
  std::unordered_map<std::string, std::uint64_t> table_writes_;  // TableWrites', by TableNameKey
  std::uint64_t any_table_writes_ = 0;
  std::optional<ComponentError> send_error_;
  std::string send_error_table_;
  // The batch's writes, while each is a row update.
  struct LoggedWrite {
    std::string sql;
    std::vector<Variant> values;
    std::shared_ptr<const RowsShape> held;  // a held update's shape
    std::string row;                        // and its row (RowsShape::Row)
  };
  std::vector<LoggedWrite> log_;
  std::size_t run_upto_ = 0;  // log_ from here on: held updates not run yet
  std::unordered_set<std::int64_t> held_keys_;
  // The tables of held updates (TableNameKey) and the largest key held.
  struct HeldTable {
    std::string name;
    std::int64_t top;
  };
  std::vector<HeldTable> held_tables_;
  bool HoldsRowsOf(std::string_view table) const;
  bool batch_unheld_ = false;  // the batch wrote other than held updates
  // Whether the batch is old or large enough to commit.
  bool BatchDue() const;
  bool log_complete_ = true;
  std::size_t unit_log_start_ = 0;  // the open unit's first logged write
  std::string broken_unit_;       // why the open unit's writes were rolled back
  bool commits_held_ = false;
  bool commit_on_flush_ = false;
  bool shared_waiting_ = false;  // under commit_on_flush_: a kept unit wrote rows others may write
  int streams_ = 0;
  bool driver_cursors_ = false;
  bool lost_ = false;
  std::string lost_reason_;
  std::uint64_t cursors_ = 0, rollbacks_ = 0, commits_ = 0;
  std::chrono::steady_clock::time_point batch_started_{};
  std::unordered_multimap<std::string, std::unique_ptr<OdbcStatement>> kept_;
  std::size_t kept_row_bytes_ = 0;  // row buffers of the kept statements
  std::unordered_map<std::string, std::optional<std::vector<std::string>>> row_types_;  // RowType's
  std::unordered_map<std::string, Shape> shapes_;
  // Stamps handed out, by TableNameKey, since stamps_taken_.
  std::unordered_map<std::string, std::uint64_t> stamps_;
  std::uint64_t stamp_serial_ = 0, stamps_rollbacks_ = 0;
  std::chrono::steady_clock::time_point stamps_taken_{};
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool closed_ = false;
  int query_timeout_s_ = 0;
  std::string quote_ = "\"";
};

}  // namespace ordalis::rdo
