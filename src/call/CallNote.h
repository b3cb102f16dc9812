#pragma once
// CallNote: what is worked out for a stored call before the engine reaches
// it, on the thread that reads rows ahead: the least-cost searches of
// tariff 1 and of the alternative carrier, as the call will ask them unless
// its site, number, line, date or time changes first (the rating then sees
// a different question and searches itself), and what its extension tells
// of the look-ups its name will need.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "call/LcrSearch.h"
#include "data/Cursor.h"

namespace ordalis {

class clsDerivati;
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
  // The same searches for the number hidden as the call's extension hides
  // it when the call is first rated (not asked: no privacy, or not first).
  Search masked[2];
  bool swing = false;  // the call's extension keeps its numbers in the swing list
};

// What the notes know of extensions: the ones with privacy or a swing
// list, by clsDerivati::MakeKey in upper case.
struct NotedExtension {
  std::int16_t privacy = 0;
  bool swing = false;
};
using NotedExtensions = std::unordered_map<std::string, NotedExtension>;

// The NotedExtensions of `extensions` (null: none) as they are now.
std::shared_ptr<const NotedExtensions> NoteExtensions(const clsDerivati* extensions);

// Prepares CallNotes for the rows of `calls` (a resultset of stored calls)
// from `sites` and `extensions`, which nothing may change while they are in
// use; empty when a column it reads is missing.
rdo::RowPreparer CallNotePreparer(std::shared_ptr<const clsSiti> sites, std::shared_ptr<const NotedExtensions> extensions,
                                  const rdo::RdoResultset& calls);

}  // namespace ordalis
