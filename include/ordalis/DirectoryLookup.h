#pragma once
// The OEM partner's directory-lookup object: given a dialled number it
// answers the display name the partner's directory holds for it. The engine
// creates one by the name read from the registry (value LookupObjectName of
// Software\valmer\oem), once per call it resolves, and releases it after.
//
// A name is resolved in this order:
//  1. a factory the host registered in-process with RegisterLookupFactory;
//  2. the shared library lib<name>.so in the log directory (the directory of
//     the executable, or $ORDALIS_HOME), which must export
//
//       extern "C" int LookupInAddressBook(const char* number,
//                                          char* name_out, int name_size);
//
//     `number` is the NUL-terminated dialled number. The function writes the
//     name, NUL-terminated and cut to fit, into name_out (name_size bytes,
//     name_size >= 1) and returns the full length of the name in bytes
//     without its NUL (0: no name for the number). A return >= name_size
//     means the name was cut; the engine then calls again with a buffer of
//     return + 1 bytes. A negative return is a failure of the lookup; its
//     value is reported as the error number.
#include <functional>
#include <memory>
#include <string>

#include "ordalis/Export.h"

namespace ordalis {

class ORDALIS_API DirectoryLookup {
 public:
  virtual ~DirectoryLookup() = default;
  // The name for the number; the empty text when the directory has none.
  // Throws ComponentError when the lookup itself fails.
  virtual std::string LookupInAddressBook(const std::string& number) = 0;
};

using DirectoryLookupFactory = std::function<std::unique_ptr<DirectoryLookup>()>;

// Registers (or replaces) the factory for a name; names compare without
// regard to letter case. An empty factory removes the name.
ORDALIS_API void RegisterLookupFactory(const std::string& name, DirectoryLookupFactory factory);

// Creates the lookup object for a name (see the order above). Throws
// ComponentError 429 when no factory and no loadable library provide it, with
// the loader's reason in the description.
ORDALIS_API std::unique_ptr<DirectoryLookup> CreateLookupObject(const std::string& name);

}  // namespace ordalis
