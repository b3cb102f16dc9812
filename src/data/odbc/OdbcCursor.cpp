#include "data/odbc/OdbcCursor.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <unordered_map>

#include "data/SqlText.h"
#include "data/odbc/RecordText.h"
#include "ordalis/ComponentError.h"
#include "support/Text.h"

namespace ordalis::rdo {
namespace {

using K = Variant::Kind;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A name as the catalog functions want it: quotes removed.
std::string Unquote(std::string_view name) {
  if (name.size() >= 2 && (name.front() == '"' || name.front() == '[' || name.front() == '`'))
    return std::string(name.substr(1, name.size() - 2));
  return std::string(name);
}

// The words of a statement's tail outside quoted text, upper-cased.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      continue;
    }
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// The condition of a tail that is nothing but "WHERE <condition>" (empty
// for no tail); none when the tail orders, groups or limits the rows.
std::optional<std::string> PlainCondition(const std::string& rest) {
  if (rest.empty()) return std::string();
  std::vector<std::string> words = Words(rest);
  if (words.empty() || words.front() != "WHERE") return std::nullopt;
  for (const std::string& w : words)
    if (w == "ORDER" || w == "GROUP" || w == "HAVING" || w == "LIMIT" || w == "OFFSET" || w == "UNION" ||
        w == "FOR" || w == "FETCH")
      return std::nullopt;
  std::size_t at = 0;
  while (at < rest.size() && std::isspace(static_cast<unsigned char>(rest[at]))) ++at;
  return rest.substr(at + 5);
}

// A read of a whole table (no condition, no markers): the one kind of
// read-only select that may be too large to hold.
bool WholeTable(const std::string& sql) {
  auto parts = ParseSingleTableSelect(sql);
  if (!parts) return false;
  std::vector<std::string> words = Words(parts->rest);
  return words.empty() || words.front() == "ORDER";
}

// The one table of a look-up: a select of one table by a plain condition,
// without a subquery.
std::optional<std::string> LookedUpTable(const std::string& sql) {
  auto parts = ParseSingleTableSelect(sql);
  if (!parts || !PlainCondition(parts->rest)) return std::nullopt;
  for (const std::string& w : Words(parts->rest))
    if (w == "SELECT") return std::nullopt;
  return parts->table;
}

}  // namespace

OdbcCursor::OdbcCursor(std::shared_ptr<OdbcDb> db, const std::string& sql, std::vector<Variant> params,
                       bool updatable)
    : db_(std::move(db)), updatable_(updatable), params_(std::move(params)) {
  if (db_->closed()) ThrowDataError("The connection is closed");
  if (updatable)
    OpenUpdatable(sql);
  else
    OpenReadOnly(sql);
}

OdbcCursor::~OdbcCursor() { Close(); }

std::unique_ptr<OdbcStatement> OdbcCursor::Run(const std::string& sql, const std::vector<Variant>& more,
                                               bool with_params, std::optional<std::int64_t> above) {
  if (above)
    db_->BeforeRangeRead(table_, *above);
  else
    db_->BeforeStatement(sql);
  auto stmt = db_->Take(sql);
  stmt->ResetParams();
  int p = 1;
  if (with_params)
    for (const Variant& v : params_) stmt->Bind(p++, v);
  for (const Variant& v : more) stmt->Bind(p++, v);
  db_->ReadRan();
  try {
    db_->Guarded([&] { stmt->Execute(); });
  } catch (...) {
    db_->Keep(sql, std::move(stmt));
    throw;
  }
  return stmt;
}

void OdbcCursor::OpenReadOnly(const std::string& sql) {
  if (std::optional<std::string> table = LookedUpTable(sql))
    if (std::shared_ptr<OdbcDb> reader = db_->ReaderFor(*table)) db_ = std::move(reader);
  if (db_->IsPostgres() && !db_->DriverCursors() && params_.empty() && WholeTable(sql)) {
    // Read through a server cursor, kRangeRows at a time; it outlives the
    // commits of the batch.
    server_cursor_ = db_->NewCursorName();
    cursor_rollbacks_ = db_->Rollbacks();
    db_->Run("DECLARE " + server_cursor_ + " NO SCROLL CURSOR WITH HOLD FOR " + sql);
    read_ = std::make_unique<OdbcStatement>(db_->handle(), db_->query_timeout(), db_->utf8_text());
    read_->Prepare("FETCH FORWARD " + std::to_string(kRangeRows) + " FROM " + server_cursor_);
    db_->Guarded([&] { read_->Execute(); });
  } else {
    read_sql_ = sql;
    read_ = Run(sql, {}, true);
  }
  // Rows the driver holds whole (look-ups, mostly of a row or none) come in
  // small blocks: the buffers of a block are made and cleared at each open.
  rows_ = &read_->Rows(server_cursor_.empty() ? kLookupRows : OdbcRows::kBlockRows);
  std::vector<ColumnInfo> infos;
  for (const OdbcColumn& c : rows_->columns()) infos.push_back(ColumnInfo{c.name, c.kind, c.size});
  if (db_->DriverCursors() && !infos.empty()) {
    streaming_ = true;
    db_->StreamOpened();
  }
  Start(std::move(infos));
}

