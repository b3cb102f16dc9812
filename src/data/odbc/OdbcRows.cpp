#include "data/odbc/OdbcRows.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "data/Cursor.h"
#include "data/odbc/OdbcDb.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"

namespace ordalis::rdo {
namespace {

using K = Variant::Kind;

// Longest text bound in a buffer; longer (or unsized) columns are read with
// SQLGetData.
constexpr int kBoundTextChars = 4000;
constexpr std::size_t kNumberTextBytes = 64;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// `name`: the type's name in lower case.
Variant::Kind KindOf(SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits, const std::string& name, int& text_size) {
  text_size = 0;
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

Variant MoneyFromText(std::string text) {
  try {
    return Variant(Money::FromText(text));
  } catch (const ComponentError&) {
    return Variant(std::move(text));
  }
}

Variant DateFromText(std::string text) {
  if (auto d = dt::ParseStored(text)) return Variant::FromDate(*d);
  return Variant(std::move(text));
}

}  // namespace

std::optional<DateTime> TimestampText(std::string_view t) {
  if (t.size() < 19 || t[10] != ' ') return std::nullopt;
  const std::string_view fraction = t.substr(19);
  if (!fraction.empty() && (fraction[0] != '.' || !std::all_of(fraction.begin() + 1, fraction.end(), [](char c) {
                              return c >= '0' && c <= '9';
                            })))
    return std::nullopt;
  return dt::ParseStored(t.substr(0, 19));
}

std::vector<OdbcColumn> DescribeColumns(SQLHSTMT stmt, bool utf8_text) {
  SQLSMALLINT count = 0;
  OdbcCheck(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt);
  std::vector<OdbcColumn> columns;
  for (SQLSMALLINT i = 1; i <= count; ++i) {
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
    OdbcColumn c;
    c.name = ToUtf8(reinterpret_cast<char16_t*>(name));
    c.sql_type = type;
    const std::string type_text = Lower(ToUtf8(reinterpret_cast<char16_t*>(type_name)));
    c.kind = KindOf(type, size, digits, type_text, c.size);
    c.plain_timestamp = (type == SQL_TYPE_TIMESTAMP || type == SQL_TIMESTAMP) &&
                        (type_text == "timestamp without time zone" || type_text == "timestamp");
    if (c.kind == K::Text || c.kind == K::Null) {
      c.bounded = c.size > 0 && c.size <= kBoundTextChars && type != SQL_LONGVARCHAR && type != SQL_WLONGVARCHAR;
      // The driver hands over the bytes of the character types only.
      c.utf8_bytes = utf8_text && (type_text == "varchar" || type_text == "text" || type_text == "bpchar");
    }
    columns.push_back(std::move(c));
  }
  return columns;
}

OdbcRows::OdbcRows(SQLHSTMT stmt, std::vector<OdbcColumn> columns, std::size_t block_rows)
    : stmt_(stmt), columns_(std::move(columns)) {
  blocked_ = !columns_.empty() &&
             std::all_of(columns_.begin(), columns_.end(), [](const OdbcColumn& c) { return c.bounded; });
  if (!blocked_) return;
  buffers_.resize(columns_.size());
  std::size_t row_bytes = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const OdbcColumn& c = columns_[i];
    Buffer& b = buffers_[i];
    switch (c.kind) {
      case K::Integer: b.c_type = SQL_C_SBIGINT, b.width = sizeof(SQLBIGINT); break;
      case K::Double: b.c_type = SQL_C_DOUBLE, b.width = sizeof(double); break;
      case K::Single: b.c_type = SQL_C_FLOAT, b.width = sizeof(float); break;
      case K::Bool: b.c_type = SQL_C_BIT, b.width = 1; break;
      case K::Date:
        if (c.sql_type == SQL_TYPE_TIMESTAMP || c.sql_type == SQL_TIMESTAMP)
          b.c_type = SQL_C_TYPE_TIMESTAMP, b.width = sizeof(SQL_TIMESTAMP_STRUCT);
        else
          b.c_type = SQL_C_CHAR, b.width = kNumberTextBytes;
        break;
      case K::Money: b.c_type = SQL_C_CHAR, b.width = kNumberTextBytes; break;
      case K::Text:
      case K::Null:
        if (c.utf8_bytes)  // up to four bytes a character
          b.c_type = SQL_C_BINARY, b.width = static_cast<std::size_t>(c.size) * 4;
        else  // up to two UTF-16 units a character, and the terminator
          b.c_type = SQL_C_WCHAR, b.width = (static_cast<std::size_t>(c.size) * 2 + 1) * sizeof(char16_t);
        break;
    }
    // Column-wise binding: fixed-size values lie at their C type's size.
    row_bytes += b.width + sizeof(SQLLEN);
  }
  block_rows_ = std::max<std::size_t>(1, std::min(block_rows, kBlockBytes / row_bytes));
  for (std::size_t i = 0; i < buffers_.size(); ++i) {
    Buffer& b = buffers_[i];
    b.data = std::make_unique_for_overwrite<unsigned char[]>(b.width * block_rows_);
    b.indicators.resize(block_rows_);
    bytes_ += b.width * block_rows_ + b.indicators.size() * sizeof(SQLLEN);
  }
  OdbcCheck(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
            SQL_HANDLE_STMT, stmt_);
  OdbcCheck(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block_rows_), 0),
            SQL_HANDLE_STMT, stmt_);
  OdbcCheck(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0), SQL_HANDLE_STMT, stmt_);
  for (std::size_t i = 0; i < buffers_.size(); ++i) {
    Buffer& b = buffers_[i];
    OdbcCheck(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(i + 1), b.c_type, b.data.get(),
                         static_cast<SQLLEN>(b.width), b.indicators.data()),
              SQL_HANDLE_STMT, stmt_);
  }
}

