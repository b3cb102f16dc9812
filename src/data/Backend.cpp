#include "data/Backend.h"

#include "data/Cursor.h"
#include "data/SqlQuote.h"

namespace ordalis::rdo {

std::unique_ptr<Cursor> Backend::OpenWith(std::string_view sql, const std::vector<std::string_view>& values,
                                          CursorType cursor, LockType lock) {
  return Open(WithQuotedValues(sql, values), cursor, lock);
}

}  // namespace ordalis::rdo
