#include "data/sqlite/SqliteCursor.h"

#include <limits>
#include <utility>

#include "data/SqlText.h"
#include "data/sqlite/SqliteDb.h"
#include "data/sqlite/SqliteRow.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"
#include "platform/TextLines.h"

namespace ordalis::rdo {
namespace {

using K = Variant::Kind;

std::string_view ColumnText(sqlite3_stmt* s, int c) {
  const char* p = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
  return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(s, c))) : std::string_view();
}

// Whether a value set in an edit is what the row already holds, as it
// would read back: dates are stored to the second.
std::string QuoteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace

SqliteCursor::SqliteCursor(std::shared_ptr<SqliteDb> db, const std::string& sql, bool updatable)
    : db_(std::move(db)) {
  db_->ArmDeadline();
  try {
    if (updatable)
      OpenUpdatable(sql);
    else
      OpenReadOnly(sql);
  } catch (...) {
    db_->DisarmDeadline();
    Release();
    throw;
  }
  db_->DisarmDeadline();
}

SqliteCursor::SqliteCursor(std::shared_ptr<SqliteDb> db, std::string sql, const std::vector<std::string_view>& values,
                           bool updatable)
    : db_(std::move(db)) {
  if (updatable) {
    db_->ArmDeadline();
    try {
      OpenUpdatable(RewriteDateEscapes(sql), values);
    } catch (...) {
      db_->DisarmDeadline();
      Release();
      throw;
    }
    db_->DisarmDeadline();
    return;
  }
  kept_sql_ = std::move(sql);
  kind_ = Mode::ReadOnly;
  SqliteDb::KeptStatement kept = db_->TakeStatement(kept_sql_);
  read_ = kept.stmt;
  db_->ArmDeadline();
  try {
    if (!read_) {
      read_ = db_->Prepare(RewriteDateEscapes(kept_sql_));
      kept.columns = Describe(read_, 0);
    }
    if (sqlite3_bind_parameter_count(read_) != static_cast<int>(values.size()))
      ThrowDataError("The statement has " + std::to_string(sqlite3_bind_parameter_count(read_)) +
                     " parameter markers for " + std::to_string(values.size()) + " values");
    for (std::size_t i = 0; i < values.size(); ++i)
      sqlite3_bind_text(read_, static_cast<int>(i) + 1, values[i].data(), static_cast<int>(values[i].size()),
                        SQLITE_TRANSIENT);
    Start(std::move(kept.columns));
  } catch (...) {
    db_->DisarmDeadline();
    Release();
    throw;
  }
  db_->DisarmDeadline();
}

SqliteCursor::~SqliteCursor() { Close(); }

void SqliteCursor::OpenReadOnly(const std::string& sql) {
  kind_ = Mode::ReadOnly;
  read_ = db_->Prepare(sql);
  Start(Describe(read_, 0));
}

namespace {
// Keys of updatable cursors' statements among the database's kept ones.
constexpr char kUpdatable[] = "\x01";
}  // namespace

sqlite3_stmt* SqliteCursor::Statement(const std::string& sql) {
  SqliteDb::KeptStatement kept = db_->TakeStatement(kUpdatable + sql);
  return kept.stmt ? kept.stmt : db_->Prepare(sql);
}

void SqliteCursor::GiveBack(sqlite3_stmt* stmt) noexcept {
  if (!stmt) return;
  if (!db_) {
    sqlite3_finalize(stmt);
    return;
  }
  try {
    db_->KeepStatement(kUpdatable + std::string(sqlite3_sql(stmt)), {stmt, {}});
  } catch (...) {
    sqlite3_finalize(stmt);
  }
}

void SqliteCursor::BindValues(sqlite3_stmt* stmt) const {
  for (std::size_t i = 0; i < values_.size(); ++i)
    sqlite3_bind_text(stmt, static_cast<int>(i) + 1, values_[i].data(), static_cast<int>(values_[i].size()),
                      SQLITE_STATIC);
}

