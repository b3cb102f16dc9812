#pragma once
// RecordText: a row as the text of a row value (PostgreSQL's
// `CAST(ROW(a, b, ...) AS text)`), read here instead of column by column
// through the driver, whose work per value costs more than the rating.
//
// The text is "(f1,f2,...)": a NULL is nothing between the commas; a value
// holding a quote, a backslash, a comma, a parenthesis or white space, or an
// empty one, is in double quotes, with quotes and backslashes doubled.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/odbc/OdbcRows.h"
#include "ordalis/Variant.h"

namespace ordalis::rdo {

// The values of a row text, none for a NULL; false when `text` is not one.
bool SplitRecord(std::string_view text, std::vector<std::optional<std::string>>& fields);

// Whether a value of the column, given as the text the server writes for
// it, reads here exactly as the driver reads it: integers, numbers of four
// decimals (money), time stamps without time zone, and text the driver
// hands over as bytes.
bool ReadsFromText(const OdbcColumn& column);

// The value of such a column from its text; none when the text is not in
// the form the driver would read the same way (a date BC, infinity).
std::optional<Variant> ValueFromText(const OdbcColumn& column, std::string text);

}  // namespace ordalis::rdo