bool OdbcCursor::FetchServerCursor() {
  for (;;) {
    if (db_->Guarded([&] { return rows_->Next(row_); })) {
      ++block_rows_;
      return true;
    }
    if (block_rows_ < kRangeRows) {
      db_->Run("CLOSE " + server_cursor_);
      server_cursor_.clear();
      return false;
    }
    block_rows_ = 0;
    read_->CloseCursor();
    db_->Guarded([&] { read_->Execute(); });
    rows_->Restart();
  }
}

std::vector<std::string> OdbcCursor::KeyColumns(const std::string& table) {
  std::string schema, name = table;
  if (std::size_t dot = table.rfind('.'); dot != std::string::npos) {
    schema = Unquote(table.substr(0, dot));
    name = table.substr(dot + 1);
  }
  bool quoted = !name.empty() && (name.front() == '"' || name.front() == '[' || name.front() == '`');
  name = Unquote(name);
  std::vector<std::string> candidates = {name};
  if (!quoted) {
    candidates.push_back(Lower(name));
    candidates.push_back(UpperAscii(name));
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& candidate : candidates) {
      OdbcStatement stmt(db_->handle(), db_->query_timeout());
      std::u16string w_table = ToUtf16(candidate), w_schema = ToUtf16(schema);
      SQLWCHAR* schema_arg = schema.empty() ? nullptr : reinterpret_cast<SQLWCHAR*>(w_schema.data());
      SQLSMALLINT schema_length = schema.empty() ? 0 : static_cast<SQLSMALLINT>(w_schema.size());
      std::size_t name_column;
      db_->ReadRan();
      // A candidate name that is no table fails in the driver (the server
      // is not asked): the next one is tried.
      try {
        if (pass == 0) {
          stmt.Check(SQLPrimaryKeysW(stmt.handle(), nullptr, 0, schema_arg, schema_length,
                                     reinterpret_cast<SQLWCHAR*>(w_table.data()),
                                     static_cast<SQLSMALLINT>(w_table.size())));
          name_column = 3;
        } else {
          stmt.Check(SQLSpecialColumnsW(stmt.handle(), SQL_BEST_ROWID, nullptr, 0, schema_arg, schema_length,
                                        reinterpret_cast<SQLWCHAR*>(w_table.data()),
                                        static_cast<SQLSMALLINT>(w_table.size()), SQL_SCOPE_TRANSACTION,
                                        SQL_NULLABLE));
          name_column = 1;
        }
      } catch (const ComponentError&) {
        continue;
      }
      std::vector<std::pair<std::int64_t, std::string>> found;
      std::vector<OdbcColumn> columns = DescribeColumns(stmt.handle());
      for (auto& c : columns) c.bounded = false;  // catalog results: read value by value
      OdbcRows rows(stmt.handle(), std::move(columns));
      std::vector<Variant> row;
      while (db_->Guarded([&] { return rows.Next(row); })) {
        if (name_column >= row.size() || row[name_column].IsNull()) continue;
        std::int64_t sequence = static_cast<std::int64_t>(found.size());
        if (pass == 0 && row.size() > 4 && !row[4].IsNull()) sequence = row[4].ToInteger();
        found.emplace_back(sequence, row[name_column].ToText());
      }
      if (!found.empty()) {
        std::sort(found.begin(), found.end());
        std::vector<std::string> keys;
        for (auto& [seq, column] : found) keys.push_back(column);
        return keys;
      }
    }
  }
  ThrowDataError("The table " + table + " has no primary key: its rows cannot be updated through a resultset");
}

