// Carrier comparison on the demo's carrier files (Alpha, Beta at 0.9 of
// Alpha's prices with 30 s rounding, Gamma at 0.8 with 60 s rounding and
// interconnection prefix 1055): one call priced on demand, a site's period
// priced into a grid, duplicate carrier names renamed on disk.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "EngineFixture.h"
#include "call/clsChiamata.h"
#include "ordalis/CarrierComparison.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Grid.h"
#include "tariffs/clsCarrier.h"
#include "tariffs/clsCarriers.h"
#include "tariffs/clsDatiTariffa.h"

namespace ordalis::testing {
namespace {

namespace fs = std::filesystem;

class ComparisonTest : public RatingTest {
 protected:
  std::string CarrierFile(const std::string& name) { return (dir_ / "Carrier" / name).string(); }
  std::string Alpha() { return CarrierFile("alpha.mdb"); }
  std::string Beta() { return CarrierFile("beta.mdb"); }
  std::string Gamma() { return CarrierFile("gamma.mdb"); }

  // A copy of a demo carrier file, changed by `sql` (run on the copy).
  std::string CopyOf(const std::string& from, const std::string& name, const std::string& sql = "") {
    std::string path = CarrierFile(name);
    fs::copy_file(from, path, fs::copy_options::overwrite_existing);
    if (!sql.empty()) {
      std::string keep = db_path_;
      db_path_ = path;
      Sql(sql);
      db_path_ = keep;
    }
    return path;
  }
  std::string CarrierName(const std::string& path) {
    std::string keep = db_path_;
    db_path_ = path;
    std::string name = Query("SELECT NomeCarrier FROM Carrier");
    db_path_ = keep;
    return name;
  }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // An outgoing call of site MI from extension 202 with the destination
  // type a batch run stored.
  void Call(const std::string& date, const std::string& time, int seconds, const std::string& number,
            const std::string& type, const std::string& site = "MI") {
    ++next_id_;
    Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, "
        "LSCATTI, STIPODESTINAZIONE_C) VALUES (" + std::to_string(next_id_) + ", '" + date + " 00:00:00', '1899-12-30 " +
        time + "', '" + dt::ToIsoText(seconds / 86400.0) + "', '" + number + "', '" + site + "', '202', 'O', 'L1', 0, 0, '" +
        type + "')");
  }

  // An outgoing call of site MI whose date is stored as `stored_date` (an
  // SQL literal: any form the engine reads).
  void CallStoredAs(const std::string& stored_date, const std::string& number) {
    ++next_id_;
    Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, "
        "LSCATTI, STIPODESTINAZIONE_C) VALUES (" + std::to_string(next_id_) + ", " + stored_date +
        ", '1899-12-30 10:15:00', '1899-12-30 00:10:00', '" + number + "', 'MI', '202', 'O', 'L1', 0, 0, 'Local')");
  }

  // Prices one call with the file and returns cCosto3_c as text; the
  // comparison tariff is looked up afresh for each call.
  std::string Price(clsChiamate& engine, const std::string& file, const std::string& number, DateTime date,
                    const std::string& time, int seconds) {
    engine.Chiamata().StatoTariffa3 = stDaIndividuare;
    engine.CalcolaChiamata(date, dt::FromText(time), seconds / 86400.0, number, file, "MI", "202", true);
    return engine.cCosto3_c().ToText();
  }

  std::unique_ptr<clsChiamate> ComparisonEngine(const std::vector<std::string>& files) {
    auto engine = MakeEngine();
    for (const auto& f : files) engine->AggiungiCarrierPerConfronto(f);
    engine->CacheConfrontoCarrier("MI");
    EXPECT_EQ(engine->Errore(), "");
    return engine;
  }
  static MemoryGrid ZeroGrid(std::size_t rows) {
    MemoryGrid grid(rows, 6);
    for (std::size_t r = 0; r < rows; ++r)
      for (std::size_t c = 0; c < 6; ++c) grid.Set(r, c, Variant(Money()));
    return grid;
  }
  static std::string Cell(const Grid& grid, std::size_t r, std::size_t c) {
    Variant v = grid.Get(r, c);
    return v.kind() == Variant::Kind::Text ? "text:" + v.ToText() : v.ToMoney().ToText();
  }

