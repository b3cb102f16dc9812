#include "import/CallFormat.h"

#include "import/ExtensionRule.h"

namespace ordalis::import {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool Digits(std::string_view s, std::size_t at, std::size_t count, int& out) {
  out = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

DateTime ParseStart(std::string_view text, const char* what) {
  std::string_view s = Trim(text);
  int y, mo, d, h, mi, se;
  bool ok = s.size() >= 19 && s[4] == '-' && s[7] == '-' && (s[10] == ' ' || s[10] == 'T') && s[13] == ':' &&
            s[16] == ':' && Digits(s, 0, 4, y) && Digits(s, 5, 2, mo) && Digits(s, 8, 2, d) && Digits(s, 11, 2, h) &&
            Digits(s, 14, 2, mi) && Digits(s, 17, 2, se);
  if (ok && s.size() > 19) {  // a fraction of a second
    ok = s[19] == '.' && s.size() > 20;
    for (std::size_t i = 20; ok && i < s.size(); ++i) ok = s[i] >= '0' && s[i] <= '9';
  }
  if (!ok || y < 100 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || se > 59)
    throw BadRow(std::string(what) + " is not a date and time YYYY-MM-DD HH:MM:SS: " + Quoted(text));
  return dt::FromSerialAndSeconds(dt::DaySerial(dt::FromDate(y, mo, d)), h * 3600 + mi * 60 + se);
}

std::int64_t ParseWhole(std::string_view text, const char* what, std::int64_t low, std::int64_t high) {
  std::string_view s = Trim(text);
  bool negative = !s.empty() && s.front() == '-';
  if (negative) s.remove_prefix(1);
  std::int64_t value = 0;
  bool ok = !s.empty() && s.size() <= 15;
  for (char c : s) {
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (!ok || value < low || value > high)
    throw BadRow(std::string(what) + " is not a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high) + ": " + Quoted(text));
  return value;
}

std::int64_t ParseSeconds(std::string_view text, const char* what) {
  std::string_view s = Trim(text);
  bool ok = !s.empty() && s.size() <= 9;
  for (char c : s) ok = ok && c >= '0' && c <= '9';
  if (!ok) throw BadRow(std::string(what) + " is not a whole number of seconds: " + Quoted(text));
  return ParseWhole(s, what, 0, 999999999);
}

void AssignSides(ExtensionRule& extensions, std::string_view caller, std::string_view caller_peer,
                 std::string_view called, std::string_view called_peer, ImportedCall& call) {
  std::string_view from = extensions.IsExtension(caller)        ? caller
                          : extensions.IsExtension(caller_peer) ? caller_peer
                                                                : std::string_view();
  std::string_view to = extensions.IsExtension(called)        ? called
                        : extensions.IsExtension(called_peer) ? called_peer
                                                              : std::string_view();
  if (!from.empty()) {
    call.type = to.empty() ? "O" : "E";
    call.extension.assign(from);
    call.number.assign(to.empty() ? called : to);
    if (call.number.empty()) throw BadRow("an outgoing call without a dialled number");
  } else if (!to.empty()) {
    call.type = "I";
    call.extension.assign(to);
    call.number.assign(caller);  // empty when the caller withheld the number
  } else {
    throw BadRow("neither side is an extension of the site: caller " + Quoted(caller) + ", called " +
                 Quoted(called));
  }
}

}  // namespace ordalis::import
