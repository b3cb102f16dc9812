#include "data/odbc/OdbcDb.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <future>
#include <thread>
#include <utility>

#include "data/Cursor.h"
#include "data/RdoTypes.h"
#include "data/SqlText.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"

namespace ordalis::rdo {
namespace {

// "DSN=;Driver=…;" (a data-source name left empty before a driver's
// attributes) connects through the driver: given an empty name, the driver
// manager would look for a default data source instead.
std::string WithoutEmptyDataSource(const std::string& connect) {
  std::size_t i = connect.find_first_not_of(' ');
  if (i == std::string::npos || connect.size() - i < 3 || ::strncasecmp(connect.c_str() + i, "DSN", 3) != 0)
    return connect;
  i = connect.find_first_not_of(' ', i + 3);
  if (i == std::string::npos || connect[i] != '=') return connect;
  i = connect.find_first_not_of(' ', i + 1);
  if (i == std::string::npos) return std::string();
  return connect[i] == ';' ? connect.substr(i + 1) : connect;
}

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

// A floating-point value as the shortest text that reads back as the same
// number, so that a comparison with a value as read is exact.
std::string ShortestText(const Variant& v) {
  char text[64];
  auto r = v.kind() == Variant::Kind::Single
               ? std::to_chars(text, text + sizeof text, static_cast<float>(v.ToDouble()))
               : std::to_chars(text, text + sizeof text, v.ToDouble());
  return std::string(text, r.ptr);
}

// A value as the text the server reads for any column type; nothing for
// NULL.
void AppendServerText(std::string& out, const Variant& v) {
  using K = Variant::Kind;
  switch (v.kind()) {
    case K::Null:
      return;
    case K::Integer:
      out += std::to_string(v.ToInteger());
      return;
    case K::Bool:
      out += v.ToBool() ? '1' : '0';
      return;
    case K::Date: {
      char text[32];
      out.append(text, static_cast<std::size_t>(dt::FormatIso(v.ToDate(), text)));
      return;
    }
    case K::Double:
    case K::Single:
      out += ShortestText(v);
      return;
    case K::Money:
      out += v.ToMoney().ToText();
      return;
    case K::Text:
      out += v.StoredText();
      return;
  }
}

// A field of a row value as an element of an array of rows reads it: the
// row's quoting ("" and \\ inside double quotes, an empty field for NULL),
// then the array's (\ before " and \).
void AppendRowField(std::string& out, const Variant& v, std::string& text) {
  if (v.IsNull()) return;
  std::string_view field;
  if (v.kind() == Variant::Kind::Text) {
    field = v.StoredText();
  } else {
    text.clear();
    AppendServerText(text, v);
    field = text;
  }
  const bool plain = !field.empty() && std::none_of(field.begin(), field.end(), [](char c) {
    return c == '"' || c == '\\' || c == '(' || c == ')' || c == ',' || static_cast<unsigned char>(c) <= ' ';
  });
  if (plain) {
    out += field;
    return;
  }
  out += "\\\"";
  std::size_t from = 0;
  for (std::size_t at = 0; at < field.size(); ++at) {
    if (field[at] != '"' && field[at] != '\\') continue;
    out.append(field.substr(from, at - from));
    out += field[at] == '"' ? "\\\"\\\"" : "\\\\\\\\";
    from = at + 1;
  }
  out.append(field.substr(from));
  out += "\\\"";
}

// Whether an error says the server or the session is gone (connection
// errors, the server shutting down or ending the session).
bool IsLost(const std::string& why) {
  return why.find("SQLSTATE 08") != std::string::npos || why.find("SQLSTATE 57P0") != std::string::npos;
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

OdbcStatement::OdbcStatement(SQLHDBC dbc, int query_timeout_s, bool utf8_text) : utf8_text_(utf8_text) {
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
  rows_.reset();  // unbinds its buffers while the handle is there
  if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

OdbcRows& OdbcStatement::Rows(std::size_t block_rows) {
  if (rows_ && rows_block_ == block_rows) {
    rows_->Restart();
    return *rows_;
  }
  return Rows(Columns(), block_rows);
}

OdbcRows& OdbcStatement::Rows(const std::vector<OdbcColumn>& columns, std::size_t block_rows) {
  if (rows_ && rows_block_ == block_rows && rows_->columns() == columns) {
    rows_->Restart();
    return *rows_;
  }
  rows_.reset();
  rows_ = std::make_unique<OdbcRows>(stmt_, columns, block_rows);
  rows_block_ = block_rows;
  return *rows_;
}

void OdbcStatement::ExecDirect(std::string_view sql) {
  std::u16string w = ToUtf16(sql);
  Check(SQLExecDirectW(stmt_, W(w), static_cast<SQLINTEGER>(w.size())));
}

void OdbcStatement::Prepare(std::string_view sql) {
  std::u16string w = ToUtf16(sql);
  Check(SQLPrepareW(stmt_, W(w), static_cast<SQLINTEGER>(w.size())));
}

void OdbcStatement::Execute() {
  if (bound_ < params_.size()) {
    // Fewer values than at the last run: the parameters beyond them go.
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    params_.resize(bound_);
    for (std::size_t i = 0; i < params_.size(); ++i) BindParam(i);
  }
  Check(SQLExecute(stmt_));
}

void OdbcStatement::CloseCursor() noexcept { SQLFreeStmt(stmt_, SQL_CLOSE); }

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
      // ASCII is the same in every character set the driver may assume:
      // it goes as it is; other text goes as UTF-16.
      const std::string& text = v.StoredText();
      if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        data.reserve(text.size() + 1);
        data = text;
        size = text.empty() ? 1 : text.size();
        length = static_cast<SQLLEN>(text.size());
        data += '\0';
        break;
      }
      std::u16string w = ToUtf16(text);
      data.assign(reinterpret_cast<const char*>(w.data()), w.size() * 2);
      c_type = SQL_C_WCHAR;
      sql_type = SQL_WVARCHAR;
      size = w.size();
      length = static_cast<SQLLEN>(data.size());
      data.append(2, '\0');
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
      data = ShortestText(v);
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
  const std::size_t index = static_cast<std::size_t>(number) - 1;
  if (params_.size() <= index) params_.resize(index + 1);
  Param& p = params_[index];
  const char* before = p.data.data();
  p.data.assign(data);
  p.length = length;
  bound_ = std::max(bound_, index + 1);
  const bool same_types = p.c_type == c_type && p.sql_type == sql_type && p.digits == digits;
  if (same_types && p.data.data() == before && p.size >= size) return;
  p.c_type = c_type;
  p.sql_type = sql_type;
  p.digits = digits;
  p.size = same_types ? std::max(p.size, size) : size;
  BindParam(index);
}

void OdbcStatement::BindParam(std::size_t index) {
  Param& p = params_[index];
  Check(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(index + 1), SQL_PARAM_INPUT, p.c_type, p.sql_type, p.size,
                         p.digits, p.data.data(), static_cast<SQLLEN>(p.data.capacity()), &p.length));
}

OdbcDb::OdbcDb(const std::string& connect, int query_timeout_s, OdbcOptions options)
    : options_(options), connect_(connect), query_timeout_s_(query_timeout_s) {
  SQLHENV env = Environment();
  OdbcCheck(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc_), SQL_HANDLE_ENV, env);
  try {
    Connect(connect);
    SQLWCHAR driver[256] = {};
    SQLSMALLINT driver_length = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_DRIVER_NAME, driver, sizeof driver, &driver_length)))
      postgres_ = ToUtf8(reinterpret_cast<char16_t*>(driver)).find("psqlodbc") != std::string::npos;
    if (postgres_) {
      // A failed statement is left to the layer to undo: no savepoint of
      // the driver's around every statement.
      auto declare_fetch = ConnectValue(connect, "UseDeclareFetch");
      driver_cursors_ = declare_fetch && *declare_fetch == "1";
      // Text columns of up to 4,000 characters are described as such, not
      // as long text, so that their rows come in blocks.
      std::string more;
      if (!ConnectValue(connect, "Protocol")) more += "Protocol=7.4-0;";
      if (!ConnectValue(connect, "MaxVarcharSize")) more += "MaxVarcharSize=4000;";
      if (!more.empty()) {
        std::string with = connect;
        if (!with.empty() && with.back() != ';') with += ';';
        Disconnect();
        Connect(with + more);
      }
      try {
        OdbcStatement encoding(dbc_, 0);
        encoding.ExecDirect("SHOW client_encoding");
        std::vector<Variant> row;
        utf8_text_ = encoding.Rows().Next(row) && row[0].ToText() == "UTF8";
      } catch (const ComponentError&) {
        // Not known: text is read through UTF-16.
      }
    }
    if (!options_.autocommit)
      OdbcCheck(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
                SQL_HANDLE_DBC, dbc_);
    SQLWCHAR quote[8] = {};
    SQLSMALLINT quote_length = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quote_length))) {
      std::string q = ToUtf8(reinterpret_cast<char16_t*>(quote));
      if (!q.empty() && q != " ") quote_ = q;
    }
  } catch (...) {
    Disconnect();
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    throw;
  }
}

