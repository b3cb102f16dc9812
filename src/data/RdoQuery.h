#pragma once
// RdoQuery: a prepared statement made by CreateQuery; opened as a resultset.
#include <memory>
#include <string>

#include "data/RdoTypes.h"

namespace ordalis::rdo {

class RdoConnection;
class RdoResultset;

class RdoQuery {
 public:
  RdoQuery(RdoConnection& connection, std::string sql);
  ~RdoQuery();

  // Four tuning settings (lock kind, row-set size, keyset size, max rows);
  // kept for the host, no effect on results.
  void SetTuning(int which, long value);
  long Tuning(int which) const;
  const std::string& Sql() const { return sql_; }

  std::unique_ptr<RdoResultset> OpenResultset(CursorType cursor, LockType lock);
  void Close() noexcept;

 private:
  RdoConnection* connection_;
  std::string sql_;
  long tuning_[4] = {0, 0, 0, 0};
};

}  // namespace ordalis::rdo
