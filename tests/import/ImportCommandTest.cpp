// `ordalis import` through the real binary, on hand-written Asterisk,
// FreeSWITCH and CSV files, into SQLite engine databases and PostgreSQL.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../data/PgCluster.h"
#include "../platform/TempDir.h"

namespace ordalis::testing {
namespace {

struct Result {
  int code = -1;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ImportTest : public ::testing::Test {
 protected:
  Result Ordalis(const std::vector<std::string>& args) {
    std::string cmd = Quote(ORDALIS_BINARY);
    for (const std::string& a : args) cmd += " " + Quote(a);
    cmd += " >" + Quote(dir_.File("out")) + " 2>" + Quote(dir_.File("err"));
    int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir_.File("out")), Slurp(dir_.File("err"))};
  }

  std::string NewDatabase() {
    std::string db = dir_.File("calls" + std::to_string(++databases_) + ".db");
    EXPECT_EQ(Ordalis({"init-db", "--db", db}).code, 0);
    return db;
  }

  // The rows of a query, each as its columns joined by "|" (NULL as "~").
  static std::vector<std::string> Rows(const std::string& db, const std::string& sql) {
    sqlite3* h = nullptr;
    EXPECT_EQ(sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(h, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
    std::vector<std::string> rows;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const unsigned char* t = sqlite3_column_text(stmt, i);
        row += (i ? "|" : "") + (t ? std::string(reinterpret_cast<const char*>(t)) : std::string("~"));
      }
      rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(h);
    return rows;
  }

  static constexpr const char* kColumns =
      "SELECT dData, DORA, DDURATA, DRISPOSTA, SSITO, SDERIVATO, STIPO, SNUMERO, SLINEA, ISTATO, SCOMMESSA FROM ";

  TempDir dir_;
  int databases_ = 0;
};

// Master.csv of Asterisk's cdr_csv with uniqueid and userfield: an answered
// outgoing call, an internal one, an incoming call answered by extension
// 203 (dst "s", the extension named by dstchannel), an unanswered and a
// busy outgoing call; caller ids hold quotes and commas.
constexpr const char* kMasterCsv =
    R"("acme","201","0612345678","from-internal","""Rossi, Anna"" <201>","SIP/201-00000001","SIP/telecom-00000002","Dial","SIP/telecom/0612345678,60","2024-01-15 10:00:00","2024-01-15 10:00:07","2024-01-15 10:02:07",127,120,"ANSWERED","DOCUMENTATION","1705312800.1",""
"","201","202","from-internal","""Rossi, Anna"" <201>","PJSIP/201-00000003","PJSIP/202-00000004","Dial","PJSIP/202,20","2024-01-15 11:00:00","2024-01-15 11:00:03","2024-01-15 11:01:03",63,60,"ANSWERED","DOCUMENTATION","1705316400.3",""
"","0298765432","s","from-trunk","""Bianchi"" <0298765432>","SIP/telecom-00000005","SIP/203-00000006","Dial","SIP/203,20","2024-01-15 12:00:00","2024-01-15 12:00:10","2024-01-15 12:05:10",310,300,"ANSWERED","DOCUMENTATION","1705320000.5",""
"","202","0298765432","from-internal","""Verdi"" <202>","SIP/202-00000007","SIP/telecom-00000008","Dial","SIP/telecom/0298765432,60","2024-01-15 13:00:00","","2024-01-15 13:00:30",30,0,"NO ANSWER","DOCUMENTATION","1705323600.7",""
"","202","0298765432","from-internal","""Verdi"" <202>","SIP/202-00000009","SIP/telecom-0000000a","Dial","SIP/telecom/0298765432,60","2024-01-15 13:05:00","","2024-01-15 13:05:02",2,0,"BUSY","DOCUMENTATION","1705323900.9",""
)";

TEST_F(ImportTest, AsteriskCallsLandInTheirTablesWithSidesLineAndTimes) {
  std::string db = NewDatabase();
  std::string file = dir_.Write("Master.csv", kMasterCsv);
  Result r = Ordalis({"import", "--db", db, "--format", "asterisk", "--site", "MI", file});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("calls added: 5 (internal: 1), duplicates skipped: 0, rows rejected: 0"), std::string::npos)
      << r.out;
  EXPECT_EQ(Rows(db, std::string(kColumns) + "CHIAMATE ORDER BY DORA"),
            (std::vector<std::string>{
                // billsec is the charged time, the ringing before the answer the answer delay
                "2024-01-15 00:00:00|1899-12-30 10:00:00|1899-12-30 00:02:00|1899-12-30 00:00:07|MI|201|O|0612345678|"
                "telecom|0|acme",
                // incoming: the extension is the called side, the number the caller, the line the trunk it came in on
                "2024-01-15 00:00:00|1899-12-30 12:00:00|1899-12-30 00:05:00|1899-12-30 00:00:10|MI|203|I|0298765432|"
                "telecom|0|~",
                "2024-01-15 00:00:00|1899-12-30 13:00:00|1899-12-30 00:00:00|1899-12-30 00:00:00|MI|202|O|0298765432|"
                "telecom|1|~",
                "2024-01-15 00:00:00|1899-12-30 13:05:00|1899-12-30 00:00:00|1899-12-30 00:00:00|MI|202|O|0298765432|"
                "telecom|2|~"}));
  EXPECT_EQ(Rows(db, std::string(kColumns) + "CHIAMATEINTERNE"),
            (std::vector<std::string>{"2024-01-15 00:00:00|1899-12-30 11:00:00|1899-12-30 00:01:00|"
                                      "1899-12-30 00:00:03|MI|201|E|202|~|0|~"}));
}

