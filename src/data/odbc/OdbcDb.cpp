#include "data/odbc/OdbcDb.h"

#include <charconv>
#include <cstring>

#include "data/Cursor.h"
#include "data/RdoTypes.h"

namespace ordalis::rdo {
namespace {

// The process's ODBC environment, made at the first connection and kept for
// the life of the process (connections may close at exit in any order).
SQLHENV Environment() {
  static SQLHENV env = [] {
    SQLHENV h = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
      ThrowDataError("The ODBC driver manager cannot be initialised");
    OdbcCheck(SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_HANDLE_ENV, h);
    return h;
  }();
  return env;
}

SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

template <class T>
std::string Bytes(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

}  // namespace

void OdbcCheck(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) return;
  OdbcFail(type, handle, rc);
}

void OdbcFail(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN rc) {
  if (rc == SQL_INVALID_HANDLE || handle == SQL_NULL_HANDLE) ThrowDataError("Invalid ODBC handle");
  std::string description;
  for (SQLSMALLINT rec = 1; rec <= 4; ++rec) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    SQLRETURN d = SQLGetDiagRecW(type, handle, rec, state, &native, message, 1024, &length);
    if (!SQL_SUCCEEDED(d)) break;
    std::u16string msg(reinterpret_cast<char16_t*>(message));
    std::u16string st(reinterpret_cast<char16_t*>(state));
    if (!description.empty()) description += "; ";
    description += ToUtf8(msg) + " (SQLSTATE " + ToUtf8(st) + ", native " + std::to_string(native) + ")";
  }
  if (description.empty()) description = "ODBC call failed with return code " + std::to_string(rc);
  ThrowDataError(description);
}

OdbcStatement::OdbcStatement(SQLHDBC dbc, int query_timeout_s) {
  OdbcCheck(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_), SQL_HANDLE_DBC, dbc);
  if (query_timeout_s > 0) {
    SQLRETURN rc = SQLSetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(query_timeout_s)), 0);
    if (!SQL_SUCCEEDED(rc)) {
      SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
      stmt_ = SQL_NULL_HSTMT;
      OdbcFail(SQL_HANDLE_DBC, dbc, rc);
    }
  }
}

