#pragma once
// The global memory status of the machine and of this process.
#include <cstdint>
#include <optional>
#include <string_view>

namespace ordalis::platform {

struct MemoryStatus {
  std::uint64_t avail_phys = 0;  // MemAvailable of /proc/meminfo
  std::uint64_t avail_page_file = 0; // SwapFree of /proc/meminfo
  std::uint64_t avail_virtual = 0;   // address space the process may still map
};

// Reads /proc/meminfo and /proc/self/status. A figure that cannot be read
// is 0. The virtual limit is RLIMIT_AS when set, else the 128 TiB of x86-64
// user space; VmSize of the process is taken from it.
MemoryStatus QueryMemoryStatus();

// The value in bytes of a "Name:   123 kB" field of a /proc text; nothing
// when the field is absent or unreadable.
std::optional<std::uint64_t> ProcFieldBytes(std::string_view text, std::string_view field);

}  // namespace ordalis::platform