void OdbcDb::Connect(const std::string& connect) {
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
  std::u16string w = ToUtf16(WithoutEmptyDataSource(connect));
  SQLWCHAR out[1024];
  SQLSMALLINT out_length = 0;
  OdbcCheck(SQLDriverConnectW(dbc_, nullptr, W(w), static_cast<SQLSMALLINT>(w.size()), out, 1024, &out_length,
                              SQL_DRIVER_NOPROMPT),
            SQL_HANDLE_DBC, dbc_);
  connected_ = true;
}

void OdbcDb::Disconnect() noexcept {
  Drain();
  kept_.clear();
  kept_row_bytes_ = 0;
  if (!connected_) return;
  if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  in_transaction_ = false;
  SQLDisconnect(dbc_);
  connected_ = false;
}

OdbcDb::~OdbcDb() {
  Close();
  Disconnect();
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

void OdbcDb::ExecSimple(const std::string& sql) {
  Drain();
  OdbcStatement stmt(dbc_, query_timeout_s_);
  stmt.ExecDirect(sql);
}

void OdbcDb::Run(const std::string& sql) {
  RequireUsable();
  Settle();
  BeforeStatement(sql);
  in_transaction_ = true;
  try {
    OdbcStatement stmt(dbc_, query_timeout_s_);
    stmt.ExecDirect(sql);
  } catch (const ComponentError& e) {
    Failed(e);
  }
}

void OdbcDb::TakeTurn() {
  if (!postgres_ || closed_ || lost_) return;
  // The key names nothing of the database's own: "ordalis" in ASCII.
  const std::string key = std::to_string(0x6f7264616c6973LL);
  if (pending_ == 0 && log_.empty()) {
    if (!TryExec("SELECT pg_advisory_xact_lock(" + key + ")")) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      ++rollbacks_;
      return;
    }
    in_transaction_ = true;  // the lock ends with the transaction: commit it
    return;
  }
  // Rows wait in the transaction, which a wait that failed would abort: the
  // turn is asked for without waiting, again and again while another
  // session has it, up to the query timeout.
  const std::string sql = "SELECT CASE WHEN pg_try_advisory_xact_lock(" + key + ") THEN 1 ELSE 0 END";
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(query_timeout_s_);
  for (int pause_ms = 1;; pause_ms = std::min(2 * pause_ms, 20)) {
    std::vector<Variant> row;
    Guarded([&] {
      OdbcStatement ask(dbc_, query_timeout_s_);
      ask.ExecDirect(sql);
      ask.Rows().Next(row);
    });
    if (!row.empty() && row[0].ToInteger() == 1) return;
    if (query_timeout_s_ > 0 && std::chrono::steady_clock::now() >= until) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  }
}

