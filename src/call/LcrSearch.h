#pragma once
// LcrSearch: the least-cost search of one LCR table for one call, as a
// function of what it reads: the site, the table, the dialled number, the
// trunk line, the call's day and time of day and the day type. Asked the
// same question while the reference data stays as it is, it gives the same
// answer, so an answer worked out earlier (ahead of the call on another
// thread, or by an earlier step of the same call) can stand in for a search.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ordalis/DateTime.h"
#include "ordalis/Money.h"

namespace ordalis {

class clsCalendario;
class clsDestinazione;
class clsLcrs;
class clsSito;
class clsTariffa;
class RatingTrace;

struct LcrQuestion {
  // Held, so that neither can be replaced by another object at the same
  // address while the question is kept.
  std::shared_ptr<clsSito> site;
  std::shared_ptr<clsLcrs> lcrs;
  std::string number, line;
  std::int64_t day = 0;   // the call's date, in seconds
  std::int64_t time = 0;  // the call's time of day, in seconds
  std::int16_t day_type = 0;
  bool carrier2 = false;  // the alternative carrier's search: any carrier qualifies
  bool operator==(const LcrQuestion&) const = default;
};

struct LcrAnswer {
  std::string number;  // without the interconnection prefix
  bool found_lcr = false, found_destination = false;
  // Set when a tariff matched (the last one that did).
  std::shared_ptr<clsTariffa> tariff;
  std::shared_ptr<clsDestinazione> destination;
  bool pulses = false;  // the entry's Scatti, CostoScatto and GruppoDest
  Money pulse_price;
  std::string group;
  std::string kept;  // "LCR:... DESTINAZIONE: ... TARIFFA: ...", when traced
};

// Receives the search's trace lines in order.
using LcrTrace = std::function<void(const std::string&)>;

// REQUIRES: question.site and question.lcrs set. `explain`, when given,
// receives each entry and tariff looked at with the reason it was passed
// over, under `section`.
void SearchLcr(const LcrQuestion& question, LcrAnswer& answer, const LcrTrace* trace = nullptr,
               RatingTrace* explain = nullptr, const char* section = nullptr);

// The day type of a date in a calendar (0 without a calendar, or when the
// calendar has no day for it).
std::int16_t DayTypeOf(const clsCalendario* calendar, DateTime date);

}  // namespace ordalis