void OdbcCursor::OpenUpdatable(const std::string& sql) {
  auto parts = ParseSingleTableSelect(sql);
  if (!parts) ThrowDataError("An updatable resultset needs a SELECT from one table: " + sql);
  table_ = parts->table;
  qualifier_ = parts->Qualifier();
  list_ = parts->list;
  from_ = " FROM " + table_ + (parts->alias.empty() ? "" : " " + parts->alias);
  std::string rest = parts->rest.empty() ? "" : " " + parts->rest;

  // The key columns and the columns read, found once per statement text.
  std::string shape_sql = "SELECT " + list_ + from_;
  const OdbcDb::Shape* shape = db_->KnownShape(shape_sql);
  if (!shape) {
    OdbcDb::Shape found;
    found.keys = KeyColumns(table_);
    std::string keys;
    for (const std::string& key : found.keys) keys += qualifier_ + "." + db_->QuoteName(key) + ", ";
    OdbcStatement describe(db_->handle(), db_->query_timeout(), db_->utf8_text());
    db_->ReadRan();
    db_->Guarded([&] { describe.ExecDirect("SELECT " + keys + list_ + from_ + " WHERE 1=0"); });
    found.columns = describe.Columns();
    db_->RememberShape(shape_sql, std::move(found));
    shape = db_->KnownShape(shape_sql);
  }
  for (const std::string& key : shape->keys) {
    key_names_.push_back(db_->QuoteName(key));
    if (!key_list_.empty()) key_list_ += ", ";
    key_list_ += qualifier_ + "." + key_names_.back();
  }
  std::size_t nk = key_names_.size();
  read_columns_ = shape->columns;
  std::vector<ColumnInfo> infos;
  for (std::size_t i = 0; i < read_columns_.size(); ++i) {
    if (i < nk) {
      key_kinds_.push_back(read_columns_[i].kind);
      continue;
    }
    infos.push_back(ColumnInfo{read_columns_[i].name, read_columns_[i].kind, read_columns_[i].size});
    column_names_.push_back(db_->QuoteName(read_columns_[i].name));
  }

  std::optional<std::string> condition = PlainCondition(parts->rest);
  ranged_ = db_->IsPostgres() && nk == 1 && key_kinds_[0] == K::Integer && condition;
  if (ranged_) {
    std::string where = condition->empty() ? " WHERE " : " WHERE (" + *condition + ") AND ";
    std::string select = "SELECT " + key_list_ + ", " + list_ + from_;
    first_range_sql_ = select + (condition->empty() ? "" : " WHERE " + *condition) + " ORDER BY " + key_list_ +
                       " LIMIT " + std::to_string(kRangeRows);
    top_sql_ = "SELECT MAX(" + key_list_ + ")" + from_ + (condition->empty() ? "" : " WHERE " + *condition);
    range_sql_ = select + where + key_list_ + " > ? AND " + key_list_ + " <= ? ORDER BY " + key_list_ + " LIMIT " +
                 std::to_string(kRangeRows);
    range_lock_sql_ = range_sql_ + " FOR UPDATE";
    lock_rest_sql_ = range_sql_ + " FOR UPDATE SKIP LOCKED";
    const std::string version = qualifier_ + ".xmin::text::bigint";
    // Read ahead, the columns whose text reads here as the driver reads
    // their values come as the text of one row value, which this thread
    // splits and reads at a fraction of the driver's cost per value; the
    // other columns follow it. The text has a bounded size, so that the rows
    // come in blocks: one cut short does not split as a whole row value,
    // and sends its range to the usual read.
    std::string ahead_list = list_;
    if (TrimSpaces(list_) == "*") {
      std::string record, others;
      for (std::size_t i = nk; i < read_columns_.size(); ++i) {
        const std::string name = qualifier_ + "." + db_->QuoteName(read_columns_[i].name);
        std::string& list = ReadsFromText(read_columns_[i]) ? record : others;
        list += (list.empty() ? "" : ", ") + name;
        if (&list == &record) ahead_record_.push_back(i);
      }
      if (ahead_record_.size() >= 2)
        ahead_list = "CAST(ROW(" + record + ") AS varchar(" + std::to_string(kRecordChars) + "))" +
                     (others.empty() ? "" : ", " + others);
      else
        ahead_record_.clear();
    }
    ahead_sql_ = "SELECT " + key_list_ + ", " + version + ", " + ahead_list + from_ + where + key_list_ + " > ? AND " +
                 key_list_ + " <= ? ORDER BY " + key_list_ + " LIMIT " + std::to_string(kRangeRows);
    ahead_check_sql_ = "SELECT " + key_list_ + ", " + version + from_ + where + key_list_ + " > ? AND " + key_list_ +
                       " <= ? ORDER BY " + key_list_ + " FOR UPDATE";
    relock_sql_ = ahead_check_sql_ + " SKIP LOCKED";
  } else {
    // The keys of every row, in the statement's order.
    std::string keys_sql = "SELECT " + key_list_ + from_ + rest;
    auto stmt = Run(keys_sql, {}, true);
    std::vector<OdbcColumn> columns(read_columns_.begin(), read_columns_.begin() + static_cast<std::ptrdiff_t>(nk));
    {
      OdbcRows& rows = stmt->Rows(columns);
      std::vector<Variant> row;
      while (db_->Guarded([&] { return rows.Next(row); }))
        for (Variant& v : row) keys_.push_back(std::move(v));
    }
    db_->Keep(keys_sql, std::move(stmt));
    std::string where;
    for (std::size_t j = 0; j < kChunk; ++j) {
      if (j) where += " OR ";
      if (nk == 1) {
        where += key_list_ + " = ?";
      } else {
        where += "(";
        for (std::size_t k = 0; k < nk; ++k)
          where += (k ? " AND " : "") + qualifier_ + "." + key_names_[k] + " = ?";
        where += ")";
      }
    }
    chunk_sql_ = "SELECT " + key_list_ + ", " + list_ + from_ + " WHERE " + where;
  }
  Start(std::move(infos));
}

