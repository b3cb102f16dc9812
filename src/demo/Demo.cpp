#include "demo/Demo.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>
#include <vector>
#include <random>

#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/DateTime.h"

namespace ordalis {
namespace {

constexpr std::int32_t kErrDemo = 75;

// An SQLite file written with prepared statements.
class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) Fail("open " + path);
    Exec("BEGIN");
  }
  ~Db() { sqlite3_close(db_); }
  void Commit() { Exec("COMMIT"); }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  // Inserts one row; text values bind as text, numbers as numbers, null as NULL.
  struct Value {
    Value(const char* t) : text(t), kind(1) {}
    Value(std::string t) : text(std::move(t)), kind(1) {}
    Value(double v) : number(v), kind(2) {}
    Value(int v) : number(v), kind(2) {}
    Value(std::nullptr_t) : kind(0) {}
    std::string text;
    double number = 0;
    int kind;
  };
  void Insert(const std::string& table, const std::string& columns, std::initializer_list<Value> values) {
    std::string marks;
    for (std::size_t i = 0; i < values.size(); ++i) marks += i ? ",?" : "?";
    std::string sql = "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
    sqlite3_stmt*& st = cache_[sql];
    if (!st && sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(sql);
    int i = 1;
    for (const Value& v : values) {
      if (v.kind == 1) sqlite3_bind_text(st, i, v.text.c_str(), -1, SQLITE_TRANSIENT);
      else if (v.kind == 2) sqlite3_bind_double(st, i, v.number);
      else sqlite3_bind_null(st, i);
      ++i;
    }
    if (sqlite3_step(st) != SQLITE_DONE) Fail(sql);
    sqlite3_reset(st);
  }
  void Finish() {
    for (auto& [sql, st] : cache_) sqlite3_finalize(st);
    cache_.clear();
    Commit();
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw ComponentError(kErrDemo, "Demo installation: " + what + ": " + sqlite3_errmsg(db_));
  }
  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> cache_;
};

std::string Time(int h, int m, int s = 0) { return dt::ToIsoText(dt::FromTime(h, m, s)); }

struct Destination {
  const char* naz;
  const char* area;
  const char* country;
  const char* area_name;
  const char* type;
  double lat, lon;
  const char* group;
};

// The numbering plan every carrier file carries: Italy seen from Milan,
// the United States seen from New York, and foreign countries in the
// dialled form of each (00 from Italy, 011 from the United States).
const Destination kPlan[] = {
    {"39", "02", "Italia", "Milano", "Local", 45.28, 9.11, "Locale MI"},
    {"39", "0371", "Italia", "Lodi", "Adiacenti", 45.19, 9.30, "Nazionale"},
    {"39", "06", "Italia", "Roma", "National", 41.54, 12.29, "Nazionale"},
    {"39", "011", "Italia", "Torino", "National", 45.04, 7.41, "Nazionale"},
    {"39", "055", "Italia", "Firenze", "National", 43.46, 11.15, "Nazionale"},
    {"39", "3", "Italia", "Rete mobile", "Mobile", 0, 0, "Mobile IT"},
    {"0044", "-", "Regno Unito", "", "International", 51.30, -0.07, "Europa"},
    {"0044", "20", "Regno Unito", "Londra", "International", 51.30, -0.07, "Europa"},
    {"0033", "-", "Francia", "", "International", 48.51, 2.21, "Europa"},
    {"0049", "-", "Germania", "", "International", 52.31, 13.23, "Europa"},
    {"001", "-", "Stati Uniti", "", "International", 40.42, -74.00, "Nord America"},
    {"001", "212", "Stati Uniti", "New York", "International", 40.42, -74.00, "Nord America"},
    {"1", "212", "USA", "New York", "Local", 40.42, -74.00, "Local NY"},
    {"1", "", "USA", "", "National", 39.50, -98.35, "National US"},
    {"01139", "-", "Italy", "", "International", 41.54, 12.29, "International US"},
    {"01144", "-", "United Kingdom", "", "International", 51.30, -0.07, "International US"},
};

struct Carrier {
  const char* name;
  const char* file;
  const char* prefix;  // interconnection prefix
  double factor;       // price level against the first carrier
  int rounding;        // duration rounding step in seconds (charged upwards)
};
const Carrier kCarriers[] = {{"Alpha", "alpha.mdb", "", 1.0, 1},
                             {"Beta", "beta.mdb", "", 0.9, 30},
                             {"Gamma", "gamma.mdb", "1055", 0.8, 60}};