  const DateTime kWednesday = dt::FromDate(2024, 1, 10);
  const DateTime kHoliday = dt::FromDate(2024, 1, 6);  // day type 2 in the calendar
  int next_id_ = 0;
};

// A 600 s local call from Milan at 10:15 on a weekday: 598 s charged after
// the 2 s dialling allowance, plus the answer charge, rounded to the cent.
// Alpha: 0.03 + 598 s at 0.02 = 0.2293 -> 0.23. Beta: 598 s rounded up to
// 600 at 0.018 = 0.18 + 0.027 -> 0.21. Gamma: 600 s at 0.016 + 0.024 -> 0.18.
TEST_F(ComparisonTest, OneCallPricedWithEachCarrier) {
  auto engine = MakeEngine();
  EXPECT_EQ(Price(*engine, Alpha(), "024567890", kWednesday, "10:15:00", 600), "0.23");
  EXPECT_EQ(Price(*engine, Beta(), "024567890", kWednesday, "10:15:00", 600), "0.21");
  EXPECT_EQ(Price(*engine, Gamma(), "024567890", kWednesday, "10:15:00", 600), "0.18");

  auto tariff = engine->DatiTariffa();
  ASSERT_NE(tariff, nullptr);
  EXPECT_EQ(tariff->GruppoDest, "Locale MI");
  EXPECT_EQ(tariff->Fascia, "Peak");
  EXPECT_EQ(tariff->ArrotDurata, 60);
  EXPECT_EQ(tariff->CostiMinuto, "0|86400|0.016|");
  auto fields = DatiTariffaFields(*engine);
  ASSERT_FALSE(fields.empty());
  EXPECT_EQ(fields.front().first, "GruppoDest");
  EXPECT_EQ(fields.front().second.ToText(), "Locale MI");
}

TEST_F(ComparisonTest, TariffFollowsDayTypeTimeAndDestination) {
  auto engine = MakeEngine();
  // Holiday: 0.7 of the weekday price, 0.014 a minute: 0.03 + 0.1395 -> 0.17.
  EXPECT_EQ(Price(*engine, Alpha(), "024567890", kHoliday, "10:15:00", 600), "0.17");
  EXPECT_EQ(engine->DatiTariffa()->TipoGiorno, 2);
  // Off-peak from 19:00: 0.01 a minute: 0.03 + 0.0997 -> 0.13.
  EXPECT_EQ(Price(*engine, Alpha(), "024567890", kWednesday, "19:00:00", 600), "0.13");
  EXPECT_EQ(engine->DatiTariffa()->Fascia, "Off-peak");
  // A mobile number at peak: 0.06 + 598 s at 0.15 = 1.555 -> 1.56 (half up).
  EXPECT_EQ(Price(*engine, Alpha(), "3471234567", kWednesday, "10:15:00", 600), "1.56");
  EXPECT_EQ(engine->DatiTariffa()->GruppoDest, "Mobile IT");
  // Dialled through Gamma's interconnection prefix, Alpha prices the bare
  // local number.
  EXPECT_EQ(Price(*engine, Alpha(), "1055024567890", kWednesday, "10:15:00", 600), "0.23");
  // No destination for the number: cost 0 and no tariff.
  EXPECT_EQ(Price(*engine, Alpha(), "9", kWednesday, "10:15:00", 600), "0");
  EXPECT_EQ(engine->DatiTariffa(), nullptr);
  EXPECT_EQ(engine->Chiamata().StatoTariffa3, stNonIndividuato);
}

TEST_F(ComparisonTest, TariffOutsideItsValidityIsNotUsed) {
  std::string old = CopyOf(Alpha(), "old.mdb",
                           "UPDATE Carrier SET NomeCarrier = 'Old';"
                           "UPDATE Listino SET dValiditaAl = '2023-12-31 00:00:00' WHERE sGruppoDest_e = 'Locale MI'");
  auto engine = MakeEngine();
  EXPECT_EQ(Price(*engine, old, "024567890", kWednesday, "10:15:00", 600), "0");
  EXPECT_EQ(engine->DatiTariffa(), nullptr);
  EXPECT_EQ(Price(*engine, old, "064567890", kWednesday, "10:15:00", 600), "0.55");  // national: 0.05 + 0.4983
}

