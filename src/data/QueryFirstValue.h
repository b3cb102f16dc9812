#pragma once
// QueryFirstValue: the first column of the first row of a statement as text.
#include <string>
#include <string_view>
#include <vector>

namespace ordalis {

namespace rdo {
class RdoConnection;
}

// Opens a read-only resultset on sql; returns the first column of its first
// row joined to the empty text (a NULL gives ""), or "" when there is no row.
// The resultset is closed before returning. Errors of the statement reach
// the caller as the layer's ComponentError.
std::string QueryFirstValue(std::string_view sql, rdo::RdoConnection& connection);
// The same for a statement whose "?" markers take `values`, in order.
std::string QueryFirstValue(std::string_view sql, const std::vector<std::string_view>& values,
                            rdo::RdoConnection& connection);

}  // namespace ordalis
