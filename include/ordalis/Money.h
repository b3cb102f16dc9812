#pragma once
// Money: signed 64-bit fixed point with four decimals.
#include <compare>
#include <cstdint>
#include <string>

#include "ordalis/Export.h"

namespace ordalis {

class ORDALIS_API Money {
 public:
  static constexpr std::int64_t kScale = 10000;

  constexpr Money() = default;

  // From ten-thousandths (raw 12345 is 1.2345).
  static constexpr Money FromRaw(std::int64_t raw) { Money m; m.raw_ = raw; return m; }
  // Rounds to four decimals, halves to even (on the decimal the double
  // stands for: 0.00005 becomes 0, 0.00015 becomes 0.0002).
  // Throws ComponentError 6 when out of range or not finite.
  static Money FromDouble(double value);
  // Parses a plain decimal ("-12.345", "3", "1e2"); throws error 13 when
  // the text is not a number.
  static Money FromText(const std::string& text);

  constexpr std::int64_t Raw() const { return raw_; }
  double ToDouble() const { return static_cast<double>(raw_) / kScale; }
  // Plain decimal without trailing zeros ("1.5", "20", "-0.0001").
  std::string ToText() const;

  Money operator+(Money other) const;
  Money operator-(Money other) const;
  Money operator-() const;
  Money& operator+=(Money other) { return *this = *this + other; }
  Money& operator-=(Money other) { return *this = *this - other; }
  // This amount times numerator / denominator, worked out exactly and
  // rounded once to four decimals, halves to even (a price per minute for
  // some seconds, a price per pulse for some pulses). Throws ComponentError
  // 6 when the result is out of range, 11 when the denominator is 0.
  Money MulDiv(std::int64_t numerator, std::int64_t denominator) const;
  // Product and quotient by a floating number (through double), rounded
  // back to money halves to even.
  Money operator*(double factor) const;
  Money operator/(double divisor) const;  // division by 0 is error 11

  constexpr auto operator<=>(const Money&) const = default;

 private:
  std::int64_t raw_ = 0;
};

}  // namespace ordalis
