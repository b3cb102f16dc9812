#include "ordalis/Demo.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "engine/rdo/SqlQuote.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/DateTime.h"

namespace ordalis {
namespace {

constexpr std::int32_t kErrDemo = 75;

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) Fail("open");
  }
  ~Db() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(sql);
    return st;
  }
  void Step(sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE) Fail("insert");
    sqlite3_reset(st);
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw ComponentError(kErrDemo, "Demo installation: " + what + ": " + sqlite3_errmsg(db_));
  }

 private:
  sqlite3* db_ = nullptr;
};

void BindText(sqlite3_stmt* st, int i, const std::string& s) {
  sqlite3_bind_text(st, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

struct Site {
  const char* code;
  const char* name;
  const char* country;
  const char* area;
  const char* pref_naz;
  const char* pref_area;
  const char* zone;
};
const Site kSites[] = {{"MI", "Milano", "Italia", "Milano", "39", "02", "W. Europe Standard Time"},
                       {"NY", "New York", "USA", "New York", "1", "212", "Eastern Standard Time"}};

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
  const char* carriers[][2] = {{"Alpha", "alpha.mdb"}, {"Beta", "beta.mdb"}, {"Gamma", "gamma.mdb"}};
  for (auto& c : carriers) {
    std::string file = demo.directory + "Carrier/" + c[1];
    fs::remove(file);
    CreateCarrierDatabase(file, c[0], "");
  }
  CreateEngineDatabase(demo.database);
  {
    std::ofstream reg(demo.registry_file, std::ios::binary);
    reg << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Valmer\\Quarzo\\Processor]\r\n\"QueryTimeout\"=\"60\"\r\n";
  }

  Db db(demo.database);
  db.Exec("BEGIN");
  db.Exec("INSERT INTO Opzioni VALUES ('Process','Nazione','39','39'),"
          "('Configurazione','PrefissoInternazionale','00','00'),('Configurazione','Valuta','EUR',''),"
          "('Process','DefaultPrivacy','0','0')");
  for (auto& c : carriers)
    db.Exec("INSERT INTO Carrier (sNomeCarrier, sDbTariffe, sPrefissoInterconn) VALUES ('" + std::string(c[0]) +
            "', " + rdo::SqlQuote(demo.directory + "Carrier/" + c[1]) + ", '')");
  for (const Site& s : kSites)
    db.Exec(std::string("INSERT INTO Siti (bAbilitaLog, sCodice, sNome, sCountryId, sAreaLocale, sPrefNazione, "
                        "sPrefArea, sPrefInternazionale, sValuta, IDTimeZone, bAbilitaConfronto, sCarrierDiRifer, "
                        "PrefNazione) VALUES (0, '") +
            s.code + "', '" + s.name + "', '" + s.country + "', '" + s.area + "', '" + s.pref_naz + "', '" +
            s.pref_area + "', '00', 'EUR', '" + s.zone + "', 1, 'Beta', '" + s.pref_naz + "')");
  // About 200 extensions over the two sites.
  sqlite3_stmt* ext = db.Prepare(
      "INSERT INTO Derivati (sNumero, sNome, sSito, sReparto, sCentroDiCosto, iPrivacy, bSwing, rRicaricoCosto) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  const char* departments[] = {"Sales", "Support", "Finance", "R&D", "Logistics"};
  for (int i = 0; i < 200; ++i) {
    BindText(ext, 1, std::to_string(200 + i));
    BindText(ext, 2, "User " + std::to_string(i + 1));
    BindText(ext, 3, kSites[i % 2].code);
    BindText(ext, 4, departments[i % 5]);
    BindText(ext, 5, "CC" + std::to_string(i % 7));
    sqlite3_bind_int(ext, 6, i % 25 == 0 ? 3 : 0);
    sqlite3_bind_int(ext, 7, i % 40 == 0);
    sqlite3_bind_double(ext, 8, i % 30 == 0 ? 0.1 : 0);
    db.Step(ext);
  }
  sqlite3_finalize(ext);

  // Calls over two months: mostly outgoing, some internal.
  std::mt19937 rng(20240101);
  sqlite3_stmt* call = db.Prepare(
      "INSERT INTO CHIAMATE (dData, DORA, DDURATA, DRISPOSTA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, "
      "LSCATTI) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?)");
  sqlite3_stmt* internal = db.Prepare(
      "INSERT INTO CHIAMATEINTERNE (dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, ISTATO) "
      "VALUES (?, ?, ?, ?, ?, ?, 'E', 0)");
  const char* prefixes[] = {"02", "06", "011", "333", "347", "0044", "0033", "001212", "0049"};
  DateTime first_day = dt::FromDate(2024, 1, 1);
  for (int i = 0; i < calls; ++i) {
    int site = static_cast<int>(rng() % 2);
    std::string day = dt::ToIsoText(first_day + static_cast<int>(rng() % 60));
    std::string time = dt::ToIsoText(dt::FromTime(7 + static_cast<int>(rng() % 13), static_cast<int>(rng() % 60),
                                                  static_cast<int>(rng() % 60)));
    std::string duration = dt::ToIsoText(static_cast<double>(5 + rng() % 900) / 86400);
    std::string extension = std::to_string(200 + site + 2 * static_cast<int>(rng() % 100));
    if (i % 10 == 9) {
      BindText(internal, 1, day);
      BindText(internal, 2, time);
      BindText(internal, 3, duration);
      BindText(internal, 4, std::to_string(200 + site + 2 * static_cast<int>(rng() % 100)));
      BindText(internal, 5, kSites[site].code);
      BindText(internal, 6, extension);
      db.Step(internal);
      ++demo.internal_calls;
      continue;
    }
    std::string number = prefixes[rng() % std::size(prefixes)];
    for (int d = 0; d < 7; ++d) number += static_cast<char>('0' + rng() % 10);
    BindText(call, 1, day);
    BindText(call, 2, time);
    BindText(call, 3, duration);
    BindText(call, 4, "1899-12-30 00:00:0" + std::to_string(rng() % 10));
    BindText(call, 5, number);
    BindText(call, 6, kSites[site].code);
    BindText(call, 7, extension);
    BindText(call, 8, "O");
    BindText(call, 9, "L" + std::to_string(1 + rng() % 2));
    sqlite3_bind_int(call, 10, 0);
    db.Step(call);
    ++demo.calls;
  }
  sqlite3_finalize(call);
  sqlite3_finalize(internal);
  db.Exec("COMMIT");
  return demo;
}

}  // namespace ordalis
