#pragma once
// The price of a call by time under one tariff.
#include <cstdint>

#include "ordalis/Money.h"

namespace ordalis {

class clsTariffa;
class RatingTrace;

struct TimeCostResult {
  Money cost;
  // False when nothing is chargeable (the duration does not exceed the
  // dialling allowance): cost 0, outcome "0", no markup.
  bool chargeable = false;
};

// duration_seconds: the call's conversation time in whole seconds.
// waive_answer: the row's state is non-zero, so no answer charge.
// Steps: the dialling allowance is not charged; a call shorter than the
// minimum duration is priced as the minimum; the answer charge covers the
// answer allowance; the rest is rounded by the tariff's duration rule and
// priced band by band (seconds beyond the last band are free); the total is
// rounded by the cost rule and raised to the minimum charge.
// `trace`, when given, receives each step with its figures under `section`.
TimeCostResult CalcTimeCost(const clsTariffa& tariffa, std::int64_t duration_seconds, bool waive_answer,
                            RatingTrace* trace = nullptr, const char* section = nullptr);

}  // namespace ordalis
