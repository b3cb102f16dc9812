// Time-zone definitions and rules as stored ("id,name,description,bias,
// month,day,dayOfWeek,week,hour,minute,dstBias,..."): a text either sets the
// zone or raises the component's error, and the conversions of a few dates
// then either give a date or raise it; nothing else.
#include <cstdint>
#include <string>

#include "ordalis/ComponentError.h"
#include "ordalis/clsTimeZone.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using ordalis::ComponentError;
  const std::string in(reinterpret_cast<const char*>(data), size);
  ordalis::clsTimeZone zone;
  try {
    std::string text = in;
    zone.SetTimeZone(text);
  } catch (const ComponentError&) {
    try {
      std::string rule = in;
      zone.SetDST(rule);
      zone.SetSTD(rule);
    } catch (const ComponentError&) {
    }
  }
  // 1900-01-01, 2024-03-31 01:30, 2024-10-27 02:30, 9999-12-31 23:59.
  for (double day : {2.0, 45382.0625, 45592.104166, 2958465.999}) {
    try {
      (void)zone.ConvertTimeToUTC(day);
      (void)zone.ConvertTimeFromUTC(day);
      (void)zone.IsdaylightTime(day);
    } catch (const ComponentError&) {
    }
  }
  return 0;
}
