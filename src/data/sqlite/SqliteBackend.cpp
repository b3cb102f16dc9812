#include "data/sqlite/SqliteBackend.h"

#include <cctype>

#include "data/Cursor.h"
#include "data/SqlText.h"
#include "data/sqlite/SqliteCursor.h"
#include "data/sqlite/SqliteDb.h"
#include "ordalis/DateTime.h"

namespace ordalis::rdo {
namespace {

// Statements that must not run inside the layer's write batch.
bool NeedsOwnTransaction(std::string_view sql) {
  std::size_t i = 0;
  while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n' || sql[i] == '('))
    ++i;
  std::string word;
  while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
  return !(word == "INSERT" || word == "UPDATE" || word == "DELETE" || word == "REPLACE" || word == "SELECT" ||
           word == "WITH");
}

// Finalizes a statement when it goes out of scope.
struct StmtGuard {
  sqlite3_stmt* stmt;
  ~StmtGuard() { sqlite3_finalize(stmt); }
};

}  // namespace

std::unique_ptr<Backend> OpenSqliteBackend(const std::string& path, int query_timeout_s) {
  return std::make_unique<SqliteBackend>(path, query_timeout_s);
}

SqliteBackend::SqliteBackend(const std::string& path, int query_timeout_s)
    : db_(std::make_shared<SqliteDb>(path, query_timeout_s)) {}

SqliteBackend::~SqliteBackend() { Close(); }

std::unique_ptr<Cursor> SqliteBackend::Open(std::string_view sql, CursorType cursor, LockType lock) {
  if (db_->closed()) ThrowDataError("The connection is closed");
  return std::make_unique<SqliteCursor>(db_, RewriteDateEscapes(sql),
                                        cursor == CursorType::Keyset && lock == LockType::OptimisticRowVer);
}

std::unique_ptr<Cursor> SqliteBackend::OpenWith(std::string_view sql, const std::vector<std::string_view>& values,
                                                CursorType cursor, LockType lock) {
  if (db_->closed()) ThrowDataError("The connection is closed");
  return std::make_unique<SqliteCursor>(db_, std::string(sql), values,
                                        cursor == CursorType::Keyset && lock == LockType::OptimisticRowVer);
}

long SqliteBackend::Execute(std::string_view sql) {
  if (db_->closed()) ThrowDataError("The connection is closed");
  db_->StatementRun();
  std::string text = RewriteDateEscapes(sql);
  if (NeedsOwnTransaction(text)) db_->Flush();
  else if (db_->InUnit()) db_->StatementInUnit();
  sqlite3* h = db_->handle();
  long changed = 0;
  const char* tail = text.c_str();
  const char* end = tail + text.size();
  db_->ArmDeadline();
  try {
    while (tail < end) {
      sqlite3_stmt* stmt = nullptr;
      int rc = sqlite3_prepare_v2(h, tail, static_cast<int>(end - tail), &stmt, &tail);
      StmtGuard guard{stmt};
      db_->Check(rc);
      if (!stmt) break;  // blanks or a comment after the last statement
      do rc = sqlite3_step(stmt);
      while (rc == SQLITE_ROW);
      if (rc != SQLITE_DONE) db_->FailWrite(rc);
      changed = static_cast<long>(sqlite3_changes(h));
    }
  } catch (...) {
    db_->DisarmDeadline();
    throw;
  }
  db_->DisarmDeadline();
  return changed;
}

long SqliteBackend::ExecuteWith(std::string_view sql, const std::vector<Variant>& values) {
  if (db_->closed()) ThrowDataError("The connection is closed");
  auto it = writes_.find(sql);
  if (it == writes_.end()) it = writes_.emplace(std::string(sql), db_->Prepare(sql)).first;
  sqlite3_stmt* stmt = it->second;
  if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(values.size()))
    ThrowDataError("The statement has " + std::to_string(sqlite3_bind_parameter_count(stmt)) +
                   " parameters, given " + std::to_string(values.size()));
  db_->BeginRowWrite();
  if (date_texts_.size() < values.size()) date_texts_.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Variant& v = values[i];
    const int p = static_cast<int>(i) + 1;
    using K = Variant::Kind;
    switch (v.kind()) {
      case K::Null: sqlite3_bind_null(stmt, p); break;
      case K::Integer: sqlite3_bind_int64(stmt, p, v.ToInteger()); break;
      case K::Bool: sqlite3_bind_int(stmt, p, v.ToBool() ? 1 : 0); break;  // as a resultset stores it
      case K::Double:
      case K::Single: sqlite3_bind_double(stmt, p, v.ToDouble()); break;
      case K::Money: sqlite3_bind_double(stmt, p, v.ToMoney().ToDouble()); break;
      case K::Date: {
        char(&text)[32] = date_texts_[i].text;
        sqlite3_bind_text(stmt, p, text, dt::FormatIso(v.ToDate(), text), SQLITE_STATIC);
        break;
      }
      case K::Text:
        sqlite3_bind_text(stmt, p, v.StoredText().data(), static_cast<int>(v.StoredText().size()), SQLITE_STATIC);
        break;
    }
  }
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) db_->FailWrite(rc);
  db_->RowWritten();
  return static_cast<long>(sqlite3_changes(db_->handle()));
}

bool SqliteBackend::TableExists(std::string_view table) {
  sqlite3_stmt* stmt = db_->Prepare(
      "SELECT 1 FROM sqlite_master WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE");
  StmtGuard guard{stmt};
  sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(stmt);
  db_->Check(rc);
  return rc == SQLITE_ROW;
}

bool SqliteBackend::ColumnExists(std::string_view table, std::string_view column) {
  sqlite3_stmt* stmt = db_->Prepare("SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2 COLLATE NOCASE");
  StmtGuard guard{stmt};
  sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, column.data(), static_cast<int>(column.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(stmt);
  db_->Check(rc);
  return rc == SQLITE_ROW;
}

void SqliteBackend::SetQueryTimeout(int seconds) { db_->SetQueryTimeout(seconds); }
void SqliteBackend::Flush() { db_->Flush(); }
void SqliteBackend::HoldCommits(bool hold) noexcept { db_->HoldCommits(hold); }
void SqliteBackend::BeginUnit() { db_->BeginUnit(); }
void SqliteBackend::EndUnit(bool keep) { db_->EndUnit(keep); }
void SqliteBackend::LastWriteOfUnit() { db_->LastWriteOfUnit(); }
bool SqliteBackend::UnitsPending() const { return db_->UnitsPending(); }

std::optional<std::uint64_t> SqliteBackend::TableStamp(std::string_view table) { return db_->TableStamp(table); }
void SqliteBackend::FinalizeWrites() noexcept {
  for (auto& [sql, stmt] : writes_) sqlite3_finalize(stmt);
  writes_.clear();
}

void SqliteBackend::Close() noexcept {
  FinalizeWrites();
  if (db_) db_->Close();
}

}  // namespace ordalis::rdo