// FreeSWITCH's built-in default template (note the blank before the last
// field) and the shipped example template with two codec columns more.
constexpr const char* kFreeSwitchCsv =
    R"("Anna","1001","0612345678","default","2024-03-01 09:00:00","2024-03-01 09:00:05","2024-03-01 09:01:35","95","90","NORMAL_CLEARING","a1","b1", "acme"
"Anna","1001","1002","default","2024-03-01 09:10:00","2024-03-01 09:10:02","2024-03-01 09:10:32","32","30","NORMAL_CLEARING","a2","b2", ""
"Bianchi","0298765432","1003","public","2024-03-01 09:20:00","2024-03-01 09:20:04","2024-03-01 09:22:04","124","120","NORMAL_CLEARING","a3","","","PCMA","PCMA"
"Anna","1001","0298765432","default","2024-03-01 09:30:00","","2024-03-01 09:30:25","25","0","NO_ANSWER","a4","","","PCMA","PCMA"
"Anna","1001","0298765432","default","2024-03-01 09:40:00","","2024-03-01 09:40:01","1","0","USER_BUSY","a5","","","PCMA","PCMA"
)";

TEST_F(ImportTest, FreeSwitchCallsAnsweredUnansweredInternalAndIncoming) {
  std::string db = NewDatabase();
  std::string file = dir_.Write("Master.csv", kFreeSwitchCsv);
  Result r = Ordalis({"import", "--db", db, "--format", "freeswitch", "--site", "NY", "--extension-pattern",
                      "1[0-9]{3}", file});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Rows(db, "SELECT DORA, DDURATA, DRISPOSTA, SDERIVATO, STIPO, SNUMERO, ISTATO, SCOMMESSA FROM CHIAMATE "
                     "ORDER BY DORA"),
            (std::vector<std::string>{
                "1899-12-30 09:00:00|1899-12-30 00:01:30|1899-12-30 00:00:05|1001|O|0612345678|0|acme",
                "1899-12-30 09:20:00|1899-12-30 00:02:00|1899-12-30 00:00:04|1003|I|0298765432|0|~",
                "1899-12-30 09:30:00|1899-12-30 00:00:00|1899-12-30 00:00:00|1001|O|0298765432|1|~",
                "1899-12-30 09:40:00|1899-12-30 00:00:00|1899-12-30 00:00:00|1001|O|0298765432|2|~"}));
  EXPECT_EQ(Rows(db, "SELECT SDERIVATO, STIPO, SNUMERO, DDURATA FROM CHIAMATEINTERNE"),
            (std::vector<std::string>{"1001|E|1002|1899-12-30 00:00:30"}));
}