OdbcRows::~OdbcRows() {
  if (!blocked_) return;
  // The buffers go with this object: the statement must not write to them.
  SQLFreeStmt(stmt_, SQL_UNBIND);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
}

void OdbcRows::Restart() noexcept {
  fetched_ = 0;
  next_ = 0;
  ended_ = false;
}

bool OdbcRows::FetchBlock() {
  if (ended_) return false;
  fetched_ = 0;
  next_ = 0;
  SQLRETURN rc = SQLFetch(stmt_);
  if (rc == SQL_NO_DATA) {
    ended_ = true;
    return false;
  }
  OdbcCheck(rc, SQL_HANDLE_STMT, stmt_);
  if (fetched_ == 0) {
    ended_ = true;
    return false;
  }
  return true;
}

bool OdbcRows::Next(std::vector<Variant>& row) {
  if (columns_.empty()) return false;  // a statement without rows
  row.resize(columns_.size());
  if (!blocked_) {
    if (ended_) return false;
    SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) {
      ended_ = true;
      return false;
    }
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt_);
    for (std::size_t i = 0; i < columns_.size(); ++i) row[i] = Got(static_cast<int>(i) + 1);
    return true;
  }
  if (next_ >= fetched_ && !FetchBlock()) return false;
  for (std::size_t i = 0; i < columns_.size(); ++i) row[i] = Bound(i, next_);
  ++next_;
  return true;
}

