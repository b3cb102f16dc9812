#pragma once
// Test helper: the engine's Carrier/CarrierSiti tables and carrier tariff
// files as SQLite files.
#include <string>

#include "numbering/SqliteFile.h"

namespace ordalis::testing {

inline constexpr char kListinoDdl[] =
    "CREATE TABLE Listino (sGruppoDest_e TEXT, iTipoGiorno_e INTEGER, dDalleOre TEXT, dAlleOre TEXT, "
    "lDalKm INTEGER, lAlKm INTEGER, cCostoMinimo REAL, cCostoRisposta REAL, cCostoMinuto REAL, "
    "lDurataInizio INTEGER, lDurataFine INTEGER, iTempoComposizione INTEGER, dValiditaDal TEXT, "
    "dValiditaAl TEXT, sFasciaOraria_e TEXT, iArrotDurata INTEGER, iTipoArrotDurata INTEGER, "
    "iArrotCosto REAL, iTipoArrotCosto INTEGER, iDurataRisposta INTEGER, iDurataMinima INTEGER);";

// A Listino row with the usual values; override columns by editing the text.
inline std::string ListinoRow(const std::string& group, int tipo_giorno, const std::string& dalle,
                              long durata_inizio, long durata_fine, double costo_minuto) {
  return "INSERT INTO Listino VALUES (" + Quote(group) + "," + std::to_string(tipo_giorno) + ",'" + dalle +
         "','1899-12-30 23:59:59',0,100,0.2,0.15," + std::to_string(costo_minuto) + "," +
         std::to_string(durata_inizio) + "," + std::to_string(durata_fine) +
         ",0,'2024-01-01','2030-12-31','Piena',60,1,0.01,2,5,30);";
}

// A carrier tariff file: Carrier, Listino, Destinazioni, GruppoDiDestinazioni.
inline void MakeCarrierFile(const std::string& path, const std::string& name, const std::string& prefix,
                            const std::string& rows) {
  ExecSql(path, std::string(kDestinazioniDdl) + kListinoDdl +
                    "CREATE TABLE Carrier (NomeCarrier TEXT, sPrefissoInterconn TEXT);"
                    "INSERT INTO Carrier VALUES (" +
                    Quote(name) + "," + Quote(prefix) + ");" + rows);
}

// The engine's database: Carrier and CarrierSiti.
inline void MakeEngineDb(const std::string& path, const std::string& rows) {
  ExecSql(path,
          "CREATE TABLE Carrier (sNomeCarrier TEXT, sDbTariffe TEXT, sPrefissoInterconn TEXT);"
          "CREATE TABLE CarrierSiti (sSito_e TEXT, sCarrier_e TEXT, sGruppoDestinazioni TEXT, dDalle TEXT, "
          "dAlle TEXT, cCostoScatto REAL, sTipoGruppo TEXT, sLinea TEXT, bTassazioneScatti INTEGER, iPriorita TEXT);" +
              rows);
}

}  // namespace ordalis::testing
