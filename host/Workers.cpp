#include "Workers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace ordalis::host {
namespace {

constexpr char kProgressLine[] = "worker-progress ";
constexpr char kSummaryLine[] = "calls rated: ";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool ParseWhole(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  value = std::stoi(text);
  return true;
}

struct Worker {
  pid_t pid = -1;
  int out = -1;  // read end of its standard output
  std::string pending;
  long long done = 0, total = 0, rated = 0;
  int status = 0;
  bool running = false;
};

volatile std::sig_atomic_t g_interrupt = 0;
void OnInterrupt(int) { g_interrupt = 1; }

// Starts this program with `arguments`; its standard output goes to a pipe.
Worker Start(const std::vector<std::string>& arguments) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  std::vector<char*> argv;
  static char self[] = "/proc/self/exe";
  argv.push_back(self);
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    // A worker does not outlive the program that started it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    dup2(fds[1], STDOUT_FILENO);
    execv(self, argv.data());
    std::fprintf(stderr, "error: cannot start a worker: %s\n", std::strerror(errno));
    _exit(127);
  }
  close(fds[1]);
  Worker w;
  w.pid = pid;
  w.out = fds[0];
  w.running = true;
  return w;
}

// Takes the complete lines a worker wrote: progress and its summary are
// kept, anything else passes through.
void ReadLines(Worker& w) {
  std::size_t start = 0, end;
  while ((end = w.pending.find('\n', start)) != std::string::npos) {
    const std::string line = w.pending.substr(start, end - start);
    start = end + 1;
    if (line.rfind(kProgressLine, 0) == 0) {
      std::sscanf(line.c_str() + sizeof kProgressLine - 1, "%lld %lld", &w.done, &w.total);
    } else if (line.rfind(kSummaryLine, 0) == 0) {
      w.rated = std::atoll(line.c_str() + sizeof kSummaryLine - 1);
    } else {
      std::printf("%s\n", line.c_str());
    }
  }
  w.pending.erase(0, start);
}

}  // namespace

std::optional<Shard> ParseShard(const std::string& text, std::string& error) {
  const std::size_t slash = text.find('/');
  Shard shard;
  if (slash == std::string::npos || !ParseWhole(text.substr(0, slash), shard.index) ||
      !ParseWhole(text.substr(slash + 1), shard.count)) {
    error = "--shard takes I/N, two whole numbers (e.g. 2/3), not \"" + text + "\"";
    return std::nullopt;
  }
  if (shard.count < 1 || shard.count > kMostShards) {
    error = "--shard " + text + ": the number of shards must be 1 to " + std::to_string(kMostShards);
    return std::nullopt;
  }
  if (shard.index < 1 || shard.index > shard.count) {
    error = "--shard " + text + ": the shard must be 1 to " + std::to_string(shard.count);
    return std::nullopt;
  }
  return shard;
}

std::string ShardFilter(const std::string& filter, Shard shard) {
  if (shard.count == 1) return filter;  // every call
  // The engine's own reading of a filter: from WHERE to any ORDER BY.
  std::string clause;
  const std::size_t where = Upper(filter).find("WHERE");
  if (where != std::string::npos) {
    clause = filter.substr(where + 5);
    const std::size_t order = Upper(clause).find("ORDER BY");
    if (order != std::string::npos) clause.resize(order);
  }
  // Whole numbers only: nothing of the user's text reaches the condition.
  // The condition names the other shards' remainders rather than this one's:
  // a server that knows nothing of the expression guesses an equality on it
  // to hold for a few rows only, and then reads a whole key range and sorts
  // it instead of walking the key's index to the first thousand rows; it
  // guesses "NOT IN" to hold for most.
  const std::string n = std::to_string(shard.count);
  std::string others;
  for (int r = 0; r < shard.count; ++r) {
    if (r == shard.index - 1) continue;
    others += (others.empty() ? "" : ",") + std::to_string(r);
  }
  std::string condition = "(lPKId % " + n + " + " + n + ") % " + n + " NOT IN (" + others + ")";
  if (clause.find_first_not_of(" \t\r\n") == std::string::npos) return "WHERE " + condition;
  // The line break ends a trailing "--" comment before the parenthesis.
  return "WHERE (" + clause + "\n) AND " + condition;
}

