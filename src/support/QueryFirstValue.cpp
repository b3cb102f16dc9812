#include "support/QueryFirstValue.h"

#include "engine/rdo/RdoConnection.h"
#include "engine/rdo/RdoResultset.h"

namespace ordalis {

std::string QueryFirstValue(std::string_view sql, rdo::RdoConnection& connection) {
  auto rs = connection.OpenResultset(sql, rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly);
  std::string value;
  if (!rs->Eof() && rs->ColumnCount() > 0) value = rs->Value(0).ToText();
  rs->Close();
  return value;
}

}  // namespace ordalis
