#include "ordalis/Variant.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "ordalis/ComponentError.h"
#include "platform/TextLines.h"

namespace ordalis {
namespace {

[[noreturn]] void Mismatch() { throw ComponentError(kErrTypeMismatch, "Type mismatch"); }

bool TextToDouble(std::string_view s, double& out) {
  s = platform::TrimBlanks(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

std::int64_t RoundToInteger(double v) {
  if (!std::isfinite(v) || v >= 9.2233720368547758e18 || v < -9.2233720368547758e18)
    throw ComponentError(kErrOverflow, "Overflow");
  return static_cast<std::int64_t>(std::nearbyint(v));  // halves to even
}

}  // namespace

std::string NumberToText(double v) {
  if (v == 0) return "0";
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  std::string s(buf, r.ptr);
  return s;
}

std::string Variant::ToText() const {
  switch (kind_) {
    case Kind::Null: return {};
    case Kind::Text: return text_;
    case Kind::Integer: return std::to_string(int_);
    case Kind::Double: return NumberToText(dbl_);
    case Kind::Single: {
      // The shortest text of the single-precision value (20, -11.111111).
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(dbl_), std::chars_format::fixed);
      return std::string(buf, r.ptr);
    }
    case Kind::Money: return Money::FromRaw(int_).ToText();
    case Kind::Date: return dt::ToText(dbl_);
    case Kind::Bool: return int_ ? "True" : "False";
  }
  return {};
}

double Variant::ToDouble() const {
  switch (kind_) {
    case Kind::Null: return 0;
    case Kind::Text: {
      double d;
      if (TextToDouble(text_, d)) return d;
      if (text_ == "True") return -1;
      if (text_ == "False") return 0;
      Mismatch();
    }
    case Kind::Integer: return static_cast<double>(int_);
    case Kind::Double:
    case Kind::Single:
    case Kind::Date: return dbl_;
    case Kind::Money: return Money::FromRaw(int_).ToDouble();
    case Kind::Bool: return int_ ? -1 : 0;
  }
  return 0;
}

std::int64_t Variant::ToInteger() const {
  switch (kind_) {
    case Kind::Integer: return int_;
    case Kind::Bool: return int_ ? -1 : 0;
    case Kind::Money: {
      // Halves to even on the exact fixed-point value.
      std::int64_t q = int_ / Money::kScale, r = int_ % Money::kScale;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      return q;
    }
    default: return RoundToInteger(ToDouble());
  }
}

Money Variant::ToMoney() const {
  switch (kind_) {
    case Kind::Null: return Money();
    case Kind::Money: return Money::FromRaw(int_);
    case Kind::Integer: {
      std::int64_t raw;
      if (__builtin_mul_overflow(int_, Money::kScale, &raw)) throw ComponentError(kErrOverflow, "Overflow");
      return Money::FromRaw(raw);
    }
    case Kind::Text: {
      std::string_view t = platform::TrimBlanks(text_);
      if (t.empty()) Mismatch();
      return Money::FromText(std::string(t));
    }
    default: return Money::FromDouble(ToDouble());
  }
}

DateTime Variant::ToDate() const {
  DateTime d;
  switch (kind_) {
    case Kind::Null: return 0;
    case Kind::Text: {
      auto parsed = dt::ParseStored(text_);
      if (!parsed) Mismatch();
      d = *parsed;
      break;
    }
    default: d = ToDouble();
  }
  if (!dt::InRange(d)) throw ComponentError(kErrOverflow, "Overflow");
  return d;
}

bool Variant::ToBool() const {
  if (kind_ == Kind::Text) {
    std::string_view t = platform::TrimBlanks(text_);
    if (t == "True" || t == "true" || t == "TRUE") return true;
    if (t == "False" || t == "false" || t == "FALSE") return false;
  }
  return ToDouble() != 0;
}

bool Variant::IsNumeric() const {
  switch (kind_) {
    case Kind::Null: return false;
    case Kind::Text: {
      double d;
      return TextToDouble(text_, d);
    }
    default: return true;
  }
}

bool Variant::operator==(const Variant& o) const {
  if (kind_ != o.kind_) return false;
  switch (kind_) {
    case Kind::Null: return true;
    case Kind::Text: return text_ == o.text_;
    case Kind::Integer:
    case Kind::Money:
    case Kind::Bool: return int_ == o.int_;
    default: return dbl_ == o.dbl_;
  }
}

}  // namespace ordalis
