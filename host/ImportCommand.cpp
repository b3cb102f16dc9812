#include "ImportCommand.h"

#include "DataSource.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ordalis/CallImport.h"
#include "ordalis/ComponentError.h"

namespace ordalis::host {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitRowsRejected = 3;

struct ImportArgs {
  std::string db, dsn, user, pwd;
  ImportOptions options;
  std::vector<std::string> files;
};

std::string ConnectString(const ImportArgs& a) {
  if (!a.db.empty()) return "DBQ=" + a.db;
  return DataSourceConnect(a.dsn, a.user, a.pwd);
}

int RunImport(const ImportArgs& a) {
  if (a.db.empty() == a.dsn.empty()) {
    std::fprintf(stderr, "error: give one of --db FILE or --dsn NAME\n");
    return kExitFailed;
  }
  auto start = std::chrono::steady_clock::now();
  try {
    CallImporter importer(ConnectString(a), a.options);
    importer.OnProblem([](const ImportProblem& p) {
      std::fprintf(stderr, "%s:%lld: %s\n", p.file.c_str(), static_cast<long long>(p.line), p.reason.c_str());
    });
    bool completed = true;
    for (const std::string& file : a.files) {
      completed = importer.ImportFile(file);
      if (!completed) break;
    }
    importer.Commit();
    const ImportCounts& n = importer.Counts();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("calls added: %lld (internal: %lld), duplicates skipped: %lld, rows rejected: %lld, "
                "rows per second: %.0f\n",
                static_cast<long long>(n.added + n.added_internal), static_cast<long long>(n.added_internal),
                static_cast<long long>(n.duplicates), static_cast<long long>(n.rejected),
                seconds > 0 ? static_cast<double>(n.rows) / seconds : 0.0);
    if (!completed) {
      std::fprintf(stderr, "error: import stopped at the row above; the rows before it were added\n");
      return kExitFailed;
    }
    return n.rejected > 0 ? kExitRowsRejected : 0;
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", e.Description().c_str());
    return kExitFailed;
  }
}

}  // namespace

void AddImportCommand(CLI::App& app, int& exit_code) {
  static ImportArgs args;
  auto* cmd = app.add_subcommand("import", "append call records exported by an exchange to the call tables");
  auto* db = cmd->add_option("--db", args.db, "engine database file (SQLite)");
  cmd->add_option("--dsn", args.dsn, "ODBC data source name")->excludes(db);
  cmd->add_option("--user", args.user, "login name for the data source");
  cmd->add_option("--pwd", args.pwd, "password for the data source");
  static const std::map<std::string, ImportFormat> kFormats = {
      {"csv", ImportFormat::Csv}, {"asterisk", ImportFormat::Asterisk}, {"freeswitch", ImportFormat::FreeSwitch}};
  cmd->add_option("--format", args.options.format, "csv, asterisk (Master.csv) or freeswitch (cdr_csv)")
      ->required()
      ->transform(CLI::CheckedTransformer(kFormats, CLI::ignore_case));
  cmd->add_option("--site", args.options.site, "site code of the calls (required for asterisk and freeswitch)");
  cmd->add_option("--extension-pattern", args.options.extension_pattern,
                  "regular expression a whole number matches when it is an extension of the site")
      ->capture_default_str();
  cmd->add_flag("--strict", args.options.strict, "stop at the first bad row (exit code 1)");
  cmd->add_option("files", args.files, "the files to read")->required()->check(CLI::ExistingFile);
  cmd->footer("Bad rows are reported as FILE:LINE: REASON and skipped (exit code 3). A call already imported is "
              "not added again.");
  cmd->callback([&] { exit_code = RunImport(args); });
}

}  // namespace ordalis::host
