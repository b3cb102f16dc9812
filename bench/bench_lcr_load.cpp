// Loading one site's LCR table: 30 CarrierSiti entries spread over three
// carrier tariff files, whose groups hold 10,000 destinations in all, each
// group with a handful of tariffs of three duration steps. Prints the time
// of clsLcrs::Cache (the engine's Carrier/CarrierSiti rows, then every
// entry's members, the site's area and the tariffs from its carrier file).
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "ordalis/clsChiamate.h"
#include "tariffs/SitoLcr.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"
#include "tariffs/clsTariffe.h"

using namespace ordalis;

namespace {

constexpr int kCarriers = 3;
constexpr int kEntries = 30;
constexpr int kDestinations = 10000;
constexpr int kTariffDays = 3;   // day types per group
constexpr int kTariffBands = 2;  // time windows per day type
constexpr int kSteps = 3;        // duration steps per tariff

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open " + path);
    Exec("BEGIN");
  }
  ~Db() {
    Exec("COMMIT");
    sqlite3_close(db_);
  }
  void Exec(const std::string& sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
      std::string text = msg ? msg : "";
      sqlite3_free(msg);
      throw std::runtime_error(text + " in " + sql);
    }
  }

 private:
  sqlite3* db_ = nullptr;
};

// Carrier file c holds the whole plan (10,000 national areas) and the groups
// of its ten entries; group g of carrier c holds 1/30 of the areas.
void MakeCarrierFile(const std::string& path, int c) {
  Db db(path);
  db.Exec(
      "CREATE TABLE Carrier (NomeCarrier TEXT, sPrefissoInterconn TEXT);"
      "CREATE TABLE Destinazioni (sNazione TEXT, sArea TEXT, sDescrizioneNaz TEXT, sDescrizioneArea TEXT, "
      "sTipo TEXT, rLat REAL, rLong REAL, PRIMARY KEY (sNazione, sArea));"
      "CREATE TABLE GruppoDiDestinazioni (sDenominazione TEXT, sNazione TEXT, sArea TEXT);"
      "CREATE INDEX GD_Den ON GruppoDiDestinazioni (sDenominazione);"
      "CREATE TABLE Listino (sGruppoDest_e TEXT, iTipoGiorno_e INTEGER, dDalleOre TEXT, dAlleOre TEXT, "
      "lDalKm INTEGER, lAlKm INTEGER, cCostoMinimo REAL, cCostoRisposta REAL, cCostoMinuto REAL, "
      "lDurataInizio INTEGER, lDurataFine INTEGER, iTempoComposizione INTEGER, dValiditaDal TEXT, "
      "dValiditaAl TEXT, sFasciaOraria_e TEXT, iArrotDurata INTEGER, iTipoArrotDurata INTEGER, "
      "iArrotCosto REAL, iTipoArrotCosto INTEGER, iDurataRisposta INTEGER, iDurataMinima INTEGER);"
      "CREATE INDEX L_Grp ON Listino (sGruppoDest_e);");
  db.Exec("INSERT INTO Carrier VALUES ('Carrier " + std::to_string(c) + "', '10" + std::to_string(c) + "')");
  for (int i = 0; i < kDestinations; ++i) {
    const std::string area = "0" + std::to_string(100000 + i * 7);
    db.Exec("INSERT INTO Destinazioni VALUES ('39','" + area + "','Italia','Area " + std::to_string(i) +
            "','National',41.9,12.5)");
    const int entry = i % kEntries;
    if (entry / (kEntries / kCarriers) == c)
      db.Exec("INSERT INTO GruppoDiDestinazioni VALUES ('Gruppo " + std::to_string(entry) + "','39','" + area + "')");
  }
  db.Exec("INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','Local',41.9,12.5)");
  for (int e = c * (kEntries / kCarriers); e < (c + 1) * (kEntries / kCarriers); ++e)
    for (int day = 1; day <= kTariffDays; ++day)
      for (int band = 0; band < kTariffBands; ++band)
        for (int step = 0; step < kSteps; ++step)
          db.Exec("INSERT INTO Listino VALUES ('Gruppo " + std::to_string(e) + "'," + std::to_string(day) +
                  ",'1899-12-30 " + (band ? "18" : "08") + ":00:00','1899-12-30 " + (band ? "08" : "18") +
                  ":00:00',0,100,0.1,0.05,0.2," + std::to_string(step * 60) + "," + std::to_string(step * 60 + 60) +
                  ",0,'2024-01-01','2030-12-31','F',60,1,0.01,2,0,0)");
}

}  // namespace

int main() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "ordalis-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  const std::filesystem::path dir = tmpl;
  {
    Db engine_db((dir / "engine.db").string());
    engine_db.Exec(
        "CREATE TABLE Carrier (sNomeCarrier TEXT, sDbTariffe TEXT, sPrefissoInterconn TEXT);"
        "CREATE TABLE CarrierSiti (sSito_e TEXT, sCarrier_e TEXT, sGruppoDestinazioni TEXT, dDalle TEXT, "
        "dAlle TEXT, cCostoScatto REAL, sTipoGruppo TEXT, sLinea TEXT, bTassazioneScatti INTEGER, iPriorita TEXT);");
    for (int c = 0; c < kCarriers; ++c) {
      const std::string file = (dir / ("carrier" + std::to_string(c) + ".mdb")).string();
      MakeCarrierFile(file, c);
      engine_db.Exec("INSERT INTO Carrier VALUES ('Carrier " + std::to_string(c) + "','" + file + "','10" +
                     std::to_string(c) + "')");
    }
    for (int e = 0; e < kEntries; ++e)
      engine_db.Exec("INSERT INTO CarrierSiti VALUES ('S1','Carrier " + std::to_string(e / (kEntries / kCarriers)) +
                     "','Gruppo " + std::to_string(e) + "',NULL,NULL,0,'National','All',0,'" + std::to_string(e % 3) +
                     "')");
  }

  clsChiamate engine;
  auto conn = rdo::RdoEnvironment::Default().OpenConnection("", false, false,
                                                            "DBQ=" + (dir / "engine.db").string() + ";");
  std::shared_ptr<clsDestinazione> site_area;
  SitoLcr site{"S1", "39", "06", &site_area};

  double best = 1e9;
  std::size_t destinations = 0, tariffs = 0, entries = 0;
  for (int run = 0; run < 3; ++run) {
    clsLcrs lcrs(&engine, conn.get());
    site_area.reset();
    const auto start = std::chrono::steady_clock::now();
    lcrs.Cache(ctPreload, site);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, seconds);
    destinations = tariffs = 0;
    entries = lcrs.Lcrs().Count();
    for (const auto& lcr : lcrs.Lcrs()) {
      if (lcr->Destinazioni()) destinations += lcr->Destinazioni()->Destinazioni().Count();
      if (lcr->Tariffe()) tariffs += lcr->Tariffe()->Tariffe.Count();
    }
    std::printf("run %d: %.3f s\n", run + 1, seconds);
  }
  std::printf("LCR load: %zu entries, %zu destinations, %zu tariffs from %d carrier files: best %.3f s (target <= 2 s)\n",
              entries, destinations, tariffs, kCarriers, best);
  if (!engine.Errore().empty()) std::printf("engine error: %s\n", engine.Errore().c_str());
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
