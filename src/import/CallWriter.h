#pragma once
// CallWriter: appends imported calls to CHIAMATE and CHIAMATEINTERNE,
// leaving out a call whose identity is already stored.
#include <string>
#include <vector>

#include "import/ImportedCall.h"
#include "ordalis/Variant.h"

namespace ordalis::rdo {
class RdoConnection;
}

namespace ordalis::import {

class CallWriter {
 public:
  // Adds column sIdImport and its unique index to both call tables when
  // missing. Throws ComponentError when a table is missing or cannot be
  // changed.
  explicit CallWriter(rdo::RdoConnection& connection);

  // True when the call was appended, false when a call with the same
  // identity is already in its table. Throws ComponentError when the
  // database refuses the write.
  bool Append(const ImportedCall& call);

  // The text that identifies a call among all the imported ones.
  static std::string Identity(const ImportedCall& call);

 private:
  rdo::RdoConnection& connection_;
  std::vector<Variant> values_;
  std::string identity_;
};

}  // namespace ordalis::import
