#pragma once
// The batch run's rating of one loaded call, shared with the explanation of
// a stored call.
#include <string>

namespace ordalis {

class clsChiamate;
class clsChiamata;

// Positions 1..23 of the operation mask.
inline constexpr int kMaskSize = 24;

// Element i is on when character i of `operation` is "1"; 22 and 23 are on
// for a text too short to hold them; 20 and 21 are always off.
void BuildMask(const std::string& operation, bool* mask);

// Resets the call's statuses, settles its times and runs the steps the mask
// switches on, in the batch's order, up to SetDateTimeFields; nothing is
// saved. `internal`: a call of CHIAMATEINTERNE, rated as type "E".
void RateLoadedCall(clsChiamate& engine, clsChiamata& call, const bool* mask, bool internal);

}  // namespace ordalis
