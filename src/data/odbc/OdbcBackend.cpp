#include "data/odbc/OdbcBackend.h"

#include <algorithm>
#include <cctype>
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

  // A statement is one write of the batch, undone alone when it fails;
  // outside a unit and a hold it is committed at once, as the statements
  // that change tables expect.
  long Execute(std::string_view sql) override {
    RequireOpen();
    db_->BeginWrite();
    db_->StatementWrites(sql);
    OdbcStatement stmt(db_->handle(), db_->query_timeout());
    db_->Protected([&] { stmt.ExecDirect(sql); });
    long rows = std::max(0L, stmt.RowCount());
    db_->Written(std::max(1L, rows));
    db_->WriterClosed();
    return rows;
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
    db_->BeginWrite();
    db_->StatementWrites(sql);
    stmt.ResetParams();
    for (std::size_t i = 0; i < values.size(); ++i) stmt.Bind(static_cast<int>(i) + 1, values[i]);
    db_->Protected([&] { stmt.Execute(); });
    long rows = std::max(0L, stmt.RowCount());
    stmt.CloseCursor();
    db_->Written(std::max(1L, rows));
    db_->WriterClosed();
    return rows;
  }

  bool TableExists(std::string_view table) override {
    RequireOpen();
    return !Columns(table).empty();
  }

  bool ColumnExists(std::string_view table, std::string_view column) override {
    RequireOpen();
    NoCaseEqual equal;
    for (const std::string& name : Columns(table))
      if (equal(name, column)) return true;
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
  void ShareRows(bool shared) override {
    if (db_) db_->ShareRows(shared);
  }
  void EndUnit(bool keep) override {
    if (db_) db_->EndUnit(keep);
  }
  void TakeTurn() override {
    if (db_) db_->TakeTurn();
  }
  bool UnitsPending() const override { return db_ && db_->UnitsPending(); }
  bool CommitOnFlush(bool on) override {
    if (!db_) return false;
    db_->CommitOnFlush(on);
    return true;
  }
  bool CommitDue() const override { return db_ && db_->CommitDue(); }
  void Close() noexcept override {
    if (db_) db_->Drain();
    writes_.clear();
    if (db_) db_->Close();
    db_.reset();
  }
  bool IsFileDatabase() const override { return false; }
  std::optional<std::uint64_t> TableStamp(std::string_view table) override {
    if (!db_ || db_->closed()) return std::nullopt;
    return db_->TableStamp(table);
  }

 private:
  // The columns of a table as the catalog lists them (none: no such table),
  // asked for without a statement that could fail and abort the batch. An
  // unquoted name is tried as written, then in lower and upper case.
  std::vector<std::string> Columns(std::string_view table) {
    std::string schema, name(table);
    if (std::size_t dot = name.rfind('.'); dot != std::string::npos) {
      schema = name.substr(0, dot);
      name = name.substr(dot + 1);
    }
    std::vector<std::string> candidates = {name};
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
      candidates = {name.substr(1, name.size() - 2)};
    } else {
      std::string lower = name, upper = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      candidates.push_back(lower);
      candidates.push_back(upper);
    }
    for (const std::string& candidate : candidates) {
      OdbcStatement stmt(db_->handle(), db_->query_timeout());
      std::u16string w_table = ToUtf16(candidate), w_schema = ToUtf16(schema);
      db_->ReadRan();
      db_->Guarded([&] {
        stmt.Check(SQLColumnsW(stmt.handle(), nullptr, 0,
                               schema.empty() ? nullptr : reinterpret_cast<SQLWCHAR*>(w_schema.data()),
                               static_cast<SQLSMALLINT>(w_schema.size()), reinterpret_cast<SQLWCHAR*>(w_table.data()),
                               static_cast<SQLSMALLINT>(w_table.size()), nullptr, 0));
      });
      std::vector<OdbcColumn> columns = DescribeColumns(stmt.handle());
      for (auto& c : columns) c.bounded = false;
      OdbcRows rows(stmt.handle(), std::move(columns));
      std::vector<std::string> names;
      std::vector<Variant> row;
      while (db_->Guarded([&] { return rows.Next(row); }))
        if (row.size() > 3 && !row[3].IsNull()) names.push_back(row[3].ToText());
      if (!names.empty()) return names;
    }
    return {};
  }

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
