// Calls rated end to end through rows of a database holding the demo's
// reference data (sites Milan and New York, carriers Alpha, Beta, Gamma).
#include "EngineFixture.h"

namespace ordalis::testing {
namespace {

class PipelineTest : public RatingTest {
 protected:
  // Stores one outgoing call and returns its key.
  int Call(const std::string& site, const std::string& extension, const std::string& number, const std::string& date,
           const std::string& time, int seconds, const std::string& line = "L1", int pulses = 0) {
    int id = ++next_id_;
    Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, "
        "LSCATTI) VALUES (" + std::to_string(id) + ", '" + date + " 00:00:00', '1899-12-30 " + time + "', '" +
        dt::ToIsoText(seconds / 86400.0) + "', '" + Quoted(number) + "', '" + site + "', '" + extension + "', 'O', '" + line +
        "', 0, " + std::to_string(pulses) + ")");
    return id;
  }
  static std::string Quoted(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out;
  }
  std::string Col(const std::string& column, int id) {
    return Query("SELECT " + column + " FROM CHIAMATE WHERE lPKId = " + std::to_string(id));
  }
  std::string Money4(const std::string& column, int id) { return Col("printf('%.4f', " + column + ")", id); }
  int next_id_ = 0;
};

TEST_F(PipelineTest, LocalCallFromMilan) {
  // Extension 202: no privacy, no markup. Tuesday 2024-01-02 at 10:15,
  // 120 s: 118 s after the 2 s dialling allowance; answer 0.03 and 118 s at
  // 0.02 a minute make 0.0693, rounded to the cent 0.07.
  int id = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Col("sGiorno_c", id), "Tue");
  EXPECT_EQ(Col("SFASCIAORARIA_C", id), "Peak");
  EXPECT_EQ(Money4("CCOSTO1_C", id), "0.0700");
  EXPECT_EQ(Money4("CTARIFFA_C", id), "0.0200");
  EXPECT_EQ(Col("SCARRIER1_C", id), "Alpha");
  EXPECT_EQ(Col("SCARRIER2_C", id), "Beta");
  EXPECT_EQ(Col("STIPODESTINAZIONE_C", id), "Local");
  EXPECT_EQ(Col("SNAZIONE_C", id), "Italia");
  EXPECT_EQ(Col("SAREA_C", id), "Milano");
  EXPECT_EQ(Col("sNomeGruppo", id), "Locale MI");
  EXPECT_EQ(Col("SESITOCHIAMATA_C", id), "1");
  EXPECT_EQ(Col("SNOMEDERIVATO_C", id), "User 3");
  EXPECT_EQ(Col("SREPARTO_C", id), "Finance");
  EXPECT_EQ(Col("sValuta", id), "EUR");
  // Milan is one hour east of UTC in January.
  EXPECT_EQ(Col("dUTCDateTime", id), "2024-01-02 09:15:00");
  EXPECT_EQ(Col("dGatewayDateTime", id), "2024-01-02 10:15:00");
  EXPECT_EQ(Col("dData", id), "2024-01-02 00:00:00");
  EXPECT_EQ(Col("DORA", id), "1899-12-30 10:15:00");
  // The reference carrier's table gives every local group the site's own
  // area; its last one, "Local NY", prices the call: no answer charge, 118 s
  // at 0.01 make 0.0197, 0.02 to the cent, which is also its minimum.
  EXPECT_EQ(Money4("CCOSTO2_C", id), "0.0200");
  EXPECT_EQ(Money4("CDIFFERENZA_C", id), "-0.0500");
  EXPECT_EQ(Col("printf('%.4f', CCOSTO2_C - CCOSTO1_C - CDIFFERENZA_C)", id), "0.0000");
}

