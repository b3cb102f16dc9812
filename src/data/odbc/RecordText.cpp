#include "data/odbc/RecordText.h"

#include <charconv>
#include <cstdint>

#include "ordalis/ComponentError.h"
#include "ordalis/Money.h"

namespace ordalis::rdo {

using K = Variant::Kind;

bool SplitRecord(std::string_view text, std::vector<std::optional<std::string>>& fields) {
  fields.clear();
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  std::size_t i = 1;
  const std::size_t end = text.size() - 1;
  for (;;) {
    if (i == end || text[i] == ',') {
      fields.emplace_back();  // nothing between the commas: NULL
    } else if (text[i] == '"') {
      std::string value;
      for (++i;;) {
        const std::size_t special = text.find_first_of("\"\\", i);
        if (special >= end) return false;
        value.append(text.data() + i, special - i);
        i = special + 1;
        if (text[special] == '"') {
          if (i < end && text[i] == '"') {
            value += '"';
            ++i;
            continue;
          }
          break;
        }
        if (i >= end) return false;
        value += text[i++];  // the character after a backslash, as it is
      }
      fields.emplace_back(std::move(value));
    } else {
      const std::size_t comma = text.find(',', i);
      const std::size_t stop = comma == std::string_view::npos || comma > end ? end : comma;
      fields.emplace_back(std::string(text.substr(i, stop - i)));
      i = stop;
    }
    if (i == end) return true;
    if (text[i] != ',') return false;
    ++i;
  }
}

bool ReadsFromText(const OdbcColumn& column) {
  switch (column.kind) {
    case K::Integer:
      return column.sql_type == SQL_SMALLINT || column.sql_type == SQL_INTEGER || column.sql_type == SQL_BIGINT;
    case K::Money: return column.sql_type == SQL_NUMERIC || column.sql_type == SQL_DECIMAL;
    case K::Date: return column.plain_timestamp;
    case K::Text: return column.utf8_bytes;
    default: return false;
  }
}

std::optional<Variant> ValueFromText(const OdbcColumn& column, std::string text) {
  switch (column.kind) {
    case K::Integer: {
      std::int64_t v = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
      return Variant(v);
    }
    case K::Money:
      try {
        return Variant(Money::FromText(text));
      } catch (const ComponentError&) {
        return Variant(std::move(text));  // as the driver's text of it reads
      }
    case K::Date:
      if (std::optional<DateTime> d = TimestampText(text)) return Variant::FromDate(*d);
      return std::nullopt;
    case K::Text: return Variant(std::move(text));
    default: return std::nullopt;
  }
}

}  // namespace ordalis::rdo
