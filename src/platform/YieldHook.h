#pragma once
// The host's yield callback: the engine calls it at every yield point
// (between calls, after each rating step, in the pause wait and the save
// retry), standing in for the host's message loop. The callback may call
// StopIt / PauseIt / RestartIt. No callback means nothing happens.
#include <functional>
#include <utility>

namespace ordalis::platform {

class YieldHook {
 public:
  using Callback = std::function<void()>;

  void Set(Callback callback) { callback_ = std::move(callback); }
  void Clear() { callback_ = nullptr; }
  bool IsSet() const { return static_cast<bool>(callback_); }

  // One yield point. Exceptions from the callback reach the caller.
  void operator()() const {
    if (callback_) callback_();
  }

 private:
  Callback callback_;
};

}  // namespace ordalis::platform
