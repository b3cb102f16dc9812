// Data-access layer against the plain sqlite3 C API on a call table shaped
// like CHIAMATE (about 60 columns): reading every column of every row, and
// updating 15 computed columns of every row. Prints rows/s for both and the
// layer/raw ratio, plus peak memory (the layer streams: it must not grow
// with the row count).
//
// Usage: bench_data_access [rows]   (or ORDALIS_BENCH_ROWS; default 1000000)
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/DateTime.h"
#include "ordalis/Money.h"

using namespace ordalis;
using Clock = std::chrono::steady_clock;

namespace {

struct Col {
  const char* name;
  const char* type;
};

const std::vector<Col> kColumns = {
    {"lPKId", "INTEGER PRIMARY KEY"}, {"dData", "DATETIME"}, {"dOra", "DATETIME"}, {"dDurata", "DATETIME"},
    {"dRisposta", "DATETIME"}, {"sNumero", "VARCHAR(40)"}, {"sDerivato", "VARCHAR(20)"}, {"sSito", "VARCHAR(20)"},
    {"sLinea", "VARCHAR(20)"}, {"sTipo", "VARCHAR(10)"}, {"lScatti", "INTEGER"}, {"cCosto1_c", "MONEY"},
    {"cCosto2_c", "MONEY"}, {"cTariffa_c", "MONEY"}, {"cDifferenza_c", "MONEY"}, {"rDifferenzaPerc_c", "REAL"},
    {"iStato", "INTEGER"}, {"sGiorno_c", "VARCHAR(10)"}, {"sFasciaOraria_c", "VARCHAR(20)"},
    {"sCarrier1_c", "VARCHAR(30)"}, {"sCarrier2_c", "VARCHAR(30)"}, {"sReparto_c", "VARCHAR(50)"},
    {"sReparto2_c", "VARCHAR(50)"}, {"sCentroDiCosto_c", "VARCHAR(50)"}, {"sCentroDiCosto2_c", "VARCHAR(50)"},
    {"sNomeDerivato_c", "VARCHAR(50)"}, {"sTipoDestinazione_c", "VARCHAR(30)"}, {"sNome_c", "VARCHAR(50)"},
    {"sNazione_c", "VARCHAR(30)"}, {"sArea_c", "VARCHAR(30)"}, {"sEsitoChiamata_c", "VARCHAR(10)"},
    {"sCommessa", "VARCHAR(30)"}, {"sValuta", "VARCHAR(5)"}, {"sValutaRif", "VARCHAR(5)"},
    {"dblRapportoCambio", "DOUBLE"}, {"dUTCTime", "DATETIME"}, {"dGatewayTime", "DATETIME"},
    {"sSedeFisica", "VARCHAR(30)"}, {"sSedeFisica2", "VARCHAR(30)"}, {"sNomeGruppo", "VARCHAR(30)"},
    {"iDaScartare", "INTEGER"}, {"sCampo1", "VARCHAR(50)"}, {"sCampo2", "VARCHAR(50)"}, {"sCampo3", "VARCHAR(50)"},
    {"sCampo4", "VARCHAR(50)"}, {"sTrunk", "VARCHAR(20)"}, {"sCodiceProgetto", "VARCHAR(20)"},
    {"sOperatore", "VARCHAR(20)"}, {"lDurataSec_c", "INTEGER"}, {"cCostoRif_c", "MONEY"},
    {"sPrefisso_c", "VARCHAR(20)"}, {"sDestinazione_c", "VARCHAR(50)"}, {"bInternazionale_c", "BIT"},
    {"bMobile_c", "BIT"}, {"sNote", "VARCHAR(100)"}, {"lIdCarrier_c", "INTEGER"}, {"lIdTariffa_c", "INTEGER"},
    {"sCliId", "VARCHAR(30)"}, {"sCentralino", "VARCHAR(20)"}, {"sFlag", "VARCHAR(5)"},
};

// The 15 columns the engine computes and writes back for each call.
const char* kComputed[] = {"cCosto1_c",      "cCosto2_c",       "cTariffa_c",          "cDifferenza_c",
                           "rDifferenzaPerc_c", "sGiorno_c",    "sFasciaOraria_c",     "sCarrier1_c",
                           "sReparto_c",     "sCentroDiCosto_c", "sTipoDestinazione_c", "sNazione_c",
                           "sEsitoChiamata_c", "iStato",        "lDurataSec_c"};

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

long PeakKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void Create(const std::string& path, long rows) {
  sqlite3* db;
  Check(sqlite3_open(path.c_str(), &db), db);
  std::string ddl = "CREATE TABLE CHIAMATE (", ins = "INSERT INTO CHIAMATE VALUES (";
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    ddl += std::string(i ? ", " : "") + kColumns[i].name + " " + kColumns[i].type;
    ins += i ? ", ?" : "?";
  }
  Check(sqlite3_exec(db, (ddl + ")").c_str(), nullptr, nullptr, nullptr), db);
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  sqlite3_stmt* st;
  Check(sqlite3_prepare_v2(db, (ins + ")").c_str(), -1, &st, nullptr), db);
  for (long r = 1; r <= rows; ++r) {
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
      int p = static_cast<int>(i) + 1;
      std::string type = kColumns[i].type;
      char text[64];
      if (i == 0) {
        sqlite3_bind_int64(st, p, r);
      } else if (type == "DATETIME") {
        std::string iso = dt::ToIsoText(45000 + r / 1000.0 + i);
        sqlite3_bind_text(st, p, iso.c_str(), -1, SQLITE_TRANSIENT);
      } else if (type == "MONEY" || type == "REAL" || type == "DOUBLE") {
        sqlite3_bind_double(st, p, (r % 10000) / 100.0);
      } else if (type == "INTEGER" || type == "BIT") {
        sqlite3_bind_int64(st, p, type == "BIT" ? r % 2 : r % 1000);
      } else {
        std::snprintf(text, sizeof text, "%s-%ld", kColumns[i].name, r % 997);
        sqlite3_bind_text(st, p, text, -1, SQLITE_TRANSIENT);
      }
    }
    Check(sqlite3_step(st), db);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

// Every column of every row through the layer.
double LayerRead(const std::string& path, long& checksum) {
  rdo::RdoConnection c;
  c.SetConnect("Driver={Microsoft Access Driver (*.mdb)};DBQ=" + path + ";");
  c.EstablishConnection();
  auto start = Clock::now();
  auto rs = c.OpenResultset("SELECT * FROM CHIAMATE", rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
  long rows = 0;
  const int n = rs->ColumnCount();
  for (; !rs->Eof(); rs->MoveNext(), ++rows)
    for (int i = 0; i < n; ++i) checksum += static_cast<long>(rs->Value(i).kind());
  return rows / Seconds(start);
}

double RawRead(const std::string& path, long& checksum) {
  sqlite3* db;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), db);
  auto start = Clock::now();
  sqlite3_stmt* st;
  Check(sqlite3_prepare_v2(db, "SELECT * FROM CHIAMATE", -1, &st, nullptr), db);
  long rows = 0;
  const int n = sqlite3_column_count(st);
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++rows;
    for (int i = 0; i < n; ++i) {
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER: checksum += sqlite3_column_int64(st, i) & 1; break;
        case SQLITE_FLOAT: checksum += sqlite3_column_double(st, i) > 0; break;
        case SQLITE_TEXT: checksum += sqlite3_column_bytes(st, i) & 1; break;
        default: break;
      }
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows / Seconds(start);
}

