#pragma once
// Several processes rating one database: a shard is the part of the stored
// calls whose key falls in it, and `process --workers N` starts N copies of
// this program, one per shard, behind one progress bar and one summary.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Progress.h"

namespace ordalis::host {

// Shard `index` (1..count) of `count`: the calls whose key, taken modulo
// `count`, is index - 1.
struct Shard {
  int index = 0;
  int count = 0;
};

// "I/N" with whole numbers 1 <= I <= N <= kMostShards; otherwise none, and
// `error` says why in one line.
inline constexpr int kMostShards = 1024;
std::optional<Shard> ParseShard(const std::string& text, std::string& error);

// The host's filter narrowed to one shard's calls of either call table, in
// the form the engine reads a filter: the WHERE clause of `filter` (any
// ORDER BY dropped, as the engine drops it) and the shard's key condition.
std::string ShardFilter(const std::string& filter, Shard shard);

// What a worker reports to the program that started it, on its standard
// output: its progress (at most every 100 ms, and the last one always) in
// lines the starter reads back.
class WorkerReport {
 public:
  void Update(long long done, long long total, bool last = false);

 private:
  long long reported_ = -1;
  std::chrono::steady_clock::time_point last_;
};

// Runs `count` workers: this program with `arguments` followed by
// "--shard k/count --worker", k = 1..count. Shows their summed progress,
// passes their other output through, forwards Ctrl-C and prints one summary
// line. Returns 0 when every worker succeeded, 130 when they were
// interrupted, 1 (naming each failed worker) otherwise.
int RunWorkers(int count, const std::vector<std::string>& arguments);

}  // namespace ordalis::host
