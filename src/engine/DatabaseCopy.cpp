#include "ordalis/DatabaseCopy.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "data/Cursor.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "data/SqlText.h"
#include "engine/SchemaText.h"
#include "ordalis/ComponentError.h"

namespace ordalis {
namespace {

constexpr char kSource[] = "Ordalis copy";
constexpr std::int32_t kErrCopy = 3000;
constexpr long kProgressEvery = 1000;
// Rows go in as INSERTs of several rows each, their values bound: up to
// this many rows, and this many values, in one statement.
constexpr std::size_t kRowsPerInsert = 250;
constexpr std::size_t kValuesPerInsert = 2000;

// The statements of a schema text that make one table: its CREATE TABLE,
// then the indexes and constraints added to it; and its generated keys.
struct TableSchema {
  std::vector<std::string> statements;
  std::vector<std::string> serial_columns;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '"') {
      word += c;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// Splits a schema file into statements (';' outside quotes, "--" comments
// dropped) and groups them by the table they make or change, in file order.
std::vector<std::pair<std::string, TableSchema>> ParseSchema(const std::string& sql) {
  std::vector<std::string> statements(1);
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (!quote && c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      statements.back() += '\n';
      continue;
    }
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      statements.emplace_back();
      continue;
    }
    statements.back() += c;
  }
  std::vector<std::pair<std::string, TableSchema>> tables;
  auto find = [&](const std::string& name) -> TableSchema* {
    for (auto& [table, schema] : tables)
      if (Upper(table) == Upper(name)) return &schema;
    return nullptr;
  };
  for (const std::string& statement : statements) {
    std::vector<std::string> w = Words(statement);
    if (w.size() >= 3 && Upper(w[0]) == "CREATE" && Upper(w[1]) == "TABLE") {
      TableSchema schema;
      schema.statements.push_back(statement);
      for (std::size_t i = 3; i + 1 < w.size(); ++i)
        if (Upper(w[i + 1]) == "SERIAL" || Upper(w[i + 1]) == "BIGSERIAL") schema.serial_columns.push_back(w[i]);
      tables.emplace_back(w[2], std::move(schema));
      continue;
    }
    std::string table;
    if (w.size() >= 3 && Upper(w[0]) == "ALTER" && Upper(w[1]) == "TABLE") table = w[2];
    for (std::size_t i = 0; table.empty() && i + 1 < w.size(); ++i)
      if (Upper(w[0]) == "CREATE" && Upper(w[i]) == "ON") table = w[i + 1];
    if (TableSchema* schema = table.empty() ? nullptr : find(table)) schema->statements.push_back(statement);
  }
  return tables;
}

[[noreturn]] void Fail(const std::string& what, const ComponentError& e) {
  throw ComponentError(kErrCopy, what + ": " + e.Description(), kSource);
}

// INSERT INTO table (list) VALUES (?, …), … for `rows` rows of `width` values.
std::string MultiRowInsert(const std::string& table, const std::string& list, std::size_t width, std::size_t rows) {
  std::string row = "(?";
  for (std::size_t i = 1; i < width; ++i) row += ",?";
  row += ')';
  std::string sql = "INSERT INTO " + table + " (" + list + ") VALUES " + row;
  sql.reserve(sql.size() + (rows - 1) * (row.size() + 1));
  for (std::size_t i = 1; i < rows; ++i) sql += ',' + row;
  return sql;
}

std::unique_ptr<rdo::RdoConnection> Connect(const std::string& connect, const char* side) {
  auto c = std::make_unique<rdo::RdoConnection>();
  c->SetConnect(connect);
  c->SetQueryTimeout(0);
  try {
    c->EstablishConnection();
  } catch (const ComponentError& e) {
    Fail(std::string("Cannot open the ") + side + " database", e);
  }
  return c;
}

long Count(rdo::RdoConnection& c, const std::string& table) {
  auto rs = c.OpenResultset("SELECT COUNT(*) FROM " + table);
  return rs->Eof() ? 0 : static_cast<long>(rs->Value(0).ToInteger());
}

}  // namespace