void OdbcDb::CloseCursor(const std::string& name, std::uint64_t rollbacks_at_declare) noexcept {
  Drain();
  if (closed_ || rollbacks_ != rollbacks_at_declare) return;
  TryExec("CLOSE " + name);
}

void OdbcDb::TakeRowSavepoint() {
  try {
    ExecSimple(stale_row_savepoint_ ? "RELEASE SAVEPOINT ordalis_row; SAVEPOINT ordalis_row"
                                    : "SAVEPOINT ordalis_row");
  } catch (const ComponentError& e) {
    Failed(e);
  }
  stale_row_savepoint_ = true;
}

void OdbcDb::UndoRow(const ComponentError& error) {
  if (IsLost(error.Description()) || !TryExec("ROLLBACK TO SAVEPOINT ordalis_row")) Failed(error);
  ++rollbacks_;
  throw error;
}

bool OdbcDb::TryExec(const std::string& sql) noexcept {
  try {
    ExecSimple(sql);
    return true;
  } catch (...) {
    return false;
  }
}

void OdbcDb::Failed(const ComponentError& error) {
  Settle();
  const std::string& why = error.Description();
  if (IsLost(why)) {
    // The server or the session is gone, and the transaction with it.
    if (!lost_) {
      lost_ = true;
      lost_reason_ = why;
      std::string lost = pending_ > 0 ? "; the " + std::to_string(pending_) +
                                            " rows written since the last commit keep their previous values"
                                      : "";
      const bool batch_lost = pending_ > 0;
      ForgetBatch();
      throw ComponentError(batch_lost ? kErrWriteRefused : error.Number(),
                           "The connection to the database server was lost: " + why + lost, error.Source());
    }
    throw error;
  }
  if (!postgres_ || closed_) throw error;
  // The open unit's writes alone went back: the error says so.
  auto unit_undone = [&] {
    std::string undone;
    if (unit_open_ && unit_rows_ > 0) {
      broken_unit_ = error.Description();
      undone = "; the " + std::to_string(unit_rows_) + " rows this call wrote were rolled back";
    }
    pending_ -= unit_open_ ? unit_rows_ : 0;
    unit_rows_ = 0;
    return ComponentError(error.Number(), error.Description() + undone, error.Source());
  };
  if (unit_open_ && savepoint_ && TryExec("ROLLBACK TO SAVEPOINT ordalis_unit")) {
    ++rollbacks_;
    stale_row_savepoint_ = false;
    throw unit_undone();
  }
  // Every write of the batch is a logged row update: they are run again in
  // a new transaction, except those of the open unit.
  if (log_complete_ && pending_ > 0 &&
      RollBackAndReplay(unit_open_ && unit_rows_ > 0 ? unit_log_start_ : log_.size()))
    throw unit_undone();
  const long lost = RollBackBatch(error.Description());
  if (lost == 0) throw error;
  throw ComponentError(kErrWriteRefused, error.Description() + BatchLost(lost), error.Source());
}

long OdbcDb::RollBackBatch(const std::string& why) noexcept {
  const long lost = pending_;
  ++rollbacks_;
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  ForgetBatch();
  if (unit_open_ && unit_rows_ > 0) broken_unit_ = why;
  unit_rows_ = 0;
  return lost;
}

std::string OdbcDb::BatchLost(long rows) {
  return "; the " + std::to_string(rows) +
         " rows written since the last commit were rolled back and keep their previous values";
}

