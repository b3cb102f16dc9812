#pragma once
// CallUndo: puts back what rating calls changed in the statistics caches
// (phone-book entries, swing numbers, extensions added) when their writes do
// not reach the database: a call stopped or failed before its row was saved,
// or a commit that lost every call written since the previous one.
//
// The caches report a member before they first change it in a call
// (Remember) and a member they add (Added). The engine brackets each call
// with BeginCall and KeepCall or DropCall, calls Committed once the data
// layer has committed the kept calls, and Lost when their writes were rolled
// back. Outside a call nothing is recorded.
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "ordalis/KeyedCollection.h"

namespace ordalis {

class CallUndo {
 public:
  void BeginCall();
  // The call's changes wait for the commit of its writes.
  void KeepCall();
  // The call's changes are put back.
  void DropCall();
  // Every kept call is in the database: nothing of them is put back.
  void Committed();
  // The current call's changes and those of every kept call are put back.
  void Lost();

  // Before `member` changes: its state now is what a put-back restores.
  template <class T>
  void Remember(const std::shared_ptr<T>& member) {
    if (!in_call_ || !remembered_.insert(member.get()).second) return;
    call_.push_back([member, before = *member] { *member = before; });
  }
  // `member` was added to `members` under `key`: a put-back removes it.
  template <class T>
  void Added(const std::shared_ptr<KeyedCollection<T>>& members, const std::string& key,
             const std::shared_ptr<T>& member) {
    if (!in_call_) return;
    remembered_.insert(member.get());  // a new member has no earlier state
    call_.push_back([members, key, member] {
      if (members->Find(key) == member) members->Remove(key);
    });
  }

 private:
  static void PutBack(std::vector<std::function<void()>>& actions);

  bool in_call_ = false;
  std::unordered_set<const void*> remembered_;  // members recorded in the current call
  std::vector<std::function<void()>> call_, kept_;
};

}  // namespace ordalis
