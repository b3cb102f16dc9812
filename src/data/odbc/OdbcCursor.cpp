#include "data/odbc/OdbcCursor.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "data/SqlText.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"
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

// The text of column `column` of the fetched row; empty for NULL.
std::optional<std::string> GetText(const OdbcStatement& stmt, int column) {
  std::u16string text;
  char16_t buffer[2048];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt.handle(), static_cast<SQLUSMALLINT>(column), SQL_C_WCHAR, buffer, sizeof buffer,
                              &indicator);
    if (rc == SQL_NO_DATA) break;
    stmt.Check(rc);
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    std::size_t capacity = sizeof buffer / sizeof buffer[0] - 1;
    if (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / 2 > capacity) {
      text.append(buffer, capacity);  // truncated: the rest comes with the next call
      continue;
    }
    text.append(buffer, static_cast<std::size_t>(indicator) / 2);
    break;
  }
  return ToUtf8(text);
}

template <class T>
std::optional<T> GetFixed(const OdbcStatement& stmt, int column, SQLSMALLINT c_type) {
  T value{};
  SQLLEN indicator = 0;
  stmt.Check(SQLGetData(stmt.handle(), static_cast<SQLUSMALLINT>(column), c_type, &value, sizeof value, &indicator));
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  return value;
}

Variant::Kind KindOf(SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits, const std::string& type_name, int& text_size) {
  text_size = 0;
  std::string name = Lower(type_name);
  if (name == "bool" || name == "boolean" || name == "bit") return K::Bool;
  if (name == "money" || name == "smallmoney") return K::Money;
  switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
      text_size = size > 0 && size < 65536 ? static_cast<int>(size) : 0;
      return K::Text;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR: return K::Text;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return K::Integer;
    case SQL_REAL: return K::Single;
    case SQL_FLOAT:
    case SQL_DOUBLE: return K::Double;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      if (digits == 4) return K::Money;
      if (digits == 0 && size > 0 && size <= 18) return K::Integer;
      return K::Double;
    case SQL_BIT: return K::Bool;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: return K::Date;
    default: return K::Null;
  }
}

}  // namespace

OdbcCursor::OdbcCursor(std::shared_ptr<OdbcDb> db, const std::string& sql, bool updatable)
    : db_(std::move(db)), updatable_(updatable) {
  if (updatable)
    OpenUpdatable(sql);
  else
    OpenReadOnly(sql);
}

OdbcCursor::~OdbcCursor() { Close(); }

std::vector<ColumnInfo> OdbcCursor::Describe(SQLHSTMT stmt, int first, std::vector<std::string>* names) const {
  SQLSMALLINT count = 0;
  OdbcCheck(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt);
  std::vector<ColumnInfo> columns;
  for (SQLSMALLINT i = static_cast<SQLSMALLINT>(first); i <= count; ++i) {
    SQLWCHAR name[512] = {};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    OdbcCheck(SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i), name, 512, &name_length, &type, &size, &digits,
                              &nullable),
              SQL_HANDLE_STMT, stmt);
    SQLWCHAR type_name[128] = {};
    SQLSMALLINT type_name_length = 0;
    SQLColAttributeW(stmt, static_cast<SQLUSMALLINT>(i), SQL_DESC_TYPE_NAME, type_name, sizeof type_name,
                     &type_name_length, nullptr);
    ColumnInfo info;
    info.name = ToUtf8(reinterpret_cast<char16_t*>(name));
    info.kind = KindOf(type, size, digits, ToUtf8(reinterpret_cast<char16_t*>(type_name)), info.size);
    if (names) names->push_back(db_->QuoteName(info.name));
    columns.push_back(std::move(info));
  }
  return columns;
}

