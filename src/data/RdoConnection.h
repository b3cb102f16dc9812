#pragma once
// RdoConnection: one open database, chosen by its connect string.
// A connect string holding "DBQ=<path>" opens the SQLite file at <path> (a
// missing file is an open failure, never a new empty database); any other
// string goes to the ODBC driver manager.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/RdoTypes.h"
#include "ordalis/Variant.h"

namespace ordalis::rdo {

class Backend;
class RdoResultset;
class RdoQuery;

class RdoConnection {
 public:
  RdoConnection();
  ~RdoConnection();  // closes
  RdoConnection(const RdoConnection&) = delete;
  RdoConnection& operator=(const RdoConnection&) = delete;

  const std::string& Connect() const { return connect_; }
  void SetConnect(std::string connect) { connect_ = std::move(connect); }
  // Seconds a statement may run before it fails (0: no limit).
  int QueryTimeout() const { return query_timeout_; }
  void SetQueryTimeout(int seconds);
  // Three tuning settings the engine sets (cursor driver, row-set size,
  // keyset size); they are kept for the host and otherwise have no effect.
  void SetTuning(int which, long value);
  long Tuning(int which) const;

  // Opens with Connect() (plus user and password when given, for ODBC).
  // REQUIRES: not open. Throws ComponentError with the backend's message.
  void EstablishConnection(bool prompt = false, bool read_only = false);
  void EstablishConnection(const std::string& user, const std::string& password);
  // Keeps two string literals from choosing the (bool, bool) overload.
  void EstablishConnection(const char* user, const char* password) {
    EstablishConnection(std::string(user ? user : ""), std::string(password ? password : ""));
  }
  bool IsOpen() const;

  // REQUIRES: open. The resultset keeps this connection alive as long as
  // it is used; it must not outlive the connection object.
  std::unique_ptr<RdoResultset> OpenResultset(std::string_view sql, CursorType cursor = CursorType::ForwardOnly,
                                              LockType lock = LockType::ReadOnly);
  // Over a statement whose "?" markers (outside quotes) take `values` in
  // order, as texts: for a statement repeated with different values, which
  // the file backend keeps prepared. Read-only and forward-only unless asked
  // for keyset with optimistic locking.
  std::unique_ptr<RdoResultset> OpenResultset(std::string_view sql, const std::vector<std::string_view>& values,
                                              CursorType cursor = CursorType::ForwardOnly,
                                              LockType lock = LockType::ReadOnly);
  // A statement that returns no rows; returns the rows it changed.
  long Execute(std::string_view sql);
  // The same with "?" markers taking `values` in order as bound parameters;
  // the statement stays prepared for the next use of the same text, and on
  // a file the write joins the write batch (committed by Flush at the latest).
  long ExecuteWith(std::string_view sql, const std::vector<Variant>& values);
  std::unique_ptr<RdoQuery> CreateQuery(std::string_view name, std::string_view sql);
  // rdoTables(table).rdoColumns(column) without raising: whether it exists.
  bool ColumnExists(std::string_view table, std::string_view column);
  bool TableExists(std::string_view table);
  // True for the embedded SQLite backend.
  bool IsFileDatabase() const;
  // A value that stays the same while the rows of `table` cannot have
  // changed (for a cache of lookups that found nothing); none when that
  // cannot be known, e.g. outside a write batch or on ODBC.
  std::optional<std::uint64_t> TableStamp(std::string_view table);

  // Commits what the layer still holds in its write batch. Harmless when
  // there is nothing; called by Close.
  void Flush();
  // While held (also across a reopen), closing a resultset that wrote
  // leaves its rows in the write batch, for a run that writes through many
  // short-lived resultsets; ending the hold commits them.
  void HoldCommits(bool hold) noexcept;
  // The writes between BeginUnit and EndUnit commit together or not at all
  // (Backend::BeginUnit). Harmless when the connection is closed.
  void BeginUnit();
  void EndUnit(bool keep);
  void LastWriteOfUnit();
  void ShareRows(bool shared);
  void TakeTurn();  // Backend::TakeTurn
  bool UnitsPending() const;
  // Backend::CommitOnFlush (kept across a reopen) and CommitDue.
  bool CommitOnFlush(bool on);
  bool CommitDue() const;
  // Closing twice, or closing a connection that never opened, is harmless.
  void Close() noexcept;

  Backend& backend();  // REQUIRES: open

 private:
  std::string connect_;
  int query_timeout_ = 30;
  long tuning_[3] = {0, 0, 0};
  bool commits_held_ = false;
  bool commit_on_flush_ = false;
  std::unique_ptr<Backend> backend_;
};

// Holds the connection's commits for its lifetime.
class CommitHold {
 public:
  explicit CommitHold(RdoConnection& connection) : connection_(connection) { connection_.HoldCommits(true); }
  ~CommitHold() { connection_.HoldCommits(false); }
  CommitHold(const CommitHold&) = delete;
  CommitHold& operator=(const CommitHold&) = delete;

 private:
  RdoConnection& connection_;
};

}  // namespace ordalis::rdo