void OdbcDb::ForgetBatch() noexcept {
  in_transaction_ = false;
  pending_ = 0;
  stale_savepoint_ = savepoint_ = stale_row_savepoint_ = false;
  log_.clear();
  log_complete_ = true;
  run_upto_ = 0;
  held_keys_.clear();
  held_tables_.clear();
  written_tables_.clear();
  wrote_any_table_ = false;
  batch_unheld_ = false;
  shared_waiting_ = false;
}

bool OdbcDb::RollBackAndReplay(std::size_t upto, std::size_t savepoint_at) noexcept {
  // Held rows that failed on their way are run again below, or lost.
  Drain();
  send_error_.reset();
  ++rollbacks_;
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  stale_savepoint_ = savepoint_ = stale_row_savepoint_ = false;
  log_.resize(std::min(upto, log_.size()));
  in_transaction_ = !log_.empty();
  try {
    for (std::size_t i = 0; i < log_.size(); ++i) {
      if (i == savepoint_at) ExecSimple("SAVEPOINT ordalis_unit");
      const LoggedWrite& write = log_[i];
      auto stmt = Take(write.sql);
      stmt->ResetParams();
      int p = 1;
      for (const Variant& v : write.values) stmt->Bind(p++, v);
      stmt->Execute();
      const long rows = stmt->RowCount();
      Keep(write.sql, std::move(stmt));
      if (rows <= 0) throw std::runtime_error("row changed");
    }
    run_upto_ = log_.size();
    held_keys_.clear();
    held_tables_.clear();
    return true;
  } catch (...) {
    SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    in_transaction_ = false;
    return false;
  }
}

void OdbcDb::RequireUsable() const {
  if (closed_) ThrowDataError("The connection is closed");
  if (lost_) ThrowDataError("The connection to the database server was lost: " + lost_reason_);
}

bool OdbcDb::BeginWrite(bool row_update, bool shared, std::string_view table) {
  RequireUsable();
  if (!broken_unit_.empty())
    ThrowDataError("Earlier writes of this call were rolled back after an error (" + broken_unit_ +
                   "); the call cannot be saved in part");
  // A logged row update of a table without held rows does not wait for
  // them: they still go with the batch, and a rollback replays the log in
  // order, held rows included. In a shared run a row others may write goes
  // after them, so that it stays locked only until the unit's commit.
  if (row_update && postgres_ && log_complete_ && !table.empty() && !(share_rows_ && shared) &&
      !HoldsRowsOf(table))
    Settle();
  else
    RunHeld();
  unit_wrote_shared_ = unit_wrote_shared_ || shared;
  bool between_units = !unit_open_ || unit_rows_ == 0;
  if (between_units && pending_ > 0 && streams_ == 0 && !commit_on_flush_ && BatchDue()) Commit();
  batch_unheld_ = true;
  if (pending_ == 0) batch_started_ = std::chrono::steady_clock::now();
  in_transaction_ = true;
  if (postgres_ && log_complete_) {
    if (row_update) {
      if (unit_open_ && unit_rows_ == 0) unit_log_start_ = log_.size();
      return true;
    }
    log_complete_ = false;
    if (unit_open_ && unit_rows_ > 0 && pending_ > unit_rows_) {
      // The unit began without a savepoint after rows of earlier units.
      if (!RollBackAndReplay(log_.size(), unit_log_start_)) {
        const long lost = pending_;
        unit_rows_ = 0;
        ForgetBatch();
        ThrowDataError("A call's writes could not be set apart from the batch" + BatchLost(lost), kErrWriteRefused);
      }
      savepoint_ = true;
    }
  }
  if (unit_open_ && unit_rows_ == 0 && !savepoint_ && pending_ > 0) {
    // Rows of earlier units are in the transaction: the unit can go back to here.
    try {
      // A savepoint taken earlier is released first: releasing it later would
      // release this one too.
      std::string sql = stale_row_savepoint_ ? "RELEASE SAVEPOINT ordalis_row; " : "";
      if (stale_savepoint_) sql += "RELEASE SAVEPOINT ordalis_unit; ";
      ExecSimple(sql + "SAVEPOINT ordalis_unit");
      stale_row_savepoint_ = false;
    } catch (const ComponentError& e) {
      Failed(e);
    }
    savepoint_ = true;
    stale_savepoint_ = false;
  }
  return false;
}

void OdbcDb::Logged(const std::string& sql, const std::vector<const Variant*>& values) {
  if (!log_complete_) return;
  LoggedWrite& write = log_.emplace_back();
  write.sql = sql;
  write.values.reserve(values.size());
  for (const Variant* v : values) write.values.push_back(*v);
  // Run at once; held rows logged before it may still wait.
  if (run_upto_ + 1 == log_.size()) run_upto_ = log_.size();
}

bool OdbcDb::HoldsRowsOf(std::string_view table) const {
  const std::string name = TableNameKey(table);
  return std::any_of(held_tables_.begin(), held_tables_.end(), [&](const HeldTable& h) { return h.name == name; });
}

void OdbcDb::Written(long rows) {
  pending_ += rows;
  if (unit_open_) unit_rows_ += rows;
}

