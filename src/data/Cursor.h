#pragma once
// Cursor: the rows of one statement as a backend delivers them, with the
// state every backend shares: the current row as Variants, the column
// lookup, and the Edit/AddNew buffer. A backend supplies fetching, the
// optimistic write and the re-read of one row.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/RdoTypes.h"
#include "data/SqlText.h"
#include "ordalis/Variant.h"

namespace ordalis::rdo {

struct ColumnInfo {
  std::string name;
  Variant::Kind kind = Variant::Kind::Null;  // declared kind; Null: as stored
  int size = 0;                              // declared text size, 0: none
};

// A value converted to a column's declared kind, as it would be stored.
// Throws ComponentError 13 (type mismatch) when it does not convert.
Variant CoerceToKind(Variant value, Variant::Kind kind);

// Whether a value set over a column holds what was read from it (dates to
// the second, as they are stored).
bool SameAsRead(const Variant& set, const Variant& read);

[[noreturn]] void ThrowDataError(std::string description, int number = kErrDataAccess);

// What a RowPreparer worked out for a row before it was reached.
class RowNote {
 public:
  virtual ~RowNote() = default;
};

// Work done for each row on a thread that reads rows ahead of the caller,
// before the row is reached: it sees the row's values (one per column) and
// fills the row's note, whose object it may keep from row to row. It runs
// while the caller works, so it must read only what nothing changes while
// the resultset is open, and must not throw.
using RowPreparer = std::function<void(const std::vector<Variant>& row, std::unique_ptr<RowNote>& note)>;

// Told, on the caller's thread, the notes of the rows about to be reached
// (in row order; null for a row without one), where a backend prepares
// rows a block at a time: so that work for many rows (a look-up of all
// their numbers) can be done at once.
using NotesTaken = std::function<void(const std::vector<const RowNote*>& notes)>;

class Cursor {
 public:
  virtual ~Cursor();
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  long RowCount() const { return row_count_; }
  void MoveNext();

  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  const ColumnInfo& Column(int index) const;
  int ColumnIndex(std::string_view name) const;
  int RequireColumn(std::string_view name) const;  // throws when missing

  const Variant& Value(int index) const;
  void SetValue(int index, Variant value);
  // SetValue with a text, written into the edit buffer in place.
  void SetText(int index, std::string_view text);

  void Edit();
  void AddNew();
  void Update();
  void CancelUpdate() noexcept;
  void Resync();
  void Close() noexcept;

  // Rows read ahead from now on are prepared; an empty preparer stops,
  // waiting for a preparation under way. Where nothing is read ahead (the
  // default) nothing is prepared.
  virtual void SetRowPreparer(RowPreparer /*preparer*/) {}
  // The current row's note, when it was prepared; null otherwise.
  virtual const RowNote* Note() const { return nullptr; }
  // Called at once for the rows held ahead, then for each block of rows
  // prepared, before its first row is reached; never where nothing is
  // prepared a block at a time (the default).
  virtual void SetNotesTaken(NotesTaken /*taken*/) {}
  // No other process writes these rows (they are this process's share of a
  // table rated together): writing them does not end a shared run's batch.
  virtual void SetRowsOwned() {}

 protected:
  enum class EditMode { None, Edit, AddNew };

  Cursor() = default;
  // Called by the backend's constructor once the columns are known; fetches
  // the first row.
  void Start(std::vector<ColumnInfo> columns);

  // Moves to the next row and fills row_; false at the end.
  virtual bool FetchNext() = 0;
  // Whether Edit/AddNew are allowed (keyset with optimistic locking).
  virtual bool Updatable() const = 0;
  // Writes edit_ over the current row where changed_ is set; row_ holds the
  // values as read. Throws kErrRowChanged when the row no longer holds them,
  // ComponentError for any other failure, and then has written nothing.
  virtual void WriteUpdate() = 0;
  // Inserts edit_ (columns where changed_ is set).
  virtual void WriteInsert() = 0;
  // Re-reads the current row into row_; throws kErrRowChanged when it was
  // deleted. A pending edit keeps edit_.
  virtual void Reread() = 0;
  // A column is about to change for the first time in this edit.
  virtual void OnFirstChange(int /*index*/) {}
  // The edit has ended (saved or cancelled).
  virtual void OnEditEnded() noexcept {}
  // Releases the backend's handles; called once.
  virtual void Release() noexcept = 0;

  std::vector<ColumnInfo> columns_;
  std::vector<Variant> row_;      // current row, as read
  std::vector<Variant> edit_;     // during Edit/AddNew: set values (Edit: where changed_)
  std::vector<char> changed_;     // during Edit/AddNew: column set
  EditMode mode_ = EditMode::None;

 private:
  void RequireRow() const;
  // The edit buffer's entry for a column being set.
  Variant& EditSlot(int index);
  void Fetch();

  bool bof_ = true;
  bool eof_ = true;
  bool closed_ = false;
  long row_count_ = 0;
};

}  // namespace ordalis::rdo