TEST_F(ImportTest, ImportingAgainAddsNoDuplicateButADifferentCallIsAdded) {
  std::string db = NewDatabase();
  std::string file = dir_.Write("Master.csv", kMasterCsv);
  ASSERT_EQ(Ordalis({"import", "--db", db, "--format", "asterisk", "--site", "MI", file}).code, 0);
  Result again = Ordalis({"import", "--db", db, "--format", "asterisk", "--site", "MI", file});
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_NE(again.out.find("calls added: 0 (internal: 0), duplicates skipped: 5"), std::string::npos) << again.out;
  // The same record in a second file, and one that differs only in its
  // uniqueid (two calls in the same second): only the second is new.
  std::string first_line = std::string(kMasterCsv).substr(0, std::string(kMasterCsv).find('\n') + 1);
  std::string other = first_line;
  other.replace(other.find("1705312800.1"), 12, "1705312800.2");
  std::string more = dir_.Write("more.csv", first_line + other);
  Result r = Ordalis({"import", "--db", db, "--format", "asterisk", "--site", "MI", more});
  EXPECT_NE(r.out.find("calls added: 1 (internal: 0), duplicates skipped: 1"), std::string::npos) << r.out;
  EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM CHIAMATE")[0], "5");
  EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM CHIAMATEINTERNE")[0], "1");

  // Two calls whose identities would read alike if the separator inside a
  // value were not escaped.
  std::string odd = dir_.Write("odd.csv", "site,extension,number,start,duration\n"
                                          "MI,20|0,5,2024-01-16 10:00:00,1\n"
                                          "MI,20,0|5,2024-01-16 10:00:00,1\n"
                                          "MI,20\\,5,2024-01-16 10:00:00,1\n"
                                          "MI,20,\\5,2024-01-16 10:00:00,1\n");
  Result o = Ordalis({"import", "--db", db, "--format", "csv", odd});
  EXPECT_NE(o.out.find("calls added: 4 (internal: 0), duplicates skipped: 0"), std::string::npos) << o.out << o.err;
}

