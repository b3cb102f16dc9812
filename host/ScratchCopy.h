#pragma once
// A throw-away copy of an SQLite database file, for a run that must leave
// the original untouched; removed with its directory when it goes.
#include <string>

namespace ordalis::host {

class ScratchCopy {
 public:
  // Copies `file` (and a write-ahead log beside it, so that the copy holds
  // what a reader of the original sees). Throws std::runtime_error naming
  // the file when it cannot be copied.
  explicit ScratchCopy(const std::string& file);
  ~ScratchCopy();
  ScratchCopy(const ScratchCopy&) = delete;
  ScratchCopy& operator=(const ScratchCopy&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
};

}  // namespace ordalis::host