// Peak and off-peak prices per minute by group, for day types 0 (weekday),
// 1 (Monday) and 2 (Sunday and holidays).
struct Price {
  const char* group;
  double peak, offpeak, answer, minimum;
};
const Price kPrices[] = {{"Locale MI", 0.02, 0.01, 0.03, 0.05},     {"Nazionale", 0.05, 0.03, 0.05, 0.08},
                         {"Mobile IT", 0.15, 0.12, 0.06, 0.10},     {"Europa", 0.25, 0.20, 0.08, 0.20},
                         {"Nord America", 0.30, 0.25, 0.08, 0.20},  {"Local NY", 0.01, 0.01, 0.00, 0.02},
                         {"National US", 0.03, 0.02, 0.00, 0.03},   {"International US", 0.35, 0.30, 0.10, 0.25}};

void WriteCarrierFile(const std::string& path, const Carrier& c) {
  std::filesystem::remove(path);
  CreateCarrierDatabase(path, c.name, c.prefix);
  Db db(path);
  for (const Destination& d : kPlan) {
    db.Insert("Destinazioni", "sNazione,sArea,sDescrizioneNaz,sDescrizioneArea,sTipo,rLat,rLong",
              {d.naz, d.area, d.country, d.area_name, d.type, d.lat, d.lon});
    db.Insert("GruppoDiDestinazioni", "sDenominazione,sNazione,sArea", {d.group, d.naz, d.area});
  }
  const std::string from = dt::ToIsoText(dt::FromDate(2020, 1, 1)), to = dt::ToIsoText(dt::FromDate(2030, 12, 31));
  for (const Price& p : kPrices) {
    for (int day_type = 0; day_type <= 2; ++day_type) {
      struct Band {
        const char* name;
        std::string from, to;
        double price;
      };
      double holiday = day_type == 2 ? 0.7 : 1.0;
      const Band bands[] = {{"Off-peak", Time(0, 0), Time(8, 0), p.offpeak * holiday},
                            {"Peak", Time(8, 0), Time(19, 0), p.peak * holiday},
                            {"Off-peak", Time(19, 0), Time(23, 59, 59), p.offpeak * holiday}};
      for (const Band& b : bands) {
        // One duration step: the least-cost search prices a tariff by the
        // first step of its rows.
        db.Insert("Listino",
                  "sGruppoDest_e,iTipoGiorno_e,dDalleOre,dAlleOre,lDalKm,lAlKm,cCostoMinimo,cCostoRisposta,"
                  "cCostoMinuto,lDurataInizio,lDurataFine,iTempoComposizione,dValiditaDal,dValiditaAl,"
                  "sFasciaOraria_e,iArrotDurata,iTipoArrotDurata,iArrotCosto,iTipoArrotCosto,iDurataRisposta,"
                  "iDurataMinima",
                  {p.group, day_type, b.from, b.to, 0, 20000, p.minimum * c.factor, p.answer * c.factor,
                   b.price * c.factor, 0, 86400, 2, from, to, b.name, c.rounding, 3, 0.01, 2, 0, 5});
      }
    }
  }
  db.Finish();
}

struct Site {
  const char* code;
  const char* name;
  const char* country;
  const char* area;
  const char* pref_naz;
  const char* pref_area;
  const char* pref_int;
  const char* currency;
  const char* zone;
  const char* reference_carrier;
};
const Site kSites[] = {
    {"MI", "Milano", "Italia", "Milano", "39", "02", "00", "EUR", "W. Europe Standard Time", "Beta"},
    {"NY", "New York", "USA", "New York", "1", "212", "011", "USD", "Eastern Standard Time", "Alpha"}};

// Dialled numbers of each site: prefix and number of random digits.
struct Dial {
  const char* prefix;
  int digits;
  int weight;
};
const Dial kDialMI[] = {{"02", 7, 30}, {"0371", 6, 5}, {"06", 7, 10}, {"011", 7, 8}, {"055", 7, 5},  {"347", 7, 15},
                        {"335", 7, 8}, {"004420", 8, 4}, {"0033", 9, 3}, {"0049", 9, 3}, {"001212", 7, 3},
                        {"105502", 7, 3}, {"1055347", 7, 3}};
const Dial kDialNY[] = {{"212", 7, 50}, {"305", 7, 20}, {"415", 7, 10}, {"0113902", 7, 10}, {"0114420", 8, 10}};

}  // namespace

