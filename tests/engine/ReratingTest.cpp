// Random installations rated twice. Sites with and without a known zone and
// a site nobody set up, extensions in other, unknown or no zones, swing
// extensions, exchange clocks that disagree with the UTC stamp, numbers in
// and out of the phone book. Each run must leave every row with the caller's
// local time worked out from the UTC stamp or from the exchange's clock as
// the gateway time sets it right; the second run must change nothing else,
// neither in the rows nor in the phone-book, swing and extension tables; and
// the phone-book and swing counts must match the rows that were rated.
#include <map>
#include <random>

#include "EngineFixture.h"
#include "ordalis/clsTimeZone.h"
#include "ordalis/clsTimeZones.h"

namespace ordalis::testing {
namespace {

using Row = std::map<std::string, std::string>;
using Table = std::map<std::string, Row>;  // by key

// The columns the clock decides; checked against the rule on each run.
const char* const kClockColumns[] = {"dData",        "DORA",     "dData2", "dOra2", "dGatewayDateTime",
                                     "dUTCDateTime", "sGiorno_c"};

class ReratingTest : public RatingTest {
 protected:
  // Every row of a query, keyed by the text of its first column.
  Table Snapshot(const std::string& sql) {
    Table out;
    sqlite3* db = nullptr;
    sqlite3_open(db_path_.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      Row row;
      std::string key;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const unsigned char* text = sqlite3_column_text(st, c);
        std::string value = text ? reinterpret_cast<const char*>(text) : "<null>";
        if (c == 0) key = value;
        row[sqlite3_column_name(st, c)] = std::move(value);
      }
      out[key] = std::move(row);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }
  Table Calls(const std::string& table) { return Snapshot("SELECT * FROM " + table); }
  Table Statistics() {
    Table all;
    for (const char* q : {"SELECT 'R' || lPKId, * FROM Rubrica", "SELECT 'S' || lPKId, * FROM Swing",
                          "SELECT 'D' || lPKId, * FROM Derivati"})
      all.merge(Snapshot(q));
    return all;
  }
  static DateTime Stored(const std::string& text) {
    if (text == "<null>") return 0;
    auto d = dt::ParseStored(text);
    EXPECT_TRUE(d.has_value()) << text;
    return d.value_or(0);
  }

