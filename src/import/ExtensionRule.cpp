#include "import/ExtensionRule.h"

#include "ordalis/ComponentError.h"

namespace ordalis::import {
namespace {
constexpr std::size_t kMaxRemembered = 1 << 16;
}

ExtensionRule::ExtensionRule(const std::string& pattern) {
  try {
    regex_ = std::regex(pattern, std::regex::ECMAScript | std::regex::optimize);
  } catch (const std::regex_error& e) {
    throw ComponentError(kErrInvalidCall, "the extension pattern \"" + pattern + "\" is not valid: " + e.what());
  }
}

bool ExtensionRule::IsExtension(std::string_view number) {
  if (number.empty()) return false;
  std::string key(number);
  if (auto it = known_.find(key); it != known_.end()) return it->second;
  bool match = std::regex_match(key, regex_);
  if (known_.size() >= kMaxRemembered) known_.clear();
  known_.emplace(std::move(key), match);
  return match;
}

}  // namespace ordalis::import