DemoInstallation WriteDemoInstallation(const std::string& directory, int calls) {
  namespace fs = std::filesystem;
  DemoInstallation demo;
  std::error_code ec;
  fs::create_directories(directory, ec);
  if (ec) throw ComponentError(kErrDemo, "Cannot create " + directory + ": " + ec.message());
  demo.directory = fs::absolute(directory).string();
  if (demo.directory.back() != '/') demo.directory += '/';
  demo.database = demo.directory + "ordalis.db";
  demo.registry_file = demo.directory + "registry.reg";
  fs::remove(demo.database);
  fs::create_directories(demo.directory + "Carrier");
  for (const Carrier& c : kCarriers) {
    demo.carrier_files.push_back(demo.directory + "Carrier/" + c.file);
    WriteCarrierFile(demo.carrier_files.back(), c);
  }
  for (const Site& s : kSites) demo.sites.push_back(s.code);
  CreateEngineDatabase(demo.database);
  {
    std::ofstream reg(demo.registry_file, std::ios::binary);
    reg << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Valmer\\Quarzo\\Processor]\r\n\"QueryTimeout\"=\"60\"\r\n";
  }

  Db db(demo.database);
  for (auto [section, entry, value] : {std::tuple{"Process", "Nazione", "39"},
                                       std::tuple{"Configurazione", "PrefissoInternazionale", "00"},
                                       std::tuple{"Configurazione", "Valuta", "EUR"},
                                       std::tuple{"Process", "DefaultPrivacy", "0"}})
    db.Insert("Opzioni", "sSection,sEntry,sValue,sDefault", {section, entry, value, value});
  for (const Carrier& c : kCarriers) {
    db.Insert("Carrier", "sNomeCarrier,sDbTariffe,sPrefissoInterconn",
              {c.name, std::string("Carrier/") + c.file, c.prefix});  // under the home: the folder can move
    if (*c.prefix) db.Insert("PrefissiInterconnessione", "sPrefisso", {c.prefix});
  }
  db.Insert("TimeZone", "sID,sName,sComments,iDeltaUTC,iDeltaDST,sStartDST,sStartSTD",
            {"W. Europe Standard Time", "Rome", "Central European Time", 60, 60, "3,0,1,5,2,0", "10,0,1,5,3,0"});
  db.Insert("TimeZone", "sID,sName,sComments,iDeltaUTC,iDeltaDST,sStartDST,sStartSTD",
            {"Eastern Standard Time", "New York", "Eastern Time", -300, 60, "3,0,1,2,2,0", "11,0,1,1,2,0"});
  db.Insert("Valute", "sDescrizione,sSimbolo,sCodice,iNumeroDecimali,sValutaRif,dblRapportoDiCambio",
            {"Euro", "EUR", "EUR", 2, "EUR", 1.0});
  db.Insert("Valute", "sDescrizione,sSimbolo,sCodice,iNumeroDecimali,sValutaRif,dblRapportoDiCambio",
            {"US Dollar", "$", "USD", 2, "EUR", 0.92});
  // Holidays are day type 2, like Sundays.
  for (auto [y, m, d] : {std::tuple{2024, 1, 1}, std::tuple{2024, 1, 6}, std::tuple{2024, 2, 19}})
    db.Insert("Calendario", "dData,iGiorno,iTipo", {dt::ToIsoText(dt::FromDate(y, m, d)), 0, 2});
  for (const Site& s : kSites) {
    db.Insert("Siti",
              "bAbilitaLog,sCodice,sNome,sCountryId,sAreaLocale,sPrefNazione,sPrefArea,sPrefInternazionale,sValuta,"
              "IDTimeZone,bAbilitaConfronto,sCarrierDiRifer,iAggiuntaAutomaticaTornel,iTipoGestioneDerivati,"
              "PrefNazione,PrefArea,PrefInternazionale,Valuta",
              {0, s.code, s.name, s.country, s.area, s.pref_naz, s.pref_area, s.pref_int, s.currency, s.zone, 1,
               s.reference_carrier, 1, 0, s.pref_naz, s.pref_area, s.pref_int, s.currency});
  }
  // LCR tables: Alpha carries Milan's calls, Gamma its mobile calls on line
  // L2 during office hours and any call dialled with its prefix; line L3 is
  // charged by metering pulses; New York uses Gamma, Alpha as fallback.
  auto lcr = [&](const char* site, const char* carrier, const char* group, const std::string& from,
                 const std::string& to, const char* line, int pulses, double pulse_price, int priority,
                 const char* kind) {
    db.Insert("CarrierSiti",
              "sSito_e,sCarrier_e,sGruppoDestinazioni,dDalle,dAlle,cCostoScatto,sTipoGruppo,sLinea,"
              "bTassazioneScatti,iPriorita",
              {site, carrier, group, from, to, pulse_price, kind, line, pulses, priority});
  };
  const std::string day_start = Time(0, 0), day_end = Time(23, 59, 59);
  for (const char* group : {"Locale MI", "Nazionale", "Mobile IT", "Europa", "Nord America"}) {
    lcr("MI", "Alpha", group, day_start, day_end, "All", 0, 0, 2, "");
    lcr("MI", "Gamma", group, day_start, day_end, "All", 0, 0, 5, "");
  }
  lcr("MI", "Gamma", "Mobile IT", Time(8, 0), Time(20, 0), "L2", 0, 0, 1, "");
  lcr("MI", "Beta", "Locale MI", day_start, day_end, "L3", 1, 0.05, 1, "");
  for (const char* group : {"Local NY", "National US", "International US"}) {
    lcr("NY", "Gamma", group, day_start, day_end, "All", 0, 0, 1, "");
    lcr("NY", "Alpha", group, day_start, day_end, "All", 0, 0, 3, "");
  }
  // About 200 extensions: every 25th with privacy, every 40th a swing
  // extension, every 30th with a markup.
  const char* departments[] = {"Sales", "Support", "Finance", "R&D", "Logistics"};
  for (int i = 0; i < 200; ++i)
    db.Insert("Derivati",
              "sNumero,sNome,sSito,sReparto,sCentroDiCosto,sUbicazione,iPrivacy,sSedeFisica,bSwing,rRicaricoCosto,"
              "lTotMinuti,lTotChiamate,cTotCosto",
              {std::to_string(200 + i), "User " + std::to_string(i + 1), kSites[i % 2].code, departments[i % 5],
               "CC" + std::to_string(i % 7), "Floor " + std::to_string(i % 4), i % 25 == 0 ? 3 : 0,
               kSites[i % 2].name, i % 40 == 0 ? 1 : 0, i % 30 == 0 ? 10.0 : 0.0, 0, 0, 0});

  std::mt19937 rng(20240101);
  auto pick = [&](const Dial* dials, std::size_t n) {
    int total = 0;
    for (std::size_t i = 0; i < n; ++i) total += dials[i].weight;
    int r = static_cast<int>(rng() % total);
    for (std::size_t i = 0; i < n; ++i)
      if ((r -= dials[i].weight) < 0) return dials[i];
    return dials[0];
  };
  // A pool of numbers per site so that numbers recur; the first of them are
  // in the phone book.
  std::vector<std::string> pool[2];
  for (int site = 0; site < 2; ++site) {
    for (int i = 0; i < 3000; ++i) {
      Dial d = site == 0 ? pick(kDialMI, std::size(kDialMI)) : pick(kDialNY, std::size(kDialNY));
      std::string number = d.prefix;
      for (int k = 0; k < d.digits; ++k) number += static_cast<char>('0' + rng() % 10);
      pool[site].push_back(number);
      if (i < 400)
        db.Insert("Rubrica", "sNumero,sNome,sLocalita,lTotaleSelezioniO,lTotaleSelezioniI",
                  {number, "Contact " + std::to_string(site * 1000 + i), kSites[site].name, 0, 0});
    }
  }
  DateTime first_day = dt::FromDate(2024, 1, 1);
  demo.first_day = first_day;
  demo.last_day = first_day + 59;
  for (int i = 0; i < calls; ++i) {
    int site = static_cast<int>(rng() % 2);
    std::string day = dt::ToIsoText(first_day + static_cast<int>(rng() % 60));
    std::string time = Time(7 + static_cast<int>(rng() % 13), static_cast<int>(rng() % 60), static_cast<int>(rng() % 60));
    std::string duration = dt::ToIsoText(static_cast<double>(rng() % 20 == 0 ? 0 : 3 + rng() % 900) / 86400);
    std::string extension = std::to_string(200 + site + 2 * static_cast<int>(rng() % 100));
    if (i % 10 == 9) {
      db.Insert("CHIAMATEINTERNE", "dData,DORA,DDURATA,SNUMERO,SSITO,SDERIVATO,STIPO,ISTATO",
                {day, time, duration, std::to_string(200 + site + 2 * static_cast<int>(rng() % 100)),
                 kSites[site].code, extension, "E", 0});
      ++demo.internal_calls;
      continue;
    }
    const std::string& number = pool[site][rng() % pool[site].size()];
    std::string line = "L" + std::to_string(1 + rng() % 3);
    int pulses = line == "L3" ? static_cast<int>(rng() % 12) : 0;
    db.Insert("CHIAMATE", "dData,DORA,DDURATA,DRISPOSTA,SNUMERO,SSITO,SDERIVATO,STIPO,SLINEA,ISTATO,LSCATTI",
              {day, time, duration, Time(0, 0, static_cast<int>(rng() % 10)), number, kSites[site].code, extension,
               "O", line, 0, pulses});
    ++demo.calls;
  }
  db.Finish();
  return demo;
}

}  // namespace ordalis
