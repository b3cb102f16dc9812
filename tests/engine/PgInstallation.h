#pragma once
// An engine database copied from an SQLite file into a PostgreSQL database
// made from the shipped schema, and what the rated tables hold there.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "../data/PgCluster.h"
#include "RatedInstallation.h"

namespace ordalis::testing {

inline void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// A new database with every table of `sqlite_file` (through CSV files in
// `work_dir`, loaded with psql's \copy); the identities go on from the
// highest copied. Returns its name.
inline std::string CopyToPostgres(PgCluster& pg, const std::string& sqlite_file, const std::string& work_dir) {
  const std::string database = pg.CreateDatabase();
  Shell(pg.PsqlCommand(database) + " -f " ORDALIS_SOURCE_DIR "/sql/ordalis-postgresql.sql >/dev/null");
  ::chmod(work_dir.c_str(), 0755);  // psql may run as another user
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(sqlite_file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + sqlite_file);
  const std::string script = work_dir + "/copy.sql";
  std::ofstream commands(script);
  std::vector<std::string> tables;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'", -1, &st,
                     nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  for (const std::string& table : tables) {
    const std::string csv = work_dir + "/" + table + ".csv";
    std::ofstream out(csv);
    sqlite3_prepare_v2(db, ("SELECT * FROM " + table).c_str(), -1, &st, nullptr);
    std::string columns;
    bool identity = false;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      columns += std::string(i ? "," : "") + sqlite3_column_name(st, i);
      identity = identity || std::string(sqlite3_column_name(st, i)) == "lPKId";
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (i) out << ',';
        if (sqlite3_column_type(st, i) == SQLITE_NULL) continue;  // unquoted empty: NULL
        std::string value = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        out << '"';
        for (char c : value) out << (c == '"' ? "\"\"" : std::string(1, c));
        out << '"';
      }
      out << '\n';
    }
    sqlite3_finalize(st);
    out.close();
    ::chmod(csv.c_str(), 0644);
    commands << "\\copy " << table << " (" << columns << ") FROM '" << csv << "' WITH (FORMAT csv)\n";
    if (identity)
      commands << "SELECT setval(pg_get_serial_sequence('" << table << "', 'lpkid'), (SELECT COALESCE(MAX(lPKId), 0) + 1 FROM "
               << table << "), false);\n";
  }
  sqlite3_close(db);
  commands.close();
  ::chmod(script.c_str(), 0644);
  Shell(pg.PsqlCommand(database) + " -f " + script + " >/dev/null");
  return database;
}

// The rated tables of a PostgreSQL database, as DumpTables gives them.
inline TableRows DumpPostgres(PgCluster& pg, const std::string& database) {
  TableRows rows;
  for (const std::string& table : RatedTables()) {
    const bool calls = table.rfind("CHIAMATE", 0) == 0;
    FILE* in = ::popen((pg.PsqlCommand(database) + " -At -F '|' -c 'SELECT * FROM " + table + " ORDER BY lPKId'")
                           .c_str(),
                       "r");
    if (!in) throw std::runtime_error("psql");
    std::vector<std::string>& out = rows[table];
    char buf[8192];
    while (std::fgets(buf, sizeof buf, in)) {
      std::string line(buf);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      if (!calls) line.erase(0, line.find('|') + 1);  // the identity comes first
      out.push_back(line);
    }
    if (::pclose(in) != 0) throw std::runtime_error("psql failed on " + table);
    if (!calls) std::sort(out.begin(), out.end());
  }
  return rows;
}

// The --dsn, --user and --pwd arguments of the ordalis binary for a database.
inline std::vector<std::string> PostgresArguments(PgCluster& pg, const std::string& database) {
  return {"--dsn", std::string(PgCluster::kDsn) + ";Database=" + database + ";Port=" + std::to_string(pg.port()),
          "--user", PgCluster::kUser, "--pwd", PgCluster::kPassword};
}

// The same with a connect string that names the driver and no data source.
inline std::vector<std::string> DriverArguments(PgCluster& pg, const std::string& database) {
  return {"--dsn",
          "Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port=" + std::to_string(pg.port()) + ";Database=" + database +
              ";",
          "--user", PgCluster::kUser, "--pwd", PgCluster::kPassword};
}

}  // namespace ordalis::testing