Variant OdbcCursor::ReadColumn(SQLHSTMT handle, int column, K kind) const {
  const OdbcStatement& stmt = *read_;
  (void)handle;
  switch (kind) {
    case K::Integer: {
      auto v = GetFixed<SQLBIGINT>(stmt, column, SQL_C_SBIGINT);
      return v ? Variant(static_cast<std::int64_t>(*v)) : Variant();
    }
    case K::Double: {
      auto v = GetFixed<double>(stmt, column, SQL_C_DOUBLE);
      return v ? Variant(*v) : Variant();
    }
    case K::Single: {
      auto v = GetFixed<float>(stmt, column, SQL_C_FLOAT);
      return v ? Variant(*v) : Variant();
    }
    case K::Bool: {
      auto v = GetFixed<unsigned char>(stmt, column, SQL_C_BIT);
      return v ? Variant(*v != 0) : Variant();
    }
    case K::Money: {
      auto t = GetText(stmt, column);
      if (!t) return Variant();
      try {
        return Variant(Money::FromText(*t));
      } catch (const ComponentError&) {
        return Variant(std::move(*t));
      }
    }
    case K::Date: {
      auto t = GetText(stmt, column);
      if (!t) return Variant();
      if (auto d = dt::ParseStored(*t)) return Variant::FromDate(*d);
      return Variant(std::move(*t));
    }
    case K::Text:
    case K::Null: {
      auto t = GetText(stmt, column);
      return t ? Variant(std::move(*t)) : Variant();
    }
  }
  return Variant();
}

