#include "platform/Paths.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>

namespace ordalis::platform {

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string DirectoryOf(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string HomeOverride() {
  const char* home = std::getenv("ORDALIS_HOME");
  if (home == nullptr || *home == '\0') return {};
  std::string dir(home);
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string LogPath() {
  std::string home = HomeOverride();
  if (!home.empty()) return home;
  return DirectoryOf(ExecutablePath());
}

std::string ComponentDirectory() {
  std::string home = HomeOverride();
  if (!home.empty()) return home;
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ComponentDirectory), &info) != 0 && info.dli_fname != nullptr &&
      info.dli_fname[0] == '/') {
    return DirectoryOf(info.dli_fname);
  }
  // dladdr names the main program by its argv[0] form, which may be relative.
  return DirectoryOf(ExecutablePath());
}

}  // namespace ordalis::platform