void OdbcDb::Commit() {
  RunHeld();
  long rows = pending_;
  pending_ = 0;
  // A commit ends every savepoint, an open unit's too (one that has written
  // nothing yet may see a due batch commit).
  ForgetBatch();
  commit_wanted_ = false;
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  ++commits_;
  if (SQL_SUCCEEDED(rc)) return;
  std::string why;
  try {
    OdbcFail(SQL_HANDLE_DBC, dbc_, rc);
  } catch (const ComponentError& e) {
    why = e.Description();
  }
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  ++rollbacks_;
  if (!lost_ && IsLost(why)) {
    lost_ = true;
    lost_reason_ = why;
  }
  ThrowDataError("The commit failed: " + why + BatchLost(rows), kErrWriteRefused);
}

void OdbcDb::Flush() {
  if (closed_ || !in_transaction_) return;
  RequireUsable();
  if (unit_open_) {
    commit_wanted_ = true;
    return;
  }
  Commit();
}

void OdbcDb::HoldCommits(bool hold) noexcept {
  commits_held_ = hold;
  if (!hold) WriterClosed();
}

void OdbcDb::WriterClosed() noexcept {
  if (commits_held_ || commit_on_flush_ || closed_ || pending_ == 0) return;
  if (unit_open_) {
    commit_wanted_ = true;
    return;
  }
  try {
    Commit();
  } catch (const ComponentError&) {
    // The rows went back; the next write or Flush of the caller goes on.
  }
}

void OdbcDb::BeginUnit() {
  if (closed_) ThrowDataError("The connection is closed");
  broken_unit_.clear();
  unit_open_ = true;
  unit_rows_ = 0;
  unit_wrote_shared_ = false;
  savepoint_ = false;
}

void OdbcDb::EndUnit(bool keep) {
  if (!unit_open_) return;
  unit_open_ = false;
  broken_unit_.clear();
  bool had_savepoint = std::exchange(savepoint_, false);
  long rows = std::exchange(unit_rows_, 0);
  const bool held_only = log_complete_ && unit_log_start_ >= run_upto_ &&
                         log_.size() - std::min(unit_log_start_, log_.size()) == static_cast<std::size_t>(rows) &&
                         std::all_of(log_.begin() + static_cast<std::ptrdiff_t>(std::min(unit_log_start_, log_.size())),
                                     log_.end(), [](const LoggedWrite& w) { return w.held != nullptr; });
  if (!keep && rows > 0 && !had_savepoint && held_only) {
    // The unit's writes are held updates not run yet: they are dropped.
    pending_ -= rows;
    log_.resize(unit_log_start_);
  } else if (!keep && rows > 0) {
    Settle();
    pending_ -= rows;
    ++rollbacks_;
    if (had_savepoint) {
      try {
        ExecSimple("ROLLBACK TO SAVEPOINT ordalis_unit");
      } catch (const ComponentError& e) {
        Failed(e);
      }
      stale_savepoint_ = true;
      stale_row_savepoint_ = false;
    } else if (pending_ > 0) {
      // Logged updates of earlier units are in the transaction: they are
      // run again; when they cannot be, the batch is lost.
      if (!log_complete_ || !RollBackAndReplay(unit_log_start_)) {
        const long lost = pending_;
        ForgetBatch();
        ThrowDataError("A call's writes could not be taken back alone" + BatchLost(lost), kErrWriteRefused);
      }
    } else {
      // Nothing but the unit in the transaction.
      ForgetBatch();
      OdbcCheck(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc_);
    }
  } else if (had_savepoint) {
    stale_savepoint_ = true;
  }
  const bool shared = share_rows_ && keep && unit_wrote_shared_ && pending_ > 0;
  if (shared && commit_on_flush_) shared_waiting_ = true;
  if (commit_wanted_ || (shared && streams_ == 0 && !commit_on_flush_)) Commit();
}

void OdbcDb::Close() noexcept {
  if (closed_) return;
  Drain();
  if (reader_) reader_->Close();
  reader_.reset();
  // A read ahead still running keeps its session until it ends.
  ahead_.reset();
  if (connected_ && in_transaction_ && !lost_) {
    if (commit_on_flush_)
      RollBackBatch("the connection closed");
    else
      CommitAtClose();
  }
  closed_ = true;
  kept_.clear();
  kept_row_bytes_ = 0;
}

void OdbcDb::CommitAtClose() noexcept {
  if (unit_open_) {
    // A unit that never ended is not kept.
    unit_open_ = false;
    try {
      if (savepoint_) {
        ExecSimple("ROLLBACK TO SAVEPOINT ordalis_unit");
      } else if (unit_rows_ > 0 &&
                 !(pending_ > unit_rows_ && log_complete_ && RollBackAndReplay(unit_log_start_))) {
        SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
        ForgetBatch();
        return;
      }
    } catch (const ComponentError&) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      ForgetBatch();
      return;
    }
  }
  try {
    Commit();
  } catch (const ComponentError&) {
  }
}

