#pragma once
// OdbcDb: one ODBC connection, shared by the backend and the cursors it
// opened, with the one check every ODBC return code goes through, and the
// statement and parameter helpers the backend and its cursors use.
//
// Statements run in autocommit mode: each Update is its own transaction on
// the server. Text goes to and from the driver as UTF-16 (SQL_C_WCHAR), so
// that the driver manager's locale does not matter.
#include <sql.h>
#include <sqlext.h>

#include <deque>
#include <string>
#include <string_view>
#include <vector>

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
  OdbcStatement(SQLHDBC dbc, int query_timeout_s);
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
  // Binds a value as parameter number (1-based); the value's storage lives
  // in the statement until the next ResetParams.
  void Bind(int number, const Variant& value);
  void ResetParams();
  long RowCount();

 private:
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::deque<std::string> buffers_;
  std::deque<SQLLEN> lengths_;
};

class OdbcDb {
 public:
  // Connects with the connect string (no prompt); throws with the driver's
  // message (unknown data source, wrong password...).
  OdbcDb(const std::string& connect, int query_timeout_s);
  ~OdbcDb();
  OdbcDb(const OdbcDb&) = delete;
  OdbcDb& operator=(const OdbcDb&) = delete;

  SQLHDBC handle() const { return dbc_; }
  int query_timeout() const { return query_timeout_s_; }
  void set_query_timeout(int seconds) { query_timeout_s_ = seconds; }
  bool closed() const { return closed_; }
  void MarkClosed() { closed_ = true; }
  // The driver's identifier quote ('"' unless it says otherwise).
  const std::string& quote() const { return quote_; }
  std::string QuoteName(std::string_view name) const;

 private:
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool closed_ = false;
  int query_timeout_s_ = 0;
  std::string quote_ = "\"";
};

}  // namespace ordalis::rdo
