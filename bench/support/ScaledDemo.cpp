#include "ScaledDemo.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), error ? error : "?");
    std::exit(1);
  }
}

}  // namespace

void ScaleUpDemo(const ordalis::DemoInstallation& demo) {
  for (const std::string& file : demo.carrier_files) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    Exec(db, "BEGIN");
    Exec(db,
         "WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 20099) "
         "INSERT INTO Destinazioni (sNazione, sArea, sDescrizioneNaz, sDescrizioneArea, sTipo, rLat, rLong) "
         "SELECT '39', '09' || i, 'Italia', 'Area ' || i, 'National', 40 + (i % 700) / 100.0, 9 + (i % 500) / 100.0 "
         "FROM n");
    Exec(db,
         "WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 20099) "
         "INSERT INTO GruppoDiDestinazioni (sDenominazione, sNazione, sArea) SELECT 'Nazionale', '39', '09' || i FROM n");
    Exec(db, "COMMIT");
    sqlite3_close(db);
  }
  sqlite3* db = nullptr;
  sqlite3_open(demo.database.c_str(), &db);
  Exec(db, "BEGIN");
  // Each site gets 30 entries: the existing ones plus Beta entries of low
  // precedence on further lines.
  for (const char* site : {"MI", "NY"}) {
    Exec(db, std::string("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30) "
                         "INSERT INTO CarrierSiti (sSito_e, sCarrier_e, sGruppoDestinazioni, dDalle, dAlle, "
                         "cCostoScatto, sTipoGruppo, sLinea, bTassazioneScatti, iPriorita) "
                         "SELECT '") + site + "', 'Beta', CASE WHEN '" + site +
                 "' = 'MI' THEN 'Nazionale' ELSE 'National US' END, '1899-12-30 00:00:00', "
                 "'1899-12-30 23:59:59', 0, '', 'X' || i, 0, 9 FROM n "
                 "WHERE i <= 30 - (SELECT COUNT(*) FROM CarrierSiti WHERE sSito_e = '" + site + "')");
  }
  Exec(db,
       "WITH RECURSIVE n(i) AS (SELECT 400 UNION ALL SELECT i + 1 FROM n WHERE i < 2199) "
       "INSERT INTO Derivati (sNumero, sNome, sSito, sReparto, iPrivacy, bSwing, rRicaricoCosto, lTotMinuti, "
       "lTotChiamate, cTotCosto) SELECT i, 'User ' || i, CASE i % 2 WHEN 0 THEN 'MI' ELSE 'NY' END, 'Sales', 0, 0, 0, "
       "0, 0, 0 FROM n");
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

