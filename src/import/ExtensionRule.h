#pragma once
// ExtensionRule: whether a number is an extension of the site, by a regular
// expression matched against the whole number.
#include <regex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ordalis::import {

class ExtensionRule {
 public:
  // Throws ComponentError 5 when the pattern is not a valid ECMAScript
  // regular expression.
  explicit ExtensionRule(const std::string& pattern);

  // The same numbers recur in a file: answers are remembered.
  bool IsExtension(std::string_view number);

 private:
  std::regex regex_;
  std::unordered_map<std::string, bool> known_;
};

}  // namespace ordalis::import
