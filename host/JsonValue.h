#pragma once
// Values of the engine as JSON for the host's --json output: numbers as
// numbers, yes/no as booleans, dates in ISO form, Null as null.
#include <nlohmann/json.hpp>

#include "ordalis/Variant.h"

namespace ordalis::host {

// A date-time as ISO text: "YYYY-MM-DD" for a day, "HH:MM:SS" for a time
// of day (or a duration), else "YYYY-MM-DDTHH:MM:SS".
std::string IsoText(DateTime d);

nlohmann::ordered_json ToJson(const Variant& value);

}  // namespace ordalis::host
