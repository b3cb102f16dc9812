#include "engine/rdo/Backend.h"

#include "engine/rdo/Cursor.h"
#include "engine/rdo/SqlQuote.h"

namespace ordalis::rdo {

std::unique_ptr<Cursor> Backend::OpenWith(std::string_view sql, const std::vector<std::string_view>& values,
                                          CursorType cursor, LockType lock) {
  return Open(WithQuotedValues(sql, values), cursor, lock);
}

}  // namespace ordalis::rdo
