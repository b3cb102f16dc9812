// The date-time text readers. A value read back from the text the engine
// writes for it is the same value to the second.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"

namespace dt = ordalis::dt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using ordalis::ComponentError;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    (void)dt::FromText(text);
  } catch (const ComponentError&) {
  }
  std::optional<double> stored;
  try {
    stored = dt::ParseStored(text);
  } catch (const ComponentError&) {
  }
  if (!stored) return 0;
  try {
    const std::string iso = dt::ToIsoText(*stored);
    if (iso.size() == 19 && dt::ToSeconds(dt::FromText(iso)) != dt::ToSeconds(*stored)) std::abort();
    (void)dt::ToText(*stored);
    (void)dt::Weekday(*stored);
    (void)dt::AddMinutes(*stored, 24 * 60);
  } catch (const ComponentError&) {
    // Out of the date-time range: refused, never taken apart.
  }
  return 0;
}
