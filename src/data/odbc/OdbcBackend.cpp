#include "data/odbc/OdbcBackend.h"

#include "data/Cursor.h"
#include "data/SqlText.h"
#include "data/odbc/OdbcCursor.h"
#include "data/odbc/OdbcDb.h"
#include "ordalis/ComponentError.h"

namespace ordalis::rdo {
namespace {

class OdbcBackend final : public Backend {
 public:
  OdbcBackend(const std::string& connect, int query_timeout_s)
      : db_(std::make_shared<OdbcDb>(connect, query_timeout_s)) {}
  ~OdbcBackend() override { Close(); }

  std::unique_ptr<Cursor> Open(std::string_view sql, CursorType cursor, LockType lock) override {
    RequireOpen();
    return std::make_unique<OdbcCursor>(db_, std::string(sql),
                                        cursor == CursorType::Keyset && lock == LockType::OptimisticRowVer);
  }

  long Execute(std::string_view sql) override {
    RequireOpen();
    OdbcStatement stmt(db_->handle(), db_->query_timeout());
    stmt.ExecDirect(sql);
    long rows = stmt.RowCount();
    return rows < 0 ? 0 : rows;
  }

  bool TableExists(std::string_view table) override {
    RequireOpen();
    try {
      OdbcStatement stmt(db_->handle(), db_->query_timeout());
      stmt.ExecDirect("SELECT * FROM " + std::string(table) + " WHERE 1=0");
      return true;
    } catch (const ComponentError&) {
      return false;
    }
  }

  bool ColumnExists(std::string_view table, std::string_view column) override {
    RequireOpen();
    try {
      OdbcStatement stmt(db_->handle(), db_->query_timeout());
      stmt.ExecDirect("SELECT * FROM " + std::string(table) + " WHERE 1=0");
      SQLSMALLINT count = 0;
      stmt.Check(SQLNumResultCols(stmt.handle(), &count));
      NoCaseEqual equal;
      for (SQLSMALLINT i = 1; i <= count; ++i) {
        SQLWCHAR name[512] = {};
        SQLSMALLINT length = 0;
        stmt.Check(SQLColAttributeW(stmt.handle(), static_cast<SQLUSMALLINT>(i), SQL_DESC_NAME, name, sizeof name,
                                    &length, nullptr));
        if (equal(ToUtf8(reinterpret_cast<char16_t*>(name)), column)) return true;
      }
    } catch (const ComponentError&) {
    }
    return false;
  }

  void SetQueryTimeout(int seconds) override { db_->set_query_timeout(seconds); }
  void Flush() override {}  // autocommit: every write is committed by the server
  void Close() noexcept override {
    if (db_) db_->MarkClosed();
    db_.reset();
  }
  bool IsFileDatabase() const override { return false; }

 private:
  void RequireOpen() const {
    if (!db_ || db_->closed()) ThrowDataError("The connection is closed");
  }
  std::shared_ptr<OdbcDb> db_;
};

}  // namespace

std::unique_ptr<Backend> OpenOdbcBackend(const std::string& connect, int query_timeout_s) {
  return std::make_unique<OdbcBackend>(connect, query_timeout_s);
}

}  // namespace ordalis::rdo
