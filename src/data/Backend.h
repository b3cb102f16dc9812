#pragma once
// Backend: one open database behind an RdoConnection. SqliteBackend serves
// DBQ= file databases, OdbcBackend every other connect string.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/RdoTypes.h"
#include "ordalis/Variant.h"

namespace ordalis::rdo {

class Cursor;

class Backend {
 public:
  virtual ~Backend() = default;

  // Runs a statement and returns the cursor over its rows. A keyset cursor
  // with optimistic locking is updatable and needs a single-table SELECT.
  virtual std::unique_ptr<Cursor> Open(std::string_view sql, CursorType cursor, LockType lock) = 0;
  // A cursor over a statement whose "?" markers take `values` in order. By
  // default they are put into the text as quoted literals; a backend may
  // keep the statement prepared for the next use.
  virtual std::unique_ptr<Cursor> OpenWith(std::string_view sql, const std::vector<std::string_view>& values,
                                           CursorType cursor, LockType lock);
  // A statement without rows; returns the rows it changed.
  virtual long Execute(std::string_view sql) = 0;
  // A statement without rows whose "?" markers take `values` in order, bound
  // as parameters: for a write repeated with different values, kept
  // prepared for the next use of the same text. On a file the write joins
  // the write batch like a row written through a resultset. Returns the
  // rows it changed.
  virtual long ExecuteWith(std::string_view sql, const std::vector<Variant>& values) = 0;
  virtual bool TableExists(std::string_view table) = 0;
  virtual bool ColumnExists(std::string_view table, std::string_view column) = 0;
  virtual void SetQueryTimeout(int seconds) = 0;
  // Commits rows held in a write batch; throws when the commit fails (for a
  // lock: the batch stays open for another attempt; for good:
  // kErrWriteRefused).
  virtual void Flush() = 0;
  // While held, closing a resultset that wrote does not commit its rows at
  // once; ending the hold commits them. Nothing to do where every write
  // commits by itself.
  virtual void HoldCommits(bool /*hold*/) noexcept {}
  // A unit of writes (one call: its row and the statistics it moved) is
  // committed whole or not at all. BeginUnit marks the start of one;
  // EndUnit(true) keeps its writes, EndUnit(false) takes them back as if
  // they had never been made. Units do not nest. The write batch commits
  // only between units: a Flush asked for inside a unit, or a batch full
  // inside one, commits when the unit ends kept. A commit that fails there
  // for a lock leaves the batch open for a later one; any write or commit
  // the database refuses for good throws kErrWriteRefused, after which
  // nothing of the batch (this unit and every kept unit not yet committed)
  // is in the database; later writes, the unit's end and the next Flush
  // throw it again until EndUnit or Flush has, so that a caller that
  // swallowed the first report cannot take the loss for success. The
  // defaults do nothing: every write commits alone.
  virtual void BeginUnit() {}
  virtual void EndUnit(bool /*keep*/) {}
  // The unit's next write is its last and one statement: where a statement
  // that fails is undone by the database itself, the unit may then skip its
  // savepoint. Taking the unit back after that write took effect costs the
  // whole batch (kErrWriteRefused).
  virtual void LastWriteOfUnit() {}
  // Other processes write the same rows at the same time (several processes
  // rating one database): where a written row stays locked until the
  // commit, each kept unit then commits at its end, so that no process
  // holds the rows the others need (an extension's totals, a phone-book
  // entry) for longer than one call, and locks are taken in one call's
  // order only. A unit that wrote only rows the backend locked for this
  // process as it read them, or rows no other process writes
  // (Cursor::SetRowsOwned), need not commit.
  virtual void ShareRows(bool /*shared*/) {}
  // Among processes that share rows: waits until no other session of the
  // database is between its own TakeTurn and the end of its transaction, so
  // that what such sessions write in turn (the statistics a run writes back)
  // never meets a row another holds and read before it changed. It gives up
  // silently (the writes then meet as they would without it) when the wait
  // fails, or with rows waiting for the commit, after the query timeout; a
  // statement that fails then is a failed write. Nothing to do where one
  // writer holds the whole database.
  virtual void TakeTurn() {}
  // True while kept units wait for a commit (false where writes commit
  // alone): the caller may forget what it remembers of kept units once
  // this is false after EndUnit or Flush.
  virtual bool UnitsPending() const { return false; }
  // The caller commits: the write batch then commits only on Flush, never
  // by itself when full or old, nor at the end of a unit that wrote rows
  // other processes write too; CommitDue says when the caller should. The
  // caller can so add writes of its own (totals it keeps in memory) to the
  // transaction of the rows they count just before it commits. Close rolls
  // back what was not flushed. False (nothing changed) where writes do not
  // wait for a commit.
  virtual bool CommitOnFlush(bool /*on*/) { return false; }
  // Under CommitOnFlush, between units: the batch is full or old, or a kept
  // unit wrote rows other processes may wait for.
  virtual bool CommitDue() const { return false; }
  // Commits what it can and releases every handle; never throws.
  virtual void Close() noexcept = 0;
  virtual bool IsFileDatabase() const = 0;
  // A value that stays the same while the rows of `table` cannot have
  // changed; none when that cannot be known (the default).
  virtual std::optional<std::uint64_t> TableStamp(std::string_view /*table*/) { return std::nullopt; }
};

}  // namespace ordalis::rdo