bool OdbcCursor::LoadRange() {
  if (exhausted_) return false;
  const bool first = !ranges_started_;
  ranges_started_ = true;
  const bool lock = lock_ranges_ && !first;
  if (lock) db_->CommitBetweenBlocks();
  if (!(lock && TakeAhead())) {
    const std::string& sql = first ? first_range_sql_ : lock ? range_lock_sql_ : range_sql_;
    auto stmt = first ? Run(sql, {}, true) : Run(sql, {last_key_, max_key_}, true, last_key_.ToInteger());
    {
      OdbcRows& rows = stmt->Rows(read_columns_);
      std::vector<Variant> row;
      while (db_->Guarded([&] { return rows.Next(row); })) block_.push_back(row);
    }
    db_->Keep(sql, std::move(stmt));
  }
  block_lock_serial_ = lock ? db_->LockSerial() : UINT64_MAX;
  locked_end_ = block_.size();
  block_writes_ = db_->TableWrites(table_);
  const std::size_t n = block_.size();
  if (n < kRangeRows) exhausted_ = true;
  if (n == 0) return false;
  last_key_ = block_.back()[0];
  if (lock && !exhausted_) StartAhead();
  if (first && !exhausted_) {
    // More than one range: the rows to visit end at the largest key now.
    auto top = Run(top_sql_, {}, true);
    std::vector<Variant> row;
    {
      OdbcRows& rows = top->Rows(1);
      if (db_->Guarded([&] { return rows.Next(row); })) max_key_ = row[0];
    }
    db_->Keep(top_sql_, std::move(top));
  }
  return true;
}

