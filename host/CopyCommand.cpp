#include "CopyCommand.h"

#include <sys/stat.h>

#include <cstdio>

#include "DataSource.h"
#include "Progress.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DatabaseCopy.h"
#include "ordalis/Databases.h"

namespace ordalis::host {
namespace {

struct CopyOptions {
  std::string from_db, from_dsn, to_db, to_dsn, user, pwd;
};

std::string FileConnect(const std::string& path) { return "DBQ=" + path + ";"; }

bool Copy(const std::string& from, const std::string& to) {
  Progress progress("copying");
  try {
    CopyResult result = CopyEngineDatabase(from, to, [&](long done, long total) { progress.Update(done, total); });
    progress.Finish();
    std::string created;
    for (const std::string& t : result.tables_created) created += (created.empty() ? "" : ", ") + t;
    std::printf("rows copied: %ld%s%s\n", result.rows, created.empty() ? "" : "; tables created: ", created.c_str());
    return true;
  } catch (const ComponentError& e) {
    progress.Finish();
    std::fprintf(stderr, "error: %s\n", e.Description().c_str());
    return false;
  }
}

int RunCopy(const CopyOptions& o) {
  if (o.from_db.empty() == o.from_dsn.empty() || o.to_db.empty() == o.to_dsn.empty()) {
    std::fprintf(stderr, "error: give one of --from-db FILE or --from-dsn DSN, and one of --to-db FILE or --to-dsn DSN\n");
    return 1;
  }
  std::string from = o.from_db.empty() ? DataSourceConnect(o.from_dsn, o.user, o.pwd) : FileConnect(o.from_db);
  std::string to = o.to_db.empty() ? DataSourceConnect(o.to_dsn, o.user, o.pwd) : FileConnect(o.to_db);
  struct stat st {};
  if (!o.to_db.empty() && ::stat(o.to_db.c_str(), &st) != 0) {
    try {
      CreateEngineDatabase(o.to_db);
    } catch (const ComponentError& e) {
      std::fprintf(stderr, "error: %s\n", e.Description().c_str());
      return 1;
    }
  }
  return Copy(from, to) ? 0 : 1;
}

}  // namespace

bool CopyFileToDataSource(const std::string& database, const std::string& dsn, const std::string& user,
                          const std::string& pwd) {
  return Copy(FileConnect(database), DataSourceConnect(dsn, user, pwd));
}

void AddCopyCommand(CLI::App& app, int& exit_code) {
  static CopyOptions o;
  auto* cmd = app.add_subcommand("copy", "copy the engine database between an SQLite file and a data source");
  auto* from_db = cmd->add_option("--from-db", o.from_db, "engine database file to read");
  auto* from_dsn = cmd->add_option("--from-dsn", o.from_dsn, "data source to read: a name or a connect string");
  auto* to_db = cmd->add_option("--to-db", o.to_db, "engine database file to write (created when missing)");
  auto* to_dsn = cmd->add_option("--to-dsn", o.to_dsn, "data source to write: a name or a connect string");
  from_db->excludes(from_dsn);
  to_db->excludes(to_dsn);
  cmd->add_option("--user", o.user, "login name for the data source");
  cmd->add_option("--pwd", o.pwd, "password for the data source");
  cmd->callback([&] { exit_code = RunCopy(o); });
}

}  // namespace ordalis::host
