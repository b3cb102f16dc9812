#include "support/RegistryLib.h"

#include <cstring>
#include <string>

namespace ordalis {

using namespace platform;

bool RegKeyExists(HKEY root, std::string_view subkey) {
  RegKey key;
  bool ok = RegOpenKey(root, subkey, &key) == kRegOk;
  key.Close();
  return ok;
}

Variant GetRegValue(HKEY root, std::string_view subkey, std::string_view name) {
  RegKey key;
  if (RegOpenKey(root, subkey, &key) != kRegOk) return Variant("");

  Variant result("");
  std::uint32_t type = REG_NONE;
  std::uint32_t size = 0;
  if (key.Query(name, &type, nullptr, &size) == kRegOk) {
    if (type == REG_SZ) {
      std::string buf(size, ' ');
      if (key.Query(name, nullptr, buf.data(), &size) == kRegOk) {
        buf.resize(size);
        std::size_t nul = buf.find('\0');
        if (nul != std::string::npos) buf.resize(nul);
        result = Variant(std::move(buf));
      }
    } else if (type == REG_DWORD) {
      std::int32_t value = 0;
      std::uint32_t cap = sizeof value;
      if (key.Query(name, nullptr, &value, &cap) == kRegOk) result = Variant(static_cast<std::int64_t>(value));
    }
  }
  key.Close();
  return result;
}

bool OemKeyExists() { return RegKeyExists(HKEY_LOCAL_MACHINE, kOemKey); }

bool IsOem(std::string_view name) { return GetRegValue(HKEY_LOCAL_MACHINE, kOemKey, "Name").ToText() == name; }

std::string GetLookupObjectName() {
  if (!OemKeyExists()) return {};
  return GetRegValue(HKEY_LOCAL_MACHINE, kOemKey, "LookupObjectName").ToText();
}

}  // namespace ordalis
