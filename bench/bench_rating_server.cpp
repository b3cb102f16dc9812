// End-to-end batch rating on PostgreSQL through psqlODBC, against a plain
// ODBC loop over the same rows.
//
// bench_rating_server [calls] (default 100000): starts a private PostgreSQL
// server, writes the demo installation with that many stored calls scaled up
// to a real plan (ScaleUpDemo), copies its engine database into the server
// with the library's copy, rates the calls with the engine (Init, Process,
// statistics written at the end), then runs a plain loop that reads every
// column of every call (row by row, SQLGetData) through one connection and
// writes the columns a rating writes with one prepared UPDATE per row,
// committed every 10,000 rows, through another. Prints both rates, their
// ratio and the peak memory of the process.
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "PgCluster.h"
#include "ScaledDemo.h"
#include "demo/Demo.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DatabaseCopy.h"
#include "ordalis/clsChiamate.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Busy CPU time of the whole machine (every process, the server included),
// from /proc/stat.
double MachineBusySeconds() {
  std::FILE* f = std::fopen("/proc/stat", "r");
  if (!f) return 0;
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  const int read = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle,
                               &iowait, &irq, &softirq, &steal);
  std::fclose(f);
  if (read != 8) return 0;
  return static_cast<double>(user + nice + system + irq + softirq + steal) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
  SQLCHAR state[6] = {}, message[1024] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
  std::fprintf(stderr, "%s: %s (%s)\n", what, message, state);
  std::exit(1);
}

SQLHDBC Connect(SQLHENV env, const std::string& connect) {
  SQLHDBC dbc = nullptr;
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  Check(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "connect");
  Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0), SQL_HANDLE_DBC, dbc,
        "autocommit");
  return dbc;
}

