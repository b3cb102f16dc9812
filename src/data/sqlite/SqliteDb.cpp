#include "data/sqlite/SqliteDb.h"

#include <atomic>
#include <cctype>
#include <thread>

#include "data/Cursor.h"
#include "data/RdoTypes.h"
#include "ordalis/ComponentError.h"

namespace ordalis::rdo {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

SqliteDb::SqliteDb(const std::string& path, int query_timeout_s, SqliteOptions options)
    : path_(path), options_(options), query_timeout_s_(query_timeout_s) {
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  std::string message;
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db_, 0);
    busy_limit_ms_ = query_timeout_s_ > 0 ? query_timeout_s_ * 1000 : -1;
    sqlite3_busy_handler(db_, &SqliteDb::OnBusy, this);
    sqlite3_progress_handler(db_, 20000, &SqliteDb::OnProgress, this);
    sqlite3_update_hook(db_, &SqliteDb::OnRowChange, this);
    // Reading the schema makes a directory, an empty path or a file that is
    // not a database fail here rather than at the first statement.
    rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      // This connection's page cache only (nothing is stored in the file):
      // large enough for a whole write batch, so a batch never spills.
      std::string pragma = "PRAGMA cache_size = -" + std::to_string(options_.cache_kib);
      rc = sqlite3_exec(db_, pragma.c_str(), nullptr, nullptr, nullptr);
      version_seen_ = DataVersion();
      gave_way_at_ = Clock::now();
      wal_ = JournalIsWal();
    }
  }
  if (rc != SQLITE_OK) {
    message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    ThrowDataError(message + " (" + path + ")");
  }
}

std::string SqliteDb::FileName() const {
  const char* name = db_ ? sqlite3_db_filename(db_, "main") : nullptr;
  return name ? name : "";
}

SqliteDb::~SqliteDb() {
  Close();
  sqlite3_close_v2(db_);
}

SqliteDb::KeptStatement SqliteDb::TakeStatement(const std::string& sql) {
  auto it = kept_.find(sql);
  if (it == kept_.end()) return {};
  KeptStatement kept = std::move(it->second);
  kept_.erase(it);
  return kept;
}

void SqliteDb::KeepStatement(std::string sql, KeptStatement kept) noexcept {
  constexpr std::size_t kMostKept = 32;
  sqlite3_reset(kept.stmt);
  sqlite3_clear_bindings(kept.stmt);
  try {
    if (!closed_ && kept_.size() < kMostKept && kept_.emplace(std::move(sql), std::move(kept)).second) return;
  } catch (...) {
  }
  sqlite3_finalize(kept.stmt);
}

std::optional<bool> SqliteDb::KnownPaging(const std::string& page_sql) const {
  auto it = paging_.find(page_sql);
  return it == paging_.end() ? std::nullopt : std::optional<bool>(it->second);
}

void SqliteDb::RememberPaging(const std::string& page_sql, bool paged) {
  constexpr std::size_t kMostRemembered = 64;
  if (paging_.size() >= kMostRemembered) paging_.clear();
  paging_[page_sql] = paged;
}

void SqliteDb::Fail(int rc) const {
  if (rc == SQLITE_INTERRUPT && deadline_hit_) ThrowDataError("Query timeout expired");
  ThrowDataError(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
}

sqlite3_stmt* SqliteDb::Prepare(std::string_view sql) const {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                              nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt);
    Fail(rc);
  }
  if (!stmt) ThrowDataError("The statement is empty");
  return stmt;
}

void SqliteDb::SetQueryTimeout(int seconds) {
  query_timeout_s_ = seconds;
  busy_limit_ms_ = seconds > 0 ? seconds * 1000 : -1;
}

void SqliteDb::ArmDeadline() {
  deadline_hit_ = false;
  deadline_armed_ = query_timeout_s_ > 0;
  if (deadline_armed_) deadline_ = Clock::now() + std::chrono::seconds(query_timeout_s_);
}

void SqliteDb::DisarmDeadline() noexcept { deadline_armed_ = false; }

int SqliteDb::OnBusy(void* p, int count) {
  auto* self = static_cast<SqliteDb*>(p);
  auto now = Clock::now();
  if (count == 0) self->busy_since_ = now;
  if (self->busy_limit_ms_ >= 0 && now - self->busy_since_ >= milliseconds(self->busy_limit_ms_)) return 0;
  std::this_thread::sleep_for(milliseconds(count < 20 ? 1 : 5));
  return 1;
}

