#include "data/QueryFirstValue.h"

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"

namespace ordalis {

namespace {

std::string FirstValue(rdo::RdoResultset& rs) {
  std::string value;
  if (!rs.Eof() && rs.ColumnCount() > 0) value = rs.Value(0).ToText();
  rs.Close();
  return value;
}

}  // namespace

std::string QueryFirstValue(std::string_view sql, rdo::RdoConnection& connection) {
  return FirstValue(*connection.OpenResultset(sql, rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly));
}

std::string QueryFirstValue(std::string_view sql, const std::vector<std::string_view>& values,
                            rdo::RdoConnection& connection) {
  return FirstValue(*connection.OpenResultset(sql, values));
}

}  // namespace ordalis