  // Builds the installation and its calls from `seed`.
  void Generate(unsigned seed) {
    std::mt19937 rng(seed);
    std::string sql = "BEGIN;";  // one transaction: one write of the file
    auto add = [&](const std::string& statement) { sql += statement + ";\n"; };
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    // Rome's zone is unknown to the installation, Turin has none; both
    // route and price as Milan does.
    for (auto [code, zone] : {std::pair{"RM", "Atlantis Time"}, std::pair{"TO", ""}}) {
      add(std::string("CREATE TEMP TABLE s AS SELECT * FROM Siti WHERE sCodice = 'MI'; UPDATE s SET lPKId = NULL, "
                      "sCodice = '") +
          code + "', IDTimeZone = '" + zone + "'; INSERT INTO Siti SELECT * FROM s; DROP TABLE s");
      add(std::string("CREATE TEMP TABLE l AS SELECT * FROM CarrierSiti WHERE sSito_e = 'MI'; UPDATE l SET lPKId = "
                      "NULL, sSito_e = '") +
          code + "'; INSERT INTO CarrierSiti SELECT * FROM l; DROP TABLE l");
      add(std::string("CREATE TEMP TABLE d AS SELECT * FROM Derivati WHERE sSito = 'MI'; UPDATE d SET lPKId = NULL, "
                      "sSito = '") +
          code + "'; INSERT INTO Derivati SELECT * FROM d; DROP TABLE d");
    }
    add("UPDATE Derivati SET iPrivacy = 0");  // the dialled numbers stay whole
    // Milan's and New York's extensions: some in the other site's zone,
    // some in a zone nobody knows, some more swing extensions.
    const char* zones[] = {"", "", "Eastern Standard Time", "W. Europe Standard Time", "No Such Zone"};
    for (int n = 200; n < 400; ++n) {
      const std::string where = " WHERE sNumero = '" + std::to_string(n) + "' AND sSito IN ('MI', 'NY')";
      add("UPDATE Derivati SET IDTimeZone = '" + std::string(zones[rng() % 5]) + "'" + where);
      if (chance(15)) add("UPDATE Derivati SET bSwing = 1" + where);
    }
    // Phone-book numbers as the number analysis leaves them (no
    // interconnection prefix).
    std::vector<std::string> book[2];
    for (int site = 0; site < 2; ++site)
      for (const auto& [key, row] :
           Snapshot(std::string("SELECT sNumero FROM Rubrica WHERE sLocalita = '") +
                    (site == 0 ? "Milano" : "New York") + "' AND sNumero NOT LIKE '1055%' LIMIT 40"))
        book[site].push_back(key);
    // Numbers out of the phone book recur, so that swing counts grow.
    std::vector<std::string> others = {"0612345678", "0298765432",   "3471234567", "2125550199",
                                       "3055550123", "004420123456", "02555"};
    const char* sites[] = {"MI", "NY", "RM", "TO", "XX", "MI", "NY", "MI"};
    auto stamp = [&](std::string& date, std::string& time, std::string& utc) {
      // January to February or June to August: no change of summer time
      // near the stamps.
      DateTime day = dt::FromDate(2024, chance(50) ? 1 : 6, 1) + static_cast<int>(rng() % 59);
      std::int64_t second = rng() % 86400;
      DateTime at = dt::FromSerialAndSeconds(dt::DaySerial(day), second);
      date = dt::ToIsoText(dt::DatePart(at));
      time = dt::ToIsoText(dt::TimePart(at));
      static const int kSkews[] = {0, 0, 59, -59, 3600, -3600, 20, -86400 + 30};
      const int hours = static_cast<int>(rng() % 3) - 1;  // near the sites' own offsets
      utc = chance(40) ? "NULL"
                       : "'" + dt::ToIsoText(at - (hours * 3600.0 + kSkews[rng() % std::size(kSkews)]) / 86400) + "'";
    };
    for (int id = 1; id <= 400; ++id) {
      const std::string site = sites[rng() % std::size(sites)];
      const int side = site == "NY" ? 1 : 0;
      std::string extension = chance(5) ? "999" : std::to_string(200 + side + 2 * static_cast<int>(rng() % 100));
      std::string number = chance(45) ? book[side][rng() % book[side].size()] : others[rng() % others.size()];
      std::string date, time, utc;
      stamp(date, time, utc);
      const std::string line = "L" + std::to_string(1 + rng() % 3);
      add("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, "
          "LSCATTI, dUTCDateTime) VALUES (" +
          std::to_string(id) + ", '" + date + "', '" + time + "', '" + dt::ToIsoText((rng() % 900) / 86400.0) + "', '" +
          number + "', '" + site + "', '" + extension + "', '" + (chance(85) ? "O" : "I") + "', '" + line + "', " +
          std::to_string(rng() % 2) + ", " + std::to_string(line == "L3" ? rng() % 12 : 0) + ", " + utc + ")");
    }
    for (int id = 1; id <= 80; ++id) {
      const std::string site = sites[rng() % std::size(sites)];
      const int side = site == "NY" ? 1 : 0;
      auto extension = [&] { return std::to_string(200 + side + 2 * static_cast<int>(rng() % 100)); };
      std::string date, time, utc;
      stamp(date, time, utc);
      add("INSERT INTO CHIAMATEINTERNE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, ISTATO, "
          "dUTCDateTime) VALUES (" +
          std::to_string(id) + ", '" + date + "', '" + time + "', '1899-12-30 00:01:00', '" + extension() + "', '" +
          site + "', '" + extension() + "', 'E', 0, " + utc + ")");
    }
    Sql(sql + "COMMIT;");
  }