void OdbcCursor::StartAhead() {
  ahead_.reset();
  std::shared_ptr<OdbcDb> session = db_->AheadSession();
  if (!session) return;
  std::vector<Variant> values = params_;
  values.push_back(last_key_);
  values.push_back(max_key_);
  // Each row as the keys, the version, then the columns in the order read;
  // the rows must read as this session reads the range.
  const std::size_t nk = key_names_.size();
  auto read = [session, nk, sql = ahead_sql_, values = std::move(values), columns = read_columns_,
               record = ahead_record_] {
    std::unique_lock<std::mutex> use = session->Use();
    auto stmt = session->Take(sql);
    stmt->ResetParams();
    int p = 1;
    for (const Variant& v : values) stmt->Bind(p++, v);
    stmt->Execute();
    std::vector<bool> in_record(columns.size(), false);
    for (std::size_t i : record) in_record[i] = true;
    // Columns as read: the keys, the version, the row value, the others.
    std::vector<OdbcColumn> expected(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(nk));
    expected.emplace_back();
    if (!record.empty()) expected.push_back(OdbcColumn{.kind = K::Text});
    for (std::size_t i = nk; i < columns.size(); ++i)
      if (!in_record[i]) expected.push_back(columns[i]);
    std::vector<std::vector<Variant>> rows;
    {
      OdbcRows& read = stmt->Rows();
      std::vector<OdbcColumn> got = read.columns();
      if (got.size() > nk) got[nk] = {};
      if (!record.empty() && got.size() > nk + 1 && got[nk + 1].kind == K::Text) got[nk + 1] = expected[nk + 1];
      if (got != expected) ThrowDataError("The rows read ahead have other columns");
      std::vector<Variant> row;
      std::vector<std::optional<std::string>> fields;
      while (read.Next(row)) {
        std::vector<Variant> out(columns.size() + 1);
        for (std::size_t k = 0; k <= nk; ++k) out[k] = std::move(row[k]);
        std::size_t next = nk + 1;
        if (!record.empty()) {
          const Variant& text = row[next++];
          if (text.IsNull() || !SplitRecord(text.StoredText(), fields) || fields.size() != record.size())
            ThrowDataError("A row read ahead is not one the layer reads");
          for (std::size_t j = 0; j < record.size(); ++j) {
            if (!fields[j]) continue;
            std::optional<Variant> value = ValueFromText(columns[record[j]], std::move(*fields[j]));
            // Not in the form the driver reads alike (a date BC, infinity):
            // the range is read as usual.
            if (!value) ThrowDataError("A value read ahead is not one the layer reads");
            out[record[j] + 1] = std::move(*value);
          }
        }
        for (std::size_t i = nk; i < columns.size(); ++i)
          if (!in_record[i]) out[i + 1] = std::move(row[next++]);
        rows.push_back(std::move(out));
      }
    }
    session->Keep(sql, std::move(stmt));
    return rows;
  };
  ahead_ = Ahead{last_key_.ToInteger(), std::async(std::launch::async, std::move(read))};
}

bool OdbcCursor::TakeAhead() {
  if (!ahead_) return false;
  const bool same_range = ahead_->above == last_key_.ToInteger();
  std::vector<std::vector<Variant>> rows;
  try {
    rows = ahead_->rows.get();
  } catch (...) {
    // Not read ahead (the session failed, the table is not the same there).
  }
  ahead_.reset();
  if (!same_range || rows.empty()) return false;
  const std::size_t nk = key_names_.size();
  auto stmt = Run(ahead_check_sql_, {last_key_, rows.back()[0]}, true, last_key_.ToInteger());
  std::size_t i = 0;
  bool same = true;
  {
    OdbcRows& locked = stmt->Rows();
    std::vector<Variant> row;
    while (db_->Guarded([&] { return locked.Next(row); })) {
      same = same && i < rows.size() && row[0] == rows[i][0] && row[nk] == rows[i][nk];
      ++i;
    }
  }
  db_->Keep(ahead_check_sql_, std::move(stmt));
  if (!same || i != rows.size()) return false;
  for (std::vector<Variant>& row : rows) {
    block_versions_.push_back(row[nk].ToInteger());
    row.erase(row.begin() + static_cast<std::ptrdiff_t>(nk));
    block_.push_back(std::move(row));
  }
  return true;
}

std::string OdbcCursor::KeyText(const Variant* key) const {
  std::string text;
  for (std::size_t k = 0; k < key_names_.size(); ++k) {
    text += key[k].ToText();
    text += '\x1f';
  }
  return text;
}

bool OdbcCursor::LoadChunk() {
  std::size_t nk = key_names_.size();
  std::size_t total = keys_.size() / nk;
  if (next_key_ >= total) return false;
  std::size_t n = std::min(kChunk, total - next_key_);
  std::vector<Variant> values;
  for (std::size_t j = 0; j < kChunk; ++j) {
    std::size_t row = next_key_ + std::min(j, n - 1);  // the last key repeats to fill the chunk
    for (std::size_t k = 0; k < nk; ++k) values.push_back(keys_[row * nk + k]);
  }
  auto stmt = Run(chunk_sql_, values, false);
  std::unordered_map<std::string, std::vector<Variant>> found;
  {
    OdbcRows& rows = stmt->Rows(read_columns_);
    std::vector<Variant> row;
    while (db_->Guarded([&] { return rows.Next(row); })) found.emplace(KeyText(row.data()), row);
  }
  db_->Keep(chunk_sql_, std::move(stmt));
  for (std::size_t j = 0; j < n; ++j) {
    auto it = found.find(KeyText(&keys_[(next_key_ + j) * nk]));
    if (it == found.end()) continue;  // deleted since the open
    block_.push_back(std::move(it->second));
    found.erase(it);
  }
  next_key_ += n;
  return true;
}

