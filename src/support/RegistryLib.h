#pragma once
// Registry reads of the engine and the OEM settings. Reads never fail
// towards the caller: every failure is the empty text (or False).
#include <cstdint>
#include <string>
#include <string_view>

#include "ordalis/Variant.h"
#include "platform/Registry.h"

namespace ordalis {

using platform::HKEY;
using platform::HKEY_LOCAL_MACHINE;

// The OEM partner the engine changes its behaviour for.
inline constexpr char kOemKelmora[] = "Kelmora";
inline constexpr char kOemKey[] = "Software\\valmer\\oem";

// True when the key can be opened.
bool RegKeyExists(HKEY root, std::string_view subkey);

// A string value as text (cut before its first NUL, the whole data when it
// has none); a 32-bit number value as a signed Integer; the empty text for
// a missing key or value, any other type or a failed read.
Variant GetRegValue(HKEY root, std::string_view subkey, std::string_view name);

// The installation is an OEM edition (key Software\valmer\oem exists).
bool OemKeyExists();

// True when value Name of the OEM key equals `name` exactly (letter case
// counts). A missing key or value reads as the empty text, so the empty name
// is True on a machine without the OEM key.
bool IsOem(std::string_view name);

// Value LookupObjectName of the OEM key when that key exists; else empty.
std::string GetLookupObjectName();

}  // namespace ordalis