void SqliteCursor::OpenUpdatable(const std::string& sql, const std::vector<std::string_view>& values) {
  values_.assign(values.begin(), values.end());
  auto parts = ParseSingleTableSelect(sql);
  if (!parts) ThrowDataError("An updatable resultset needs a SELECT from one table: " + sql);
  table_ = parts->table;
  qualifier_ = parts->Qualifier();
  list_ = parts->list;
  std::string from = " FROM " + table_;
  if (!parts->alias.empty()) from += " " + parts->alias;
  std::string rest = parts->rest.empty() ? std::string() : " " + parts->rest;
  std::string page_sql = "SELECT * FROM (SELECT " + qualifier_ + "._rowid_ AS rdo_rowid_, " + list_ + from + rest +
                         ") WHERE rdo_rowid_ > :rdo_after AND rdo_rowid_ <= :rdo_upto ORDER BY rdo_rowid_ LIMIT " +
                         std::to_string(kPage);
  read_ = Statement(page_sql);
  const int markers = sqlite3_bind_parameter_count(read_) - 2;
  if (markers != static_cast<int>(values_.size()) ||
      sqlite3_bind_parameter_index(read_, ":rdo_after") != markers + 1)
    ThrowDataError("The statement has " + std::to_string(markers) + " parameter markers for " +
                   std::to_string(values_.size()) + " values");
  BindValues(read_);

  // One search of the table by a rowid range: the statement can be paged.
  std::optional<bool> paged = db_->KnownPaging(page_sql);
  if (!paged) {
    sqlite3_stmt* plan = db_->Prepare("EXPLAIN QUERY PLAN " + page_sql);
    int rows = 0;
    int rc;
    bool range = false;
    while ((rc = sqlite3_step(plan)) == SQLITE_ROW) {
      std::string_view detail = ColumnText(plan, 3);
      range = ++rows == 1 && detail.substr(0, 7) == "SEARCH " &&
              detail.find("USING INTEGER PRIMARY KEY (rowid>? AND rowid<?)") != std::string_view::npos;
    }
    sqlite3_finalize(plan);
    paged = range && rows == 1 && rc == SQLITE_DONE;
    db_->RememberPaging(page_sql, *paged);
  }
  const bool range = *paged;
  std::vector<ColumnInfo> columns = Describe(read_, 1);
  date_texts_.resize(columns.size());  // sized once: bound texts must not move
  quoted_names_.clear();
  for (int i = 1; i < sqlite3_column_count(read_); ++i) {
    const char* origin = sqlite3_column_origin_name(read_, i);
    quoted_names_.push_back(QuoteName(origin ? origin : sqlite3_column_name(read_, i)));
  }

  if (range) {
    kind_ = Mode::Pages;
    page_sql_ = page_sql;
    read_ahead_ = !db_->FileName().empty() && !platform::ContainsNoCase(rest, "select");
    if (read_ahead_) db_->CountChanges(table_);
    sqlite3_stmt* top = Statement("SELECT max(_rowid_) FROM " + table_);
    int rc = sqlite3_step(top);
    bool empty = sqlite3_column_type(top, 0) == SQLITE_NULL;
    max_rowid_ = empty ? 0 : sqlite3_column_int64(top, 0);
    GiveBack(top);
    db_->Check(rc);
    pages_done_ = empty;
    page_last_ = std::numeric_limits<std::int64_t>::min();
    page_ = SqlitePage(kPage, columns.size());
  } else {
    kind_ = Mode::Keys;
    GiveBack(std::exchange(read_, nullptr));
    sqlite3_stmt* keys = Statement("SELECT " + qualifier_ + "._rowid_" + from + rest);
    BindValues(keys);
    int rc;
    while ((rc = sqlite3_step(keys)) == SQLITE_ROW) keys_.push_back(sqlite3_column_int64(keys, 0));
    GiveBack(keys);
    db_->Check(rc);
  }
  Start(std::move(columns));
}