double LayerUpdate(const std::string& path, int pass) {
  rdo::RdoConnection c;
  c.SetConnect("DBQ=" + path);
  c.EstablishConnection();
  auto start = Clock::now();
  auto rs = c.OpenResultset("SELECT * FROM CHIAMATE", rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
  int idx[15];
  for (int k = 0; k < 15; ++k) idx[k] = rs->ColumnIndex(kComputed[k]);
  long rows = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++rows) {
    long id = rs->Value(0).ToInteger();
    rs->Edit();
    for (int k = 0; k < 4; ++k) rs->SetValue(idx[k], Money::FromRaw(id * 7 + k + pass));
    rs->SetValue(idx[4], (id % 100) / 3.0 + pass);
    for (int k = 5; k < 13; ++k) rs->SetValue(idx[k], std::string(kComputed[k]).substr(1, 8) + std::to_string(pass));
    rs->SetValue(idx[13], 1 + pass);
    rs->SetValue(idx[14], static_cast<int>(id % 3600));
    rs->Update();
  }
  rs->Close();
  c.Close();
  return rows / Seconds(start);
}

// The same loop on the C API, committing every 20000 rows like the layer.
double RawUpdate(const std::string& path, int pass) {
  sqlite3* db;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), db);
  Check(sqlite3_exec(db, "PRAGMA cache_size = -65536", nullptr, nullptr, nullptr), db);  // as the layer
  auto start = Clock::now();
  sqlite3_stmt *sel, *upd;
  Check(sqlite3_prepare_v2(db, "SELECT * FROM CHIAMATE", -1, &sel, nullptr), db);
  std::string sql = "UPDATE CHIAMATE SET ";
  for (int k = 0; k < 15; ++k) sql += std::string(k ? ", " : "") + kComputed[k] + " = ?";
  Check(sqlite3_prepare_v2(db, (sql + " WHERE lPKId = ?").c_str(), -1, &upd, nullptr), db);
  Check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
  long rows = 0, checksum = 0;
  const int n = sqlite3_column_count(sel);
  while (sqlite3_step(sel) == SQLITE_ROW) {
    for (int i = 0; i < n; ++i) checksum += sqlite3_column_type(sel, i);
    long id = sqlite3_column_int64(sel, 0);
    for (int k = 0; k < 4; ++k) sqlite3_bind_double(upd, k + 1, Money::FromRaw(id * 7 + k + pass).ToDouble());
    sqlite3_bind_double(upd, 5, (id % 100) / 3.0 + pass);
    for (int k = 5; k < 13; ++k) {
      std::string t = std::string(kComputed[k]).substr(1, 8) + std::to_string(pass);
      sqlite3_bind_text(upd, k + 1, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    }
    sqlite3_bind_int(upd, 14, 1 + pass);
    sqlite3_bind_int(upd, 15, static_cast<int>(id % 3600));
    sqlite3_bind_int64(upd, 16, id);
    Check(sqlite3_step(upd), db);
    sqlite3_reset(upd);
    if (++rows % 20000 == 0) {
      Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
      Check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
    }
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_finalize(sel);
  sqlite3_finalize(upd);
  sqlite3_close(db);
  if (checksum < 0) std::puts("");
  return rows / Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 1000000;
  if (const char* env = std::getenv("ORDALIS_BENCH_ROWS")) rows = std::atol(env);
  if (argc > 1) rows = std::atol(argv[1]);
  char dir[] = "/tmp/ordalis-bench-XXXXXX";
  if (!::mkdtemp(dir)) return 1;
  std::string path = std::string(dir) + "/chiamate.mdb";
  auto start = Clock::now();
  Create(path, rows);
  std::printf("created %ld rows x %zu columns in %.1f s\n", rows, kColumns.size(), Seconds(start));
  long sum = 0;
  long before = PeakKb();
  double raw_read = RawRead(path, sum);
  double layer_read = LayerRead(path, sum);
  long after = PeakKb();
  std::printf("read   raw %10.0f rows/s   layer %10.0f rows/s   layer/raw %.2f\n", raw_read, layer_read,
              layer_read / raw_read);
  double raw_update = RawUpdate(path, 1);
  double layer_update = LayerUpdate(path, 2);
  std::printf("update raw %10.0f rows/s   layer %10.0f rows/s   layer/raw %.2f\n", raw_update, layer_update,
              layer_update / raw_update);
  std::printf("peak memory %ld kB before reading, %ld kB after reading %ld rows through the layer\n", before, after,
              rows);
  std::system((std::string("rm -rf ") + dir).c_str());
  return sum == 42 ? 2 : 0;
}