const std::string& OdbcDb::RowsShape::Sql() const {
  if (!sql_.empty()) return sql_;
  std::string set;
  for (const std::string& name : columns) set += (set.empty() ? "" : ", ") + name + " = ordalis_v." + name;
  sql_ = "UPDATE " + table + " AS ordalis_t SET " + set + " FROM unnest(CAST(? AS " + table +
         "[])) AS ordalis_v WHERE ordalis_t." + key + " = ordalis_v." + key;
  return sql_;
}

std::string OdbcDb::RowsShape::Row(const std::vector<const Variant*>& values) const {
  std::string row, text;
  row.reserve(value_at.size() + 16 * values.size() + 4);
  row += "\"(";
  for (std::size_t i = 0; i < value_at.size(); ++i) {
    if (i) row += ',';
    if (value_at[i] >= 0) AppendRowField(row, *values[static_cast<std::size_t>(value_at[i])], text);
  }
  row += ")\"";
  return row;
}

const std::vector<std::string>* OdbcDb::RowType(const std::string& table) {
  const auto [found, added] = row_types_.try_emplace(table);
  std::optional<std::vector<std::string>>& known = found->second;
  if (!added) return known ? &*known : nullptr;
  static const std::string sql =
      "SELECT a.attname, CASE WHEN t.typtype = 'd' THEN 1 ELSE 0 END FROM pg_attribute a JOIN pg_type t ON "
      "t.oid = a.atttypid WHERE a.attrelid = to_regclass(?) AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum";
  try {
    Protected([&] {
      auto stmt = Take(sql);
      stmt->ResetParams();
      stmt->Bind(1, Variant(table));
      stmt->Execute();
      std::vector<std::string> names;
      bool domains = false;
      std::vector<Variant> row;
      for (OdbcRows& rows = stmt->Rows(); rows.Next(row);) {
        domains = domains || row[1].ToInteger() != 0;
        names.push_back(row[0].ToText());
      }
      Keep(sql, std::move(stmt));
      if (!domains && !names.empty()) known = std::move(names);
    });
  } catch (const ComponentError&) {
    // Not known: the table's rows are written one by one.
  }
  return known ? &*known : nullptr;
}

bool OdbcDb::HoldUpdate(std::uint64_t lock_serial, const std::shared_ptr<const RowsShape>& shape,
                        const std::string& sql, const std::vector<const Variant*>& values,
                        const std::vector<const Variant*>& written, std::int64_t key) {
  RequireUsable();
  if (!postgres_ || !log_complete_ || savepoint_ || !broken_unit_.empty() || lock_serial != LockSerial()) return false;
  if (held_keys_.count(key)) RunHeld();  // a row written twice: the first write runs first
  if (unit_open_ && unit_rows_ == 0) unit_log_start_ = log_.size();
  if (pending_ == 0) batch_started_ = std::chrono::steady_clock::now();
  in_transaction_ = true;
  LoggedWrite& write = log_.emplace_back();
  write.sql = sql;
  write.values.reserve(values.size());
  for (const Variant* v : values) write.values.push_back(*v);
  write.held = shape;
  write.row = shape->Row(written);
  held_keys_.insert(key);
  std::string table = TableNameKey(shape->table);
  auto held = std::find_if(held_tables_.begin(), held_tables_.end(),
                           [&](const HeldTable& h) { return h.name == table; });
  if (held == held_tables_.end())
    held_tables_.push_back({std::move(table), key});
  else
    held->top = std::max(held->top, key);
  Written(1);
  // Rows are sent 256 at a time at least; while the rows sent before are
  // still on their way, up to 2,048 wait for them.
  constexpr std::size_t kSendHeld = 256, kMostWaiting = 2048;
  const std::size_t waiting = log_.size() - run_upto_;
  if (waiting >= kSendHeld &&
      (!sending_ || waiting >= kMostWaiting ||
       sending_->done.wait_for(std::chrono::seconds(0)) == std::future_status::ready))
    SendHeld();
  return true;
}

std::vector<OdbcDb::HeldRows> OdbcDb::BindHeld() {
  // The held rows are distinct rows: one statement per shape, in any order.
  std::vector<HeldRows> held;
  for (std::size_t i = run_upto_; i < log_.size(); ++i) {
    const std::shared_ptr<const RowsShape>& shape = log_[i].held;
    if (shape && std::none_of(held.begin(), held.end(), [&](const HeldRows& h) { return h.shape == shape; }))
      held.push_back({shape, nullptr, 0});
  }
  std::string rows;
  for (HeldRows& h : held) {
    std::size_t size = 2;
    for (std::size_t i = run_upto_; i < log_.size(); ++i)
      if (log_[i].held == h.shape) size += log_[i].row.size() + 1;
    rows.clear();
    rows.reserve(size);
    rows += '{';
    for (std::size_t i = run_upto_; i < log_.size(); ++i) {
      if (log_[i].held != h.shape) continue;
      if (h.count++) rows += ',';
      rows += log_[i].row;
    }
    rows += '}';
    h.stmt = Take(h.shape->Sql());
    h.stmt->ResetParams();
    h.stmt->Bind(1, Variant(std::move(rows)));
  }
  return held;
}

