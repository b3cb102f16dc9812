#pragma once
// The machine registry under HKEY_LOCAL_MACHINE, read from one file in the
// Windows registry export format ("Windows Registry Editor Version 5.00").
//
// Two layers:
//  - Registry: the parsed content, a set of keys each holding named values
//    whose data are kept as raw bytes with their registry type. Tests build
//    one in memory and set a value's bytes exactly (with or without a
//    terminating NUL), which the file form cannot express.
//  - RegOpenKey / RegKey::Query: the calls the engine makes, shaped like the
//    Win32 RegOpenKeyEx / RegQueryValueEx pair (status codes, sizes in bytes,
//    "query with no buffer to learn type and size").
//
// Key paths and value names compare without regard to letter case. The
// process-wide instance is read from $ORDALIS_REGISTRY, else
// /etc/ordalis/registry.reg, and read again when that variable changes;
// a missing file is an empty registry. Nothing ever writes to the file.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace ordalis::platform {

using HKEY = std::uint32_t;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

// Registry value types (the Win32 numbering).
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;

// Status codes of the registry calls (the Win32 numbering).
inline constexpr long kRegOk = 0;
inline constexpr long kRegNotFound = 2;      // ERROR_FILE_NOT_FOUND
inline constexpr long kRegInvalidHandle = 6; // ERROR_INVALID_HANDLE
inline constexpr long kRegMoreData = 234;    // ERROR_MORE_DATA

struct RegValue {
  std::uint32_t type = REG_NONE;
  std::string data;  // raw bytes exactly as a query returns them
};

class Registry {
 public:
  // One key: its values by folded name. The default value has the empty name.
  struct Key {
    std::map<std::string, RegValue> values;
  };

  // An empty registry still has its root key (HKEY_LOCAL_MACHINE itself).
  Registry() { AddKey({}); }

  // Parses export text (UTF-8 with or without BOM, or UTF-16LE with BOM as
  // regedit writes it; LF or CR LF). Only keys under HKEY_LOCAL_MACHINE (or
  // HKLM) are kept, paths relative to it. Lines that cannot be read are
  // skipped and the rest is read:
  //  - "name"="text": REG_SZ, stored with its terminating NUL as an import
  //    stores it; \\ and \" are the escapes; no closing quote skips the line.
  //  - "name"=dword:1e: REG_DWORD, four bytes little endian (1..8 hex digits).
  //  - "name"=hex:..., hex(N):... (continued over lines ending in \): the
  //    bytes, typed REG_BINARY or N; since only the quoted form is a string
  //    and only dword: a number, hex(1) and hex(4) are kept as REG_BINARY.
  //  - any other form: a value of type REG_NONE with no data.
  //  - @=...: the default value (empty name).
  static Registry Parse(std::string_view text);
  // Reads and parses a file; a missing or unreadable file is an empty
  // registry, and `problem` (when given) says why a file that exists could
  // not be read (not a regular file, too large, no permission).
  static Registry LoadFile(const std::string& path, std::string* problem = nullptr);

  // $ORDALIS_REGISTRY when set and not empty, else /etc/ordalis/registry.reg.
  static std::string DefaultPath();
  // The process-wide registry: the one installed by SetForTesting, else the
  // file at DefaultPath() (re-read when the path changes). Never null.
  static std::shared_ptr<const Registry> Current();
  // Why the file at DefaultPath() exists but gives an empty registry
  // ("registry file /dev/zero: not a regular file"); empty when it was read,
  // is missing, or a registry is installed for testing.
  static std::string FileProblem();
  // Installs a registry for the whole process; null goes back to the file.
  static void SetForTesting(std::shared_ptr<const Registry> registry);

  // Creates a key and all its parents (no-op when present).
  void AddKey(std::string_view path);
  // Sets a value, creating its key. `data` is stored byte for byte.
  void SetValue(std::string_view path, std::string_view name, std::uint32_t type, std::string data);
  // Convenience for tests: a REG_SZ value with its terminating NUL.
  void SetString(std::string_view path, std::string_view name, std::string_view text);
  void SetDword(std::string_view path, std::string_view name, std::uint32_t value);

  const Key* FindKey(std::string_view path) const;
  const RegValue* FindValue(std::string_view path, std::string_view name) const;
  std::size_t KeyCount() const { return keys_.size(); }

  // The folded form of a key path: letter case folded, separators single
  // backslashes, no leading or trailing backslash.
  static std::string NormalizePath(std::string_view path);

 private:
  std::map<std::string, Key> keys_;  // by normalized path; "" is the root
};

// An open key: keeps the registry it was opened in alive. Move-only.
class RegKey {
 public:
  RegKey() = default;
  RegKey(RegKey&&) noexcept = default;
  RegKey& operator=(RegKey&&) noexcept = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  bool IsOpen() const { return key_ != nullptr; }

  // RegQueryValueEx: `type` (optional) receives the value's type. With
  // `data` null, *size receives the size in bytes and the call succeeds.
  // Otherwise *size is the buffer's capacity: when the data fit they are
  // copied and *size becomes their size; when not, kRegMoreData and *size
  // becomes the size needed. A missing value is kRegNotFound.
  // REQUIRES: size is not null.
  long Query(std::string_view name, std::uint32_t* type, void* data, std::uint32_t* size) const;

  void Close() noexcept {
    key_ = nullptr;
    registry_.reset();
  }

 private:
  friend long RegOpenKey(HKEY root, std::string_view subkey, RegKey* out);
  std::shared_ptr<const Registry> registry_;
  const Registry::Key* key_ = nullptr;
};

// RegOpenKeyEx on the process-wide registry: kRegOk and an open key, or
// kRegNotFound (or kRegInvalidHandle for a root other than
// HKEY_LOCAL_MACHINE) and a closed one.
long RegOpenKey(HKEY root, std::string_view subkey, RegKey* out);

}  // namespace ordalis::platform