TEST_F(ComparisonTest, SecondCalcolaChiamataWithTheSameFileDoesNotReload) {
  auto engine = MakeEngine();
  int starts = 0;
  struct Counting : RecordingEvents {
    int* starts;
    void CacheStart(std::int32_t& total) override { ++*starts; }
  } counting;
  counting.starts = &starts;
  engine->SetEvents(&counting);
  engine->CalcolaChiamata(kWednesday, dt::FromText("10:15:00"), 600 / 86400.0, "024567890", Alpha(), "MI", "202", true);
  engine->CalcolaChiamata(kWednesday, dt::FromText("10:15:00"), 600 / 86400.0, "024567890", Alpha(), "MI", "202", true);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(engine->colCarrier().Count(), 1u);
  EXPECT_EQ(engine->cCosto3_c().ToText(), "0.23");
  // The tariff found is kept for the next call until the host resets it.
  engine->CalcolaChiamata(kWednesday, dt::FromText("10:15:00"), 600 / 86400.0, "3471234567", Alpha(), "MI", "202");
  EXPECT_EQ(engine->cCosto3_c().ToText(), "0.23");
}

TEST_F(ComparisonTest, CalcolaChiamataWithoutCarriersIsAnError) {
  auto engine = MakeEngine();
  EXPECT_THROW(engine->CalcolaChiamata(kWednesday, 0.4, 0.01, "024567890", Alpha(), "MI", "202"), ComponentError);
}

TEST_F(ComparisonTest, ThreeFilesNamingAlphaAreRenamedOnDisk) {
  std::string a1 = CopyOf(Alpha(), "a1.mdb"), a2 = CopyOf(Alpha(), "a2.mdb"), a3 = CopyOf(Alpha(), "a3.mdb");
  auto engine = ComparisonEngine({a1, a2, a3});
  EXPECT_EQ(CarrierName(a1), "Alpha");
  EXPECT_EQ(CarrierName(a2), "Alpha (2)");
  EXPECT_EQ(CarrierName(a3), "Alpha (3)");
  ASSERT_TRUE(engine->Carriers);
  ASSERT_EQ(engine->Carriers->Carriers().Count(), 3u);
  EXPECT_EQ(engine->Carriers->Carriers().Item("Alpha (3)")->DatabaseTariffe, a3);
  EXPECT_TRUE(engine->Cached());

  // Loading again finds the names unique and changes nothing.
  std::string before = Bytes(a2);
  engine->CancellaListaCarrierPerConfronto();
  for (const auto& f : {a1, a2, a3}) engine->AggiungiCarrierPerConfronto(f);
  engine->ControllaDuplicatiNomiCarrier(engine->colCarrier());
  EXPECT_EQ(Bytes(a2), before);
}

TEST_F(ComparisonTest, TheSameFileListedTwiceKeepsItsName) {
  auto engine = MakeEngine();
  engine->AggiungiCarrierPerConfronto(Alpha());
  engine->AggiungiCarrierPerConfronto(Alpha());
  engine->AggiungiCarrierPerConfronto(Beta());
  EXPECT_TRUE(engine->ControllaDuplicatiNomiCarrier(engine->colCarrier()));
  EXPECT_EQ(CarrierName(Alpha()), "Alpha");
  EXPECT_EQ(CarrierName(Beta()), "Beta");
}

