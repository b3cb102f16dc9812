#pragma once
// Variant: a value as a column, a registry entry or a property holds it.
// Conversions follow the engine's reading rules: Null reads as the empty text
// when joined to text; numeric reads of text parse it; a failed conversion is
// error 13 (type mismatch).
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "ordalis/DateTime.h"
#include "ordalis/Export.h"
#include "ordalis/Money.h"

namespace ordalis {

class ORDALIS_API Variant {
 public:
  enum class Kind { Null, Text, Integer, Double, Single, Money, Date, Bool };

  Variant() = default;
  Variant(std::string text) : kind_(Kind::Text), text_(std::move(text)) {}
  Variant(const char* text) : kind_(Kind::Text), text_(text) {}
  Variant(std::int64_t v) : kind_(Kind::Integer), int_(v) {}
  Variant(int v) : kind_(Kind::Integer), int_(v) {}
  Variant(double v) : kind_(Kind::Double), dbl_(v) {}
  Variant(float v) : kind_(Kind::Single), dbl_(v) {}
  Variant(Money v) : kind_(Kind::Money), int_(v.Raw()) {}
  Variant(bool v) : kind_(Kind::Bool), int_(v ? 1 : 0) {}
  static Variant FromDate(DateTime d) { Variant v; v.kind_ = Kind::Date; v.dbl_ = d; return v; }

  // Becomes a Text value, reusing the storage it already has.
  void AssignText(std::string_view text) {
    kind_ = Kind::Text;
    text_.assign(text);
  }

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }

  // "" & value: Null is the empty text; numbers in plain decimal; dates in
  // their text form; yes/no as "True"/"False".
  std::string ToText() const;
  // The text of a Text value without a copy; empty for the other kinds.
  const std::string& StoredText() const { return text_; }
  // Numeric reads; Null is 0. Text must be numeric (error 13 otherwise).
  std::int64_t ToInteger() const;  // rounds halves to even, like CLng
  double ToDouble() const;
  Money ToMoney() const;
  // Text in any stored form or a number of days; error 13 for other text,
  // 6 outside the date-time range.
  DateTime ToDate() const;
  bool ToBool() const;      // non-zero is True; text "True"/"False" or numeric
  // True when the value is a number, or text that reads as one.
  bool IsNumeric() const;

  bool operator==(const Variant& other) const;

 private:
  Kind kind_ = Kind::Null;
  std::int64_t int_ = 0;  // Integer, Bool, Money (raw)
  double dbl_ = 0;        // Double, Single, Date
  std::string text_;
};

// Plain decimal text of a number ("0.1", "20", "-3.5"), the shortest form
// that reads back as the same double.
ORDALIS_API std::string NumberToText(double v);

}  // namespace ordalis
