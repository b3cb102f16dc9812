#include "platform/MemoryStatus.h"

#include <sys/resource.h>

#include <charconv>
#include <string>

#include "platform/FileSystem.h"
#include "platform/TextLines.h"

namespace ordalis::platform {

namespace {
constexpr std::uint64_t kUserAddressSpace = std::uint64_t{128} << 40;  // x86-64, 4-level paging
}

std::optional<std::uint64_t> ProcFieldBytes(std::string_view text, std::string_view field) {
  for (std::string_view line : SplitLines(text)) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || line.substr(0, colon) != field) continue;
    std::string_view rest = TrimBlanks(line.substr(colon + 1));
    std::uint64_t value = 0;
    auto [p, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (ec != std::errc() || p == rest.data()) return std::nullopt;
    std::string_view unit = TrimBlanks(rest.substr(static_cast<std::size_t>(p - rest.data())));
    if (unit == "kB") return value * 1024;
    if (unit.empty()) return value;
    return std::nullopt;
  }
  return std::nullopt;
}

MemoryStatus QueryMemoryStatus() {
  MemoryStatus ms;
  if (auto meminfo = ReadWholeFile("/proc/meminfo")) {
    ms.avail_phys = ProcFieldBytes(*meminfo, "MemAvailable").value_or(0);
    ms.avail_page_file = ProcFieldBytes(*meminfo, "SwapFree").value_or(0);
  }
  std::uint64_t limit = kUserAddressSpace;
  struct rlimit rl;
  if (::getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < limit) {
    limit = rl.rlim_cur;
  }
  std::uint64_t used = 0;
  if (auto status = ReadWholeFile("/proc/self/status")) used = ProcFieldBytes(*status, "VmSize").value_or(0);
  ms.avail_virtual = used < limit ? limit - used : 0;
  return ms;
}

}  // namespace ordalis::platform