TEST_F(ComparisonTest, PeriodPricedIntoTheGridByDestinationType) {
  Call("2024-01-10", "10:15:00", 600, "024567890", "Local");
  Call("2024-01-11", "10:15:00", 600, "024567891", "Local");
  Call("2024-01-12", "10:15:00", 600, "064567890", "National");
  Call("2024-01-12", "10:15:00", 600, "064567890", "National", "NY");  // another site
  Call("2024-02-12", "10:15:00", 600, "064567890", "National");        // after the period
  auto engine = ComparisonEngine({Alpha(), Beta(), Gamma()});
  MemoryGrid grid = ZeroGrid(3);
  engine->ConfrontaCarrier("MI", dt::FromDate(2024, 1, 10), dt::FromDate(2024, 1, 12), grid);
  // National at peak, 0.05 a minute: Alpha 0.05 + 0.4983 -> 0.55;
  // Beta 0.045 + 600 s at 0.045 -> 0.495 -> 0.5; Gamma 0.04 + 0.4 -> 0.44.
  EXPECT_EQ(Cell(grid, 0, 0), "0.46");
  EXPECT_EQ(Cell(grid, 0, 1), "0.55");
  EXPECT_EQ(Cell(grid, 0, 5), "1.01");
  EXPECT_EQ(Cell(grid, 1, 0), "0.42");
  EXPECT_EQ(Cell(grid, 1, 5), "0.92");
  EXPECT_EQ(Cell(grid, 2, 0), "0.36");
  EXPECT_EQ(Cell(grid, 2, 1), "0.44");
  EXPECT_EQ(Cell(grid, 2, 5), "0.8");
  for (std::size_t r = 0; r < 3; ++r)
    for (std::size_t c : {2, 3, 4}) EXPECT_EQ(Cell(grid, r, c), "0") << r << "," << c;
  ASSERT_EQ(events_.progress.size(), 3u);
  EXPECT_EQ(events_.progress.back(), std::make_pair(3, 3));
  EXPECT_EQ(events_.done, 1);
  EXPECT_FALSE(engine->ConnectionOpen());
}

TEST_F(ComparisonTest, AdjacentAndRegionalCallsCountAsNational) {
  Call("2024-01-12", "10:15:00", 600, "064567890", "Adiacenti");
  Call("2024-01-12", "10:15:00", 600, "064567890", "Regional");
  Call("2024-01-12", "10:15:00", 600, "064567890", "Distrettuali");  // any other type: column 5
  auto engine = ComparisonEngine({Alpha()});
  MemoryGrid grid = ZeroGrid(1);
  engine->ConfrontaCarrier("MI", dt::FromDate(2024, 1, 12), dt::FromDate(2024, 1, 12), grid);
  // Each is the 0.55 national call of the test above.
  EXPECT_EQ(Cell(grid, 0, 1), "1.1");
  EXPECT_EQ(Cell(grid, 0, 4), "0.55");
  EXPECT_EQ(Cell(grid, 0, 5), "1.65");
  for (std::size_t c : {0, 2, 3}) EXPECT_EQ(Cell(grid, 0, c), "0") << c;
}

TEST_F(ComparisonTest, PeriodHoldsTheCallsOfItsDaysWhateverFormTheirDateIsStoredIn) {
  const std::string jan12 = std::to_string(dt::DaySerial(dt::FromDate(2024, 1, 12)));
  CallStoredAs("'2024-01-09 23:59:59'", "024567890");  // before
  CallStoredAs("'2024-01-10'", "024567890");
  CallStoredAs("'2024-01-11T00:00:00'", "024567890");
  CallStoredAs("'2024-01-11 00:00:00.000'", "024567890");
  CallStoredAs(jan12, "024567890");              // a number of days
  CallStoredAs(jan12 + ".5", "024567890");       // noon of the last day
  CallStoredAs("'2024-01-13'", "024567890");     // after
  auto engine = ComparisonEngine({Alpha()});
  MemoryGrid grid = ZeroGrid(1);
  engine->ConfrontaCarrier("MI", dt::FromDate(2024, 1, 10), dt::FromDate(2024, 1, 12), grid);
  ASSERT_FALSE(events_.progress.empty());
  EXPECT_EQ(events_.progress.back(), std::make_pair(5, 5));
  EXPECT_EQ(Cell(grid, 0, 5), "1.15");  // five local calls at 0.23
}

