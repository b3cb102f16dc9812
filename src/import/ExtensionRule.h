#pragma once
// ExtensionRule: whether a number is an extension of the site, by a regular
// expression matched against the whole number.
#include <array>
#include <regex>
#include <string>
#include <string_view>

namespace ordalis::import {

class ExtensionRule {
 public:
  // Throws ComponentError 5 when the pattern is not a valid ECMAScript
  // regular expression.
  explicit ExtensionRule(const std::string& pattern);

  // The same numbers recur in a file: answers are remembered, in a small
  // table where a number takes the slot of its hash (one look-up, no
  // growth, for files of millions of distinct outside numbers).
  bool IsExtension(std::string_view number);

 private:
  struct Known {
    std::string number;
    bool extension = false;
    bool used = false;
  };
  std::regex regex_;
  std::array<Known, 4096> known_;
};

}  // namespace ordalis::import
