#pragma once
// A temporary installation for engine tests: an engine database made with
// the shipped schema, a home directory (LogPath) and an empty registry.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/Demo.h"
#include "ordalis/Databases.h"
#include "ordalis/EngineEvents.h"
#include "ordalis/clsChiamate.h"
#include "platform/Registry.h"
#include "support/CommonLib.h"

namespace ordalis::testing {

// Records every event.
struct RecordingEvents : EngineEvents {
  std::vector<std::pair<int, int>> progress;
  std::vector<std::pair<int, std::string>> cache_changes;
  std::vector<int> save_errors;
  std::vector<std::string> boxes;
  int done = 0, cache_start = 0, cache_done = 0;
  std::function<void()> on_progress, on_save_error;

  void ProgressChange(std::int32_t& d, std::int32_t& t) override {
    progress.emplace_back(d, t);
    if (on_progress) on_progress();
  }
  void Done() override { ++done; }
  void CacheStart(std::int32_t& total) override { cache_start = total; }
  void CacheDone() override { ++cache_done; }
  void SaveDataError(std::int16_t& attempt, std::string&, std::int16_t&) override {
    save_errors.push_back(attempt);
    if (on_save_error) on_save_error();
  }
  void CacheChange(std::int32_t& d, std::int32_t&, std::string& name) override { cache_changes.emplace_back(d, name); }
  void MessageBox(const std::string&, const std::string& text) override { boxes.push_back(text); }
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("ordalis-engine-" + std::to_string(::getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ::setenv("ORDALIS_HOME", dir_.c_str(), 1);
    SetLogEnabled(false);  // module-wide: an earlier test may have switched it on
    platform::Registry::SetForTesting(std::make_shared<platform::Registry>());
    if (with_reference_data_) {
      // The demo's reference data (sites, carriers, LCR tables, extensions),
      // without calls: each test stores its own.
      db_path_ = WriteDemoInstallation(dir_.string(), 0).database;
    } else {
      db_path_ = (dir_ / "calls.db").string();
      CreateEngineDatabase(db_path_);
    }
  }
  void TearDown() override {
    platform::Registry::SetForTesting(nullptr);
    // A test that worked from another directory gives the working directory back.
    std::filesystem::current_path(start_dir_);
    std::filesystem::remove_all(dir_);
  }

  // Runs statements on the database file directly.
  void Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_path_.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    std::string message = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message << " in " << sql;
  }
  // First column of the first row as text; "<null>" for NULL, "<none>" for no row.
  std::string Query(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(db_path_.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    std::string out = "<error>";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW)
        out = sqlite3_column_type(st, 0) == SQLITE_NULL ? "<null>"
                                                         : reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      else
        out = "<none>";
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }
  // n outgoing calls in a table, on consecutive days of January 2024.
  void AddCalls(const std::string& table, int n, int first_id = 1) {
    for (int i = 0; i < n; ++i)
      Sql("INSERT INTO " + table + " (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, ISTATO) VALUES (" +
          std::to_string(first_id + i) + ", '2024-01-" + (i + 1 < 10 ? "0" : "") + std::to_string(i + 1) +
          " 00:00:00', '1899-12-30 10:15:00', '1899-12-30 00:02:00', '0212345678', 'MI', '200', 'O', 0)");
  }
  // An engine initialised on the database with the recording sink.
  std::unique_ptr<clsChiamate> MakeEngine() {
    auto engine = std::make_unique<clsChiamate>();
    engine->SetEvents(&events_);
    engine->set_TipoDb(dbAccess);
    engine->Init(db_path_);
    return engine;
  }

  // Set by fixtures that rate calls: the database then holds the demo's
  // reference data instead of empty tables.
  bool with_reference_data_ = false;
  const std::filesystem::path start_dir_ = std::filesystem::current_path();
  std::filesystem::path dir_;
  std::string db_path_;
  RecordingEvents events_;
};

// Engine tests on a database holding the demo's reference data.
class RatingTest : public EngineTest {
 protected:
  RatingTest() { with_reference_data_ = true; }
};

}  // namespace ordalis::testing