TEST_F(ComparisonTest, EachCarrierMatchesNumbersAgainstItsOwnDestinations) {
  // NoLondon prices London as the rest of the United Kingdom: its file has
  // no 0044 20 destination, which Alpha's has.
  const std::string no_london = CopyOf(Alpha(), "nolondon.mdb",
                                       "UPDATE Carrier SET NomeCarrier = 'NoLondon';"
                                       "DELETE FROM Destinazioni WHERE sNazione = '0044' AND sArea = '20';"
                                       "DELETE FROM GruppoDiDestinazioni WHERE sNazione = '0044' AND sArea = '20'");
  Call("2024-01-10", "10:15:00", 600, "00442071234567", "International");
  auto alone = CompareCarriers(*MakeEngine(), "MI", kWednesday, kWednesday, {no_london});
  auto both = CompareCarriers(*MakeEngine(), "MI", kWednesday, kWednesday, {Alpha(), no_london});
  ASSERT_TRUE(alone.rows[0].complete);
  EXPECT_NE(alone.rows[0].cells[5].ToMoney(), Money());
  ASSERT_TRUE(both.rows[1].complete) << both.rows[1].unpriced;
  EXPECT_EQ(both.rows[1].cells[5].ToMoney(), alone.rows[0].cells[5].ToMoney());
  EXPECT_TRUE(both.rows[0].complete);
}

TEST_F(ComparisonTest, EmptyPeriodLeavesTheGridUnchanged) {
  Call("2024-01-10", "10:15:00", 600, "024567890", "Local");
  auto engine = ComparisonEngine({Alpha(), Beta()});
  MemoryGrid grid = ZeroGrid(2);
  grid.Set(1, 3, Variant("host"));
  engine->ConfrontaCarrier("MI", dt::FromDate(2024, 3, 1), dt::FromDate(2024, 3, 31), grid);
  for (std::size_t r = 0; r < 2; ++r)
    for (std::size_t c = 0; c < 6; ++c) EXPECT_EQ(Cell(grid, r, c), r == 1 && c == 3 ? "text:host" : "0");
  EXPECT_TRUE(events_.progress.empty());
  EXPECT_EQ(events_.done, 1);
}

TEST_F(ComparisonTest, NoCheapestCarrierWithoutPricedCalls) {
  auto engine = MakeEngine();
  ComparisonTable table = CompareCarriers(*engine, "MI", kWednesday, kWednesday, {Alpha(), Beta()});
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.cheapest, "");
  EXPECT_NE(FormatComparisonTable(table).find("none"), std::string::npos);
}

TEST_F(ComparisonTest, MobileCallWithoutTariffMarksItsCellOnlyWhileZero) {
  std::string no_mobile =
      CopyOf(Beta(), "nomobile.mdb", "UPDATE Carrier SET NomeCarrier = 'NoMobile'; DELETE FROM Listino WHERE sGruppoDest_e = 'Mobile IT'");
  Call("2024-01-10", "10:15:00", 600, "3471234567", "Mobile");
  auto engine = ComparisonEngine({Alpha(), no_mobile, no_mobile});
  MemoryGrid grid = ZeroGrid(3);
  grid.Set(2, 2, Variant(Money::FromDouble(1.5)));  // an amount already in the cell
  engine->ConfrontaCarrier("MI", kWednesday, kWednesday, grid);
  EXPECT_EQ(Cell(grid, 0, 2), "1.56");
  EXPECT_EQ(Cell(grid, 1, 2), "text:0.");
  EXPECT_EQ(Cell(grid, 1, 5), "0");  // the total is not marked
  EXPECT_EQ(Cell(grid, 2, 2), "1.5");
  EXPECT_EQ(CarrierName(no_mobile), "NoMobile");
}

TEST_F(ComparisonTest, StopItEndsAfterTheCurrentCall) {
  for (int d = 10; d < 15; ++d) Call("2024-01-" + std::to_string(d), "10:15:00", 600, "024567890", "Local");
  auto engine = ComparisonEngine({Alpha()});
  events_.on_progress = [&] { engine->StopIt(); };
  MemoryGrid grid = ZeroGrid(1);
  engine->ConfrontaCarrier("MI", dt::FromDate(2024, 1, 1), dt::FromDate(2024, 1, 31), grid);
  EXPECT_EQ(events_.progress.size(), 1u);
  EXPECT_EQ(events_.progress[0], std::make_pair(1, 5));
  EXPECT_EQ(Cell(grid, 0, 5), "0.23");
  EXPECT_EQ(events_.done, 1);
  EXPECT_FALSE(engine->ConnectionOpen());
}

