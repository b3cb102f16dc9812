// Calendar: day types from the engine database or the country's prefix
// database, explicit dates over weekdays, weekday defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/SqliteFile.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsCalendario.h"
#include "reference/clsGiorno.h"

namespace ordalis {
namespace {

using testing::ExecSql;
using testing::ScratchDir;

DateTime Day(int y, int m, int d, int h = 0, int mi = 0) { return dt::FromCivil({y, m, d, h, mi, 0}); }

class CalendarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("ORDALIS_HOME")) old_home_ = old;
    ::setenv("ORDALIS_HOME", dir_.Path().c_str(), 1);
    path_ = dir_.File("engine.db");
    CreateEngineDatabase(path_);
    connection_ = rdo::RdoEnvironment::Default().OpenConnection("", false, false, "DBQ=" + path_ + ";");
  }
  void TearDown() override {
    if (old_home_)
      ::setenv("ORDALIS_HOME", old_home_->c_str(), 1);
    else
      ::unsetenv("ORDALIS_HOME");
  }
  // A prefix database for the country with the given Calendario rows.
  void CountryDatabase(const std::string& country, const std::string& rows) {
    const auto folder = dir_.Path() / "international" / country;
    std::filesystem::create_directories(folder);
    ExecSql((folder / "prefissi.mdb").string(),
            "CREATE TABLE Calendario (lPKId INTEGER PRIMARY KEY, dData DATETIME, iGiorno SMALLINT, iTipo SMALLINT);" +
                (rows.empty() ? "" : "INSERT INTO Calendario (dData, iGiorno, iTipo) VALUES " + rows + ";"));
  }
  void EngineRows(const std::string& rows) {
    ExecSql(path_, "INSERT INTO Calendario (dData, iGiorno, iTipo) VALUES " + rows);
  }
  clsCalendario Load(const std::string& country = "Italia") {
    clsCalendario calendar(&engine_, connection_.get());
    calendar.Cache(ctPreload, country);
    return calendar;
  }
  static int TipoOf(const clsCalendario& c, DateTime d) {
    auto g = c.GetGiorno(d);
    return g ? g->Tipo : -1;
  }

  ScratchDir dir_;
  std::optional<std::string> old_home_;
  std::string path_;
  clsChiamate engine_;
  std::unique_ptr<rdo::RdoConnection> connection_;
};

TEST_F(CalendarTest, EmptyTableGivesTheWeekdayDefaults) {
  clsCalendario c = Load();
  EXPECT_EQ(c.Giorni().Count(), 7u);
  EXPECT_EQ(engine_.Errore(), "");
  // 2 to 8 January 2005: Sunday to Saturday.
  const int expected[] = {2, 1, 0, 0, 0, 0, 0};
  for (int i = 0; i < 7; ++i) {
    auto g = c.GetGiorno(Day(2005, 1, 2 + i));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->Tipo, expected[i]) << "weekday " << i + 1;
    EXPECT_EQ(g->Giorno, i + 1);
    EXPECT_EQ(g->Data, 0);
    EXPECT_EQ(g->Key, std::to_string(i + 1));
  }
}

TEST_F(CalendarTest, ExplicitDateWinsOverItsWeekdayAndTimeOfDayIsIgnored) {
  // 25 December 2005 was a Sunday; 8 December 2005 a Thursday.
  EngineRows("(NULL, 1, 5), (NULL, 7, 3), ('2005-12-25 00:00:00', 1, 9), ('2005-12-08', 5, 4)");
  clsCalendario c = Load();
  EXPECT_EQ(c.Giorni().Count(), 9u);
  auto christmas = c.GetGiorno(Day(2005, 12, 25, 23, 59));
  ASSERT_NE(christmas, nullptr);
  EXPECT_EQ(christmas->Tipo, 9);
  EXPECT_EQ(christmas->Key, "2005/12/25");
  EXPECT_EQ(christmas->Data, Day(2005, 12, 25));
  EXPECT_EQ(TipoOf(c, Day(2005, 12, 8, 10, 30)), 4);
  // Other days by weekday: rows for Sunday and Saturday, defaults elsewhere.
  EXPECT_EQ(TipoOf(c, Day(2005, 12, 18, 12, 0)), 5);
  EXPECT_EQ(TipoOf(c, Day(2005, 12, 17)), 3);
  EXPECT_EQ(TipoOf(c, Day(2005, 12, 19)), 1);
  EXPECT_EQ(TipoOf(c, Day(2005, 12, 20)), 0);
}

TEST_F(CalendarTest, FirstRowOfARepeatedDateOrWeekdayIsKept) {
  EngineRows("('2006-01-06', 6, 2), ('2006-01-06', 6, 7), (NULL, 3, 4), (NULL, 3, 8)");
  clsCalendario c = Load();
  EXPECT_EQ(TipoOf(c, Day(2006, 1, 6)), 2);
  EXPECT_EQ(TipoOf(c, Day(2006, 1, 3)), 4);  // a Tuesday
  EXPECT_EQ(c.Giorni().Count(), 8u);
}

TEST_F(CalendarTest, NullNumbersReadAsZero) {
  EngineRows("('2007-05-01', NULL, NULL), (NULL, 2, NULL)");
  clsCalendario c = Load();
  auto may = c.GetGiorno(Day(2007, 5, 1));
  ASSERT_NE(may, nullptr);
  EXPECT_EQ(may->Tipo, 0);
  EXPECT_EQ(may->Giorno, 0);
  // The Monday row with a NULL type replaces the default 1.
  EXPECT_EQ(TipoOf(c, Day(2007, 5, 7)), 0);
}

TEST_F(CalendarTest, CountryPrefixDatabaseIsReadWhenItExists) {
  EngineRows("('2005-08-15', 2, 9)");
  CountryDatabase("Italia", "('2005-08-15', 2, 3), (NULL, 1, 6)");
  clsCalendario italy = Load("Italia");
  EXPECT_EQ(TipoOf(italy, Day(2005, 8, 15)), 3);
  EXPECT_EQ(TipoOf(italy, Day(2005, 8, 14)), 6);
  // A country without a prefix database reads the engine database.
  clsCalendario other = Load("Francia");
  EXPECT_EQ(TipoOf(other, Day(2005, 8, 15)), 9);
  EXPECT_EQ(TipoOf(other, Day(2005, 8, 14)), 2);
}

TEST_F(CalendarTest, CountryNameWithAQuoteFindsItsFolder) {
  CountryDatabase("Cote d'Ivoire", "('2005-08-07', 1, 8)");
  clsCalendario c = Load("Cote d'Ivoire");
  EXPECT_EQ(TipoOf(c, Day(2005, 8, 7)), 8);
}

TEST_F(CalendarTest, AnUnloadedCalendarAnswersNothing) {
  clsCalendario c(&engine_, connection_.get());
  EXPECT_EQ(c.GetGiorno(Day(2005, 8, 7)), nullptr);
}

}  // namespace
}  // namespace ordalis
