#pragma once
// SqliteBackend: the backend for DBQ=<path> connect strings, on an SQLite
// file through libsqlite3.
#include <map>
#include <memory>
#include <string>

#include "data/Backend.h"

struct sqlite3_stmt;

namespace ordalis::rdo {

class SqliteDb;

// Opens the existing SQLite file at path; throws ComponentError otherwise.
std::unique_ptr<Backend> OpenSqliteBackend(const std::string& path, int query_timeout_s);

class SqliteBackend final : public Backend {
 public:
  SqliteBackend(const std::string& path, int query_timeout_s);
  ~SqliteBackend() override;

  std::unique_ptr<Cursor> Open(std::string_view sql, CursorType cursor, LockType lock) override;
  std::unique_ptr<Cursor> OpenWith(std::string_view sql, const std::vector<std::string_view>& values,
                                   CursorType cursor, LockType lock) override;
  long Execute(std::string_view sql) override;
  long ExecuteWith(std::string_view sql, const std::vector<Variant>& values) override;
  bool TableExists(std::string_view table) override;
  bool ColumnExists(std::string_view table, std::string_view column) override;
  void SetQueryTimeout(int seconds) override;
  void Flush() override;
  void HoldCommits(bool hold) noexcept override;
  void BeginUnit() override;
  void EndUnit(bool keep) override;
  void LastWriteOfUnit() override;
  bool UnitsPending() const override;
  void Close() noexcept override;
  bool IsFileDatabase() const override { return true; }
  std::optional<std::uint64_t> TableStamp(std::string_view table) override;

 private:
  void FinalizeWrites() noexcept;

  std::shared_ptr<SqliteDb> db_;
  // The prepared statements of ExecuteWith, by their text.
  std::map<std::string, sqlite3_stmt*, std::less<>> writes_;
  // The text of the date values bound to one of them, until it has run.
  struct DateText {
    char text[32];
  };
  std::vector<DateText> date_texts_;
};

}  // namespace ordalis::rdo
