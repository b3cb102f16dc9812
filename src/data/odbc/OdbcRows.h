#pragma once
// OdbcRows: the rows of an executed ODBC statement, fetched in blocks into
// bound column buffers (SQL_ATTR_ROW_ARRAY_SIZE) rather than value by value.
//
// Numbers, yes/no and time stamps arrive in their binary form; money and
// other date and time columns as text that the layer parses as before; text
// as UTF-16, or as the bytes the server sent where those are UTF-8 (no
// conversion by the driver, to UTF-16 and back). A statement with a column
// of unbounded text (a long text type, or no declared size) is read a row at
// a time with SQLGetData instead, so no value is ever cut short.
//
// The bindings stay on the statement: a prepared statement executed again
// with the same columns is read with the same OdbcRows after Restart.
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ordalis/DateTime.h"
#include "ordalis/Variant.h"

namespace ordalis::rdo {

// A result column as the driver describes it.
struct OdbcColumn {
  std::string name;
  Variant::Kind kind = Variant::Kind::Null;  // how values read
  int size = 0;                              // declared text size, 0: none
  SQLSMALLINT sql_type = 0;
  bool bounded = true;                       // fits a bound buffer
  bool plain_timestamp = false;              // a timestamp without time zone
  bool utf8_bytes = false;                   // text read as the server's UTF-8 bytes
  bool operator==(const OdbcColumn&) const = default;
};

class OdbcRows {
 public:
  // Rows per block by default, and the most a block's buffers may take.
  static constexpr std::size_t kBlockRows = 1000;
  static constexpr std::size_t kBlockBytes = 8 << 20;

  // REQUIRES: `stmt` executed with a result of these columns and outlives
  // this object.
  OdbcRows(SQLHSTMT stmt, std::vector<OdbcColumn> columns, std::size_t block_rows = kBlockRows);
  ~OdbcRows();
  OdbcRows(const OdbcRows&) = delete;
  OdbcRows& operator=(const OdbcRows&) = delete;

  const std::vector<OdbcColumn>& columns() const { return columns_; }
  // Fills `row` (one value per column) with the next row; false at the end.
  // Throws ComponentError with the driver's diagnostic.
  bool Next(std::vector<Variant>& row);
  // After the statement ran again: reading starts over.
  void Restart() noexcept;
  // The bytes of the bound buffers.
  std::size_t Bytes() const noexcept { return bytes_; }

 private:
  struct Buffer {
    SQLSMALLINT c_type = 0;
    std::size_t width = 0;  // bytes per row
    // Filled by the driver, never cleared first: clearing a block's worth
    // of rows for every statement cost more than reading its few rows.
    std::unique_ptr<unsigned char[]> data;
    std::vector<SQLLEN> indicators;
  };
  Variant Bound(std::size_t column, std::size_t row) const;
  Variant Got(int column) const;
  bool FetchBlock();

  SQLHSTMT stmt_;
  std::vector<OdbcColumn> columns_;
  bool blocked_ = true;
  std::size_t block_rows_ = 1;
  std::vector<Buffer> buffers_;
  std::size_t bytes_ = 0;
  SQLULEN fetched_ = 0;
  std::size_t next_ = 0;
  bool ended_ = false;
};

// A time stamp as the server writes it, "YYYY-MM-DD HH:MM:SS" and any
// fraction, as a block of rows reads it through the driver: the fraction
// dropped. None for any other form (a date BC, infinity, a time zone).
std::optional<DateTime> TimestampText(std::string_view text);

// Describes the result columns of an executed (or prepared) statement.
std::vector<OdbcColumn> DescribeColumns(SQLHSTMT stmt, bool utf8_text = false);

}  // namespace ordalis::rdo
