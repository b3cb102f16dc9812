// The date and time a rated row keeps: the caller's local time, worked out
// from the UTC stamp in the caller's zone or, without a zone of the caller's
// own, from the exchange's clock once set right by the gateway time.
#include "EngineFixture.h"

namespace ordalis::testing {
namespace {

class CallClockTest : public RatingTest {
 protected:
  // Stores one call stamped by the exchange and, when `utc` is given, in UTC.
  void Call(const std::string& table, int id, const std::string& extension, const std::string& number,
            const std::string& stamp, const std::string& utc) {
    Sql("INSERT INTO " + table +
        " (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, dUTCDateTime) VALUES (" +
        std::to_string(id) + ", '" + stamp.substr(0, 10) + " 00:00:00', '1899-12-30 " + stamp.substr(11) +
        "', '1899-12-30 00:01:00', '" + number + "', 'MI', '" + extension + "', '" + (table == "CHIAMATE" ? "O" : "E") +
        "', 'L1', 0, " + (utc.empty() ? "NULL" : "'" + utc + "'") + ")");
  }
  // dData and DORA of a row as one text.
  std::string Saved(const std::string& table, int id, const char* date = "dData", const char* time = "DORA") {
    return Query(std::string("SELECT substr(") + date + ", 1, 10) || ' ' || substr(" + time + ", 12) FROM " + table +
                 " WHERE lPKId = " + std::to_string(id));
  }
};

TEST_F(CallClockTest, CallerWithoutAZoneKeepsTheRealignedClock) {
  // Extension 204 names a zone the installation does not know: the
  // caller's local time is the exchange's clock, as the gateway time sets
  // it right. Milan is UTC+1 in January, UTC+2 in July.
  Sql("UPDATE Derivati SET IDTimeZone = 'No Such Zone' WHERE sNumero = '204' AND sSito = 'MI'");
  Call("CHIAMATE", 1, "204", "024567890", "2024-01-02 10:14:01", "2024-01-02 09:15:00");  // 59 s slow
  Call("CHIAMATE", 2, "204", "024567890", "2024-07-01 09:00:00", "2024-07-01 08:00:00");  // still on winter time
  Call("CHIAMATE", 3, "204", "024567890", "2024-01-01 23:59:50", "2024-01-01 23:00:10");  // 20 s slow at midnight
  Call("CHIAMATE", 4, "204", "024567890", "2024-01-02 10:15:00", "2024-01-02 09:15:00");  // right
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Saved("CHIAMATE", 1), "2024-01-02 10:15:00");
  EXPECT_EQ(Saved("CHIAMATE", 2), "2024-07-01 10:00:00");
  EXPECT_EQ(Saved("CHIAMATE", 3), "2024-01-02 00:00:10");
  EXPECT_EQ(Query("SELECT sGiorno_c FROM CHIAMATE WHERE lPKId = 3"), "Tue");
  EXPECT_EQ(Saved("CHIAMATE", 4), "2024-01-02 10:15:00");
  // The gateway time is the site's clock whatever the caller's zone.
  EXPECT_EQ(Query("SELECT dGatewayDateTime FROM CHIAMATE WHERE lPKId = 2"), "2024-07-01 10:00:00");
  // Rated again, the rows stay as they are.
  std::string first =
      Query("SELECT group_concat(dData || DORA || dGatewayDateTime || dUTCDateTime, '|') FROM CHIAMATE");
  engine->Process();
  EXPECT_EQ(Query("SELECT group_concat(dData || DORA || dGatewayDateTime || dUTCDateTime, '|') FROM CHIAMATE"), first);
}

TEST_F(CallClockTest, InternalCallsTakeBothLocalTimesFromTheRealignedClock) {
  // 204 (caller) and 206 (called) of Milan; the exchange runs 59 s slow.
  const std::string stamp = "2024-01-02 10:14:01", utc = "2024-01-02 09:15:00";
  // Neither party has a zone the installation knows.
  Sql("UPDATE Derivati SET IDTimeZone = 'No Such Zone' WHERE sNumero IN ('204', '206') AND sSito = 'MI'");
  Call("CHIAMATEINTERNE", 1, "204", "206", stamp, utc);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Saved("CHIAMATEINTERNE", 1), "2024-01-02 10:15:00");
  EXPECT_EQ(Saved("CHIAMATEINTERNE", 1, "dData2", "dOra2"), "2024-01-02 10:15:00");

  // The caller works from New York, the called party has no known zone: it
  // takes the caller's local time.
  Sql("UPDATE Derivati SET IDTimeZone = 'Eastern Standard Time' WHERE sNumero = '204' AND sSito = 'MI'");
  Call("CHIAMATEINTERNE", 2, "204", "206", stamp, utc);
  // The other way round: the second local time is the realigned clock.
  Call("CHIAMATEINTERNE", 3, "206", "204", stamp, utc);
  Sql("DELETE FROM CHIAMATEINTERNE WHERE lPKId = 1");
  auto again = MakeEngine();  // the extensions' zones are read by Init
  again->Process();
  EXPECT_EQ(Saved("CHIAMATEINTERNE", 2), "2024-01-02 04:15:00");
  EXPECT_EQ(Saved("CHIAMATEINTERNE", 2, "dData2", "dOra2"), "2024-01-02 04:15:00");
  EXPECT_EQ(Saved("CHIAMATEINTERNE", 3), "2024-01-02 10:15:00");
  EXPECT_EQ(Saved("CHIAMATEINTERNE", 3, "dData2", "dOra2"), "2024-01-02 04:15:00");
}

}  // namespace
}  // namespace ordalis::testing