std::vector<ColumnInfo> SqliteCursor::Describe(sqlite3_stmt* stmt, int first) const {
  std::vector<ColumnInfo> columns;
  int count = sqlite3_column_count(stmt);
  for (int i = first; i < count; ++i) {
    ColumnInfo info;
    info.name = sqlite3_column_name(stmt, i);
    const char* declared = sqlite3_column_decltype(stmt, i);
    if (declared) {
      DeclaredType t = ParseDeclaredType(declared);
      info.kind = t.kind;
      info.size = t.size;
    }
    columns.push_back(std::move(info));
  }
  return columns;
}

sqlite3_stmt* SqliteCursor::PointStatement() {
  if (!point_) {
    std::string sql = "SELECT " + qualifier_ + "._rowid_, " + list_ + " FROM " + table_;
    if (qualifier_ != table_) sql += " " + qualifier_;
    sql += " WHERE " + qualifier_ + "._rowid_ = ?1";
    point_ = Statement(sql);
  }
  return point_;
}

bool SqliteCursor::LoadPage() {
  page_.count = page_next_ = 0;
  if (pages_done_) return false;
  if (!TakePageAhead()) {
    page_.count = 0;  // a page taken but not good is read again
    page_.prepared = false;
    sqlite3_reset(read_);
    const int after = static_cast<int>(values_.size()) + 1;
    sqlite3_bind_int64(read_, after, page_last_);
    sqlite3_bind_int64(read_, after + 1, max_rowid_);
    int rc = SQLITE_DONE;
    while (page_.count < static_cast<std::size_t>(kPage) && (rc = sqlite3_step(read_)) == SQLITE_ROW) {
      page_.rowids[page_.count] = sqlite3_column_int64(read_, 0);
      ReadRow(read_, 1, columns_, page_.rows[page_.count]);
      ++page_.count;
    }
    sqlite3_reset(read_);  // no read lock kept while the caller works
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) db_->Fail(rc);
  }
  NoteRead();
  if (page_.count < static_cast<std::size_t>(kPage)) pages_done_ = true;
  if (page_.count) page_last_ = page_.rowids[page_.count - 1];
  AskPageAhead();
  return page_.count > 0;
}

bool SqliteCursor::TakePageAhead() {
  if (!ahead_batch_) return false;
  const std::uint64_t asked_in = std::exchange(ahead_batch_, 0);
  if (!ahead_->Take(page_)) return false;
  // Every change the batch made to the table is one of this cursor's writes
  // (rows behind the page), so the committed rows ahead are the rows as this
  // connection has them.
  return db_->BatchSerial() == asked_in &&
         db_->TableChangesInBatch(table_) == (own_batch_ == asked_in ? own_in_batch_ : 0);
}

void SqliteCursor::AskPageAhead() {
  // Outside a batch transaction another writer could change the rows before
  // they are reached: they are better read then.
  const std::uint64_t batch = db_->BatchSerial();
  if (!read_ahead_ || pages_done_ || batch == 0) return;
  if (!ahead_) {
    // The file by its full name: a relative path could name another file by now.
    ahead_ = std::make_unique<SqlitePageReader>(db_->FileName(), page_sql_, values_, columns_, kPage);
    if (preparer_) ahead_->SetPreparer(preparer_);
  }
  if (ahead_->Broken()) return;
  ahead_->Request(page_last_, max_rowid_);
  ahead_batch_ = batch;
}

void SqliteCursor::SetRowPreparer(RowPreparer preparer) {
  preparer_ = std::move(preparer);
  if (ahead_) ahead_->SetPreparer(preparer_);
}

const RowNote* SqliteCursor::Note() const {
  if (kind_ != Mode::Pages || !page_.prepared || page_next_ == 0 || page_next_ > page_.count) return nullptr;
  return page_.notes[page_next_ - 1].get();
}

void SqliteCursor::CountOwnWrite() {
  db_->RowWritten();
  ++own_writes_;
  if (own_batch_ != db_->BatchSerial()) {
    own_batch_ = db_->BatchSerial();
    own_in_batch_ = 0;
  }
  ++own_in_batch_;
  wrote_ = true;
}