bool OdbcCursor::LoadBlock() {
  block_.clear();
  block_versions_.clear();
  block_next_ = 0;
  while (block_.empty()) {
    if (!(ranged_ ? LoadRange() : LoadChunk())) return false;
  }
  return true;
}

void OdbcCursor::SetRowPreparer(RowPreparer preparer) {
  preparer_ = std::move(preparer);
  notes_.clear();
  if (updatable_ && preparer_) PrepareBlock(block_next_);
}

const RowNote* OdbcCursor::Note() const {
  return block_next_ > 0 && block_next_ <= notes_.size() ? notes_[block_next_ - 1].get() : nullptr;
}

void OdbcCursor::SetNotesTaken(NotesTaken taken) {
  notes_taken_ = std::move(taken);
  if (!notes_taken_ || block_next_ >= notes_.size()) return;
  std::vector<const RowNote*> ahead;
  for (std::size_t i = block_next_; i < notes_.size(); ++i) ahead.push_back(notes_[i].get());
  notes_taken_(ahead);
}

void OdbcCursor::PrepareBlock(std::size_t first) {
  const std::size_t nk = key_names_.size();
  notes_.resize(block_.size());
  std::vector<const RowNote*> taken;
  for (std::size_t i = first; i < block_.size(); ++i) {
    preparing_.assign(block_[i].begin() + static_cast<std::ptrdiff_t>(nk), block_[i].end());
    preparer_(preparing_, notes_[i]);
    if (notes_taken_) taken.push_back(notes_[i].get());
  }
  if (!taken.empty()) notes_taken_(taken);
}

bool OdbcCursor::FetchNext() {
  if (!updatable_) {
    if (!rows_) return false;
    if (!server_cursor_.empty()) return FetchServerCursor();
    if (db_->Guarded([&] { return rows_->Next(row_); })) return true;
    if (streaming_) {
      streaming_ = false;
      db_->StreamEnded();
    }
    return false;
  }
  if (block_next_ >= block_.size()) {
    if (!LoadBlock()) {
      keys_ = {};
      block_ = {};
      block_versions_ = {};
      notes_.clear();
      return false;
    }
    if (preparer_) PrepareBlock(0);
  }
  std::size_t nk = key_names_.size();
  std::vector<Variant>& values = block_[block_next_++];
  current_key_.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(nk));
  for (std::size_t i = 0; i < row_.size(); ++i) row_[i] = std::move(values[nk + i]);
  return true;
}

void OdbcCursor::Writing() {
  db_->TableWritten(table_);
  ++block_writes_;
}

long OdbcCursor::Write(const std::string& sql, const std::vector<const Variant*>& values, bool protect) {
  const bool logged = db_->BeginWrite(!protect, !rows_owned_, table_);
  Writing();
  auto stmt = db_->Take(sql);
  long rows = 0;
  try {
    stmt->ResetParams();
    int p = 1;
    for (const Variant* v : values) stmt->Bind(p++, *v);
    if (protect)
      db_->Protected([&] { stmt->Execute(); });
    else
      db_->Guarded([&] { stmt->Execute(); });
    rows = stmt->RowCount();
  } catch (...) {
    db_->Keep(sql, std::move(stmt));
    throw;
  }
  db_->Keep(sql, std::move(stmt));
  if (rows > 0) {
    if (logged) db_->Logged(sql, values);
    db_->Written(rows);
    wrote_ = true;
  }
  return rows;
}

