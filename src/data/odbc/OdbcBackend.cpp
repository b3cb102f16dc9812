#include "data/odbc/OdbcBackend.h"

#include <map>

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

  long ExecuteWith(std::string_view sql, const std::vector<Variant>& values) override {
    RequireOpen();
    auto it = writes_.find(sql);
    if (it == writes_.end()) {
      auto stmt = std::make_unique<OdbcStatement>(db_->handle(), db_->query_timeout());
      stmt->Prepare(sql);
      it = writes_.emplace(std::string(sql), std::move(stmt)).first;
    }
    OdbcStatement& stmt = *it->second;
    stmt.ResetParams();
    for (std::size_t i = 0; i < values.size(); ++i) stmt.Bind(static_cast<int>(i) + 1, values[i]);
    stmt.Execute();
    long rows = stmt.RowCount();
    stmt.CloseCursor();
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
    writes_.clear();
    if (db_) db_->MarkClosed();
    db_.reset();
  }
  bool IsFileDatabase() const override { return false; }

 private:
  void RequireOpen() const {
    if (!db_ || db_->closed()) ThrowDataError("The connection is closed");
  }
  std::shared_ptr<OdbcDb> db_;
  // The prepared statements of ExecuteWith, by their text.
  std::map<std::string, std::unique_ptr<OdbcStatement>, std::less<>> writes_;
};

}  // namespace

std::unique_ptr<Backend> OpenOdbcBackend(const std::string& connect, int query_timeout_s) {
  return std::make_unique<OdbcBackend>(connect, query_timeout_s);
}

}  // namespace ordalis::rdo