void OdbcDb::RunHeld() {
  Settle();
  if (run_upto_ >= log_.size()) return;
  Sending run;
  run.rows = BindHeldOrFail();
  RunRows(run);
  Collect(run);
  run_upto_ = log_.size();
  Settle();
  held_keys_.clear();
  held_tables_.clear();
}

void OdbcDb::SendHeld() {
  Settle();
  auto send = std::make_unique<Sending>();
  send->rows = BindHeldOrFail();
  // The thread is the connection's only user until Drain: the caller
  // reaches the server through Settle or Drain first.
  send->done = std::async(std::launch::async, [s = send.get()] { RunRows(*s); });
  sending_ = std::move(send);
  run_upto_ = log_.size();
}

std::vector<OdbcDb::HeldRows> OdbcDb::BindHeldOrFail() {
  try {
    return BindHeld();
  } catch (const ComponentError& e) {
    auto first = std::find_if(log_.begin() + static_cast<std::ptrdiff_t>(run_upto_), log_.end(),
                              [](const LoggedWrite& w) { return w.held != nullptr; });
    HeldFailed(first != log_.end() ? first->held->table : std::string("a table"), e);
  }
}

void OdbcDb::RunRows(Sending& run) noexcept {
  try {
    for (HeldRows& h : run.rows) {
      h.stmt->Execute();
      run.changed.push_back(h.stmt->RowCount());
    }
  } catch (const ComponentError& e) {
    run.error.emplace(e);
  } catch (const std::exception& e) {
    run.error.emplace(kErrDataAccess, e.what(), kSource);
  }
}

void OdbcDb::Collect(Sending& run) noexcept {
  for (std::size_t i = 0; i < run.rows.size(); ++i) {
    HeldRows& h = run.rows[i];
    const bool failed_here = run.error && i == run.changed.size();
    const bool missed = i < run.changed.size() && run.changed[i] != h.count;
    if (!send_error_ && (failed_here || missed)) {
      if (failed_here)
        send_error_.emplace(*run.error);
      else
        send_error_.emplace(kErrDataAccess,
                            std::to_string(h.count) + " rows to write, " + std::to_string(run.changed[i]) + " found",
                            kSource);
      send_error_table_ = h.shape->table;
    }
    Keep(h.shape->Sql(), std::move(h.stmt));
  }
}

void OdbcDb::Drain() noexcept {
  if (!sending_) return;
  std::unique_ptr<Sending> sent = std::move(sending_);
  sent->done.wait();
  Collect(*sent);
}

void OdbcDb::Settle() {
  Drain();
  if (!send_error_) return;
  const ComponentError error = std::move(*send_error_);
  send_error_.reset();
  HeldFailed(send_error_table_, error);
}

void OdbcDb::HeldFailed(const std::string& table, const ComponentError& e) {
  if (IsLost(e.Description())) Failed(e);
  const long lost = RollBackBatch(e.Description());
  ThrowDataError("Rows of " + table + " held to be written together could not be written: " + e.Description() +
                     BatchLost(lost),
                 kErrWriteRefused);
}

void OdbcDb::BeforeStatement(const std::string& sql) {
  if (run_upto_ >= log_.size()) return;
  std::string lower(sql);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const HeldTable& table : held_tables_)
    if (lower.find(table.name) != std::string::npos) return RunHeld();
}

void OdbcDb::BeforeRangeRead(std::string_view table, std::int64_t above) {
  if (run_upto_ >= log_.size()) return;
  const std::string name = TableNameKey(table);
  for (const HeldTable& held : held_tables_)
    if (held.name == name && held.top > above) return RunHeld();
}

bool OdbcDb::BatchDue() const {
  return pending_ >= options_.batch_rows ||
         std::chrono::steady_clock::now() - batch_started_ >= std::chrono::milliseconds(options_.batch_ms);
}

void OdbcDb::CommitBetweenBlocks() {
  if (!commit_on_flush_ && !unit_open_ && pending_ > 0 && streams_ == 0 && (batch_unheld_ || BatchDue())) Commit();
}

std::uint64_t OdbcDb::TableStamp(std::string_view table) {
  const auto now = std::chrono::steady_clock::now();
  if (stamps_rollbacks_ != rollbacks_ || now - stamps_taken_ >= std::chrono::milliseconds(options_.stamp_ms)) {
    stamps_.clear();
    stamps_rollbacks_ = rollbacks_;
    stamps_taken_ = now;
  }
  auto [it, added] = stamps_.try_emplace(TableNameKey(table), 0);
  if (added) it->second = ++stamp_serial_;
  return it->second;
}

void OdbcDb::TableWritten(std::string_view table) {
  std::string key = TableNameKey(table);
  stamps_.erase(key);
  ++table_writes_[key];
  written_tables_.insert(std::move(key));
}

void OdbcDb::StatementWrites(std::string_view sql) {
  if (std::optional<std::string> table = WrittenTable(sql)) {
    TableWritten(*table);
  } else {
    stamps_.clear();
    wrote_any_table_ = true;
    ++any_table_writes_;
  }
}