TEST_F(PipelineTest, DayTypesFollowEachCallsOwnDate) {
  // New Year's Day 2024 is a holiday (priced as Sunday 2023-12-31); 13
  // September 2024, 256 days later, is an ordinary Friday (priced as 5
  // January). The holiday comes back after the Friday, and a New York call
  // on the holiday sits between them.
  int holiday = Call("MI", "202", "024567890", "2024-01-01", "10:15:00", 120);
  int friday = Call("MI", "202", "024567890", "2024-09-13", "10:15:00", 120);
  Call("NY", "301", "2125550100", "2024-01-01", "10:15:00", 120);
  int holiday_again = Call("MI", "202", "024567890", "2024-01-01", "10:15:00", 120);
  int sunday = Call("MI", "202", "024567890", "2023-12-31", "10:15:00", 120);
  int january_friday = Call("MI", "202", "024567890", "2024-01-05", "10:15:00", 120);
  MakeEngine()->Process();
  EXPECT_EQ(Money4("CTARIFFA_C", holiday), Money4("CTARIFFA_C", sunday));
  EXPECT_EQ(Money4("CTARIFFA_C", holiday_again), Money4("CTARIFFA_C", sunday));
  EXPECT_EQ(Money4("CTARIFFA_C", friday), Money4("CTARIFFA_C", january_friday));
  EXPECT_NE(Money4("CTARIFFA_C", holiday), Money4("CTARIFFA_C", friday));
}

TEST_F(PipelineTest, PrivacyAndMarkupOnFirstRatingOnly) {
  // Extension 200 has privacy 3 and a 10 % markup.
  int id = Call("MI", "200", "024567890", "2024-01-02", "10:15:00", 120);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Col("SNUMERO", id), "024567***");
  EXPECT_EQ(Money4("CCOSTO1_C", id), "0.0770");
  std::string first = Query("SELECT group_concat(coalesce(SNUMERO,'') || CCOSTO1_C || CCOSTO2_C || sGiorno_c || "
                            "SFASCIAORARIA_C || STIPODESTINAZIONE_C || dData || DORA, '|') FROM CHIAMATE");
  engine->Process();
  EXPECT_EQ(Col("SNUMERO", id), "024567***");  // not masked again
  EXPECT_EQ(Query("SELECT group_concat(coalesce(SNUMERO,'') || CCOSTO1_C || CCOSTO2_C || sGiorno_c || "
                  "SFASCIAORARIA_C || STIPODESTINAZIONE_C || dData || DORA, '|') FROM CHIAMATE"),
            first);
}

TEST_F(PipelineTest, MarkupOnTheMainCostOnlyAndNoAnswerChargeForANonZeroState) {
  // Extension 200 marks its calls up by 10 %, 202 does not.
  int marked = Call("MI", "200", "024567890", "2024-01-02", "10:15:00", 120);
  int plain = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120);
  int stated = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120);
  int negative = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120);
  Sql("UPDATE CHIAMATE SET ISTATO = 1 WHERE lPKId = " + std::to_string(stated));
  Sql("UPDATE CHIAMATE SET ISTATO = -3 WHERE lPKId = " + std::to_string(negative));
  MakeEngine()->Process();
  EXPECT_EQ(Money4("CCOSTO1_C", marked), "0.0770");
  EXPECT_EQ(Money4("CCOSTO2_C", marked), "0.0200");
  EXPECT_EQ(Money4("CCOSTO1_C", plain), "0.0700");
  EXPECT_EQ(Money4("CCOSTO2_C", plain), "0.0200");
  // Without the 0.03 answer charge: 118 s at 0.02 is 0.0393, 0.04 to the
  // cent, raised to the minimum charge 0.05.
  for (int id : {stated, negative}) {
    EXPECT_EQ(Money4("CCOSTO1_C", id), "0.0500");
    EXPECT_EQ(Money4("CCOSTO2_C", id), "0.0200");
    EXPECT_EQ(Col("SESITOCHIAMATA_C", id), "1");
  }
}