TEST_F(ImportTest, BadRowsAreReportedWithFileAndLineAndSkippedOrStopAStrictImport) {
  std::string lines = kMasterCsv;
  std::size_t second = lines.find('\n') + 1;
  lines.insert(second,
               // line 2: a duration that is not whole seconds; line 3: no side is an extension;
               // line 4: a date that does not exist
               R"("","201","0612345678","x","","SIP/201-1","SIP/t-2","Dial","","2024-01-15 10:30:00","","2024-01-15 10:31:00",60,"1.5","ANSWERED","","u2",""
"","0612345678","0298765432","x","","SIP/t-1","SIP/t-2","Dial","","2024-01-15 10:40:00","","2024-01-15 10:41:00",60,60,"ANSWERED","","u3",""
"","201","0612345678","x","","SIP/201-1","SIP/t-2","Dial","","2024-02-30 10:50:00","","2024-02-30 10:51:00",60,60,"ANSWERED","","u4",""
)");
  std::string file = dir_.Write("Master.csv", lines);
  std::string db = NewDatabase();
  Result r = Ordalis({"import", "--db", db, "--format", "asterisk", "--site", "MI", file});
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_NE(r.err.find(file + ":2: billsec is not a whole number of seconds: \"1.5\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(file + ":3: neither side is an extension of the site"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(file + ":4: start is not a date and time"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("calls added: 5 (internal: 1), duplicates skipped: 0, rows rejected: 3"), std::string::npos);

  std::string strict_db = NewDatabase();
  Result s = Ordalis({"import", "--db", strict_db, "--format", "asterisk", "--site", "MI", "--strict", file});
  EXPECT_EQ(s.code, 1);
  EXPECT_NE(s.err.find(file + ":2:"), std::string::npos) << s.err;
  EXPECT_EQ(s.err.find(file + ":3:"), std::string::npos) << "a strict import goes no further";
  EXPECT_EQ(Rows(strict_db, "SELECT SNUMERO FROM CHIAMATE"), (std::vector<std::string>{"0612345678"}));
}

TEST_F(ImportTest, CsvLayoutByHeaderAndItsMistakes) {
  std::string db = NewDatabase();
  // Columns in any order, the site from the option, durations in seconds.
  std::string file = dir_.Write("calls.csv",
                                "start,extension,number,duration,type,line,answer_delay,pulses,status,job_code\r\n"
                                "2024-01-15T10:00:00,200,0612345678,300,,L1,4,2,0,P-17\r\n"
                                "2024-01-15 10:10:00,200,201,45,e,,,,,\r\n"
                                "2024-01-15 10:20:00,200,0612345678,90.0,O,L1,,,,\r\n");
  Result r = Ordalis({"import", "--db", db, "--format", "csv", "--site", "MI", file});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find(file + ":4: duration is not a whole number of seconds: \"90.0\""), std::string::npos) << r.err;
  EXPECT_EQ(Rows(db, std::string(kColumns) + "CHIAMATE"),
            (std::vector<std::string>{"2024-01-15 00:00:00|1899-12-30 10:00:00|1899-12-30 00:05:00|"
                                      "1899-12-30 00:00:04|MI|200|O|0612345678|L1|0|P-17"}));
  EXPECT_EQ(Rows(db, "SELECT LSCATTI FROM CHIAMATE")[0], "2");
  EXPECT_EQ(Rows(db, "SELECT STIPO, SNUMERO FROM CHIAMATEINTERNE"), (std::vector<std::string>{"E|201"}));

  std::string unknown = dir_.Write("unknown.csv", "extension,number,start,duration,cost\n200,1,2024-01-15 10:00:00,1,3\n");
  Result u = Ordalis({"import", "--db", db, "--format", "csv", "--site", "MI", unknown});
  EXPECT_EQ(u.code, 1);
  EXPECT_NE(u.err.find(unknown + ":1: unknown column \"cost\""), std::string::npos) << u.err;
  std::string no_site = dir_.Write("nosite.csv", "extension,number,start,duration\n200,1,2024-01-15 10:00:00,1\n");
  EXPECT_EQ(Ordalis({"import", "--db", db, "--format", "csv", no_site}).code, 1);
}

// End to end: an imported 300-second call is rated as one of 300 seconds,
// to the cost `run` gives for the same call.
TEST_F(ImportTest, ImportedCallIsRatedLikeTheSameCallDescribedToRun) {
  std::string home = dir_.File("demo");
  ASSERT_EQ(Ordalis({"demo", "--dir", home, "--calls", "0"}).code, 0);
  ::setenv("ORDALIS_HOME", home.c_str(), 1);
  ::setenv("ORDALIS_REGISTRY", (home + "/registry.reg").c_str(), 1);
  std::string db = home + "/ordalis.db";
  std::string file = dir_.Write("calls.csv", "site,extension,number,start,duration\n"
                                             "MI,200,0612345678,2024-01-15 10:00:00,300\n");
  ASSERT_EQ(Ordalis({"import", "--db", db, "--format", "csv", file}).code, 0);
  ASSERT_EQ(Ordalis({"process", "--db", db}).code, 0);
  Result run = Ordalis({"run", "--db", db, "--site", "MI", "--extension", "200", "--number", "0612345678", "--date",
                        "2024-01-15", "--time", "10:00:00", "--duration", "300", "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<std::string> cost = Rows(db, "SELECT CCOSTO1_C FROM CHIAMATE");
  ASSERT_EQ(cost.size(), 1u);
  EXPECT_GT(std::stod(cost[0]), 0);
  // run --json gives the cost as a number.
  const std::size_t at = run.out.find("\"cCosto1_c\":");
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_DOUBLE_EQ(std::stod(run.out.substr(at + 12)), std::stod(cost[0])) << run.out << " vs " << cost[0];
  ::unsetenv("ORDALIS_HOME");
  ::unsetenv("ORDALIS_REGISTRY");
}

TEST_F(ImportTest, AsteriskIntoPostgresThroughADataSource) {
  PgCluster& pg = PgCluster::Instance();
  std::string db = pg.CreateDatabase();
  std::string ddl = pg.PsqlCommand(db) + " -q -v ON_ERROR_STOP=1 -f " ORDALIS_SOURCE_DIR "/sql/ordalis-postgresql.sql";
  ASSERT_EQ(std::system(ddl.c_str()), 0) << ddl;
  // A data source of its own for the test's database.
  std::ofstream(std::getenv("ODBCINI"), std::ios::app)
      << "\n[" << db << "]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << pg.port()
      << "\nDatabase=" << db << "\n";
  std::string file = dir_.Write("Master.csv", kMasterCsv);
  std::vector<std::string> args = {"import", "--dsn", db, "--user", PgCluster::kUser, "--pwd", PgCluster::kPassword,
                                   "--format", "asterisk", "--site", "MI", file};
  Result r = Ordalis(args);
  ASSERT_EQ(r.code, 0) << r.err;
  Result again = Ordalis(args);
  EXPECT_NE(again.out.find("calls added: 0 (internal: 0), duplicates skipped: 5"), std::string::npos) << again.out;
  std::string query = pg.PsqlCommand(db) + " -At -c \"SELECT sderivato, stipo, slinea, ddurata FROM chiamate ORDER BY "
                                           "dora\" >" + Quote(dir_.File("pg"));
  ASSERT_EQ(std::system(query.c_str()), 0);
  EXPECT_EQ(Slurp(dir_.File("pg")), "201|O|telecom|1899-12-30 00:02:00\n203|I|telecom|1899-12-30 00:05:00\n"
                                    "202|O|telecom|1899-12-30 00:00:00\n202|O|telecom|1899-12-30 00:00:00\n");
}

}  // namespace
}  // namespace ordalis::testing
