#pragma once
// Progress display for the command-line host: a live bar on a terminal, a
// plain line every few seconds otherwise.
#include <chrono>
#include <cstdint>
#include <string>

namespace ordalis::host {

class Progress {
 public:
  explicit Progress(std::string label);
  void Update(std::int64_t done, std::int64_t total);
  // Ends the live line (if any).
  void Finish();

 private:
  std::string label_;
  bool tty_;
  std::chrono::steady_clock::time_point start_, last_;
  std::int64_t done_ = 0;
};

}  // namespace ordalis::host