TEST_F(PipelineTest, NewYorkCallInItsOwnZone) {
  // 2024-07-01 is in daylight-saving time: New York is UTC-4.
  int id = Call("NY", "201", "2125551234", "2024-07-01", "09:30:00", 60);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Col("dUTCDateTime", id), "2024-07-01 13:30:00");
  EXPECT_EQ(Col("SCARRIER1_C", id), "Gamma");
  EXPECT_EQ(Col("STIPODESTINAZIONE_C", id), "Local");
  EXPECT_EQ(Col("sValuta", id), "USD");
  EXPECT_EQ(Col("printf('%.2f', dblRapportoCambio)", id), "0.92");
}

TEST_F(PipelineTest, InterconnectionPrefixLimitsTariffOneToItsCarrier) {
  int id = Call("MI", "202", "1055024567890", "2024-01-02", "10:15:00", 120);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Col("SCARRIER1_C", id), "Gamma");
  EXPECT_EQ(Col("STIPODESTINAZIONE_C", id), "Local");
}

TEST_F(PipelineTest, PulseChargedLineAndUnknownNumbers) {
  // Line L3 of Milan is charged by metering pulses at 0.05.
  int pulses = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120, "L3", 7);
  int none = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120, "L3", 0);
  int unknown = Call("MI", "202", "9999", "2024-01-02", "10:15:00", 120);
  int nosite = Call("XX", "202", "024567890", "2024-01-02", "10:15:00", 120);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Money4("CCOSTO1_C", pulses), "0.3500");
  EXPECT_EQ(Col("SESITOCHIAMATA_C", pulses), "1");
  EXPECT_EQ(Money4("CCOSTO1_C", none), "0.0000");
  EXPECT_EQ(Col("SESITOCHIAMATA_C", none), "0");
  // No destination: no tariff, cost 0, the computed texts empty.
  EXPECT_EQ(Money4("CCOSTO1_C", unknown), "0.0000");
  EXPECT_EQ(Col("STIPODESTINAZIONE_C", unknown), "<null>");
  EXPECT_EQ(Col("SCARRIER1_C", unknown), "<null>");
  EXPECT_EQ(Col("SCARRIER2_C", unknown), "Beta");
  EXPECT_EQ(Money4("CCOSTO1_C", nosite), "0.0000");
  EXPECT_EQ(Col("sGiorno_c", nosite), "Tue");
}

}  // namespace
}  // namespace ordalis::testing

namespace ordalis::testing {
namespace {

TEST_F(PipelineTest, ExtensionInAnotherZoneThanItsSite) {
  // Extension 204 of Milan works from New York.
  Sql("UPDATE Derivati SET IDTimeZone = 'Eastern Standard Time' WHERE sNumero = '204' AND sSito = 'MI'");
  int id = Call("MI", "204", "024567890", "2024-01-02", "16:00:00", 60);
  auto engine = MakeEngine();
  engine->Process();
  // Gateway time is Milan's, the row keeps the caller's own local time.
  EXPECT_EQ(Col("dGatewayDateTime", id), "2024-01-02 16:00:00");
  EXPECT_EQ(Col("dUTCDateTime", id), "2024-01-02 15:00:00");
  EXPECT_EQ(Col("DORA", id), "1899-12-30 10:00:00");
  // The tariff was chosen on Milan's time: 16:00 is peak.
  EXPECT_EQ(Col("SFASCIAORARIA_C", id), "Peak");
}

TEST_F(PipelineTest, RatingAgainTakesThePreviousCallOffThePhoneBook) {
  Sql("INSERT INTO Rubrica (sNumero, sNome, lTotaleSelezioniO, lTotaleSelezioniI) VALUES ('024567890', 'Ada', 0, 0)");
  int id = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Col("SNOME_C", id), "Ada");
  auto count = [&] { return Query("SELECT lTotaleSelezioniO FROM Rubrica WHERE sNumero = '024567890'"); };
  EXPECT_EQ(count(), "1");
  engine->Process();  // the row is rated again: minus one, plus one
  EXPECT_EQ(count(), "1");
  engine->set_NoUndo(true);
  engine->Process();
  EXPECT_EQ(count(), "2");
}

TEST_F(PipelineTest, NumberCalledFromASwingExtensionStartsASwingRecord) {
  // Extension 240 (the 41st) is a swing extension; the number is not in
  // the phone book.
  int id = Call("MI", "240", "0612345678", "2024-01-02", "10:15:00", 120);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Col("SNOME_C", id), "<null>");
  EXPECT_EQ(Query("SELECT lNumeroChiamateO || '/' || sDerivato || '/' || dMinutiConversazione FROM Swing "
                  "WHERE sNumero = '0612345678'"),
            "1/240/1899-12-30 00:02:00");
  EXPECT_EQ(Query("SELECT printf('%.4f', cCostoConversazioni) FROM Swing WHERE sNumero = '0612345678'"),
            Money4("CCOSTO1_C", id));
}

}  // namespace
}  // namespace ordalis::testing