CopyResult CopyEngineDatabase(const std::string& from, const std::string& to, const CopyProgress& progress) {
  auto source = Connect(from, "source");
  auto target = Connect(to, "target");
  const bool file_target = target->IsFileDatabase();
  auto tables = ParseSchema(file_target ? kEngineSchemaSql : kEnginePostgresSchemaSql);

  // What there is to copy, and a check that nothing would be overwritten.
  CopyResult result;
  long total = 0;
  std::vector<std::string> occupied;
  std::vector<const std::pair<std::string, TableSchema>*> copied;
  for (const auto& entry : tables) {
    const std::string& table = entry.first;
    if (!source->TableExists(table)) continue;
    try {
      total += Count(*source, table);
      if (target->TableExists(table) && Count(*target, table) > 0) occupied.push_back(table);
    } catch (const ComponentError& e) {
      Fail("Table " + table, e);
    }
    copied.push_back(&entry);
  }
  if (!occupied.empty()) {
    std::string names;
    for (const std::string& t : occupied) names += (names.empty() ? "" : ", ") + t;
    throw ComponentError(kErrCopy, "The target database already holds rows in " + names +
                                       ": copy only into empty tables", kSource);
  }

  long done = 0;
  if (progress) progress(0, total);
  for (const auto* entry : copied) {
    const std::string& table = entry->first;
    const TableSchema& schema = entry->second;
    try {
      if (!target->TableExists(table)) {
        for (const std::string& statement : schema.statements) target->Execute(statement);
        result.tables_created.push_back(table);
      }
      auto in = source->OpenResultset("SELECT * FROM " + table);
      // The columns both sides have, by name, and the kind each takes there.
      std::string list;
      std::vector<std::pair<int, Variant::Kind>> from_columns;
      {
        auto shape = target->OpenResultset("SELECT * FROM " + table + " WHERE 1=0");
        for (int i = 0; i < in->ColumnCount(); ++i) {
          const int there = shape->ColumnIndex(in->ColumnName(i));
          if (there < 0) continue;
          list += (list.empty() ? "" : ", ") + rdo::QuoteIdentifierIfNeeded(in->ColumnName(i));
          from_columns.emplace_back(i, shape->ColumnKind(there));
        }
      }
      if (list.empty()) continue;
      rdo::CommitHold hold(*target);
      const std::size_t width = from_columns.size();
      const std::size_t per_insert = std::clamp<std::size_t>(kValuesPerInsert / width, 1, kRowsPerInsert);
      const std::string full_insert = MultiRowInsert(table, list, width, per_insert);
      std::vector<Variant> values;
      values.reserve(per_insert * width);
      std::size_t read = 0;  // rows of the table read so far
      // Row n of the table (from 1), named by its first column copied.
      auto row_error = [&](std::size_t n, const Variant& first, const std::string& why) {
        return ComponentError(kErrCopy,
                              "row " + std::to_string(n) + " (" + in->ColumnName(from_columns[0].first) + " " +
                                  (first.IsNull() ? std::string("NULL") : first.ToText()) + "): " + why,
                              kSource);
      };
      // A statement the target refuses runs again a row at a time, so that
      // the error names the row; the rows before it are copied.
      auto insert = [&] {
        const std::size_t rows = values.size() / width;
        try {
          target->ExecuteWith(rows == per_insert ? full_insert : MultiRowInsert(table, list, width, rows), values);
        } catch (const ComponentError&) {
          const std::string one = MultiRowInsert(table, list, width, 1);
          for (std::size_t r = 0; r < rows; ++r) {
            const auto from = values.begin() + static_cast<std::ptrdiff_t>(r * width);
            try {
              target->ExecuteWith(one, std::vector<Variant>(from, from + static_cast<std::ptrdiff_t>(width)));
            } catch (const ComponentError& e) {
              throw row_error(read - rows + r + 1, *from, e.Description());
            }
          }
        }
        values.clear();
      };
      for (; !in->Eof(); in->MoveNext()) {
        ++read;
        for (const auto& [column, kind] : from_columns) {
          try {
            values.push_back(rdo::CoerceToKind(in->Value(column), kind));
          } catch (const ComponentError& e) {
            throw row_error(read, in->Value(from_columns[0].first), in->ColumnName(column) + ": " + e.Description());
          }
        }
        if (values.size() == per_insert * width) insert();
        ++result.rows;
        if (++done % kProgressEvery == 0 && progress) progress(done, total);
      }
      if (!values.empty()) insert();
      in->Close();
      target->Flush();
      // Keys generated later come after the copied ones.
      if (!file_target)
        for (const std::string& column : schema.serial_columns)
          target->Execute("SELECT setval(pg_get_serial_sequence('" + table + "', '" + Lower(column) +
                          "'), COALESCE(MAX(" + column + "), 0) + 1, false) FROM " + table);
    } catch (const ComponentError& e) {
      Fail("Copying table " + table, e);
    }
  }
  target->Flush();
  if (progress) progress(done, total);
  return result;
}

}  // namespace ordalis