// Reads every column of every call and writes the columns a rating writes,
// with constant values of the kinds and sizes a rating gives them.
long PlainLoop(const std::string& connect) {
  SQLHENV env = nullptr;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  // The reader streams through a server cursor in a transaction of its own.
  SQLHDBC reader = Connect(env, connect + "UseDeclareFetch=1;Fetch=1000;");
  SQLHDBC writer = Connect(env, connect);
  SQLHSTMT read = nullptr, write = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, reader, &read);
  SQLAllocHandle(SQL_HANDLE_STMT, writer, &write);
  Check(SQLExecDirect(read, (SQLCHAR*)"SELECT * FROM CHIAMATE", SQL_NTS), SQL_HANDLE_STMT, read, "select");
  Check(SQLPrepare(write,
                   (SQLCHAR*)"UPDATE CHIAMATE SET sGiorno_c=?, SFASCIAORARIA_C=?, DTEMPOCOMP=?, CTARIFFA_C=?, "
                             "CCOSTO1_C=?, CCOSTO2_C=?, CDIFFERENZA_C=?, RDIFFERENZAPERC_C=?, SCARRIER1_C=?, "
                             "SCARRIER2_C=?, SREPARTO_C=?, SCENTRODICOSTO_C=?, SNOMEDERIVATO_C=?, "
                             "STIPODESTINAZIONE_C=?, SNOME_C=?, SNAZIONE_C=?, SAREA_C=?, SESITOCHIAMATA_C='-', "
                             "sValuta=?, dblRapportoCambio=1, sValutaRif=?, dUTCDateTime=?, dGatewayDateTime=?, "
                             "sSedeFisica=?, sNomeGruppo=? WHERE lPKId=?",
                   SQL_NTS),
        SQL_HANDLE_STMT, write, "prepare");
  const char* texts[] = {"Monday", "Peak", "1899-12-30 00:00:05", "0.0845", "0.1234", "0.0987", "-0.0247",
                         "-25.03", "Alpha Telecom", "Beta Networks", "Sales", "User 1234", "Rossi Mario", "National",
                         "Mario Rossi", "Italia", "Milano", "EUR", "EUR", "2026-01-05 09:12:00",
                         "2026-01-05 10:12:00", "Milan office", "Nazionale"};
  const int count = sizeof texts / sizeof texts[0];
  std::vector<SQLLEN> lengths(count, SQL_NTS);
  for (int p = 0; p < count; ++p)
    SQLBindParameter(write, static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 100, 0,
                     (SQLPOINTER)texts[p], 0, &lengths[p]);
  SQLBIGINT key = 0;
  SQLLEN key_length = 0;
  SQLBindParameter(write, count + 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &key, 0, &key_length);
  SQLSMALLINT columns = 0;
  SQLNumResultCols(read, &columns);
  long rows = 0;
  char value[512];
  SQLLEN indicator = 0;
  for (;;) {
    SQLRETURN rc = SQLFetch(read);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, read, "fetch");
    for (SQLUSMALLINT c = 1; c <= columns; ++c) SQLGetData(read, c, SQL_C_CHAR, value, sizeof value, &indicator);
    SQLGetData(read, 1, SQL_C_SBIGINT, &key, 0, &indicator);
    Check(SQLExecute(write), SQL_HANDLE_STMT, write, "update");
    if (++rows % 10000 == 0) Check(SQLEndTran(SQL_HANDLE_DBC, writer, SQL_COMMIT), SQL_HANDLE_DBC, writer, "commit");
  }
  Check(SQLEndTran(SQL_HANDLE_DBC, writer, SQL_COMMIT), SQL_HANDLE_DBC, writer, "commit");
  SQLEndTran(SQL_HANDLE_DBC, reader, SQL_COMMIT);
  SQLFreeHandle(SQL_HANDLE_STMT, read);
  SQLFreeHandle(SQL_HANDLE_STMT, write);
  for (SQLHDBC dbc : {reader, writer}) {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 100000;
  using ordalis::testing::PgCluster;
  PgCluster& cluster = PgCluster::Instance();
  const std::string database = cluster.CreateDatabase();
  const std::string connect = cluster.ConnectString(database);

  std::string dir = (std::filesystem::temp_directory_path() / "ordalis-bench-rating-server").string();
  std::filesystem::remove_all(dir);
  ordalis::DemoInstallation demo = ordalis::WriteDemoInstallation(dir, calls);
  ScaleUpDemo(demo);
  auto start = std::chrono::steady_clock::now();
  try {
    ordalis::CopyResult copied = ordalis::CopyEngineDatabase("DBQ=" + demo.database + ";", connect);
    std::printf("copy:       %ld rows into the server in %.2f s\n", copied.rows, Seconds(start));
  } catch (const ordalis::ComponentError& e) {
    std::fprintf(stderr, "copy: %s\n", e.Description().c_str());
    return 1;
  }
  cluster.Psql("VACUUM ANALYZE", database);
  ::setenv("ORDALIS_HOME", demo.directory.c_str(), 1);
  ::setenv("ORDALIS_REGISTRY", demo.registry_file.c_str(), 1);

  start = std::chrono::steady_clock::now();
  long rated = 0;
  double engine_rate = 0;
  {
    CallCounter events;
    ordalis::clsChiamate engine;
    engine.SetEvents(&events);
    engine.set_TipoAggiornamento(ordalis::utBatch);
    engine.set_TipoDb(ordalis::dbSql);
    engine.set_User(PgCluster::kUser);
    engine.set_Pwd(PgCluster::kPassword);
    engine.Init(std::string(PgCluster::kDsn) + ";Database=" + database);
    if (!engine.Errore().empty()) {
      std::fprintf(stderr, "Init: %s\n", engine.Errore().c_str());
      return 1;
    }
    auto process = std::chrono::steady_clock::now();
    const double cpu_before = CpuSeconds(), busy_before = MachineBusySeconds();
    engine.Process();
    const double busy = MachineBusySeconds() - busy_before;
    rated = events.done;
    double seconds = Seconds(process);
    const double cpu = CpuSeconds() - cpu_before;
    engine_rate = rated / seconds;
    std::printf("engine:     %ld calls in %.2f s = %.0f calls/s (Init and caches %.2f s more)\n", rated, seconds,
                engine_rate, std::chrono::duration<double>(process - start).count());
    std::printf("engine CPU: %.2f s = %.0f calls per CPU second (the server's CPU not counted)\n", cpu, rated / cpu);
    std::printf("machine:    %.2f CPU seconds busy = %.2f cores on average (the server included)\n", busy,
                busy / seconds);
  }
  start = std::chrono::steady_clock::now();
  const double busy_before = MachineBusySeconds();
  long rows = PlainLoop(connect);
  double plain = Seconds(start);
  std::printf("plain loop: %ld rows in %.2f s = %.0f rows/s, %.2f cores on average\n", rows, plain, rows / plain,
              (MachineBusySeconds() - busy_before) / plain);
  std::printf("ratio engine/plain: %.3f\n", engine_rate / (rows / plain));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  std::filesystem::remove_all(dir);
  return 0;
}