bool SqliteCursor::FetchNext() {
  switch (kind_) {
    case Mode::ReadOnly: {
      int rc = sqlite3_step(read_);
      if (rc == SQLITE_ROW) {
        ReadRow(read_, 0, columns_, row_);
        return true;
      }
      db_->Check(rc);
      return false;
    }
    case Mode::Pages:
      if (page_next_ >= page_.count && !LoadPage()) return false;
      row_.swap(page_.rows[page_next_]);
      rowid_ = page_.rowids[page_next_++];
      return true;
    case Mode::Keys: {
      sqlite3_stmt* point = PointStatement();
      while (next_key_ < keys_.size()) {
        std::int64_t key = keys_[next_key_++];
        sqlite3_bind_int64(point, 1, key);
        int rc = sqlite3_step(point);
        if (rc == SQLITE_ROW) {
          rowid_ = key;
          ReadRow(point, 1, columns_, row_);
          NoteRead();
        }
        sqlite3_reset(point);
        if (rc == SQLITE_ROW) return true;
        db_->Check(rc);  // SQLITE_DONE: deleted since the open, skipped
      }
      keys_ = {};
      return false;
    }
  }
  return false;
}

void SqliteCursor::BindValue(sqlite3_stmt* stmt, int p, const Variant& v) {
  switch (v.kind()) {
    case K::Null: sqlite3_bind_null(stmt, p); break;
    case K::Integer: sqlite3_bind_int64(stmt, p, v.ToInteger()); break;
    case K::Double:
    case K::Single: sqlite3_bind_double(stmt, p, v.ToDouble()); break;
    case K::Money: sqlite3_bind_double(stmt, p, v.ToMoney().ToDouble()); break;
    case K::Bool: sqlite3_bind_int(stmt, p, v.ToBool() ? 1 : 0); break;
    case K::Date: {
      char(&text)[32] = date_texts_.at(p - 1).text;
      sqlite3_bind_text(stmt, p, text, dt::FormatIso(v.ToDate(), text), SQLITE_STATIC);
      break;
    }
    case K::Text: {
      const std::string& text = v.StoredText();
      sqlite3_bind_text(stmt, p, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
      break;
    }
  }
}

sqlite3_stmt* SqliteCursor::CachedStatement(Sql kind, const std::vector<char>& columns) {
  if (last_stmt_ && last_kind_ == kind && last_columns_ == columns) return last_stmt_;
  last_stmt_ = nullptr;
  sqlite3_stmt* stmt = FindOrPrepare(kind, columns);
  last_kind_ = kind;
  last_columns_ = columns;
  last_stmt_ = stmt;
  return last_stmt_;
}

sqlite3_stmt* SqliteCursor::FindOrPrepare(Sql kind, const std::vector<char>& columns) {
  cache_key_.assign(1, static_cast<char>('0' + static_cast<int>(kind)));
  cache_key_.append(columns.begin(), columns.end());
  auto it = cache_.find(cache_key_);
  if (it != cache_.end()) return it->second;
  if (cache_.size() >= kMaxCachedStatements) {
    for (auto& [key, stmt] : cache_) GiveBack(stmt);
    cache_.clear();
  }
  std::string names, params, set;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!columns[i]) continue;
    if (!names.empty()) {
      names += ", ";
      params += ", ";
      set += ", ";
    }
    names += quoted_names_[i];
    params += '?';
    set += quoted_names_[i] + " = ?";
  }
  std::string sql;
  switch (kind) {
    case Sql::Insert:
      sql = names.empty() ? "INSERT INTO " + table_ + " DEFAULT VALUES"
                          : "INSERT INTO " + table_ + " (" + names + ") VALUES (" + params + ")";
      break;
    case Sql::Check: sql = "SELECT " + names + " FROM " + table_ + " WHERE _rowid_ = ?"; break;
    case Sql::Update: sql = "UPDATE " + table_ + " SET " + set + " WHERE _rowid_ = ?"; break;
  }
  sqlite3_stmt* stmt = Statement(sql);
  cache_.emplace(cache_key_, stmt);
  return stmt;
}