int SqliteDb::OnProgress(void* p) {
  auto* self = static_cast<SqliteDb*>(p);
  if (self->deadline_armed_ && Clock::now() >= self->deadline_) {
    self->deadline_hit_ = true;
    return 1;
  }
  return 0;
}

namespace {

std::uint64_t NextStamp() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

bool SameName(std::string_view a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i)
    if (!b[i] || std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return !b[i];
}

}  // namespace

const SqliteDb::WatchedTable* SqliteDb::Watched(std::string_view table) const {
  for (const WatchedTable& w : watched_)
    if (w.name.size() == table.size() && SameName(table, w.name.c_str())) return &w;
  return nullptr;
}

SqliteDb::WatchedTable& SqliteDb::Watch(std::string_view table) {
  for (WatchedTable& w : watched_)
    if (w.name.size() == table.size() && SameName(table, w.name.c_str())) return w;
  WatchedTable& w = watched_.emplace_back();
  w.name = std::string(table);
  w.stamp = NextStamp();
  w.counted_from_batch = batch_serial_ + 1;  // the batch under way began uncounted
  return w;
}

void SqliteDb::CountChanges(std::string_view table) { Watch(table); }

std::int64_t SqliteDb::TableChangesInBatch(std::string_view table) const {
  const WatchedTable* w = Watched(table);
  if (!in_batch_ || !w || w->counted_from_batch > batch_serial_ || statements_ != statements_at_batch_ ||
      sqlite3_total_changes64(db_) - batch_first_change_ != hooked_ - hooked_at_batch_)
    return -1;
  return w->changes - w->changes_at_batch;
}

std::optional<std::uint64_t> SqliteDb::TableStamp(std::string_view table) {
  if (!in_batch_ || closed_) return std::nullopt;
  WatchedTable* watched = &Watch(table);
  if (!watched->plain) watched->plain = IsPlainTable(table);
  if (!*watched->plain) return std::nullopt;
  if (stamps_batch_ != batch_serial_) {
    // Other connections commit only between this connection's batches.
    const std::int64_t version = DataVersion();
    if (version < 0 || version != data_version_) ForgetTableStamps();
    data_version_ = version;
    stamps_batch_ = batch_serial_;
  }
  return watched->stamp;
}

void SqliteDb::OnRowChange(void* p, int, const char*, const char* table, sqlite3_int64) {
  auto* self = static_cast<SqliteDb*>(p);
  ++self->hooked_;
  for (WatchedTable& w : self->watched_)
    if (SameName(w.name, table)) {
      w.stamp = NextStamp();
      ++w.changes;
    }
}

void SqliteDb::ForgetTableStamps() {
  for (WatchedTable& w : watched_) w.stamp = NextStamp();
}

bool SqliteDb::IsPlainTable(std::string_view table) const {
  // Rows of a view, a virtual table or a WITHOUT ROWID table can change
  // unseen by the row-change hook; a name in two schemas is ambiguous.
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT schema = 'main' AND type = 'table' AND wr = 0 FROM pragma_table_list "
                              "WHERE name = ?1 COLLATE NOCASE", -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return false;
  }
  sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
  int rows = 0;
  bool plain = false;
  while (sqlite3_step(stmt) == SQLITE_ROW) plain = ++rows == 1 && sqlite3_column_int(stmt, 0) == 1;
  sqlite3_finalize(stmt);
  return plain && rows == 1;
}

std::int64_t SqliteDb::DataVersion() const {
  sqlite3_stmt* stmt = nullptr;
  std::int64_t version = -1;
  if (sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
    version = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return version;  // -1: unreadable
}

void SqliteDb::ExecSimple(const char* sql) { Check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)); }

namespace {

constexpr char kSavepoint[] = "SAVEPOINT ordalis_unit";
constexpr char kRelease[] = "RELEASE ordalis_unit";
constexpr char kRollbackTo[] = "ROLLBACK TO ordalis_unit";

// Failures a retry cannot mend: the file cannot take the write.
bool RefusedForGood(int rc) {
  switch (rc) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_NOMEM:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM: return true;
    default: return false;
  }
}

}  // namespace