void OdbcCursor::OpenReadOnly(const std::string& sql) {
  read_ = std::make_unique<OdbcStatement>(db_->handle(), db_->query_timeout());
  read_->ExecDirect(sql);
  std::vector<ColumnInfo> columns = Describe(read_->handle(), 1, nullptr);
  for (auto& c : columns) read_kinds_.push_back(c.kind);
  Start(std::move(columns));
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
      int name_column;
      if (pass == 0) {
        stmt.Check(SQLPrimaryKeysW(stmt.handle(), nullptr, 0, schema_arg, schema_length,
                                   reinterpret_cast<SQLWCHAR*>(w_table.data()),
                                   static_cast<SQLSMALLINT>(w_table.size())));
        name_column = 4;
      } else {
        stmt.Check(SQLSpecialColumnsW(stmt.handle(), SQL_BEST_ROWID, nullptr, 0, schema_arg, schema_length,
                                      reinterpret_cast<SQLWCHAR*>(w_table.data()),
                                      static_cast<SQLSMALLINT>(w_table.size()), SQL_SCOPE_TRANSACTION,
                                      SQL_NULLABLE));
        name_column = 2;
      }
      std::vector<std::pair<int, std::string>> found;
      SQLRETURN rc;
      while ((rc = SQLFetch(stmt.handle())) != SQL_NO_DATA) {
        stmt.Check(rc);
        auto column = GetText(stmt, name_column);
        int sequence = static_cast<int>(found.size());
        if (pass == 0)
          if (auto seq = GetFixed<SQLINTEGER>(stmt, 5, SQL_C_SLONG)) sequence = *seq;
        if (column) found.emplace_back(sequence, *column);
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
  std::string from = " FROM " + table_ + (parts->alias.empty() ? "" : " " + parts->alias);
  std::string rest = parts->rest.empty() ? "" : " " + parts->rest;

  std::string key_list;
  for (const std::string& key : KeyColumns(table_)) {
    key_names_.push_back(db_->QuoteName(key));
    if (!key_list.empty()) key_list += ", ";
    key_list += qualifier_ + "." + key_names_.back();
  }
  std::size_t nk = key_names_.size();

  // The columns, without reading any row.
  std::vector<ColumnInfo> columns;
  {
    read_ = std::make_unique<OdbcStatement>(db_->handle(), db_->query_timeout());
    read_->ExecDirect("SELECT " + key_list + ", " + list_ + from + " WHERE 1=0");
    std::vector<ColumnInfo> all = Describe(read_->handle(), 1, &column_names_);
    for (std::size_t i = 0; i < all.size(); ++i) read_kinds_.push_back(all[i].kind);
    for (std::size_t i = 0; i < nk; ++i) key_kinds_.push_back(all[i].kind);
    columns.assign(all.begin() + static_cast<std::ptrdiff_t>(nk), all.end());
    column_names_.erase(column_names_.begin(), column_names_.begin() + static_cast<std::ptrdiff_t>(nk));
  }
  // The keys of every row, in the statement's order.
  read_ = std::make_unique<OdbcStatement>(db_->handle(), db_->query_timeout());
  read_->ExecDirect("SELECT " + key_list + from + rest);
  SQLRETURN rc;
  while ((rc = SQLFetch(read_->handle())) != SQL_NO_DATA) {
    read_->Check(rc);
    for (std::size_t k = 0; k < nk; ++k)
      keys_.push_back(ReadColumn(read_->handle(), static_cast<int>(k) + 1, key_kinds_[k]));
  }
  // The chunk statement: kChunk keys at a time.
  std::string where;
  for (std::size_t j = 0; j < kChunk; ++j) {
    if (j) where += " OR ";
    if (nk == 1) {
      where += qualifier_ + "." + key_names_[0] + " = ?";
    } else {
      where += "(";
      for (std::size_t k = 0; k < nk; ++k) where += (k ? " AND " : "") + qualifier_ + "." + key_names_[k] + " = ?";
      where += ")";
    }
  }
  read_ = std::make_unique<OdbcStatement>(db_->handle(), db_->query_timeout());
  read_->Prepare("SELECT " + key_list + ", " + list_ + from + " WHERE " + where);
  Start(std::move(columns));
}

std::string OdbcCursor::KeyText(const Variant* key) const {
  std::string text;
  for (std::size_t k = 0; k < key_names_.size(); ++k) {
    text += key[k].ToText();
    text += '\x1f';
  }
  return text;
}

void OdbcCursor::LoadChunk() {
  std::size_t nk = key_names_.size();
  std::size_t total = keys_.size() / nk;
  std::size_t n = std::min(kChunk, total - next_key_);
  read_->CloseCursor();
  read_->ResetParams();
  int p = 1;
  for (std::size_t j = 0; j < kChunk; ++j) {
    std::size_t row = next_key_ + std::min(j, n - 1);  // the last key repeats to fill the chunk
    for (std::size_t k = 0; k < nk; ++k) read_->Bind(p++, keys_[row * nk + k]);
  }
  read_->Execute();
  std::unordered_map<std::string, std::vector<Variant>> found;
  SQLRETURN rc;
  while ((rc = SQLFetch(read_->handle())) != SQL_NO_DATA) {
    read_->Check(rc);
    std::vector<Variant> values(read_kinds_.size());
    for (std::size_t i = 0; i < values.size(); ++i)
      values[i] = ReadColumn(read_->handle(), static_cast<int>(i) + 1, read_kinds_[i]);
    found.emplace(KeyText(values.data()), std::move(values));
  }
  read_->CloseCursor();
  chunk_.clear();
  chunk_next_ = 0;
  for (std::size_t j = 0; j < n; ++j) {
    auto it = found.find(KeyText(&keys_[(next_key_ + j) * nk]));
    if (it != found.end()) chunk_.push_back(std::move(it->second));  // missing: deleted since the open
    if (it != found.end()) found.erase(it);
  }
  next_key_ += n;
}

bool OdbcCursor::FetchNext() {
  if (!updatable_) {
    if (read_kinds_.empty()) return false;  // a statement without rows
    SQLRETURN rc = SQLFetch(read_->handle());
    if (rc == SQL_NO_DATA) return false;
    read_->Check(rc);
    for (std::size_t i = 0; i < row_.size(); ++i)
      row_[i] = ReadColumn(read_->handle(), static_cast<int>(i) + 1, read_kinds_[i]);
    return true;
  }
  std::size_t nk = key_names_.size();
  while (chunk_next_ >= chunk_.size()) {
    if (next_key_ >= keys_.size() / nk) {
      keys_ = {};
      chunk_ = {};
      return false;
    }
    LoadChunk();
  }
  std::vector<Variant>& values = chunk_[chunk_next_++];
  current_key_.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(nk));
  for (std::size_t i = 0; i < row_.size(); ++i) row_[i] = std::move(values[nk + i]);
  return true;
}

