#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ordalis::platform {

namespace {

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int OpenWriteClose(const std::string& path, int flags, std::string_view data) {
  int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int err = WriteAll(fd, data);
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

int AppendToFile(const std::string& path, std::string_view data) {
  return OpenWriteClose(path, O_APPEND, data);
}

int WriteNewFile(const std::string& path, std::string_view data) {
  return OpenWriteClose(path, O_TRUNC, data);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int SetCurrentDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0 ? 0 : errno; }

}  // namespace ordalis::platform