OdbcStatement::~OdbcStatement() {
  if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void OdbcStatement::ExecDirect(std::string_view sql) {
  std::u16string w = ToUtf16(sql);
  Check(SQLExecDirectW(stmt_, W(w), static_cast<SQLINTEGER>(w.size())));
}

void OdbcStatement::Prepare(std::string_view sql) {
  std::u16string w = ToUtf16(sql);
  Check(SQLPrepareW(stmt_, W(w), static_cast<SQLINTEGER>(w.size())));
}

void OdbcStatement::Execute() { Check(SQLExecute(stmt_)); }

void OdbcStatement::CloseCursor() noexcept { SQLFreeStmt(stmt_, SQL_CLOSE); }

void OdbcStatement::ResetParams() {
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  buffers_.clear();
  lengths_.clear();
}

long OdbcStatement::RowCount() {
  SQLLEN n = 0;
  Check(SQLRowCount(stmt_, &n));
  return static_cast<long>(n);
}

void OdbcStatement::Bind(int number, const Variant& v) {
  using K = Variant::Kind;
  SQLSMALLINT c_type = SQL_C_CHAR, sql_type = SQL_VARCHAR, digits = 0;
  SQLULEN size = 1;
  std::string data;
  SQLLEN length = 0;
  switch (v.kind()) {
    case K::Null:
      data.assign(2, '\0');  // drivers want a buffer even for NULL
      c_type = SQL_C_WCHAR;
      sql_type = SQL_WVARCHAR;
      length = SQL_NULL_DATA;
      break;
    case K::Text: {
      std::u16string w = ToUtf16(v.ToText());
      data.assign(reinterpret_cast<const char*>(w.data()), w.size() * 2);
      c_type = SQL_C_WCHAR;
      sql_type = SQL_WVARCHAR;
      size = w.empty() ? 1 : w.size();
      length = static_cast<SQLLEN>(data.size());
      data.append(2, '\0');  // an empty text still needs a buffer
      break;
    }
    case K::Integer:
      data = Bytes(static_cast<SQLBIGINT>(v.ToInteger()));
      c_type = SQL_C_SBIGINT;
      sql_type = SQL_BIGINT;
      size = 19;
      length = sizeof(SQLBIGINT);
      break;
    case K::Double:
    case K::Single: {
      // As the shortest text that reads back as the same number, so that the
      // optimistic comparison with a value as read is exact.
      char buf[64];
      auto r = v.kind() == K::Single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v.ToDouble()))
                                     : std::to_chars(buf, buf + sizeof buf, v.ToDouble());
      data.assign(buf, r.ptr);
      sql_type = v.kind() == K::Single ? SQL_REAL : SQL_DOUBLE;
      size = 17;
      length = static_cast<SQLLEN>(data.size());
      break;
    }
    case K::Money:
      data = v.ToMoney().ToText();
      sql_type = SQL_DECIMAL;
      size = 19;
      digits = 4;
      length = static_cast<SQLLEN>(data.size());
      break;
    case K::Date: {
      CivilTime c = dt::ToCivil(v.ToDate());
      SQL_TIMESTAMP_STRUCT ts{};
      ts.year = static_cast<SQLSMALLINT>(c.year);
      ts.month = static_cast<SQLUSMALLINT>(c.month);
      ts.day = static_cast<SQLUSMALLINT>(c.day);
      ts.hour = static_cast<SQLUSMALLINT>(c.hour);
      ts.minute = static_cast<SQLUSMALLINT>(c.minute);
      ts.second = static_cast<SQLUSMALLINT>(c.second);
      data = Bytes(ts);
      c_type = SQL_C_TYPE_TIMESTAMP;
      sql_type = SQL_TYPE_TIMESTAMP;
      size = 19;
      length = sizeof ts;
      break;
    }
    case K::Bool:
      data = Bytes(static_cast<unsigned char>(v.ToBool() ? 1 : 0));
      c_type = SQL_C_BIT;
      sql_type = SQL_BIT;
      length = 1;
      break;
  }
  buffers_.push_back(std::move(data));
  lengths_.push_back(length);
  std::string& buffer = buffers_.back();
  Check(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(number), SQL_PARAM_INPUT, c_type, sql_type, size, digits,
                         buffer.data(), static_cast<SQLLEN>(buffer.size()),
                         &lengths_.back()));
}

OdbcDb::OdbcDb(const std::string& connect, int query_timeout_s) : query_timeout_s_(query_timeout_s) {
  SQLHENV env = Environment();
  OdbcCheck(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc_), SQL_HANDLE_ENV, env);
  try {
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    std::u16string w = ToUtf16(connect);
    SQLWCHAR out[1024];
    SQLSMALLINT out_length = 0;
    OdbcCheck(SQLDriverConnectW(dbc_, nullptr, W(w), static_cast<SQLSMALLINT>(w.size()), out, 1024, &out_length,
                                SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, dbc_);
    connected_ = true;
    SQLWCHAR quote[8] = {};
    SQLSMALLINT quote_length = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quote_length))) {
      std::string q = ToUtf8(reinterpret_cast<char16_t*>(quote));
      if (!q.empty() && q != " ") quote_ = q;
    }
  } catch (...) {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    throw;
  }
}

OdbcDb::~OdbcDb() {
  if (connected_) SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

std::string OdbcDb::QuoteName(std::string_view name) const {
  std::string out = quote_;
  for (char c : name) {
    out += c;
    if (quote_.size() == 1 && c == quote_[0]) out += c;
  }
  return out + quote_;
}

}  // namespace ordalis::rdo