std::uint64_t OdbcDb::TableWrites(std::string_view table) const {
  auto it = table_writes_.find(TableNameKey(table));
  return any_table_writes_ + (it == table_writes_.end() ? 0 : it->second);
}

std::shared_ptr<OdbcDb> OdbcDb::ReaderFor(std::string_view table) {
  if (!sending_ || !postgres_ || driver_cursors_ || reader_refused_ || wrote_any_table_) return nullptr;
  const std::string key = TableNameKey(table);
  if (written_tables_.count(key)) return nullptr;
  // No second session (a limit of the server's): reads wait instead.
  if (!SideSession(reader_, reader_refused_)) return nullptr;
  reader_->set_query_timeout(query_timeout_s_);
  // Another session could find these under the same names only if each is
  // a table everyone sees, and none of the tables written here wrote more.
  if (!AskReader(plain_tables_, key,
                 "SELECT CASE WHEN bool_and(relkind IN ('r', 'p') AND relpersistence <> 't') THEN 1 ELSE 0 END "
                 "FROM pg_class WHERE lower(relname) = ?"))
    return nullptr;
  for (const std::string& written : written_tables_)
    if (!AskReader(quiet_tables_, written,
                   "SELECT CASE WHEN EXISTS (SELECT 1 FROM pg_class c WHERE lower(c.relname) = ? AND ("
                   "EXISTS (SELECT 1 FROM pg_trigger t WHERE t.tgrelid = c.oid AND NOT t.tgisinternal) OR "
                   "EXISTS (SELECT 1 FROM pg_rewrite r WHERE r.ev_class = c.oid AND r.rulename <> '_RETURN')))"
                   " THEN 0 ELSE 1 END"))
      return nullptr;
  return reader_;
}

std::shared_ptr<OdbcDb> OdbcDb::AheadSession() {
  if (!postgres_ || driver_cursors_ || closed_) return nullptr;
  return SideSession(ahead_, ahead_refused_);
}

const std::shared_ptr<OdbcDb>& OdbcDb::SideSession(std::shared_ptr<OdbcDb>& kept, bool& refused) {
  if (kept) {
    // Under its lock: a thread reading ahead may be changing its state.
    bool gone = false;
    {
      std::unique_lock<std::mutex> use = kept->Use();
      gone = kept->lost() || kept->closed();
    }
    if (gone) kept.reset();
  }
  if (!kept && !refused) {
    OdbcOptions options = options_;
    options.autocommit = true;
    try {
      kept = std::make_shared<OdbcDb>(connect_, query_timeout_s_, options);
    } catch (const ComponentError&) {
      refused = true;
    }
  }
  return kept;
}

bool OdbcDb::AskReader(std::unordered_map<std::string, bool>& known, const std::string& key, const char* sql) noexcept {
  auto [it, added] = known.try_emplace(key, false);
  if (!added) return it->second;
  try {
    auto stmt = reader_->Take(sql);
    stmt->ResetParams();
    stmt->Bind(1, Variant(key));
    stmt->Execute();
    std::vector<Variant> row;
    it->second = stmt->Rows(1).Next(row) && !row.empty() && !row[0].IsNull() && row[0].ToInteger() == 1;
    reader_->Keep(sql, std::move(stmt));
  } catch (...) {
  }
  return it->second;
}

std::unique_ptr<OdbcStatement> OdbcDb::Take(const std::string& sql) {
  RequireUsable();
  Settle();
  auto it = kept_.find(sql);
  if (it != kept_.end()) {
    auto stmt = std::move(it->second);
    kept_.erase(it);
    kept_row_bytes_ -= stmt->RowBytes();
    return stmt;
  }
  auto stmt = std::make_unique<OdbcStatement>(dbc_, query_timeout_s_, utf8_text_);
  stmt->Prepare(sql);
  return stmt;
}

void OdbcDb::Keep(const std::string& sql, std::unique_ptr<OdbcStatement> stmt) noexcept {
  Drain();
  constexpr std::size_t kMostKept = 256;
  // Row buffers kept with the statements, at most: those beyond go.
  constexpr std::size_t kMostKeptRowBytes = 32 << 20;
  if (closed_ || !stmt || kept_.size() >= kMostKept) return;
  stmt->CloseCursor();
  if (kept_row_bytes_ + stmt->RowBytes() > kMostKeptRowBytes) stmt->DropRows();
  const std::size_t bytes = stmt->RowBytes();
  try {
    kept_.emplace(sql, std::move(stmt));
    kept_row_bytes_ += bytes;
  } catch (...) {
  }
}

const OdbcDb::Shape* OdbcDb::KnownShape(const std::string& sql) const {
  auto it = shapes_.find(sql);
  return it == shapes_.end() ? nullptr : &it->second;
}

void OdbcDb::RememberShape(const std::string& sql, Shape shape) { shapes_[sql] = std::move(shape); }

std::string OdbcDb::QuoteName(std::string_view name) const {
  std::string out = quote_;
  for (char c : name) {
    out += c;
    if (quote_.size() == 1 && c == quote_[0]) out += c;
  }
  return out + quote_;
}

}  // namespace ordalis::rdo
