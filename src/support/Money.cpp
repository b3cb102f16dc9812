#include "ordalis/Money.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "ordalis/ComponentError.h"

namespace ordalis {
namespace {

[[noreturn]] void ThrowOverflow() { throw ComponentError(kErrOverflow, "Overflow"); }

// Rounds a plain decimal text ("-123.456789", no exponent) to four decimals,
// halves to even, exactly on its digits.
bool RoundDecimalText(const char* first, const char* last, std::int64_t& out) {
  bool negative = false;
  if (first != last && (*first == '-' || *first == '+')) negative = (*first++ == '-');
  __int128 value = 0;
  int decimals = 0;
  bool seen_point = false, any_digit = false;
  int round_digit = -1;      // the fifth decimal
  bool sticky = false;       // any non-zero digit after the fifth decimal
  for (const char* p = first; p != last; ++p) {
    if (*p == '.') {
      if (seen_point) return false;
      seen_point = true;
      continue;
    }
    if (*p < '0' || *p > '9') return false;
    any_digit = true;
    int digit = *p - '0';
    if (!seen_point || decimals < 4) {
      value = value * 10 + digit;
      if (seen_point) ++decimals;
      if (value > (static_cast<__int128>(1) << 100)) return false;
    } else if (round_digit < 0) {
      round_digit = digit;
    } else if (digit != 0) {
      sticky = true;
    }
  }
  if (!any_digit) return false;
  for (; decimals < 4; ++decimals) value *= 10;
  if (round_digit > 5 || (round_digit == 5 && (sticky || (value & 1)))) ++value;
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int64_t>::max() || value < std::numeric_limits<std::int64_t>::min())
    ThrowOverflow();
  out = static_cast<std::int64_t>(value);
  return true;
}

}  // namespace

Money Money::FromDouble(double value) {
  if (!std::isfinite(value)) ThrowOverflow();
  long double scaled = static_cast<long double>(value) * kScale;
  if (std::fabs(scaled) >= 9.2233720368547758e18L) ThrowOverflow();
  long double fraction = scaled - std::floor(scaled);
  if (std::fabs(fraction - 0.5L) > 1e-6L) return FromRaw(static_cast<std::int64_t>(std::llrint(scaled)));
  // Close to a half: decide on the shortest decimal that stands for the
  // double, so that 0.00005 (stored as 0.0000500000000000000024) is a half.
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  std::int64_t raw = 0;
  if (res.ec != std::errc() || !RoundDecimalText(buf, res.ptr, raw)) ThrowOverflow();
  return FromRaw(raw);
}

Money Money::FromText(const std::string& text) {
  std::size_t b = text.find_first_not_of(" \t");
  std::size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) throw ComponentError(kErrTypeMismatch, "Type mismatch");
  std::string trimmed = text.substr(b, e - b + 1);
  std::int64_t raw = 0;
  if (RoundDecimalText(trimmed.data(), trimmed.data() + trimmed.size(), raw)) return FromRaw(raw);
  char* end = nullptr;
  double d = std::strtod(trimmed.c_str(), &end);
  if (end != trimmed.c_str() + trimmed.size()) throw ComponentError(kErrTypeMismatch, "Type mismatch");
  return FromDouble(d);
}

std::string Money::ToText() const {
  __int128 v = raw_;
  bool negative = v < 0;
  if (negative) v = -v;
  auto whole = static_cast<unsigned long long>(v / kScale);
  auto frac = static_cast<unsigned>(v % kScale);
  std::string s = (negative ? "-" : "") + std::to_string(whole);
  if (frac != 0) {
    char digits[5] = {char('0' + frac / 1000), char('0' + frac / 100 % 10), char('0' + frac / 10 % 10),
                      char('0' + frac % 10), 0};
    std::string f(digits);
    f.erase(f.find_last_not_of('0') + 1);
    s += "." + f;
  }
  return s;
}

Money Money::operator+(Money other) const {
  std::int64_t r;
  if (__builtin_add_overflow(raw_, other.raw_, &r)) ThrowOverflow();
  return FromRaw(r);
}

Money Money::operator-(Money other) const {
  std::int64_t r;
  if (__builtin_sub_overflow(raw_, other.raw_, &r)) ThrowOverflow();
  return FromRaw(r);
}

Money Money::operator-() const {
  if (raw_ == std::numeric_limits<std::int64_t>::min()) ThrowOverflow();
  return FromRaw(-raw_);
}

Money Money::MulDiv(std::int64_t numerator, std::int64_t denominator) const {
  if (denominator == 0) throw ComponentError(11, "Division by zero");
  __int128 n = static_cast<__int128>(raw_) * numerator, d = denominator;
  if (d < 0) {
    n = -n;
    d = -d;
  }
  __int128 q = n / d;  // toward zero
  __int128 twice_rest = (n % d) * 2;
  if (twice_rest < 0) twice_rest = -twice_rest;
  if (twice_rest > d || (twice_rest == d && (q & 1) != 0)) q += n < 0 ? -1 : 1;
  if (q > std::numeric_limits<std::int64_t>::max() || q < std::numeric_limits<std::int64_t>::min()) ThrowOverflow();
  return FromRaw(static_cast<std::int64_t>(q));
}

Money Money::operator*(double factor) const { return FromDouble(ToDouble() * factor); }

Money Money::operator/(double divisor) const {
  if (divisor == 0) throw ComponentError(11, "Division by zero");
  return FromDouble(ToDouble() / divisor);
}

}  // namespace ordalis
