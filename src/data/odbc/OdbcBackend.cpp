#include "data/odbc/OdbcBackend.h"

#include <algorithm>

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
    return std::make_unique<OdbcCursor>(db_, std::string(sql), std::vector<Variant>(),
                                        cursor == CursorType::Keyset && lock == LockType::OptimisticRowVer);
  }

  std::unique_ptr<Cursor> OpenWith(std::string_view sql, const std::vector<std::string_view>& values,
                                   CursorType cursor, LockType lock) override {
    RequireOpen();
    std::vector<Variant> params;
    for (std::string_view v : values) params.emplace_back(std::string(v));
    return std::make_unique<OdbcCursor>(db_, std::string(sql), std::move(params),
                                        cursor == CursorType::Keyset && lock == LockType::OptimisticRowVer);
  }

  // A statement is one write of the batch; outside a unit and a hold it is
  // committed at once, as the statements that change tables expect.
  long Execute(std::string_view sql) override {
    RequireOpen();
    db_->BeginWrite();
    OdbcStatement stmt(db_->handle(), db_->query_timeout());
    stmt.ExecDirect(sql);
    long rows = std::max(0L, stmt.RowCount());
    db_->Written(std::max(1L, rows));
    db_->WriterClosed();
    return rows;
  }

  bool TableExists(std::string_view table) override {
    RequireOpen();
    try {
      OdbcStatement stmt(db_->handle(), db_->query_timeout());
      db_->ReadRan();
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
      db_->ReadRan();
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
  void Flush() override {
    if (db_) db_->Flush();
  }
  void HoldCommits(bool hold) noexcept override {
    if (db_) db_->HoldCommits(hold);
  }
  void BeginUnit() override {
    RequireOpen();
    db_->BeginUnit();
  }
  void EndUnit(bool keep) override {
    if (db_) db_->EndUnit(keep);
  }
  void Close() noexcept override {
    if (db_) db_->Close();
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
