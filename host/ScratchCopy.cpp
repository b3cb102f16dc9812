#include "ScratchCopy.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ordalis::host {

namespace fs = std::filesystem;

ScratchCopy::ScratchCopy(const std::string& file) {
  if (!fs::is_regular_file(file)) throw std::runtime_error("no database file " + file);
  std::string pattern = (fs::temp_directory_path() / "ordalis-dry-run-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary directory for " + file);
  dir_ = pattern;
  path_ = (fs::path(dir_) / fs::path(file).filename()).string();
  std::error_code ec;
  fs::copy_file(file, path_, ec);
  if (!ec && fs::exists(file + "-wal")) fs::copy_file(file + "-wal", path_ + "-wal", ec);
  if (ec) {
    fs::remove_all(dir_);
    throw std::runtime_error("cannot copy " + file + ": " + ec.message());
  }
}

ScratchCopy::~ScratchCopy() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

}  // namespace ordalis::host