int SqliteDb::RunUnitStatement(int which) noexcept {
  static constexpr const char* kSql[3] = {kSavepoint, kRelease, kRollbackTo};
  sqlite3_stmt*& stmt = unit_stmts_[which];
  if (!stmt) {
    const int rc = sqlite3_prepare_v3(db_, kSql[which], -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
}

bool SqliteDb::CommitDue() const {
  if (!in_batch_) return false;
  const auto now = Clock::now();
  const int batch_ms = OtherWriterActive() ? options_.shared_batch_ms : options_.batch_ms;
  return now >= commit_retry_at_ && (commit_wanted_ || batch_count_ >= options_.batch_rows ||
                                     now - batch_started_ >= milliseconds(batch_ms));
}

void SqliteDb::ThrowRefused() {
  std::string message = std::move(refused_);
  refused_.clear();
  ThrowDataError(std::move(message), kErrWriteRefused);
}

void SqliteDb::BeginRowWrite() {
  if (closed_) ThrowDataError("The connection is closed");
  if (!refused_.empty()) ThrowDataError(refused_, kErrWriteRefused);
  WriteLockWait wait(*this);
  CheckBatchAlive();
  if (!unit_wrote_ && CommitDue()) {
    CommitBatch();
    GiveWay();
  }
  if (!in_batch_) {
    if (OtherWriterActive()) busy_limit_ms_ = options_.shared_busy_ms;  // put back by `wait`
    if (sqlite3_get_autocommit(db_)) BeginBatch();
    else if (!unit_open_) return;  // a transaction the caller opened with Execute
  }
  if (unit_open_ && !unit_wrote_) {
    if (unit_last_write_) {
      // One statement is undone by sqlite itself when it fails.
      unit_bare_ = true;
      unit_bare_changed_ = false;
    } else {
      Check(RunUnitStatement(0));
    }
    unit_wrote_ = true;
  }
}

void SqliteDb::BeginBatch() {
  const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) FailWrite(rc);
  in_batch_ = true;
  ++batch_serial_;
  batch_count_ = 0;
  batch_started_ = Clock::now();
  batch_first_change_ = sqlite3_total_changes64(db_);
  hooked_at_batch_ = hooked_;
  statements_at_batch_ = statements_;
  for (WatchedTable& w : watched_) w.changes_at_batch = w.changes;
}

bool SqliteDb::UnitsPending() const { return in_batch_ && sqlite3_total_changes64(db_) != batch_first_change_; }

long SqliteDb::DropBatch() noexcept {
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  const long lost = in_batch_ ? batch_count_ : 0;
  in_batch_ = unit_wrote_ = unit_bare_ = commit_wanted_ = false;
  batch_count_ = 0;
  // Rows went back to what they were without the row-change hook seeing it.
  ForgetTableStamps();
  return lost;
}

void SqliteDb::LoseBatch(const std::string& reason) {
  const long lost = DropBatch();
  refused_ = reason + "; the " + std::to_string(lost) +
             " rows written since the last commit were rolled back and keep their previous values";
}

void SqliteDb::Refuse(const std::string& reason) {
  LoseBatch(reason);
  ThrowDataError(refused_, kErrWriteRefused);
}

void SqliteDb::CheckBatchAlive() {
  // A failed statement (a read that ran out of memory or hit an I/O error)
  // may have ended the transaction.
  if (in_batch_ && sqlite3_get_autocommit(db_)) Refuse("The write transaction was rolled back by a failed statement");
}

void SqliteDb::FailWrite(int rc) {
  if ((in_batch_ && sqlite3_get_autocommit(db_)) || RefusedForGood(rc)) Refuse(sqlite3_errmsg(db_));
  Fail(rc);
}

void SqliteDb::CommitBatch() {
  int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    in_batch_ = commit_wanted_ = false;
    batch_count_ = 0;
    return;
  }
  FailWrite(rc);  // busy: the batch stays open for the next attempt
}

bool SqliteDb::JournalIsWal() const {
  sqlite3_stmt* stmt = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    const unsigned char* mode = sqlite3_column_text(stmt, 0);
    wal = mode && SameName("wal", reinterpret_cast<const char*>(mode));
  }
  sqlite3_finalize(stmt);
  return wal;
}

bool SqliteDb::OtherWriterActive() const {
  return Clock::now() - other_writer_at_ < milliseconds(options_.polite_ms);
}

bool SqliteDb::ReadingOpen() const {
  for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s; s = sqlite3_next_stmt(db_, s))
    if (sqlite3_stmt_busy(s)) return true;
  return false;
}

