#include "import/ExtensionRule.h"

#include "ordalis/ComponentError.h"

namespace ordalis::import {
ExtensionRule::ExtensionRule(const std::string& pattern) {
  try {
    regex_ = std::regex(pattern, std::regex::ECMAScript | std::regex::optimize);
  } catch (const std::regex_error& e) {
    throw ComponentError(kErrInvalidCall, "the extension pattern \"" + pattern + "\" is not valid: " + e.what());
  }
}

bool ExtensionRule::IsExtension(std::string_view number) {
  if (number.empty()) return false;
  Known& slot = known_[std::hash<std::string_view>()(number) % known_.size()];
  if (slot.used && slot.number == number) return slot.extension;
  slot.number.assign(number);
  slot.extension = std::regex_match(slot.number, regex_);
  slot.used = true;
  return slot.extension;
}

}  // namespace ordalis::import