void OdbcCursor::WriteUpdate() {
  // The statement's text depends only on which columns are written and
  // which of them were read null: made once for each such pattern.
  std::string pattern(changed_.size(), '0');
  std::vector<const Variant*> values;
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i]) {
      pattern[i] = row_[i].IsNull() ? 'n' : 'v';
      values.push_back(&edit_[i]);
    }
  for (const Variant& key : current_key_) values.push_back(&key);
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (pattern[i] == 'v') values.push_back(&row_[i]);
  std::string& sql = update_sql_[pattern];
  if (sql.empty()) {
    std::string set, where, check;
    for (std::size_t i = 0; i < changed_.size(); ++i) {
      if (pattern[i] == '0') continue;
      set += (set.empty() ? "" : ", ") + column_names_[i] + " = ?";
      check += " AND " + column_names_[i] + (pattern[i] == 'n' ? " IS NULL" : " = ?");
    }
    for (std::size_t k = 0; k < key_names_.size(); ++k) where += (k ? " AND " : "") + key_names_[k] + " = ?";
    sql = "UPDATE " + table_ + " SET " + set + " WHERE " + where + check;
  }
  if (ranged_ && !lock_ranges_) {
    // A few rows go one by one (a single-row resultset takes no second
    // round trip).
    lock_ranges_ = true;
    if (block_.size() - block_next_ >= kLockRestRows) LockRestOfBlock();
    if (!exhausted_) StartAhead();
  } else if (lock_ranges_ && !block_versions_.empty()) {
    const std::uint64_t serial = db_->LockSerial();
    if (relock_serial_ != serial) {
      relock_serial_ = serial;
      relock_rows_ = kRelockRows;
    }
    if (relock_rows_ > 0 && (block_lock_serial_ != serial || block_next_ > locked_end_)) RelockRows();
  }
  // A row of a locked block needs no check while nothing but this cursor
  // wrote the table since the block was read.
  if (block_lock_serial_ == db_->LockSerial() && block_next_ <= locked_end_ &&
      db_->TableWrites(table_) == block_writes_ && HoldUpdate(sql, values))
    return;
  if (Write(sql, values, false) <= 0)
    ThrowDataError("The row was changed or deleted by another user since it was read", kErrRowChanged);
  // A key column written: later writes and re-reads use its new value.
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i])
      for (std::size_t k = 0; k < key_names_.size(); ++k)
        if (column_names_[i] == key_names_[k]) current_key_[k] = CoerceToKind(edit_[i], key_kinds_[k]);
}

void OdbcCursor::LockRestOfBlock() {
  // The current row's values are in row_; the rows after it in block_.
  const std::size_t nk = key_names_.size();
  const std::int64_t above = current_key_[0].ToInteger() - 1;
  auto stmt = Run(lock_rest_sql_, {Variant(above), block_.back()[0]}, true, above);
  std::size_t next = block_next_ - 1;
  bool same = true;
  {
    OdbcRows& rows = stmt->Rows(read_columns_);
    std::vector<Variant> row;
    while (db_->Guarded([&] { return rows.Next(row); })) {
      if (!same || next >= block_.size()) {
        same = false;
      } else if (next + 1 == block_next_) {
        same = row[0] == current_key_[0] && std::equal(row_.begin(), row_.end(), row.begin() + nk);
      } else {
        same = row == block_[next];
      }
      ++next;
    }
  }
  db_->Keep(lock_rest_sql_, std::move(stmt));
  if (!same || next != block_.size()) return;
  block_lock_serial_ = db_->LockSerial();
  locked_end_ = block_.size();
  block_writes_ = db_->TableWrites(table_);
}

void OdbcCursor::RelockRows() {
  // Rows of this cursor's table written since the block was read were
  // written by this cursor, in key order: none after the current one.
  const std::size_t from = block_next_ - 1;
  const std::size_t end = std::min(block_.size(), from + relock_rows_);
  relock_rows_ = 0;
  if (end - from < 2) return;  // a row alone is written with the check
  const std::size_t nk = key_names_.size();
  const std::int64_t above = current_key_[0].ToInteger() - 1;
  auto stmt = Run(relock_sql_, {Variant(above), block_[end - 1][0]}, true, above);
  std::size_t next = from;
  {
    OdbcRows& rows = stmt->Rows();
    std::vector<Variant> row;
    while (db_->Guarded([&] { return rows.Next(row); })) {
      const Variant& key = next == from ? current_key_[0] : block_[next][0];
      if (next < end && row[0] == key && row[nk].ToInteger() == block_versions_[next]) ++next;
    }
  }
  db_->Keep(relock_sql_, std::move(stmt));
  if (next == from) return;
  block_lock_serial_ = db_->LockSerial();
  locked_end_ = next;
  block_writes_ = db_->TableWrites(table_);
  // Every row as read: the next window is twice as long.
  if (next == end) relock_rows_ = 2 * (end - from);
}

