// The report over rated calls: each call counted once, in its own
// currency, inside the period; sums exact; amounts shown with the
// currency's decimals.
#include <gtest/gtest.h>

#include "../data/PgCluster.h"
#include "EngineFixture.h"
#include "ordalis/CallReport.h"
#include "ordalis/ComponentError.h"

namespace ordalis::testing {
namespace {

class CallReportTest : public RatingTest {
 protected:
  // A rated call of January 2024 (day 1..31) as the batch leaves it.
  void Rated(int id, int day, const std::string& site, const std::string& extension, const std::string& cost,
             const std::string& currency, int seconds, const std::string& type = "National",
             const std::string& carrier = "Alpha", const std::string& rated = "'Tue'") {
    char date[32];
    std::snprintf(date, sizeof date, "2024-01-%02d 00:00:00", day);
    Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, ISTATO, sGiorno_c, "
        "CCOSTO1_C, sValuta, STIPODESTINAZIONE_C, SCARRIER1_C, SREPARTO_C, SCENTRODICOSTO_C, SNOMEDERIVATO_C) "
        "VALUES (" + std::to_string(id) + ", '" + date + "', '1899-12-30 23:59:59', " +
        "'" + dt::ToIsoText(seconds / 86400.0) + "', '0612345678', '" + site + "', '" + extension + "', 'O', 0, " +
        rated + ", " + cost + ", " + currency + ", '" + type + "', '" + carrier + "', 'Dept " + extension +
        "', 'CC', 'User " + extension + "')");
  }
  CallReport Report(ReportBy by, int from = 1, int to = 31, const std::string& site = "") {
    auto engine = MakeEngine();
    EXPECT_EQ(engine->Errore(), "");
    ReportRequest request;
    request.from = dt::FromDate(2024, 1, from);
    request.to = dt::FromDate(2024, 1, to);
    request.site = site;
    request.by = by;
    return ReportCalls(*engine, request);
  }
  static const ReportCurrency* Currency(const CallReport& r, const std::string& code) {
    for (const ReportCurrency& c : r.currencies)
      if (c.code == code) return &c;
    return nullptr;
  }
};

TEST_F(CallReportTest, CurrenciesAreNeverSummedTogetherAndEachCallCountsOnce) {
  Rated(1, 5, "MI", "200", "0.1234", "'EUR'", 60);
  Rated(2, 5, "MI", "202", "0.1234", "'EUR'", 61);
  Rated(3, 6, "MI", "202", "0.0001", "NULL", 1);         // no currency stored: the site's (EUR)
  Rated(4, 6, "NY", "201", "1.5", "'USD'", 120, "Local", "Gamma");
  Rated(5, 7, "NY", "203", "2.25", "'US Dollar'", 30);   // named by its description
  Rated(6, 7, "NY", "203", "9.99", "'XYZ'", 30);         // a currency Valute does not know
  Rated(7, 8, "MI", "200", "5", "'EUR'", 60, "National", "Alpha", "NULL");  // never rated
  Rated(8, 31, "MI", "200", "0.5", "'EUR'", 60);         // last day of the period, 23:59:59
  const CallReport r = Report(ReportBy::Site, 5, 31);
  EXPECT_EQ(r.unrated, 1);
  ASSERT_EQ(r.currencies.size(), 3u);
  const ReportCurrency* eur = Currency(r, "EUR");
  const ReportCurrency* usd = Currency(r, "USD");
  const ReportCurrency* xyz = Currency(r, "XYZ");
  ASSERT_TRUE(eur && usd && xyz);
  EXPECT_EQ(eur->total.calls, 4);
  EXPECT_EQ(eur->total.cost, Money::FromText("0.7469"));
  EXPECT_EQ(eur->total.seconds, 182);
  EXPECT_TRUE(eur->known);
  EXPECT_EQ(eur->decimals, 2);
  EXPECT_EQ(usd->total.calls, 2);
  EXPECT_EQ(usd->total.cost, Money::FromText("3.75"));
  EXPECT_EQ(usd->name, "US Dollar");
  EXPECT_FALSE(xyz->known);
  EXPECT_EQ(xyz->decimals, 4);
  EXPECT_EQ(xyz->total.cost, Money::FromText("9.99"));

  // The period's ends are days, both included.
  EXPECT_EQ(Currency(Report(ReportBy::Site, 6, 30), "EUR")->total.calls, 1);
  EXPECT_EQ(Report(ReportBy::Site, 9, 30).currencies.size(), 0u);
  EXPECT_EQ(Currency(Report(ReportBy::Site, 1, 31, "NY"), "EUR"), nullptr);
}

TEST_F(CallReportTest, EveryGroupingAddsUpToTheTotals) {
  int id = 0;
  for (int day = 1; day <= 20; ++day)
    for (const auto& [site, extension, currency] :
         {std::tuple{"MI", "200", "'EUR'"}, std::tuple{"MI", "202", "'EUR'"}, std::tuple{"NY", "201", "'USD'"}}) {
      ++id;
      Rated(id, day, site, extension, "0." + std::to_string(1000 + day * 37 + id), currency, 10 + id,
            day % 3 ? "National" : "Mobile", day % 2 ? "Alpha" : "Gamma");
    }
  for (ReportBy by : {ReportBy::Site, ReportBy::Department, ReportBy::CostCentre, ReportBy::Extension,
                      ReportBy::DestinationType, ReportBy::Carrier, ReportBy::Day}) {
    SCOPED_TRACE(ReportByName(by));
    const CallReport r = Report(by);
    ASSERT_EQ(r.currencies.size(), 2u);
    for (const ReportCurrency& c : r.currencies) {
      ReportGroup sum, days;
      for (const auto* list : {&c.groups, &c.days}) {
        ReportGroup& into = list == &c.groups ? sum : days;
        for (const ReportGroup& g : *list) {
          into.calls += g.calls;
          into.seconds += g.seconds;
          into.cost += g.cost;
        }
      }
      EXPECT_EQ(sum.calls, c.total.calls);
      EXPECT_EQ(sum.seconds, c.total.seconds);
      EXPECT_EQ(sum.cost, c.total.cost);
      EXPECT_EQ(days.cost, c.total.cost);
      EXPECT_EQ(c.days.size(), 20u);
      EXPECT_EQ(c.days.front().name, "2024-01-01");
      if (by != ReportBy::Day)
        for (std::size_t i = 1; i < c.groups.size(); ++i) EXPECT_GE(c.groups[i - 1].cost, c.groups[i].cost);
    }
  }
  const CallReport by_extension = Report(ReportBy::Extension);
  const ReportCurrency* eur = Currency(by_extension, "EUR");
  ASSERT_EQ(eur->groups.size(), 2u);
  for (const ReportGroup& g : eur->groups) {
    EXPECT_TRUE(g.name == "MI/200" || g.name == "MI/202") << g.name;
    EXPECT_EQ(g.label, "User " + g.name.substr(3));
    EXPECT_EQ(g.calls, 20);
  }
}

TEST_F(CallReportTest, APeriodEndingBeforeItStartsIsRefused) {
  auto engine = MakeEngine();
  ReportRequest request;
  request.from = dt::FromDate(2024, 2, 1);
  request.to = dt::FromDate(2024, 1, 31);
  EXPECT_THROW(ReportCalls(*engine, request), ComponentError);
}

// The same report through ODBC: the period's date escapes and the site
// parameter reach PostgreSQL, money comes back exact from numeric(19,4).
TEST_F(EngineTest, ReportOnPostgres) {
  PgCluster& pg = PgCluster::Instance();
  const std::string db = pg.CreateDatabase();
  const std::string ddl =
      pg.PsqlCommand(db) + " -q -v ON_ERROR_STOP=1 -f " ORDALIS_SOURCE_DIR "/sql/ordalis-postgresql.sql";
  ASSERT_EQ(std::system(ddl.c_str()), 0) << ddl;
  const std::string rows =
      pg.PsqlCommand(db) +
      " -q -v ON_ERROR_STOP=1 -c \"INSERT INTO Valute (sDescrizione, sSimbolo, sCodice, iNumeroDecimali, sValutaRif, "
      "dblRapportoDiCambio) VALUES ('Euro', 'EUR', 'EUR', 2, 'EUR', 1); "
      "INSERT INTO CHIAMATE (dData, DORA, DDURATA, SNUMERO, SSITO, STIPO, ISTATO, sGiorno_c, CCOSTO1_C, sValuta) VALUES "
      "('2024-01-05', '1899-12-30 10:00:00', '1899-12-30 00:01:00', '06', 'MI', 'O', 0, 'Fri', 0.1234, 'EUR'), "
      "('2024-01-31', '1899-12-30 23:59:59', '1899-12-30 00:00:30', '06', 'MI', 'O', 0, 'Wed', 0.5, 'EUR'), "
      "('2024-01-06', '1899-12-30 10:00:00', '1899-12-30 00:02:00', '06', 'NY', 'O', 0, 'Sat', 1.5, 'USD'), "
      "('2024-02-01', '1899-12-30 00:00:00', '1899-12-30 00:01:00', '06', 'MI', 'O', 0, 'Thu', 9, 'EUR'), "
      "('2024-01-07', '1899-12-30 10:00:00', '1899-12-30 00:01:00', '06', 'MI', 'O', 0, NULL, NULL, NULL)\"";
  ASSERT_EQ(std::system(rows.c_str()), 0) << rows;
  clsChiamate engine;
  engine.set_TipoDb(dbSql);
  engine.set_User(PgCluster::kUser);
  engine.set_Pwd(PgCluster::kPassword);
  engine.Init(std::string(PgCluster::kDsn) + ";Database=" + db + ";Port=" + std::to_string(pg.port()));
  ReportRequest request;
  request.from = dt::FromDate(2024, 1, 1);
  request.to = dt::FromDate(2024, 1, 31);
  request.site = "MI";
  request.by = ReportBy::Day;
  CallReport r = ReportCalls(engine, request);
  EXPECT_EQ(r.unrated, 1);
  ASSERT_EQ(r.currencies.size(), 1u);
  EXPECT_EQ(r.currencies[0].code, "EUR");
  EXPECT_EQ(r.currencies[0].decimals, 2);
  EXPECT_EQ(r.currencies[0].total.calls, 2);
  EXPECT_EQ(r.currencies[0].total.seconds, 90);
  EXPECT_EQ(r.currencies[0].total.cost, Money::FromText("0.6234"));
  ASSERT_EQ(r.currencies[0].groups.size(), 2u);
  EXPECT_EQ(r.currencies[0].groups[1].name, "2024-01-31");
  request.site.clear();
  EXPECT_EQ(ReportCalls(engine, request).currencies.size(), 2u);
}

TEST(FormatAmount, RoundsHalvesToEvenToTheCurrencysDecimals) {
  EXPECT_EQ(FormatAmount(Money::FromText("1411.6"), 2), "1411.60");
  EXPECT_EQ(FormatAmount(Money::FromText("0.125"), 2), "0.12");
  EXPECT_EQ(FormatAmount(Money::FromText("0.135"), 2), "0.14");
  EXPECT_EQ(FormatAmount(Money::FromText("-0.125"), 2), "-0.12");
  EXPECT_EQ(FormatAmount(Money::FromText("-0.0051"), 2), "-0.01");
  EXPECT_EQ(FormatAmount(Money::FromText("2.5"), 0), "2");
  EXPECT_EQ(FormatAmount(Money::FromText("3.5"), 0), "4");
  EXPECT_EQ(FormatAmount(Money::FromText("0.0001"), 4), "0.0001");
  EXPECT_EQ(FormatAmount(Money::FromRaw(INT64_MIN + 1), 4), "-922337203685477.5807");
}

}  // namespace
}  // namespace ordalis::testing
