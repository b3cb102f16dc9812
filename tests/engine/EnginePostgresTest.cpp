// The batch run against PostgreSQL through ODBC, on the shipped schema.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../data/PgCluster.h"
#include "EngineFixture.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"

namespace ordalis::testing {
namespace {

TEST_F(EngineTest, ProcessRatesAndSavesRowsOnPostgres) {
  PgCluster& pg = PgCluster::Instance();
  std::string db = pg.CreateDatabase();
  std::string ddl = pg.PsqlCommand(db) + " -q -v ON_ERROR_STOP=1 -f " ORDALIS_SOURCE_DIR "/sql/ordalis-postgresql.sql";
  ASSERT_EQ(std::system(ddl.c_str()), 0) << ddl;
  std::string rows = pg.PsqlCommand(db) + " -q -c \"INSERT INTO CHIAMATE (dData, DORA, DDURATA, SNUMERO, SSITO, STIPO, "
                                          "ISTATO, SCAMPO1) VALUES ('2024-01-01', '1899-12-30 10:15:00', "
                                          "'1899-12-30 00:02:00', '0212345678', ' MI ', 'O', 0, ''), "
                                          "('2024-01-02', '1899-12-30 11:00:00', '1899-12-30 00:00:30', "
                                          "'06123', 'MI', 'O', 0, 'kept')\"";
  ASSERT_EQ(std::system(rows.c_str()), 0);

  clsChiamate engine;
  engine.SetEvents(&events_);
  engine.set_TipoDb(dbSql);
  engine.set_User(PgCluster::kUser);
  engine.set_Pwd(PgCluster::kPassword);
  // The data source with the test's database chosen in the connect string.
  engine.Init(std::string(PgCluster::kDsn) + ";Database=" + db + ";Port=" + std::to_string(pg.port()));
  ASSERT_TRUE(engine.HasChiamata());
  engine.Process();
  EXPECT_EQ(events_.progress, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
  EXPECT_EQ(events_.done, 1);
  // A second run reconnects by itself.
  engine.Process();
  EXPECT_EQ(events_.done, 2);

  rdo::RdoConnection check;
  check.SetConnect(pg.ConnectString(db));
  check.EstablishConnection();
  auto rs = check.OpenResultset("SELECT sGiorno_c, SSITO, SCAMPO1 FROM CHIAMATE ORDER BY lPKId");
  EXPECT_EQ(rs->Value(0).ToText(), "Mon");
  EXPECT_EQ(rs->Value(1).ToText(), "MI");
  EXPECT_TRUE(rs->Value(2).IsNull());  // empty text is saved as NULL
  rs->MoveNext();
  EXPECT_EQ(rs->Value(0).ToText(), "Tue");
  EXPECT_EQ(rs->Value(2).ToText(), "kept");
}

}  // namespace
}  // namespace ordalis::testing