void SqliteCursor::NoteRead() {
  read_batch_ = db_->BatchSerial();
  read_writes_ = db_->Writes();
  read_own_ = own_writes_;
}

bool SqliteCursor::UnchangedSinceRead() const {
  return read_batch_ != 0 && read_batch_ == db_->BatchSerial() && db_->Writes() - read_writes_ == own_writes_ - read_own_;
}

void SqliteCursor::WriteUpdate() {
  // Only values that differ from the row as read are written; a row that
  // would stay as it is is not written at all.
  write_.assign(changed_.size(), 0);
  bool any = false;
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i] && !SameAsRead(edit_[i], row_[i])) {
      write_[i] = 1;
      any = true;
    }
  db_->BeginRowWrite();
  if (!UnchangedSinceRead()) {
    // The row as stored now, against the row as read (the batch holds the
    // write lock: nobody can change it between this check and the write).
    sqlite3_stmt* check = CachedStatement(Sql::Check, changed_);
    sqlite3_bind_int64(check, 1, rowid_);
    int rc = sqlite3_step(check);
    bool same = rc == SQLITE_ROW;
    for (int i = 0, k = 0; same && i < ColumnCount(); ++i)
      if (changed_[i]) same = ReadColumn(sqlite3_column_value(check, k++), columns_[i].kind) == row_[i];
    sqlite3_reset(check);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) db_->FailWrite(rc);
    if (!same) ThrowDataError("The row was changed or deleted by another user since it was read", kErrRowChanged);
  }

  // The current row becomes the values as they read back.
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i] && edit_[i].kind() == K::Date)
      edit_[i] = Variant::FromDate(dt::FromSeconds(dt::ToSeconds(edit_[i].ToDate())));
  if (!any) return;
  sqlite3_stmt* stmt = CachedStatement(Sql::Update, write_);
  int p = 1;
  for (std::size_t i = 0; i < write_.size(); ++i)
    if (write_[i]) BindValue(stmt, p++, edit_[i]);
  sqlite3_bind_int64(stmt, p, rowid_);
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) db_->FailWrite(rc);
  CountOwnWrite();
}

void SqliteCursor::WriteInsert() {
  db_->BeginRowWrite();
  sqlite3_stmt* stmt = CachedStatement(Sql::Insert, changed_);
  int p = 1;
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i]) BindValue(stmt, p++, edit_[i]);
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) db_->FailWrite(rc);
  CountOwnWrite();
}

void SqliteCursor::Reread() {
  sqlite3_stmt* point = PointStatement();
  sqlite3_bind_int64(point, 1, rowid_);
  int rc = sqlite3_step(point);
  if (rc == SQLITE_ROW) ReadRow(point, 1, columns_, row_);
  sqlite3_reset(point);
  if (rc == SQLITE_ROW) return;
  db_->Check(rc);
  ThrowDataError("The row was deleted by another user", kErrRowChanged);
}

void SqliteCursor::Release() noexcept {
  ahead_.reset();
  ahead_batch_ = 0;
  if (!kept_sql_.empty() && read_) {
    db_->KeepStatement(std::move(kept_sql_), {read_, std::move(columns_)});  // the cursor is closed
    read_ = nullptr;
  }
  if (kind_ == Mode::ReadOnly) sqlite3_finalize(read_);
  else GiveBack(read_);
  GiveBack(point_);
  for (auto& [key, stmt] : cache_) GiveBack(stmt);
  read_ = point_ = last_stmt_ = nullptr;
  cache_.clear();
  keys_ = {};
  page_ = SqlitePage();
  preparer_ = nullptr;
  if (wrote_ && db_ && !db_->CommitsHeld()) db_->TryFlush();
}

}  // namespace ordalis::rdo
