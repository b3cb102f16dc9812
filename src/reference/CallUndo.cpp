#include "reference/CallUndo.h"

namespace ordalis {

void CallUndo::PutBack(std::vector<std::function<void()>>& actions) {
  // Latest first, so that a member ends as it was before its first change.
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) (*it)();
  actions.clear();
}

void CallUndo::BeginCall() {
  if (in_call_) DropCall();
  in_call_ = true;
}

void CallUndo::KeepCall() {
  kept_.insert(kept_.end(), std::make_move_iterator(call_.begin()), std::make_move_iterator(call_.end()));
  call_.clear();
  remembered_.clear();
  in_call_ = false;
}

void CallUndo::DropCall() {
  PutBack(call_);
  remembered_.clear();
  in_call_ = false;
}

void CallUndo::Committed() { kept_.clear(); }

void CallUndo::Lost() {
  DropCall();
  PutBack(kept_);
}

}  // namespace ordalis
