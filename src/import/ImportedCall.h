#pragma once
// ImportedCall: one call as an exchange's record describes it, ready to be
// appended to a call table.
#include <cstdint>
#include <string>

#include "ordalis/DateTime.h"

namespace ordalis::import {

struct ImportedCall {
  std::string site, extension, number, line, job_code;
  std::string type;      // "O" outgoing, "I" incoming, "E" internal (or a code from a CSV file)
  std::string call_id;   // the exchange's own id of the call; empty when it gives none
  DateTime start = 0;    // date and time of the start, as the exchange's clock showed it
  std::int64_t duration = 0;      // conversation, whole seconds
  std::int64_t answer_delay = 0;  // from the start to the answer, whole seconds
  std::int32_t pulses = 0;
  std::int16_t status = 0;  // 0 answered; 1 not answered, 2 busy, 3 failed (see the README)

  bool Internal() const { return type == "E"; }
};

}  // namespace ordalis::import
