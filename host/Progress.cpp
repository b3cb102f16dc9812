#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace ordalis::host {
namespace {

constexpr int kBarWidth = 30;
constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr auto kPlainInterval = std::chrono::seconds(5);

std::string Clock(double seconds) {
  if (seconds < 0 || seconds > 360000) return "--:--";
  int s = static_cast<int>(seconds + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

}  // namespace

Progress::Progress(std::string label)
    : label_(std::move(label)), tty_(isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()), last_(start_) {}

void Progress::Update(std::int64_t done, std::int64_t total) {
  done_ = done;
  auto now = std::chrono::steady_clock::now();
  bool last = total > 0 && done >= total;
  if (!last && now - last_ < (tty_ ? kTerminalInterval : std::chrono::duration_cast<std::chrono::milliseconds>(kPlainInterval)))
    return;
  last_ = now;
  double elapsed = std::chrono::duration<double>(now - start_).count();
  double rate = elapsed > 0 ? done / elapsed : 0;
  double remaining = rate > 0 && total >= done ? (total - done) / rate : -1;
  if (tty_) {
    int filled = total > 0 ? static_cast<int>(kBarWidth * std::min<double>(1.0, double(done) / total)) : 0;
    std::string bar(filled, '#');
    bar.append(kBarWidth - filled, '.');
    std::fprintf(stderr, "\r%s [%s] %lld/%lld  %.0f/s  left %s ", label_.c_str(), bar.c_str(), (long long)done,
                 (long long)total, rate, Clock(remaining).c_str());
  } else {
    std::fprintf(stderr, "%s: %lld/%lld, %.0f/s, left %s\n", label_.c_str(), (long long)done, (long long)total, rate,
                 Clock(remaining).c_str());
  }
  std::fflush(stderr);
}

void Progress::Finish() {
  if (tty_ && done_ > 0) std::fprintf(stderr, "\n");
}

}  // namespace ordalis::host
