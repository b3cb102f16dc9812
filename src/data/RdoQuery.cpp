#include "data/RdoQuery.h"

#include "data/Cursor.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"

namespace ordalis::rdo {

RdoQuery::RdoQuery(RdoConnection& connection, std::string sql) : connection_(&connection), sql_(std::move(sql)) {}
RdoQuery::~RdoQuery() { Close(); }

void RdoQuery::SetTuning(int which, long value) {
  if (which < 0 || which >= 4) ThrowDataError("Invalid query setting " + std::to_string(which));
  tuning_[which] = value;
}

long RdoQuery::Tuning(int which) const {
  if (which < 0 || which >= 4) ThrowDataError("Invalid query setting " + std::to_string(which));
  return tuning_[which];
}

std::unique_ptr<RdoResultset> RdoQuery::OpenResultset(CursorType cursor, LockType lock) {
  if (!connection_) ThrowDataError("The query is closed");
  return connection_->OpenResultset(sql_, cursor, lock);
}

void RdoQuery::Close() noexcept { connection_ = nullptr; }

}  // namespace ordalis::rdo
