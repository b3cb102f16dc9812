#pragma once
// File access of the engine: whole-file reads for configuration files and the
// open-write-close appends of the trace files. Results are errno values so
// that callers decide which component error a failure becomes.
#include <optional>
#include <string>
#include <string_view>

namespace ordalis::platform {

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

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
