#pragma once
// Values stored in an SQLite file, read as the declared kinds of a
// resultset's columns.
#include <sqlite3.h>

#include <vector>

#include "data/Cursor.h"

namespace ordalis::rdo {

// One stored value read as the column's declared kind, as liberally as the
// storage conventions allow; a value that does not fit the kind is returned
// as it is stored (text), never dropped.
Variant ReadColumn(sqlite3_value* value, Variant::Kind kind);

// The statement's current row, from its column `first` on, into one slot per
// column; texts go into the storage the slots already have.
void ReadRow(sqlite3_stmt* stmt, int first, const std::vector<ColumnInfo>& columns, std::vector<Variant>& into);

}  // namespace ordalis::rdo