void SqliteDb::GiveWay() {
  if (!wal_ && ReadingOpen()) {
    // With a rollback journal this connection's open read keeps its read
    // lock across the commit: a writer let in would wait for it while
    // holding the lock the run needs next. The run takes the lock back.
    if (commits_held_) BeginBatch();
    return;
  }
  auto now = Clock::now();
  std::int64_t version = DataVersion();
  // Others commit only while this connection holds no write lock.
  if (version != version_seen_) other_writer_at_ = now;
  version_seen_ = version;
  if (OtherWriterActive() || now - gave_way_at_ >= milliseconds(options_.probe_ms)) {
    // The batch's pages are copied back into the file here rather than in
    // the other writer's commit, which would otherwise make it wait for
    // them.
    if (wal_) sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    now = Clock::now();
    gave_way_at_ = now;
    const auto until = now + milliseconds(options_.turn_ms);
    while (version == version_seen_ && now < until) {
      std::this_thread::sleep_for(milliseconds(1));
      version = DataVersion();
      now = Clock::now();
    }
    if (version != version_seen_) other_writer_at_ = now;
    version_seen_ = version;
  }
}

void SqliteDb::Flush() {
  if (!refused_.empty()) ThrowRefused();
  if (!in_batch_) return;
  if (unit_wrote_) {
    commit_wanted_ = true;  // the unit's end commits
    return;
  }
  WriteLockWait wait(*this);
  CheckBatchAlive();
  CommitBatch();
}

bool SqliteDb::TryFlush() noexcept {
  if (!refused_.empty()) return false;  // left for a Flush to report
  try {
    Flush();
    return true;
  } catch (...) {
    return false;
  }
}

void SqliteDb::BeginUnit() {
  unit_open_ = true;
  unit_wrote_ = unit_last_write_ = unit_bare_ = false;
}

void SqliteDb::LastWriteOfUnit() {
  if (unit_open_ && !unit_wrote_) unit_last_write_ = true;
}

void SqliteDb::EndUnit(bool keep) {
  if (!unit_open_) return;
  unit_open_ = false;
  if (unit_wrote_ && unit_bare_) {
    unit_wrote_ = unit_bare_ = false;
    CheckBatchAlive();
    // Without a savepoint a statement that took effect goes back only with
    // the whole batch.
    if (!keep && unit_bare_changed_) LoseBatch("A call's last write was taken back after it had been made");
  } else if (unit_wrote_) {
    unit_wrote_ = false;
    CheckBatchAlive();
    if (!keep) {
      const int rc = RunUnitStatement(2);
      if (rc != SQLITE_OK) FailWrite(rc);
      ForgetTableStamps();
    }
    const int rc = RunUnitStatement(1);
    if (rc != SQLITE_OK) FailWrite(rc);
  }
  if (!refused_.empty()) ThrowRefused();
  if (!keep || !CommitDue() || closed_) return;
  WriteLockWait wait(*this);
  try {
    CommitBatch();
    GiveWay();
  } catch (const ComponentError& e) {
    if (e.Number() == kErrWriteRefused) throw;
    // Held by another process: the batch stays open for a later unit's end.
    commit_retry_at_ = Clock::now() + milliseconds(options_.batch_ms);
  }
}

void SqliteDb::HoldCommits(bool hold) noexcept {
  commits_held_ = hold;
  if (!hold) TryFlush();
}

void SqliteDb::Close() noexcept {
  if (closed_ || !db_) return;
  closed_ = true;
  for (auto& [sql, kept] : kept_) sqlite3_finalize(kept.stmt);
  kept_.clear();
  if (unit_wrote_ && !sqlite3_get_autocommit(db_)) {
    // A unit never ended was not kept.
    if (unit_bare_ && unit_bare_changed_) {
      DropBatch();
    } else if (!unit_bare_) {
      sqlite3_exec(db_, kRollbackTo, nullptr, nullptr, nullptr);
      sqlite3_exec(db_, kRelease, nullptr, nullptr, nullptr);
    }
  }
  for (sqlite3_stmt*& stmt : unit_stmts_) {
    sqlite3_finalize(stmt);
    stmt = nullptr;
  }
  unit_open_ = unit_wrote_ = unit_bare_ = false;
  refused_.clear();
  if (!in_batch_) return;
  auto until = Clock::now() + milliseconds(options_.close_commit_ms);
  while (!TryFlush() && in_batch_ && Clock::now() < until) std::this_thread::sleep_for(milliseconds(10));
  if (in_batch_) DropBatch();
}

WriteLockWait::WriteLockWait(SqliteDb& db) : db_(db), saved_(db.busy_limit_ms_) {
  db_.busy_limit_ms_ = db_.options_.write_busy_ms;
}
WriteLockWait::~WriteLockWait() { db_.busy_limit_ms_ = saved_; }

}  // namespace ordalis::rdo
