#include "reference/clsCalendario.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "reference/clsGiorno.h"

namespace ordalis {

namespace {

// A 16-bit column read through its text form: null or empty is 0, anything
// else converts as a whole number (halves to even), out of range is
// overflow (6), non-numeric text a type mismatch (13).
std::int16_t TextToInt16(const Variant& value) {
  const std::string text = value.ToText();
  if (text.empty()) return 0;
  const double d = Variant(text).ToDouble();
  const double r = std::nearbyint(d);
  if (r < std::numeric_limits<std::int16_t>::min() || r > std::numeric_limits<std::int16_t>::max())
    throw ComponentError(kErrOverflow, "Overflow");
  return static_cast<std::int16_t>(r);
}

// Day types of the weekdays that have no row: Sunday 2, Monday 1, others 0.
std::int16_t DefaultTipo(int weekday) {
  if (weekday == 1) return 2;
  if (weekday == 2) return 1;
  return 0;
}

}  // namespace

clsCalendario::clsCalendario() : giorni_(std::make_shared<Collection>()) {}

clsCalendario::clsCalendario(clsChiamate* engine, rdo::RdoConnection* connection)
    : Connection(connection), Chiamate(engine), giorni_(std::make_shared<Collection>()) {}

clsCalendario::~clsCalendario() = default;

void clsCalendario::set_Giorni(std::shared_ptr<Collection> giorni) {
  giorni_ = giorni ? std::move(giorni) : std::make_shared<Collection>();
}

std::string clsCalendario::DateKey(DateTime data) {
  const CivilTime c = dt::ToCivil(data);
  // Years are 100..9999 for every date the engine handles.
  if (c.year < 1000 || c.year > 9999) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", c.year, c.month, c.day);
    return buf;
  }
  std::string key(10, '/');
  key[0] = static_cast<char>('0' + c.year / 1000);
  key[1] = static_cast<char>('0' + c.year / 100 % 10);
  key[2] = static_cast<char>('0' + c.year / 10 % 10);
  key[3] = static_cast<char>('0' + c.year % 10);
  key[5] = static_cast<char>('0' + c.month / 10);
  key[6] = static_cast<char>('0' + c.month % 10);
  key[8] = static_cast<char>('0' + c.day / 10);
  key[9] = static_cast<char>('0' + c.day % 10);
  return key;
}

void clsCalendario::Cache(CacheType /*tipo: every row is always loaded*/, const std::string& sNazione) {
  const std::string prefix_db = platform::ComponentDirectory() + "international/" + sNazione + "/prefissi.mdb";
  std::unique_ptr<rdo::RdoConnection> country;
  rdo::RdoConnection* source = Connection;
  if (!sNazione.empty() && platform::FileExists(prefix_db)) {
    country = rdo::RdoEnvironment::Default().OpenConnection(
        "", false, false, rdo::FileConnectString(prefix_db));
    source = country.get();
  }
  if (source == nullptr) throw ComponentError(kErrInvalidCall, "No connection for the calendar");

  auto giorni = std::make_shared<Collection>();
  auto rs = source->OpenResultset("SELECT * FROM Calendario");
  const int c_data = rs->ColumnIndex("dData");
  const int c_giorno = rs->ColumnIndex("iGiorno");
  const int c_tipo = rs->ColumnIndex("iTipo");
  try {
    for (; !rs->Eof(); rs->MoveNext()) {
      auto giorno = std::make_shared<clsGiorno>();
      const Variant& data = rs->Value(c_data);
      giorno->Data = data.IsNull() ? 0.0 : data.ToDate();
      giorno->Giorno = TextToInt16(rs->Value(c_giorno));
      giorno->Tipo = TextToInt16(rs->Value(c_tipo));
      std::string key = giorno->Data == 0 ? std::to_string(giorno->Giorno) : DateKey(giorno->Data);
      // A second row for the same date or weekday is dropped.
      if (giorni->Contains(key)) continue;
      giorno->Key = key;
      giorni->Add(std::move(giorno), key);
    }
  } catch (...) {
    rs->Close();
    if (country) country->Close();
    throw;
  }
  rs->Close();
  if (country) country->Close();

  for (int weekday = 1; weekday <= 7; ++weekday) {
    const std::string key = std::to_string(weekday);
    if (giorni->Contains(key)) continue;
    auto giorno = std::make_shared<clsGiorno>();
    giorno->Data = 0;
    giorno->Giorno = static_cast<std::int16_t>(weekday);
    giorno->Tipo = DefaultTipo(weekday);
    giorno->Key = key;
    giorni->Add(std::move(giorno), key);
  }
  giorni_ = std::move(giorni);
}

std::shared_ptr<clsGiorno> clsCalendario::GetGiorno(DateTime data) const {
  try {
    if (auto found = giorni_->Find(DateKey(data))) return found;
    return giorni_->Find(std::to_string(dt::Weekday(data)));
  } catch (const ComponentError& e) {
    if (Chiamate == nullptr) throw;
    Chiamate->CacheError(e);
    return nullptr;
  }
}

}  // namespace ordalis
