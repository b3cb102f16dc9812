// GetDestinazioneMigliore on numbering plans of 100, 10,000 and 100,000
// destinations (a national plan of geographic and mobile areas plus foreign
// countries with their areas), beside the plain linear scan of the same
// collection. Prints lookups per second for each size, the ratio of the
// largest size to the smallest, and the index's advantage over the scan.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "numbering/DestinationIndex.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"

using namespace ordalis;

namespace {

struct Plan {
  clsDestinazioni destinations;
  std::vector<std::string> numbers;
};

std::string Digits(std::mt19937& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + rng() % 10));
  return s;
}

// About 90% national areas ("0" + 1..6 digits geographic, "3" + 2..4 digits
// mobile), 10% foreign: "00" + country code with a whole-country "-" entry
// and areas of 1..4 digits. Loaded in the order the cache loads them.
void BuildPlan(Plan& plan, std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::set<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> countries;
  for (int i = 0; i < 200; ++i) countries.push_back("00" + std::to_string(1 + rng() % 998));
  std::sort(countries.begin(), countries.end());
  countries.erase(std::unique(countries.begin(), countries.end()), countries.end());

  const std::size_t foreign = size / 10;
  for (std::size_t i = 0; pairs.size() < foreign && i < countries.size(); ++i) pairs.insert({countries[i], "-"});
  while (pairs.size() < foreign)
    pairs.insert({countries[rng() % countries.size()], Digits(rng, 1 + static_cast<int>(rng() % 4))});
  while (pairs.size() < size) {
    if (rng() % 5 == 0)
      pairs.insert({"39", "3" + Digits(rng, 2 + static_cast<int>(rng() % 3))});
    else
      pairs.insert({"39", "0" + Digits(rng, 1 + static_cast<int>(rng() % 6))});
  }
  std::vector<std::pair<std::string, std::string>> ordered(pairs.begin(), pairs.end());
  std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second > b.second;
  });
  for (const auto& [naz, area] : ordered) {
    auto d = std::make_shared<clsDestinazione>();
    d->PrefNaz = naz;
    d->PrefArea = area;
    d->Key = clsDestinazione::MakeKey(naz, area);
    plan.destinations.Add(d, d->Key);
  }

  // Dialled numbers: mostly extensions of a destination of the plan, some
  // unknown, 30% international.
  for (int i = 0; i < 4096; ++i) {
    const auto& d = plan.destinations.Destinazioni().Item(1 + rng() % size);
    std::string number;
    if (rng() % 10 == 0)
      number = (rng() % 3 == 0 ? "00" : "0") + Digits(rng, 9);
    else
      number = d->PrefNaz == "39" ? d->PrefArea : d->PrefNaz + (d->PrefArea == "-" ? "" : d->PrefArea);
    number += Digits(rng, std::max<int>(4, 11 - static_cast<int>(number.size())));
    plan.numbers.push_back(number);
  }
}

// The linear match as the rating rules word it.
const clsDestinazione* LinearMatch(const clsDestinazioni& c, const std::string& n, const std::string& naz,
                                   const std::string& intl) {
  const clsDestinazione* best = nullptr;
  std::size_t best_len = 0;
  const bool international = n.starts_with(intl);
  for (const auto& d : c.Destinazioni()) {
    bool candidate = international
                         ? n.starts_with(d->PrefNaz) &&
                               (d->PrefArea == "-" || n.compare(d->PrefNaz.size(), d->PrefArea.size(), d->PrefArea) == 0)
                         : d->PrefNaz == naz && n.starts_with(d->PrefArea);
    if (!candidate) continue;
    const std::size_t len = Utf8Length(d->Key);
    if (len > best_len) {
      best = d.get();
      best_len = len;
    }
  }
  return best;
}

template <class F>
double Rate(std::size_t lookups, F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return static_cast<double>(lookups) / seconds;
}

}  // namespace

int main() {
  const std::size_t sizes[] = {100, 10000, 100000};
  const std::string naz = "39", intl = "00";
  double indexed_rate[3] = {}, linear_rate[3] = {};
  std::printf("%-12s %16s %16s %10s\n", "destinations", "index lookups/s", "linear lookups/s", "index/lin");
  for (int s = 0; s < 3; ++s) {
    Plan plan;
    BuildPlan(plan, sizes[s], 7 + s);
    // The first lookup builds the index; keep it out of the timing.
    benchmark::DoNotOptimize(plan.destinations.GetDestinazioneMigliore(plan.numbers[0], naz, intl));
    // Cross-check the index against the scan on every sample number.
    std::size_t hits = 0;
    for (const auto& n : plan.numbers) {
      auto a = plan.destinations.GetDestinazioneMigliore(n, naz, intl);
      if (a.get() != LinearMatch(plan.destinations, n, naz, intl)) {
        std::fprintf(stderr, "index and scan disagree on %s\n", n.c_str());
        return 1;
      }
      hits += a != nullptr;
    }

    const std::size_t lookups = 4'000'000;
    indexed_rate[s] = Rate(lookups, [&] {
      for (std::size_t i = 0; i < lookups; ++i)
        benchmark::DoNotOptimize(plan.destinations.GetDestinazioneMigliore(plan.numbers[i & 4095], naz, intl));
    });
    const std::size_t scans = std::max<std::size_t>(200, 20'000'000 / sizes[s]);
    linear_rate[s] = Rate(scans, [&] {
      for (std::size_t i = 0; i < scans; ++i)
        benchmark::DoNotOptimize(LinearMatch(plan.destinations, plan.numbers[i & 4095], naz, intl));
    });
    std::printf("%-12zu %16.0f %16.0f %10.1f   (%zu of 4096 sample numbers matched)\n", sizes[s], indexed_rate[s],
                linear_rate[s], indexed_rate[s] / linear_rate[s], hits);
  }
  std::printf("slowdown from %zu to %zu destinations: index %.2fx, linear scan %.0fx\n", sizes[0], sizes[2],
              indexed_rate[0] / indexed_rate[2], linear_rate[0] / linear_rate[2]);
  return 0;
}
