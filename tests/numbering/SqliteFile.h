#pragma once
// Test helper: a scratch directory with SQLite database files written through
// the sqlite3 C API, as a host or a carrier's tariff tool would write them.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace ordalis::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ordalis-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs a script of statements on the SQLite file at path (created when missing).
inline void ExecSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  std::string text = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("sql failed: " + text + " in: " + sql);
}

// A text as an SQL literal for test scripts.
inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// The connect string of a file database.
inline std::string FileConnect(const std::string& path) { return "DBQ=" + path + ";"; }

inline constexpr char kDestinazioniDdl[] =
    "CREATE TABLE Destinazioni (sNazione TEXT, sArea TEXT, sDescrizioneNaz TEXT, sDescrizioneArea TEXT, "
    "sTipo TEXT, rLat REAL, rLong REAL);"
    "CREATE TABLE GruppoDiDestinazioni (sDenominazione TEXT, sNazione TEXT, sArea TEXT);";

}  // namespace ordalis::testing