  // The clock rule for one row as it stood before a run (dData, DORA,
  // dUTCDateTime), checked against what the run saved.
  void CheckClock(clsChiamate& engine, const Table& extensions, const std::string& table, const Row& before,
                  const Row& after) {
    const std::string site = after.at("SSITO");
    const bool known_site = site == "MI" || site == "NY" || site == "RM" || site == "TO";
    std::shared_ptr<clsTimeZone> site_zone;
    auto zone_of = [&](const std::string& extension) -> std::shared_ptr<clsTimeZone> {
      auto it = extensions.find(extension + "|" + site);
      const std::string id = it == extensions.end() ? "" : it->second.at("IDTimeZone");
      return id.empty() || id == "<null>" ? site_zone : engine.moTimeZones->GetTimeZone(id);
    };
    std::shared_ptr<clsTimeZone> caller, second;
    if (known_site) {
      site_zone = engine.moTimeZones->GetTimeZone(site == "MI"   ? "W. Europe Standard Time"
                                                  : site == "NY" ? "Eastern Standard Time"
                                                  : site == "RM" ? "Atlantis Time"
                                                                 : "");
      caller = zone_of(after.at("SDERIVATO"));
      second = zone_of(after.at("SNUMERO"));
    }
    const bool internal = table == "CHIAMATEINTERNE";
    const DateTime stamp =
        dt::FromSerialAndSeconds(dt::DaySerial(Stored(before.at("dData"))), dt::SecondOfDay(Stored(before.at("DORA"))));
    DateTime utc = Stored(before.at("dUTCDateTime")), gateway, local, local2 = 0;
    if (utc == 0) {
      gateway = stamp;
      if (site_zone) utc = site_zone->ConvertTimeToUTC(gateway);
      local = !caller || utc == 0 ? stamp : caller->ConvertTimeFromUTC(utc);
      if (internal) local2 = !second || utc == 0 ? local : second->ConvertTimeFromUTC(utc);
    } else {
      gateway = site_zone ? site_zone->ConvertTimeFromUTC(utc) : stamp;  // the clock set right
      local = caller ? caller->ConvertTimeFromUTC(utc) : gateway;
      if (internal) local2 = second ? second->ConvertTimeFromUTC(utc) : local;
    }
    auto seconds = [](const Row& r, const char* date, const char* time) {
      return dt::DaySerial(Stored(r.at(date))) * 86400 + dt::SecondOfDay(Stored(r.at(time)));
    };
    const std::string what = table + " " + after.at("lPKId") + " site " + site + " ext " + after.at("SDERIVATO");
    EXPECT_EQ(seconds(after, "dData", "DORA"), dt::ToSeconds(local)) << what;
    EXPECT_EQ(dt::ToSeconds(Stored(after.at("dGatewayDateTime"))), dt::ToSeconds(gateway)) << what;
    EXPECT_EQ(dt::ToSeconds(Stored(after.at("dUTCDateTime"))), dt::ToSeconds(utc)) << what;
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    EXPECT_EQ(after.at("sGiorno_c"), kDays[dt::Weekday(gateway) - 1]) << what;
    if (internal)
      EXPECT_EQ(seconds(after, "dData2", "dOra2"), dt::ToSeconds(local2)) << what;
    else
      EXPECT_EQ(seconds(after, "dData2", "dOra2"), seconds(before, "dData2", "dOra2")) << what;
  }

  // One run with a new engine; checks the clock of every row.
  void RateAndCheckClock(const std::map<std::string, Table>& before, UpdateType update) {
    auto engine = std::make_unique<clsChiamate>();
    engine->SetEvents(&events_);
    engine->set_TipoAggiornamento(update);
    engine->Init(db_path_);
    ASSERT_EQ(engine->Errore(), "");
    engine->Process();
    EXPECT_EQ(engine->Errore(), "");
    const Table extensions = Snapshot("SELECT sNumero || '|' || sSito, IDTimeZone FROM Derivati");
    for (const auto& [table, rows] : before) {
      const Table after = Calls(table);
      ASSERT_EQ(after.size(), rows.size());
      for (const auto& [id, row] : rows) CheckClock(*engine, extensions, table, row, after.at(id));
    }
  }

