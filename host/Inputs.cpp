#include "Inputs.h"

#include <cstdio>
#include <regex>

#include "ordalis/ComponentError.h"

namespace ordalis::host {
namespace {

constexpr std::size_t kMaskPositions = 23;

}  // namespace

std::string CheckDay(const std::string& text, const char* option, DateTime& day) {
  static const std::regex form(R"((\d{4})-(\d{2})-(\d{2}))");
  std::smatch m;
  if (std::regex_match(text, m, form)) {
    int y = std::stoi(m[1]), mo = std::stoi(m[2]), d = std::stoi(m[3]);
    try {
      // Months and days out of range would roll over: the day must read back.
      day = dt::FromDate(y, mo, d);
      if (dt::Year(day) == y && dt::Month(day) == mo && dt::Day(day) == d) return {};
    } catch (const ComponentError&) {
    }
  }
  return std::string(option) + " must be a day written YYYY-MM-DD, not \"" + text + "\"";
}

std::string CheckTime(const std::string& text, const char* option, DateTime& time) {
  static const std::regex form(R"((\d{2}):(\d{2})(?::(\d{2}))?)");
  std::smatch m;
  if (std::regex_match(text, m, form)) {
    int h = std::stoi(m[1]), mi = std::stoi(m[2]), s = m[3].matched ? std::stoi(m[3]) : 0;
    if (h < 24 && mi < 60 && s < 60) {
      time = dt::FromTime(h, mi, s);
      return {};
    }
  }
  return std::string(option) + " must be a time of day written HH:MM:SS, not \"" + text + "\"";
}

std::string CheckFilter(const std::string& filter) {
  static const std::regex where(R"((^|[^A-Za-z0-9_])WHERE($|[^A-Za-z0-9_]))", std::regex::icase);
  if (filter.empty() || std::regex_search(filter, where)) return {};
  return "--filter must hold a WHERE clause, e.g. --filter \"WHERE sSito = 'MI' AND dData >= '2024-01-01'\" "
         "(only the WHERE clause is used), not \"" + filter + "\"";
}

std::string CheckOperation(const std::string& mask) {
  if (!mask.empty() && mask.size() <= kMaskPositions && mask.find_first_not_of("01") == std::string::npos) return {};
  return "--operation must be 1 to " + std::to_string(kMaskPositions) +
         " characters \"0\" or \"1\", one per rating step (e.g. 11111111111111110111), not \"" + mask + "\"";
}

bool ReportUsageError(std::initializer_list<std::string> problems) {
  for (const std::string& problem : problems)
    if (!problem.empty()) {
      std::fprintf(stderr, "error: %s\n", problem.c_str());
      return true;
    }
  return false;
}

}  // namespace ordalis::host
