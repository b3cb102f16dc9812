#include "JsonValue.h"

#include <string>

namespace ordalis::host {

std::string IsoText(DateTime d) {
  std::string text = dt::ToText(d);
  if (text.size() == 19) text[10] = 'T';
  return text;
}

nlohmann::ordered_json ToJson(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::Null:
      return nullptr;
    case Variant::Kind::Integer:
      return value.ToInteger();
    case Variant::Kind::Single:  // its own shortest text, not the float's widened digits
      return std::stod(value.ToText());
    case Variant::Kind::Double:
    case Variant::Kind::Money:
      return value.ToDouble();
    case Variant::Kind::Bool:
      return value.ToBool();
    case Variant::Kind::Date:
      return IsoText(value.ToDate());
    case Variant::Kind::Text:
      break;
  }
  return value.ToText();
}

}  // namespace ordalis::host