  // The phone-book and swing counts against the rated rows: a call counts
  // for the number it dialled when its site is known (only then is the
  // number analysed), in the phone book or, from a swing extension, in the
  // swing list; its name is the phone book's.
  void CheckCounts() {
    const std::string known = "SSITO IN ('MI', 'NY', 'RM', 'TO')";
    // What the generated calls reached.
    EXPECT_NE(Query("SELECT COUNT(*) FROM CHIAMATE WHERE SNOME_C IS NOT NULL"), "0");
    EXPECT_NE(Query("SELECT COUNT(*) FROM Swing"), "0");
    EXPECT_NE(Query("SELECT COUNT(*) FROM CHIAMATE WHERE SSITO = 'XX'"), "0");
    EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE c LEFT JOIN Rubrica r ON r.sNumero = c.SNUMERO WHERE "
                    "coalesce(c.SNOME_C, '') <> CASE WHEN c." +
                    known + " THEN coalesce(r.sNome, '') ELSE '' END"),
              "0");
    for (const char* io : {"O", "I"}) {
      const std::string is = std::string(io) == "O" ? "= 'O'" : "<> 'O'";
      EXPECT_EQ(Query("SELECT COUNT(*) FROM Rubrica r WHERE coalesce(lTotaleSelezioni" + std::string(io) +
                      ", 0) <> (SELECT COUNT(*) FROM CHIAMATE c WHERE c.SNUMERO = r.sNumero AND c." + known +
                      " AND c.STIPO " + is + ")"),
                "0")
          << io;
      EXPECT_EQ(Query("SELECT COUNT(*) FROM (SELECT c.SNUMERO n, COUNT(*) k FROM CHIAMATE c JOIN Derivati d ON "
                      "d.sNumero = c.SDERIVATO AND d.sSito = c.SSITO AND d.bSwing = 1 WHERE c." +
                      known + " AND c.STIPO " + is +
                      " AND c.SNUMERO NOT IN (SELECT sNumero FROM Rubrica) GROUP BY n) e "
                      "FULL JOIN (SELECT sNumero n, lNumeroChiamate" +
                      io + " k FROM Swing WHERE lNumeroChiamate" + io + " <> 0) s ON s.n = e.n WHERE e.k IS NOT s.k"),
                "0")
          << io;
    }
  }
};

TEST_F(ReratingTest, RatingTwiceChangesNothingButWhatTheClockRuleSays) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    if (seed > 1) {
      TearDown();
      SetUp();
    }
    Generate(seed);
    const UpdateType update = seed % 2 ? utImmediate : utBatch;
    std::map<std::string, Table> loaded = {{"CHIAMATE", Calls("CHIAMATE")},
                                           {"CHIAMATEINTERNE", Calls("CHIAMATEINTERNE")}};
    RateAndCheckClock(loaded, update);
    CheckCounts();
    std::map<std::string, Table> first = {{"CHIAMATE", Calls("CHIAMATE")},
                                          {"CHIAMATEINTERNE", Calls("CHIAMATEINTERNE")}};
    const Table statistics = Statistics();
    RateAndCheckClock(first, update);
    EXPECT_EQ(Statistics(), statistics);
    for (const auto& [table, rows] : first) {
      const Table second = Calls(table);
      for (const auto& [id, row] : rows) {
        Row a = row, b = second.at(id);
        for (const char* column : kClockColumns) a.erase(column), b.erase(column);
        EXPECT_EQ(a, b) << table << " " << id;
      }
    }
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace ordalis::testing
