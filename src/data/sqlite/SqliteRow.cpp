#include "data/sqlite/SqliteRow.h"

#include <charconv>
#include <cmath>

#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"
#include "platform/TextLines.h"

namespace ordalis::rdo {
namespace {

using K = Variant::Kind;

std::string_view ValueText(sqlite3_value* v) {
  const char* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string_view();
}

bool ParseInteger(std::string_view t, std::int64_t& out) {
  t = platform::TrimBlanks(t);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  auto r = std::from_chars(t.data(), t.data() + t.size(), out);
  return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size();
}

bool ParseDouble(std::string_view t, double& out) {
  t = platform::TrimBlanks(t);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  auto r = std::from_chars(t.data(), t.data() + t.size(), out);
  return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(out);
}

bool EqualsWord(std::string_view t, std::string_view word) {
  if (t.size() != word.size()) return false;
  for (std::size_t i = 0; i < t.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(t[i])) != word[i]) return false;
  return true;
}

// A stored number as money; a value out of money's range stays a Double.
Variant MoneyOf(double d) {
  try {
    return Variant(Money::FromDouble(d));
  } catch (const ComponentError&) {
    return Variant(d);
  }
}

}  // namespace

Variant ReadColumn(sqlite3_value* v, K kind) {
  int type = sqlite3_value_type(v);
  if (type == SQLITE_NULL) return Variant();
  switch (kind) {
    case K::Text:
      if (type == SQLITE_INTEGER) return Variant(std::to_string(sqlite3_value_int64(v)));
      if (type == SQLITE_FLOAT) return Variant(NumberToText(sqlite3_value_double(v)));
      return Variant(std::string(ValueText(v)));
    case K::Integer:
      if (type == SQLITE_INTEGER) return Variant(static_cast<std::int64_t>(sqlite3_value_int64(v)));
      if (type == SQLITE_FLOAT) {
        double d = sqlite3_value_double(v);
        if (d == std::trunc(d) && std::fabs(d) < 9.0e18) return Variant(static_cast<std::int64_t>(d));
        return Variant(d);
      } else {
        std::string_view t = ValueText(v);
        std::int64_t i;
        double d;
        if (ParseInteger(t, i)) return Variant(i);
        if (ParseDouble(t, d)) return Variant(d);
        return Variant(std::string(t));
      }
    case K::Double:
    case K::Single: {
      double d;
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        d = sqlite3_value_double(v);
      } else {
        std::string_view t = ValueText(v);
        if (!ParseDouble(t, d)) return Variant(std::string(t));
      }
      return kind == K::Single ? Variant(static_cast<float>(d)) : Variant(d);
    }
    case K::Money:
      if (type == SQLITE_INTEGER) {
        std::int64_t raw;
        if (!__builtin_mul_overflow(sqlite3_value_int64(v), Money::kScale, &raw))
          return Variant(Money::FromRaw(raw));
        return Variant(sqlite3_value_double(v));
      }
      if (type == SQLITE_FLOAT) return MoneyOf(sqlite3_value_double(v));
      {
        std::string_view t = ValueText(v);
        double d;
        if (!ParseDouble(t, d)) return Variant(std::string(t));
        try {
          return Variant(Money::FromText(std::string(platform::TrimBlanks(t))));
        } catch (const ComponentError&) {
          return Variant(d);
        }
      }
    case K::Date:
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) return Variant::FromDate(sqlite3_value_double(v));
      {
        std::string_view t = ValueText(v);
        if (auto d = dt::ParseStored(t)) return Variant::FromDate(*d);
        return Variant(std::string(t));
      }
    case K::Bool:
      if (type == SQLITE_INTEGER) return Variant(sqlite3_value_int64(v) != 0);
      if (type == SQLITE_FLOAT) return Variant(sqlite3_value_double(v) != 0);
      {
        std::string_view t = platform::TrimBlanks(ValueText(v));
        double d;
        if (EqualsWord(t, "true")) return Variant(true);
        if (EqualsWord(t, "false")) return Variant(false);
        if (ParseDouble(t, d)) return Variant(d != 0);
        return Variant(std::string(t));
      }
    case K::Null: break;
  }
  switch (type) {
    case SQLITE_INTEGER: return Variant(static_cast<std::int64_t>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT: return Variant(sqlite3_value_double(v));
    case SQLITE_BLOB: {
      const char* p = static_cast<const char*>(sqlite3_value_blob(v));
      return Variant(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v))));
    }
    default: return Variant(std::string(ValueText(v)));
  }
}

void ReadRow(sqlite3_stmt* stmt, int first, const std::vector<ColumnInfo>& columns, std::vector<Variant>& into) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    // Each column is read through its sqlite3_value: one look-up per value.
    sqlite3_value* v = sqlite3_column_value(stmt, static_cast<int>(i) + first);
    if (columns[i].kind == K::Text && sqlite3_value_type(v) == SQLITE_TEXT)
      into[i].AssignText(ValueText(v));
    else
      into[i] = ReadColumn(v, columns[i].kind);
  }
}

}  // namespace ordalis::rdo
