#pragma once
// clsGiorno: one day of a calendar, either an explicit date or a weekday
// entry (Data = 0), with its day type.
#include <cstdint>
#include <string>

#include "ordalis/DateTime.h"

namespace ordalis {

class clsGiorno {
 public:
  // Key in the calendar: "yyyy/mm/dd" for an explicit date, "1".."7" for a
  // weekday entry (1 = Sunday).
  std::string Key;
  // Day type, as the time-band and tariff tables use it.
  std::int16_t Tipo = 0;
  // Weekday number of a weekday entry, 1 = Sunday ... 7 = Saturday.
  std::int16_t Giorno = 0;
  // Date of an explicit entry; 0 (1899-12-30) for a weekday entry.
  DateTime Data = 0;
};

}  // namespace ordalis
