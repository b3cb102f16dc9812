#include "support/CommonLib.h"

#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"

namespace ordalis {

namespace {

constexpr std::size_t kIniBufferChars = 500;
constexpr char kProcessKey[] = "SOFTWARE\\valmer\\Process";

// Byte length of the first `chars` UTF-8 characters of `s`.
std::size_t Utf8Prefix(std::string_view s, std::size_t chars) {
  std::size_t i = 0;
  while (i < s.size() && chars > 0) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    --chars;
  }
  return i;
}

}  // namespace

void CheckCommesseEstese() {
  using namespace platform;
  g_module_settings.use_commesse_estese = false;
  RegKey key;
  if (RegOpenKey(HKEY_LOCAL_MACHINE, kProcessKey, &key) != kRegOk) return;
  char buf[10] = {};
  std::uint32_t size = sizeof buf;
  long rc = key.Query("CommesseEstese", nullptr, buf, &size);
  key.Close();
  // The size read includes the string's NUL; a size of 0 keeps nothing.
  if (rc != kRegOk || size == 0) return;
  if (std::string_view(buf, size - 1) != "1") return;
  g_module_settings.use_commesse_estese = true;
  if (LogEnabled()) {
    // Failures here are ignored, as every failure of this routine.
    (void)WriteNewFile(LogPath() + kCommesseLogFile, "Commesse Estese\r\n");
  }
}

std::string ReadIniString(const std::string& file, std::string_view section, std::string_view key) {
  std::string value = platform::ReadPrivateProfileString(file, section, key);
  value.resize(Utf8Prefix(value, kIniBufferChars - 1));
  return value;
}

void ThrowFileError(int err, const std::string& path) {
  std::string reason = std::strerror(err);
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      throw ComponentError(kErrPathNotFound, "Path not found: " + path + " (" + reason + ")");
    case ENOSPC:
    case EDQUOT:
      throw ComponentError(kErrDiskFull, "Disk full: " + path + " (" + reason + ")");
    default:
      throw ComponentError(kErrPathFileAccess, "Path/File access error: " + path + " (" + reason + ")");
  }
}

namespace {

std::string LogFilePath(std::string_view file_name) {
  std::string path = LogPath();
  if (EqualsNoCase(file_name, kProcessLogFile)) {
    path += kProcessLogFile;
  } else {
    path += file_name;
  }
  return path;
}

}  // namespace

void CreateLogFile(std::string_view file_name) {
  std::string path = LogFilePath(file_name);
  if (int err = platform::WriteNewFile(path, {}); err != 0) ThrowFileError(err, path);
}

void AppendLogLine(std::string_view file_name, std::string_view line) {
  std::string path = LogFilePath(file_name);
  std::string data;
  data.reserve(line.size() + 2);
  data.append(line);
  data.append("\r\n");
  if (int err = platform::AppendToFile(path, data); err != 0) ThrowFileError(err, path);
}

void WriteDetailLog(std::string_view line) {
  if (!LogEnabled()) return;
  AppendLogLine(kDetailLogFile, line);
}

void WriteDetailLogNoThrow(std::string_view line) noexcept {
  try {
    WriteDetailLog(line);
  } catch (...) {
  }
}

void RaiseProcessorError(const std::string& description) {
  throw ComponentError(kErrProcessor, description, kProcessorSource);
}

}  // namespace ordalis
