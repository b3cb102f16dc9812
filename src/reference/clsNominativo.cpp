#include "reference/clsNominativo.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoTypes.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"

namespace ordalis {

namespace {
[[noreturn]] void Overflow() { throw ComponentError(kErrOverflow, "Overflow"); }
}  // namespace

std::int32_t SommaContatore(std::int32_t count, std::int32_t delta) {
  std::int32_t sum;
  if (__builtin_add_overflow(count, delta, &sum)) Overflow();
  return sum;
}

std::int32_t ContatoreDaColonna(const Variant& value) {
  if (value.IsNull()) return 0;
  double number;
  switch (value.kind()) {
    case Variant::Kind::Integer:
    case Variant::Kind::Double:
    case Variant::Kind::Single:
    case Variant::Kind::Money: number = value.ToDouble(); break;
    default: {
      // The leading number of the text, as a Val of the joined text reads it.
      const std::string text = value.ToText();
      std::size_t i = 0;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      std::size_t start = i;
      if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
      std::size_t digits = 0;
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
      if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
      }
      if (digits == 0) return 0;
      number = std::strtod(text.substr(start, i - start).c_str(), nullptr);
    }
  }
  number = std::nearbyint(number);  // halves to even
  if (!(number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max()))
    Overflow();
  return static_cast<std::int32_t>(number);
}

std::int32_t NuovoPKId(rdo::RdoConnection& connection, std::string_view table, std::string_view numero,
                       const std::string& highest_before) {
  std::string sql = "SELECT MIN(lPKId) FROM " + std::string(table) + " WHERE sNumero" +
                    (numero.empty() ? " IS NULL" : "=?");
  if (!highest_before.empty()) sql += " AND lPKId>" + std::to_string(ContatoreDaColonna(Variant(highest_before)));
  std::vector<std::string_view> values;
  if (!numero.empty()) values.push_back(numero);
  std::string id = QueryFirstValue(sql, values, connection);
  if (id.empty()) throw ComponentError(rdo::kErrDataAccess, "The new row of " + std::string(table) + " was not found");
  return ContatoreDaColonna(Variant(id));
}

bool NonPrecedente(DateTime data, DateTime ora, DateTime ultima_data, DateTime ultima_ora) {
  const auto secondi = [](DateTime t) { return std::llround(t * 86400.0); };
  if (secondi(data) != secondi(ultima_data)) return data > ultima_data;
  return secondi(ora) >= secondi(ultima_ora);
}

void clsNominativo::RegistraChiamata(bool uscente, DateTime dData, DateTime dOra, bool annulla, bool per_data) {
  std::int32_t& totale = uscente ? TotaleSelezioniO : TotaleSelezioniI;
  DateTime& data = uscente ? DataUltimaChiamataO : DataUltimaChiamataI;
  DateTime& ora = uscente ? OraUltimaChiamataO : OraUltimaChiamataI;
  std::int32_t nuovo = totale;
  if (annulla) nuovo = SommaContatore(nuovo, -1);
  totale = SommaContatore(nuovo, 1);
  if (!per_data || NonPrecedente(dData, dOra, data, ora)) ora = dOra;
  if (dData > data) data = dData;
}

}  // namespace ordalis