Variant OdbcRows::Bound(std::size_t column, std::size_t row) const {
  const Buffer& b = buffers_[column];
  SQLLEN indicator = b.indicators[row];
  if (indicator == SQL_NULL_DATA) return Variant();
  const unsigned char* p = b.data.get() + row * b.width;
  switch (b.c_type) {
    case SQL_C_SBIGINT: {
      SQLBIGINT v;
      std::memcpy(&v, p, sizeof v);
      return Variant(static_cast<std::int64_t>(v));
    }
    case SQL_C_DOUBLE: {
      double v;
      std::memcpy(&v, p, sizeof v);
      return Variant(v);
    }
    case SQL_C_FLOAT: {
      float v;
      std::memcpy(&v, p, sizeof v);
      return Variant(v);
    }
    case SQL_C_BIT: return Variant(*p != 0);
    case SQL_C_TYPE_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT ts;
      std::memcpy(&ts, p, sizeof ts);
      CivilTime c{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second};
      return Variant::FromDate(dt::FromCivil(c));
    }
    case SQL_C_CHAR: {
      std::size_t length = indicator == SQL_NO_TOTAL ? std::strlen(reinterpret_cast<const char*>(p))
                                                     : std::min<std::size_t>(indicator, b.width - 1);
      std::string text(reinterpret_cast<const char*>(p), length);
      return columns_[column].kind == K::Money ? MoneyFromText(std::move(text)) : DateFromText(std::move(text));
    }
    case SQL_C_BINARY: {
      if (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > b.width)
        ThrowDataError("The value of column " + columns_[column].name + " is longer than its declared size");
      return Variant(std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(indicator)));
    }
    default: {  // SQL_C_WCHAR
      std::size_t units = indicator == SQL_NO_TOTAL ? std::char_traits<char16_t>::length(reinterpret_cast<const char16_t*>(p))
                                                    : static_cast<std::size_t>(indicator) / sizeof(char16_t);
      if (units * sizeof(char16_t) >= b.width)
        ThrowDataError("The value of column " + columns_[column].name + " is longer than its declared size");
      std::u16string text(units, u'\0');
      std::memcpy(text.data(), p, units * sizeof(char16_t));
      return Variant(ToUtf8(text));
    }
  }
}

Variant OdbcRows::Got(int column) const {
  const OdbcColumn& c = columns_[static_cast<std::size_t>(column) - 1];
  auto fixed = [&](SQLSMALLINT c_type, void* value, SQLLEN size) {
    SQLLEN indicator = 0;
    OdbcCheck(SQLGetData(stmt_, static_cast<SQLUSMALLINT>(column), c_type, value, size, &indicator), SQL_HANDLE_STMT,
              stmt_);
    return indicator != SQL_NULL_DATA;
  };
  switch (c.kind) {
    case K::Integer: {
      SQLBIGINT v = 0;
      return fixed(SQL_C_SBIGINT, &v, sizeof v) ? Variant(static_cast<std::int64_t>(v)) : Variant();
    }
    case K::Double: {
      double v = 0;
      return fixed(SQL_C_DOUBLE, &v, sizeof v) ? Variant(v) : Variant();
    }
    case K::Single: {
      float v = 0;
      return fixed(SQL_C_FLOAT, &v, sizeof v) ? Variant(v) : Variant();
    }
    case K::Bool: {
      unsigned char v = 0;
      return fixed(SQL_C_BIT, &v, sizeof v) ? Variant(v != 0) : Variant();
    }
    default: break;
  }
  std::u16string text;
  char16_t buffer[2048];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(column), SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt_);
    if (indicator == SQL_NULL_DATA) return Variant();
    std::size_t capacity = sizeof buffer / sizeof buffer[0] - 1;
    if (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / 2 > capacity) {
      text.append(buffer, capacity);  // cut short: the rest comes with the next call
      continue;
    }
    text.append(buffer, static_cast<std::size_t>(indicator) / 2);
    break;
  }
  std::string utf8 = ToUtf8(text);
  if (c.kind == K::Money) return MoneyFromText(std::move(utf8));
  if (c.kind == K::Date) {
    if (c.sql_type == SQL_TYPE_TIMESTAMP || c.sql_type == SQL_TIMESTAMP)
      if (std::optional<DateTime> d = TimestampText(utf8)) return Variant::FromDate(*d);
    return DateFromText(std::move(utf8));
  }
  return Variant(std::move(utf8));
}

}  // namespace ordalis::rdo