namespace ordalis::testing {
namespace {

TEST_F(PipelineTest, OddRowsAreRatedWithoutStoppingTheRun) {
  std::vector<int> ids = {
      Call("MI", "202", "02 456-7890", "2024-01-02", "10:15:00", 120),  // blanks and a dash
      Call("MI", "202", "+390245678", "2024-01-02", "10:15:00", 120),
      Call("MI", "202", "ABC", "2024-01-02", "10:15:00", 120),
      Call("MI", "202", std::string(200, '7'), "2024-01-02", "10:15:00", 120),
      Call("MI", "202", "", "2024-01-02", "10:15:00", 120),
      Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 2 * 86400),  // longer than a day
      Call("MI", "202", "024567890", "1800-01-02", "10:15:00", 60),        // before 1900
      Call("MI", "202", "02'; DROP TABLE CHIAMATE; --", "2024-01-02", "10:15:00", 60),
  };
  Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, ISTATO) VALUES "
      "(100, '2024-01-02 00:00:00', '1899-12-30 10:15:00', -0.001, '024567890', 'MI', '202', 'O', 0), "
      "(101, '9999-12-31 00:00:00', '1899-12-30 23:59:59', 0.001, '024567890', 'MI', '202', 'O', 0)");
  Sql("UPDATE Derivati SET IDTimeZone = 'No Such Zone' WHERE sNumero = '204'");
  int zone = Call("MI", "204", "024567890", "2024-01-02", "10:15:00", 60);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(events_.progress.size(), ids.size() + 3);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), std::to_string(ids.size() + 3));
  EXPECT_EQ(Col("sGiorno_c", 101), "Fri");
  // A number that is no destination costs nothing and has no type.
  EXPECT_EQ(Money4("CCOSTO1_C", ids[2]), "0.0000");
  EXPECT_EQ(Col("STIPODESTINAZIONE_C", ids[4]), "<null>");
  // A call of two days is charged up to the end of the tariff's last step
  // (a day): answer 0.03 and 1440 minutes at 0.02.
  EXPECT_EQ(Col("SESITOCHIAMATA_C", ids[5]), "1");
  EXPECT_EQ(Money4("CCOSTO1_C", ids[5]), "28.8300");
  // No tariff is valid in 1800: nothing priced; the day and the time stay
  // those of the exchange (before 1899-12-30 too).
  EXPECT_EQ(Money4("CCOSTO1_C", ids[6]), "0.0000");
  EXPECT_EQ(Col("sGiorno_c", ids[6]), "Thu");
  EXPECT_EQ(Col("dData", ids[6]), "1800-01-02 00:00:00");
  EXPECT_EQ(Col("DORA", ids[6]), "1899-12-30 10:15:00");
  // The quoted number is an ordinary value.
  EXPECT_EQ(Col("SNUMERO", ids[7]), "02'; DROP TABLE CHIAMATE; --");
  // A negative duration is not charged.
  EXPECT_EQ(Money4("CCOSTO1_C", 100), "0.0000");
  EXPECT_EQ(Col("SESITOCHIAMATA_C", 100), "0");
  // An extension in an unknown zone keeps the exchange's time.
  EXPECT_EQ(Col("DORA", zone), "1899-12-30 10:15:00");
}

}  // namespace
}  // namespace ordalis::testing

