#pragma once
// RatingTrace: what the engine decided while it rated one call, and why.
// The rating steps record into it only when a call record is given one; a
// host asks for it through ExplainCall / ExplainStoredCall (CallExplanation.h).
#include <string>
#include <utility>
#include <vector>

#include "ordalis/Export.h"
#include "ordalis/Variant.h"

namespace ordalis {

// One decision: what was looked at, what came of it and why, with the
// figures it was based on (amounts as Money, seconds and counts as
// integers, dates as dates, everything else as text).
struct TraceStep {
  std::string section;  // the part of the rating ("site and extension", "times", ...)
  std::string subject;  // what was examined: a site code, an LCR entry, a tariff, a cost item
  std::string outcome;  // "found", "not found", "rejected", "qualified", "chosen", "applied", ...
  std::string reason;   // why, in words; empty when the outcome says it all
  std::vector<std::pair<std::string, Variant>> figures;
  int level = 0;  // 1: detail of the level-0 step before it (a tariff of an LCR entry)
};

class ORDALIS_API RatingTrace {
 public:
  void Add(TraceStep step) { steps_.push_back(std::move(step)); }
  const std::vector<TraceStep>& Steps() const { return steps_; }
  // The first step of `section` with `outcome`, null when there is none.
  const TraceStep* Find(const std::string& section, const std::string& outcome) const {
    for (const TraceStep& s : steps_)
      if (s.section == section && s.outcome == outcome) return &s;
    return nullptr;
  }
  // A figure of a step by name; Null when it has none.
  static Variant Figure(const TraceStep& step, const std::string& name) {
    for (const auto& [n, v] : step.figures)
      if (n == name) return v;
    return Variant();
  }

 private:
  std::vector<TraceStep> steps_;
};

// Sections of the trace, in the order the rating reaches them.
namespace trace {
inline constexpr char kSite[] = "site and extension";
inline constexpr char kTimes[] = "times";
inline constexpr char kSearch1[] = "least-cost search, main carrier";
inline constexpr char kSearch2[] = "least-cost search, alternative carrier";
inline constexpr char kCost1[] = "cost, main carrier";
inline constexpr char kCost2[] = "cost, alternative carrier";
}  // namespace trace

}  // namespace ordalis
