#pragma once
// CallNote: what is worked out for a stored call before the engine reaches
// it, on the thread that reads rows ahead: the least-cost searches of
// tariff 1 and of the alternative carrier, as the call will ask them unless
// its site, number, line, date or time changes first (the rating then sees
// a different question and searches itself).
#include <memory>

#include "call/LcrSearch.h"
#include "data/Cursor.h"

namespace ordalis {

class clsSiti;
namespace rdo {
class RdoResultset;
}  // namespace rdo

struct CallNote : rdo::RowNote {
  struct Search {
    bool asked = false;
    LcrQuestion question;
    LcrAnswer answer;
  };
  Search search[2];  // [0] tariff 1, [1] the alternative carrier
};

// Prepares CallNotes for the rows of `calls` (a resultset of stored calls)
// from `sites`, which nothing may change while it is in use; empty when a
// column it reads is missing.
rdo::RowPreparer CallNotePreparer(std::shared_ptr<const clsSiti> sites, const rdo::RdoResultset& calls);

}  // namespace ordalis
