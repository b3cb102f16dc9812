// Calls whose least-cost searches were worked out ahead of their rating, on
// the thread that reads rows ahead, are rated exactly as when the engine
// searches in turn (which it does while tracing).
#include <filesystem>
#include <fstream>

#include "EngineFixture.h"
#include "call/CallNote.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"

namespace ordalis::testing {
namespace {

// Every row of every table (or of one), as text, in key order.
std::string Dump(const std::string& path, const std::string& only = "") {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> tables;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  std::string out;
  for (const std::string& table : tables) {
    if (!only.empty() && table != only) continue;
    out += "== " + table + "\n";
    sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\" ORDER BY 1").c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* text = sqlite3_column_text(st, i);
        out += text ? reinterpret_cast<const char*>(text) : "<null>";
        out += '|';
      }
      out += '\n';
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

TEST_F(RatingTest, CallsPreparedAheadAreRatedAsWhenSearchedInTurn) {
  const DemoInstallation demo = WriteDemoInstallation(dir_.string(), 3000);
  const std::string traced = (dir_ / "traced.db").string();
  std::filesystem::copy_file(demo.database, traced);
  auto rate = [&](const std::string& database) {
    clsChiamate engine;
    engine.SetEvents(&events_);
    engine.set_TipoDb(dbAccess);
    // Statistics written at the end: nothing but the calls is written
    // during the run, so the rows ahead are read ahead.
    engine.set_TipoAggiornamento(utBatch);
    engine.Init(database);
    ASSERT_EQ(engine.Errore(), "");
    engine.Process();
    EXPECT_EQ(engine.Errore(), "");
  };
  rate(demo.database);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "process2008.log"));
  std::ofstream(dir_ / "quarzo.ini") << "[Configurazione]\r\nAbilitalogProcess = 1\r\n";
  rate(traced);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "process2008.log"));

  db_path_ = demo.database;
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NULL"), "0");
  EXPECT_NE(Query("SELECT COUNT(*) FROM CHIAMATE WHERE CCOSTO1_C > 0"), "0");
  EXPECT_EQ(Dump(demo.database), Dump(traced));
}

// A host that reloads the reference data from an event of the run stops the
// preparation first; the run goes on and rates every call.
TEST_F(RatingTest, AReloadDuringTheRunStopsThePreparationAhead) {
  const DemoInstallation demo = WriteDemoInstallation(dir_.string(), 3000);
  const std::string undisturbed = (dir_ / "undisturbed.db").string();
  std::filesystem::copy_file(demo.database, undisturbed);
  {
    clsChiamate engine;
    engine.SetEvents(&events_);
    engine.set_TipoDb(dbAccess);
    engine.set_TipoAggiornamento(utBatch);
    engine.Init(undisturbed);
    engine.Process();
  }
  events_.progress.clear();
  clsChiamate engine;
  engine.SetEvents(&events_);
  engine.set_TipoDb(dbAccess);
  engine.set_TipoAggiornamento(utBatch);
  engine.Init(demo.database);
  ASSERT_EQ(engine.Errore(), "");
  int reloads = 0;
  events_.on_progress = [&] {
    if (events_.progress.back().first % 700 == 0) {
      engine.Cache();
      ++reloads;
    }
  };
  engine.Process();
  EXPECT_EQ(reloads, 4);
  EXPECT_EQ(engine.Errore(), "");
  db_path_ = demo.database;
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NULL"), "0");
  EXPECT_EQ(Dump(demo.database, "CHIAMATE"), Dump(undisturbed, "CHIAMATE"));
}

// A call from an extension that hides digits, not rated yet, is noted with
// the search for its number as the rating will store it; a call from a
// swing extension is noted as such.
TEST_F(RatingTest, NotesForeseeTheHiddenNumberAndTheSwingList) {
  const DemoInstallation demo = WriteDemoInstallation(dir_.string(), 3000);
  db_path_ = demo.database;
  auto first_call = [&](const std::string& condition) {
    return Query("SELECT MIN(c.lPKId) FROM CHIAMATE c JOIN Derivati d ON d.sNumero = c.SDERIVATO AND "
                 "d.sSito = c.SSITO WHERE " + condition);
  };
  const std::string hidden = first_call("d.iPrivacy > 0");
  const std::string plain = first_call("d.iPrivacy = 0 AND NOT d.bSwing");
  const std::string swing = first_call("d.bSwing");
  ASSERT_NE(hidden, "");
  ASSERT_NE(plain, "");
  ASSERT_NE(swing, "");
  clsChiamate engine;
  engine.SetEvents(&events_);
  engine.set_TipoDb(dbAccess);
  engine.Init(demo.database);
  ASSERT_EQ(engine.Errore(), "");
  std::map<std::string, CallNote> notes;
  {
    auto rs = engine.Connection()->OpenResultset("SELECT * FROM CHIAMATE WHERE lPKId IN (" + hidden + ", " + plain +
                                                 ", " + swing + ")");
    rdo::RowPreparer prepare = CallNotePreparer(engine.Siti, NoteExtensions(engine.Derivati.get()), *rs);
    ASSERT_TRUE(prepare);
    for (; !rs->Eof(); rs->MoveNext()) {
      std::vector<Variant> row;
      for (int i = 0; i < rs->ColumnCount(); ++i) row.push_back(rs->Value(i));
      std::unique_ptr<rdo::RowNote> note;
      prepare(row, note);
      notes[rs->Value("lPKId").ToText()] = static_cast<CallNote&>(*note);
    }
  }
  const CallNote& masked = notes[hidden];
  ASSERT_TRUE(masked.search[0].asked);
  ASSERT_TRUE(masked.masked[0].asked);
  EXPECT_NE(masked.masked[0].question.number, masked.search[0].question.number);
  EXPECT_FALSE(notes[plain].masked[0].asked);
  EXPECT_FALSE(notes[plain].swing);
  EXPECT_TRUE(notes[swing].swing);

  engine.Process();
  ASSERT_EQ(engine.Errore(), "");
  EXPECT_EQ(Query("SELECT SNUMERO FROM CHIAMATE WHERE lPKId = " + hidden), masked.masked[0].question.number);
}

// The single-call rating after a batch run works on the record the run left
// and reaches nothing of the run's resultset, which is gone.
TEST_F(RatingTest, RunAfterABatchRunRatesTheMirrorCall) {
  const DemoInstallation demo = WriteDemoInstallation(dir_.string(), 1000);
  clsChiamate engine;
  engine.SetEvents(&events_);
  engine.set_TipoDb(dbAccess);
  engine.Init(demo.database);
  engine.Process();
  ASSERT_EQ(engine.Errore(), "");
  engine.set_Database(demo.database);  // the run closed the connection; the record stays
  engine.set_Operation("11111111111111111111");
  engine.set_Data("2024-01-15");
  engine.set_Ora("10:00:00");
  engine.set_Durata("00:02:00");
  engine.set_sSito("MI");
  engine.SetProperty("sDerivato", "200");
  engine.SetProperty("sTipo", "O");
  engine.SetProperty("sLinea", "L1");
  engine.SetProperty("sNumero", "0212345678");
  engine.Run();
  EXPECT_EQ(engine.Errore(), "");
  EXPECT_GT(engine.cCosto1_c(), 0.0);
  EXPECT_NE(engine.Property("sCarrier1_c").ToText(), "");
}

}  // namespace
}  // namespace ordalis::testing
