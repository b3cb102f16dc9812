#pragma once
// SqlText: the small pieces of SQL and connect-string text the data-access
// layer reads or writes itself (no full SQL parser: only what the engine's
// statements need).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "ordalis/Variant.h"

namespace ordalis::rdo {

// Value of a KEY=value pair in a connect string (key compared without letter
// case, value up to the next ';', blanks around it dropped, {braces} removed).
std::optional<std::string> ConnectValue(std::string_view connect, std::string_view key);

// Rewrites the ODBC date escapes {d '...'}, {ts '...'}, {t '...'} outside
// quoted text into 'YYYY-MM-DD HH:MM:SS' literals. An escape whose text is
// not a date is left as it is (SQLite then reports the syntax error).
std::string RewriteDateEscapes(std::string_view sql);

// The statement with each comment outside quoted text ("-- ..." to the end
// of its line, "/* ... */", an unclosed one to the end) replaced by a blank.
std::string StripComments(std::string_view sql);

// SELECT <list> FROM <table> [[AS] alias] <rest>, one table, no join;
// comments are dropped.
struct SingleTableSelect {
  std::string list;   // the select list as written ("*", "a, b")
  std::string table;  // as written, quotes included
  std::string alias;  // empty when none
  std::string rest;   // WHERE/ORDER BY/... as written, may be empty
  // The name to qualify columns with: the alias, else the table.
  const std::string& Qualifier() const { return alias.empty() ? table : alias; }
};
// Empty when the statement is not a plain single-table SELECT.
std::optional<SingleTableSelect> ParseSingleTableSelect(std::string_view sql);

// The table an UPDATE, INSERT INTO or DELETE FROM statement writes, as
// written; none for a statement of another kind or a name it cannot read.
std::optional<std::string> WrittenTable(std::string_view sql);

// A table name reduced for comparison: its last dotted part, quotes
// removed, in lower case ("public.\"Rubrica\"" and "RUBRICA" give
// "rubrica"). Names that differ only in case or schema compare equal.
std::string TableNameKey(std::string_view name);

// Kind and declared text size of a column from its declared SQL type
// ("DATETIME", "varchar(20)", "MONEY"). Kind::Null: decide per value.
struct DeclaredType {
  Variant::Kind kind = Variant::Kind::Null;
  int size = 0;
};
DeclaredType ParseDeclaredType(std::string_view declared);

// The name as an SQL identifier: as it is when it is a plain word
// (letters, digits, '_'), else between double quotes with quotes doubled.
std::string QuoteIdentifierIfNeeded(std::string_view name);

// Hash and equality ignoring ASCII letter case, for column lookup without
// allocating (heterogeneous lookup with string_view keys).
struct NoCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept;
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept;
};

}  // namespace ordalis::rdo