bool OdbcCursor::HoldUpdate(const std::string& sql, const std::vector<const Variant*>& values) {
  // The row is locked as it was read: a row that would stay as it is is not
  // written at all. Otherwise every column set is written, so that the rows
  // of a run share one shape and one statement.
  std::string mask(changed_.size(), '0');
  std::vector<const Variant*> written;
  bool differs = false;
  for (std::size_t i = 0; i < changed_.size(); ++i) {
    if (!changed_[i]) continue;
    const bool same = SameAsRead(edit_[i], row_[i]);
    if (column_names_[i] == key_names_[0]) {
      if (same) continue;
      return false;  // the key itself changes
    }
    differs = differs || !same;
    mask[i] = '1';
    written.push_back(&edit_[i]);
  }
  if (!differs) return true;
  written.push_back(&current_key_[0]);
  auto [it, added] = shapes_.try_emplace(mask);
  if (added) it->second = MakeShape(mask);
  const std::shared_ptr<const OdbcDb::RowsShape>& shape = it->second;
  if (!shape) return false;
  Writing();
  if (!db_->HoldUpdate(block_lock_serial_, shape, sql, values, written, current_key_[0].ToInteger())) return false;
  wrote_ = true;
  return true;
}

std::shared_ptr<const OdbcDb::RowsShape> OdbcCursor::MakeShape(const std::string& mask) {
  const std::vector<std::string>* row_type = db_->RowType(table_);
  if (!row_type) return nullptr;
  auto shape = std::make_shared<OdbcDb::RowsShape>();
  shape->table = table_;
  shape->key = key_names_[0];
  shape->value_at.assign(row_type->size(), -1);
  int value = 0;
  for (std::size_t i = 0; i <= mask.size(); ++i) {
    if (i < mask.size() && mask[i] != '1') continue;
    const std::string& name = i < mask.size() ? column_names_[i] : key_names_[0];
    auto slot = std::find(row_type->begin(), row_type->end(), Unquote(name));
    if (slot == row_type->end()) return nullptr;
    if (i < mask.size()) shape->columns.push_back(name);
    shape->value_at[static_cast<std::size_t>(slot - row_type->begin())] = value++;
  }
  return shape;
}

void OdbcCursor::WriteInsert() {
  std::string names, markers;
  std::vector<const Variant*> values;
  for (std::size_t i = 0; i < changed_.size(); ++i) {
    if (!changed_[i]) continue;
    if (!names.empty()) {
      names += ", ";
      markers += ", ";
    }
    names += column_names_[i];
    markers += "?";
    values.push_back(&edit_[i]);
  }
  Write(names.empty() ? "INSERT INTO " + table_ + " DEFAULT VALUES"
                      : "INSERT INTO " + table_ + " (" + names + ") VALUES (" + markers + ")",
        values, true);
}

void OdbcCursor::Reread() {
  std::string where;
  for (std::size_t k = 0; k < key_names_.size(); ++k)
    where += (k ? " AND " : "") + qualifier_ + "." + key_names_[k] + " = ?";
  std::string sql = "SELECT " + key_list_ + ", " + list_ + from_ + " WHERE " + where;
  auto stmt = Run(sql, current_key_, false);
  std::vector<Variant> row;
  bool found;
  try {
    OdbcRows& rows = stmt->Rows(read_columns_, 1);
    found = db_->Guarded([&] { return rows.Next(row); });
  } catch (...) {
    db_->Keep(sql, std::move(stmt));
    throw;
  }
  db_->Keep(sql, std::move(stmt));
  if (!found) ThrowDataError("The row was deleted by another user", kErrRowChanged);
  std::size_t nk = key_names_.size();
  for (std::size_t i = 0; i < row_.size(); ++i) row_[i] = std::move(row[nk + i]);
}

void OdbcCursor::Release() noexcept {
  ahead_.reset();  // waits for a read ahead still running
  rows_ = nullptr;
  if (!server_cursor_.empty()) {
    read_.reset();
    db_->CloseCursor(server_cursor_, cursor_rollbacks_);
  }
  if (read_) db_->Keep(read_sql_, std::move(read_));
  if (streaming_) {
    streaming_ = false;
    db_->StreamEnded();
  }
  keys_ = {};
  block_ = {};
  preparer_ = nullptr;
  notes_taken_ = nullptr;
  notes_.clear();
  if (wrote_) db_->WriterClosed();
}

}  // namespace ordalis::rdo
