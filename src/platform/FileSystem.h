#pragma once
// File access of the engine: whole-file reads for configuration files and the
// open-write-close appends of the trace files. Results are errno values so
// that callers decide which component error a failure becomes.
#include <optional>
#include <string>
#include <string_view>

namespace ordalis::platform {

inline constexpr std::size_t kMaxWholeFileBytes = 16 << 20;

// The whole content of a regular file of at most max_bytes, or nothing when
// it cannot be read; `problem`, when given, then says why (the system's
// message, "not a regular file", "larger than N bytes"). A FIFO or a device
// is refused without reading, so that it can neither block nor fill memory.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* problem = nullptr,
                                         std::size_t max_bytes = kMaxWholeFileBytes);

// Opens for appending (creating with mode 0644 when missing), writes all of
// `data`, closes. Returns 0 or the errno of the failing step.
int AppendToFile(const std::string& path, std::string_view data);
// Creates or truncates, writes all of `data`, closes. 0 or errno.
int WriteNewFile(const std::string& path, std::string_view data);

// True when the path names an existing file or directory.
bool FileExists(const std::string& path);

// Makes `path` the working directory of the process (ChDir). 0 or errno.
int SetCurrentDirectory(const std::string& path);

}  // namespace ordalis::platform