void WorkerReport::Update(long long done, long long total, bool last) {
  const auto now = std::chrono::steady_clock::now();
  if (done == reported_ || (!last && now - last_ < std::chrono::milliseconds(100))) return;
  last_ = now;
  reported_ = done;
  std::printf("%s%lld %lld\n", kProgressLine, done, total);
  std::fflush(stdout);
}

int RunWorkers(int count, const std::vector<std::string>& arguments) {
  std::vector<Worker> workers;
  struct sigaction interrupt {}, previous{};
  interrupt.sa_handler = OnInterrupt;
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGINT, &interrupt, &previous);
  g_interrupt = 0;
  const auto start = std::chrono::steady_clock::now();
  try {
    for (int k = 1; k <= count; ++k) {
      std::vector<std::string> args = arguments;
      args.insert(args.end(), {"--shard", std::to_string(k) + "/" + std::to_string(count), "--worker"});
      workers.push_back(Start(args));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    for (Worker& w : workers) kill(w.pid, SIGINT);
  }
  Progress progress("rating");
  long long shown = 0;
  bool forwarded = false;
  for (;;) {
    std::vector<pollfd> fds;
    for (Worker& w : workers)
      if (w.out >= 0) fds.push_back({w.out, POLLIN, 0});
    if (fds.empty()) break;
    if (g_interrupt && !forwarded) {
      for (Worker& w : workers) kill(w.pid, SIGINT);
      forwarded = true;
    }
    if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
    for (const pollfd& p : fds) {
      if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      for (Worker& w : workers) {
        if (w.out != p.fd) continue;
        char buf[4096];
        const ssize_t n = read(w.out, buf, sizeof buf);
        if (n > 0) {
          w.pending.append(buf, static_cast<std::size_t>(n));
          ReadLines(w);
        } else if (n == 0 || errno != EINTR) {
          close(w.out);
          w.out = -1;
        }
      }
    }
    // The bar starts when every worker has counted its calls.
    long long done = 0, total = 0;
    bool counted = true;
    for (const Worker& w : workers) {
      done += w.done, total += w.total;
      counted = counted && (w.total > 0 || w.out < 0);
    }
    if (counted && done != shown) progress.Update(done, total);
    if (counted) shown = done;
  }
  for (Worker& w : workers) {
    while (waitpid(w.pid, &w.status, 0) < 0 && errno == EINTR) {
    }
  }
  sigaction(SIGINT, &previous, nullptr);
  progress.Finish();
  long long rated = 0;
  bool failed = workers.size() != static_cast<std::size_t>(count), interrupted = false;
  for (std::size_t i = 0; i < workers.size(); ++i) {
    const Worker& w = workers[i];
    rated += w.rated;
    const std::string name = "worker " + std::to_string(i + 1) + "/" + std::to_string(count);
    if (WIFSIGNALED(w.status)) {
      std::fprintf(stderr, "error: %s (pid %d) was killed by signal %d (%s)\n", name.c_str(), w.pid,
                   WTERMSIG(w.status), strsignal(WTERMSIG(w.status)));
      failed = true;
    } else if (WEXITSTATUS(w.status) == 130) {
      interrupted = true;
    } else if (WEXITSTATUS(w.status) != 0) {
      std::fprintf(stderr, "error: %s (pid %d) failed with exit status %d\n", name.c_str(), w.pid,
                   WEXITSTATUS(w.status));
      failed = true;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  interrupted = interrupted || g_interrupt;
  std::printf("%s%lld, seconds: %.2f, calls per second: %.0f, workers: %d%s\n", kSummaryLine, rated, seconds,
              seconds > 0 ? rated / seconds : 0.0, count, interrupted ? ", interrupted" : "");
  if (failed) return 1;
  return interrupted ? 130 : 0;
}

}  // namespace ordalis::host