TEST_F(ComparisonTest, CompareCarriersNamesTheCheapestAndLeavesFilesAlone) {
  Call("2024-01-10", "10:15:00", 600, "024567890", "Local");
  Call("2024-01-10", "10:15:00", 600, "3471234567", "Mobile");
  std::string no_mobile =
      CopyOf(Beta(), "nomobile.mdb", "UPDATE Carrier SET NomeCarrier = 'NoMobile'; DELETE FROM Listino WHERE sGruppoDest_e = 'Mobile IT'");
  std::vector<std::string> files = {Alpha(), Beta(), no_mobile};
  std::vector<std::string> before;
  for (const auto& f : files) before.push_back(Bytes(f));
  auto engine = MakeEngine();
  ComparisonTable table = CompareCarriers(*engine, "MI", kWednesday, kWednesday, files);
  ASSERT_EQ(table.rows.size(), 3u);
  EXPECT_EQ(table.rows[0].carrier, "Alpha");
  EXPECT_EQ(table.rows[2].carrier, "NoMobile");
  EXPECT_FALSE(table.rows[2].complete);
  EXPECT_EQ(table.rows[2].unpriced, 1);
  EXPECT_EQ(table.rows[1].unpriced, 0);
  // NoMobile's total is lowest, but it could not price the mobile call.
  EXPECT_EQ(table.cheapest, "Beta");
  std::string text = FormatComparisonTable(table);
  EXPECT_NE(text.find("0."), std::string::npos);
  EXPECT_NE(text.find("incomplete: 1 calls unpriced"), std::string::npos) << text;
  EXPECT_NE(text.find("Cheapest: Beta"), std::string::npos);
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(Bytes(files[i]), before[i]) << files[i];

  // Only incomplete carriers: none is the cheapest.
  table = CompareCarriers(*MakeEngine(), "MI", kWednesday, kWednesday, {no_mobile});
  EXPECT_EQ(table.cheapest, "");
}

TEST_F(ComparisonTest, ComparisonAfterABatchRunAndTwiceInARow) {
  Call("2024-01-10", "10:15:00", 600, "024567890", "Local");
  auto engine = MakeEngine();
  engine->Process();  // closes the connection
  ASSERT_FALSE(engine->ConnectionOpen());
  for (int round = 0; round < 2; ++round) {
    ComparisonTable table = CompareCarriers(*engine, "MI", kWednesday, kWednesday, {Alpha(), Gamma()});
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(table.rows[0].cells[5].ToMoney().ToText(), "0.23") << round;
    EXPECT_EQ(table.rows[1].cells[5].ToMoney().ToText(), "0.18") << round;
    EXPECT_EQ(table.cheapest, "Gamma");
  }
}

TEST_F(ComparisonTest, BadInputGivesClearErrors) {
  auto engine = MakeEngine();
  auto message = [&](const std::string& site, DateTime from, DateTime to, const std::vector<std::string>& files) {
    try {
      CompareCarriers(*engine, site, from, to, files);
    } catch (const ComponentError& e) {
      return e.Description();
    }
    return std::string("no error");
  };
  EXPECT_NE(message("MI", kWednesday, kHoliday, {Alpha()}).find("before it starts"), std::string::npos);
  EXPECT_NE(message("MI", kHoliday, kWednesday, {Alpha(), Alpha()}).find("listed twice"), std::string::npos);
  EXPECT_NE(message("MI", kHoliday, kWednesday, {}).find("No carrier file"), std::string::npos);
  EXPECT_NE(message("XX", kHoliday, kWednesday, {Alpha()}).find("no site XX"), std::string::npos);
  // The engine database is no carrier tariff file; a missing file neither.
  std::string not_carrier = message("MI", kHoliday, kWednesday, {Alpha(), db_path_});
  EXPECT_NE(not_carrier, "no error");
  EXPECT_NE(not_carrier.find("is not a carrier tariff file"), std::string::npos) << not_carrier;
  engine->set_Errore("");
  EXPECT_NE(message("MI", kHoliday, kWednesday, {(dir_ / "missing.mdb").string()}), "no error");
}

}  // namespace
}  // namespace ordalis::testing
