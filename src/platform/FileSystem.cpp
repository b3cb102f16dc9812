#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* problem, std::size_t max_bytes) {
  auto fail = [problem](std::string why) -> std::optional<std::string> {
    if (problem != nullptr) *problem = std::move(why);
    return std::nullopt;
  };
  // Non-blocking, so that opening a FIFO without a writer returns at once.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat sb;
  if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
    ::close(fd);
    return fail("not a regular file");
  }
  // Files of /proc report no size: the limit holds for what is read too.
  std::string out;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return fail(std::strerror(err));
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > max_bytes) {
      ::close(fd);
      return fail("larger than " + std::to_string(max_bytes) + " bytes");
    }
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
