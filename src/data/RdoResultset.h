#pragma once
// RdoResultset: the rows of one statement, read forward; when opened keyset
// with optimistic locking, the current row can be edited and written back,
// and new rows added.
//
// A resultset never holds all its rows in memory: it streams, keeping at most
// the identities (keys) of the rows.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/Cursor.h"
#include "data/RdoTypes.h"
#include "ordalis/Variant.h"

namespace ordalis::rdo {

class RdoResultset {
 public:
  explicit RdoResultset(std::unique_ptr<Cursor> cursor);
  ~RdoResultset();  // closes; a pending edit is cancelled

  // Both true: no rows. Bof is true only before anything was fetched on an
  // empty resultset (a resultset opens positioned on its first row).
  bool Bof() const;
  bool Eof() const;
  void MoveNext();
  // Rows visited so far (the current row included), as RDO reports it
  // before the last row has been reached.
  long RowCount() const;

  int ColumnCount() const;
  const std::string& ColumnName(int index) const;
  // Position of a column by name, letter case ignored; -1 when missing.
  int ColumnIndex(std::string_view name) const;
  // Declared size of a text column (varchar(n)); 0 when unbounded.
  int ColumnSize(int index) const;
  // Declared kind of a column (Null: as stored).
  Variant::Kind ColumnKind(int index) const;

  // The current row's value (during Edit/AddNew: the value as set).
  // Throws kErrNoCurrentRow at EOF, ComponentError when the column is missing.
  const Variant& Value(int index) const;
  const Variant& Value(std::string_view name) const;
  // REQUIRES: Edit or AddNew in progress.
  void SetValue(int index, Variant value);
  void SetValue(std::string_view name, Variant value);
  // SetValue(index, Variant(text)), without building the Variant.
  void SetText(int index, std::string_view text);

  // Keyset/optimistic only.
  void Edit();
  void AddNew();
  // Writes the changed columns. Fails (kErrRowChanged) when the row no
  // longer holds the values it was read with, or with the backend's error
  // when the database is locked; the edit then stays pending so that the
  // caller may retry Update or CancelUpdate.
  void Update();
  void CancelUpdate();
  // Re-reads the current row from the database (before a retried save);
  // a pending edit keeps its set values.
  void Resync();

  // Work done for each row on a thread that reads rows ahead, before the
  // row is reached (see RowPreparer), and the current row's result of it.
  void SetRowPreparer(RowPreparer preparer);
  const RowNote* Note() const;
  // Told the notes of each block of rows prepared (see NotesTaken).
  void SetNotesTaken(NotesTaken taken);
  // See Cursor::SetRowsOwned.
  void SetRowsOwned();

  void Close() noexcept;

 private:
  std::unique_ptr<Cursor> cursor_;
};

}  // namespace ordalis::rdo