#include "ordalis/ComponentError.h"
#include "ordalis/DirectoryLookup.h"

namespace ordalis::testing {
namespace {

// The OEM partner's directory: names every number it is asked for, or fails.
struct PartnerDirectory : DirectoryLookup {
  static inline bool failing = false;
  std::string LookupInAddressBook(const std::string& number) override {
    if (failing) throw ComponentError(7, "directory offline");
    return "Partner " + number;
  }
};

TEST_F(PipelineTest, OemInstallationAsksThePartnersDirectory) {
  auto registry = std::make_shared<platform::Registry>();
  registry->SetString("Software\\valmer\\oem", "Name", "Kelmora");
  registry->SetString("Software\\valmer\\oem", "LookupObjectName", "Partner.Directory");
  platform::Registry::SetForTesting(registry);
  RegisterLookupFactory("Partner.Directory", [] { return std::make_unique<PartnerDirectory>(); });
  Sql("INSERT INTO Rubrica (sNumero, sNome, lTotaleSelezioniO, lTotaleSelezioniI) VALUES ('024567890', 'Ada', 0, 0)");
  int id = Call("MI", "202", "024567890", "2024-01-02", "10:15:00", 120);
  auto engine = MakeEngine();
  engine->Process();
  // The partner's name, not the phone book's, and no phone-book statistics.
  EXPECT_EQ(Col("SNOME_C", id), "Partner 024567890");
  EXPECT_EQ(Query("SELECT lTotaleSelezioniO FROM Rubrica WHERE sNumero = '024567890'"), "0");
  // A failing directory ends the run with the component error.
  PartnerDirectory::failing = true;
  try {
    engine->Process();
    ADD_FAILURE() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrProcessor);
    EXPECT_NE(e.Description().find("LookupInAddressBook method:directory offline"), std::string::npos);
  }
  PartnerDirectory::failing = false;
  RegisterLookupFactory("Partner.Directory", nullptr);
}

}  // namespace
}  // namespace ordalis::testing

namespace ordalis::testing {
namespace {

TEST_F(PipelineTest, BandPricesAreExactToTheTenThousandth) {
  // Alpha prices Milan's local calls at 0.045 a minute from the first
  // second: no allowance, answer charge, minimum or rounding.
  sqlite3* carrier = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ / "Carrier" / "alpha.mdb").c_str(), &carrier), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(carrier,
                         "UPDATE Listino SET cCostoMinuto = 0.045, cCostoRisposta = 0, cCostoMinimo = 0, "
                         "iTempoComposizione = 0, iDurataMinima = 0, iArrotDurata = 0, iTipoArrotDurata = 0, "
                         "iArrotCosto = 0, iTipoArrotCosto = 0 WHERE sGruppoDest_e = 'Locale MI'",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(carrier);
  // Seconds and their price: halves (0.00225, 0.00375, 0.14625) go to the
  // even ten-thousandth, the rest to the nearest.
  const std::vector<std::pair<int, std::string>> cases = {
      {1, "0.0008"}, {3, "0.0022"}, {5, "0.0038"}, {33, "0.0248"}, {195, "0.1462"}, {60, "0.0450"}};
  std::vector<int> ids;
  for (const auto& [seconds, price] : cases)
    ids.push_back(Call("MI", "202", "024567890", "2024-01-02", "10:15:00", seconds));
  MakeEngine()->Process();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(Money4("CCOSTO1_C", ids[i]), cases[i].second) << cases[i].first << " s";
    EXPECT_EQ(Col("SCARRIER1_C", ids[i]), "Alpha");
  }
}

}  // namespace
}  // namespace ordalis::testing
