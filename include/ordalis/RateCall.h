#pragma once
// Rating one call with typed values: the call goes in as a struct with
// std::chrono times and a duration in seconds, the results come back as a
// struct, so a host needs neither the engine's property names nor its
// day-fraction durations. Nothing is written to the database.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ordalis/Export.h"
#include "ordalis/Money.h"

namespace ordalis {

class clsChiamate;

struct CallToRate {
  std::string site;       // site (exchange) code
  std::string extension;  // calling extension
  std::string number;     // dialled number (for an internal call, the other extension)
  std::string type = "O";  // "O" outgoing (the only calls that are priced), "E" internal
  std::string line;        // trunk line code; empty when unknown
  // The call's start as the exchange's clock showed it (the site's local
  // time, no time zone); whole seconds.
  std::chrono::local_seconds start{};
  std::chrono::seconds duration{0};       // conversation time
  std::chrono::seconds answer_delay{0};   // ringing time before the answer
  std::int32_t pulses = 0;                // metering pulses from the exchange
};

struct RatedCall {
  // Empty when the engine rated the call; otherwise why it could not.
  std::string error;
  // What the rating steps noticed on the way (no tariff for the number,
  // unknown extension, ...); the call is still rated.
  std::vector<std::string> warnings;
  bool chargeable = false;  // answered and priced with a cost or pulses
  Money cost;               // with the main carrier (the least-cost choice)
  Money cost_alternative;   // with the site's alternative carrier
  Money difference;         // cost minus cost_alternative
  Money price_per_minute;   // first per-minute price of the main tariff
  std::string currency;
  std::string carrier, carrier_alternative;
  std::string destination_type, country, area, destination_group;
  std::string other_party;  // name of the number from the phone book
  std::string extension_name, department, cost_centre;
  std::string day, time_band;

  bool ok() const { return error.empty(); }
};

// Rates the call on an engine that Init has connected and loaded (its
// Errore empty); the engine's current call is replaced. Never throws for a
// call that cannot be rated: the reason is in `error`.
ORDALIS_API RatedCall RateCall(clsChiamate& engine, const CallToRate& call);

}  // namespace ordalis