std::string OdbcCursor::KeyCondition() const {
  std::string where;
  for (std::size_t k = 0; k < key_names_.size(); ++k) where += (k ? " AND " : "") + key_names_[k] + " = ?";
  return where;
}

void OdbcCursor::WriteUpdate() {
  if (db_->closed()) ThrowDataError("The connection is closed");
  std::string set, check;
  for (std::size_t i = 0; i < changed_.size(); ++i) {
    if (!changed_[i]) continue;
    if (!set.empty()) set += ", ";
    set += column_names_[i] + " = ?";
    check += " AND " + column_names_[i] + (row_[i].IsNull() ? " IS NULL" : " = ?");
  }
  OdbcStatement stmt(db_->handle(), db_->query_timeout());
  int p = 1;
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i]) stmt.Bind(p++, edit_[i]);
  for (const Variant& key : current_key_) stmt.Bind(p++, key);
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i] && !row_[i].IsNull()) stmt.Bind(p++, row_[i]);
  stmt.ExecDirect("UPDATE " + table_ + " SET " + set + " WHERE " + KeyCondition() + check);
  if (stmt.RowCount() <= 0)
    ThrowDataError("The row was changed or deleted by another user since it was read", kErrRowChanged);
  // A key column written: later writes and re-reads use its new value.
  for (std::size_t i = 0; i < changed_.size(); ++i)
    if (changed_[i])
      for (std::size_t k = 0; k < key_names_.size(); ++k)
        if (column_names_[i] == key_names_[k]) current_key_[k] = CoerceToKind(edit_[i], key_kinds_[k]);
}

void OdbcCursor::WriteInsert() {
  if (db_->closed()) ThrowDataError("The connection is closed");
  std::string names, params;
  OdbcStatement stmt(db_->handle(), db_->query_timeout());
  int p = 1;
  for (std::size_t i = 0; i < changed_.size(); ++i) {
    if (!changed_[i]) continue;
    if (!names.empty()) {
      names += ", ";
      params += ", ";
    }
    names += column_names_[i];
    params += "?";
    stmt.Bind(p++, edit_[i]);
  }
  stmt.ExecDirect(names.empty() ? "INSERT INTO " + table_ + " DEFAULT VALUES"
                                : "INSERT INTO " + table_ + " (" + names + ") VALUES (" + params + ")");
}

void OdbcCursor::Reread() {
  std::string key_list;
  for (const std::string& key : key_names_) key_list += key + ", ";
  std::string sql = "SELECT " + key_list + list_ + " FROM " + table_ + (qualifier_ != table_ ? " " + qualifier_ : "");
  std::string where;
  for (std::size_t k = 0; k < key_names_.size(); ++k)
    where += (k ? " AND " : "") + qualifier_ + "." + key_names_[k] + " = ?";
  auto saved = std::move(read_);
  read_ = std::make_unique<OdbcStatement>(db_->handle(), db_->query_timeout());
  struct Restore {
    std::unique_ptr<OdbcStatement>& slot;
    std::unique_ptr<OdbcStatement>& saved;
    ~Restore() { slot = std::move(saved); }
  } restore{read_, saved};
  int p = 1;
  for (const Variant& key : current_key_) read_->Bind(p++, key);
  read_->ExecDirect(sql + " WHERE " + where);
  SQLRETURN rc = SQLFetch(read_->handle());
  if (rc == SQL_NO_DATA) ThrowDataError("The row was deleted by another user", kErrRowChanged);
  read_->Check(rc);
  std::size_t nk = key_names_.size();
  for (std::size_t i = 0; i < row_.size(); ++i)
    row_[i] = ReadColumn(read_->handle(), static_cast<int>(nk + i) + 1, read_kinds_[nk + i]);
}

void OdbcCursor::Release() noexcept {
  read_.reset();
  keys_ = {};
  chunk_ = {};
}

}  // namespace ordalis::rdo
