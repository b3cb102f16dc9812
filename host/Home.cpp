#include "Home.h"

#include <cstdlib>
#include <filesystem>

namespace ordalis::host {
namespace {

std::string AsDirectory(const std::filesystem::path& dir) {
  std::string text = std::filesystem::absolute(dir).lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

}  // namespace

std::string ResolveHome(const std::string& home_option, const std::string& db_file) {
  if (!home_option.empty()) return AsDirectory(home_option);
  if (const char* env = std::getenv("ORDALIS_HOME"); env && *env) return AsDirectory(env);
  if (db_file.empty()) return {};
  std::filesystem::path dir = std::filesystem::path(db_file).parent_path();
  return AsDirectory(dir.empty() ? std::filesystem::path(".") : dir);
}

void UseHome(const std::string& home) {
  if (!home.empty()) ::setenv("ORDALIS_HOME", home.c_str(), 1);
}

}  // namespace ordalis::host
