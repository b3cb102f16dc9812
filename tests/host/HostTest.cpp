// The ordalis binary on real installations: the demo's folder copied for
// each case, the binary run in a shell from a chosen working directory with
// ORDALIS_HOME unset, its exit status, stdout and stderr checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "demo/Demo.h"
#include "numbering/SqliteFile.h"

namespace ordalis::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// One value of a query on an SQLite file, as text.
std::string QueryText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::string value = "(error)";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(st, 0);
    value = text ? reinterpret_cast<const char*>(text) : "";
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return value;
}

class HostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    master_ = new ScratchDir();
    demo_ = WriteDemoInstallation(master_->File("inst"), 400);
  }
  static void TearDownTestSuite() {
    delete master_;
    master_ = nullptr;
  }

  // A fresh copy of the demo installation at root/inst.
  void SetUp() override { fs::copy(master_->File("inst"), Inst(), fs::copy_options::recursive); }

  std::string Inst() const { return root_.File("inst"); }
  std::string Db() const { return Inst() + "/ordalis.db"; }

  // Runs ordalis with `args` from root/cwd; "{inst}" in an argument stands
  // for the installation folder.
  Outcome Ordalis(std::vector<std::string> args, const std::string& cwd = "") const {
    const fs::path dir = root_.Path() / cwd;
    fs::create_directories(dir);
    std::string command = "cd " + ShellQuote(dir.string()) + " && env -u ORDALIS_HOME ORDALIS_REGISTRY=" +
                          ShellQuote(root_.File("none.reg")) + " " + ORDALIS_BINARY;
    for (std::string& a : args) {
      for (std::size_t at; (at = a.find("{inst}")) != std::string::npos;) a.replace(at, 6, Inst());
      command += " " + ShellQuote(a);
    }
    const std::string out = root_.File("out.txt"), err = root_.File("err.txt");
    command += " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null";
    Outcome o;
    int raw = std::system(command.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = ReadAll(out);
    o.err = ReadAll(err);
    return o;
  }

  // The main cost of every call of the installation's database, summed.
  std::string TotalCost(const std::string& db) const {
    return QueryText(db, "SELECT printf('%.4f', sum(CCOSTO1_C)) FROM CHIAMATE");
  }

  static ScratchDir* master_;
  static DemoInstallation demo_;
  ScratchDir root_;
};

ScratchDir* HostTest::master_ = nullptr;
DemoInstallation HostTest::demo_;

const std::vector<std::string> kCall = {"--site", "MI", "--extension", "202", "--number", "024567890",
                                        "--date", "2024-01-10", "--time", "10:15:00", "--duration", "600"};
// head + tail, where an option of tail already in head replaces its value.
std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail) {
  for (std::size_t i = 0; i < tail.size(); ++i) {
    auto at = std::find(head.begin(), head.end(), tail[i]);
    if (at != head.end() && i + 1 < tail.size() && at + 1 != head.end() && tail[i].rfind("--", 0) == 0 &&
        tail[i + 1].rfind("--", 0) != 0) {
      *(at + 1) = tail[++i];
      continue;
    }
    head.push_back(tail[i]);
  }
  return head;
}

struct Case {
  const char* name;
  std::function<void(const std::string& inst)> prepare;  // may be empty
  std::vector<std::string> args;
  const char* cwd;
  int status;
  std::vector<std::string> out_has, err_has;
};

TEST_F(HostTest, CommandLinesAndTheirOutcomes) {
  const auto remove_carriers = [](const std::string& inst) { fs::remove_all(inst + "/Carrier"); };
  const std::vector<Case> cases = {
      {"relative --db typed from another directory", {}, {"process", "--db", "../inst/ordalis.db"}, "elsewhere", 0,
       {"CHIAMATE ", "rated: "}, {}},
      {"relative carrier file typed from another directory", {},
       With({"calc", "--db", "../inst/ordalis.db", "--carrier-file", "../inst/Carrier/gamma.mdb"}, kCall), "w", 0,
       {"cCosto3_c            0.18"}, {}},
      {"--nocount rates every call", {}, {"process", "--db", "{inst}/ordalis.db", "--nocount"}, "", 0,
       {"calls rated: " + std::to_string(demo_.calls + demo_.internal_calls)}, {}},
      {"a carrier file that cannot be opened stops the run",
       [](const std::string& inst) { fs::remove(inst + "/Carrier/beta.mdb"); },
       {"process", "--db", "{inst}/ordalis.db"}, "", 1, {}, {"Carrier/beta.mdb", "--keep-going"}},
      {"--keep-going rates what it can and says what is unpriced", remove_carriers,
       {"process", "--db", "{inst}/ordalis.db", "--keep-going"}, "", 0,
       {"CHIAMATE         rated: " + std::to_string(demo_.calls) +
        ", no tariff (cost 0): " + std::to_string(demo_.calls)},
       {"alpha.mdb", "gamma.mdb"}},
      {"--strict fails a run that left calls unpriced", remove_carriers,
       {"process", "--db", "{inst}/ordalis.db", "--keep-going", "--strict"}, "", 3, {}, {"--strict"}},
      {"a filter without WHERE", {}, {"process", "--db", "{inst}/ordalis.db", "--filter", "sSito = 'MI'"}, "", 2, {},
       {"WHERE clause", "--filter \"WHERE "}},
      {"an operation mask with other characters", {},
       {"process", "--db", "{inst}/ordalis.db", "--operation", "1121"}, "", 2, {}, {"--operation must be"}},
      {"an operation mask too long", {},
       {"process", "--db", "{inst}/ordalis.db", "--operation", std::string(24, '1')}, "", 2, {}, {"1 to 23"}},
      {"an unknown subcommand", {}, {"rate", "--db", "x.db"}, "", 2, {}, {"ordalis: "}},
      {"a missing required option", {}, {"run", "--db", "{inst}/ordalis.db", "--site", "MI"}, "", 2, {},
       {"--extension"}},
      {"a day that does not exist", {},
       With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--date", "2024-02-30"})), "", 2, {},
       {"--date must be a day written YYYY-MM-DD"}},
      {"a time out of range", {}, With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--time", "24:00:00"})), "",
       2, {}, {"--time must be"}},
      {"a duration in fractions of a second", {},
       With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--duration", "1.5"})), "", 2, {}, {"--duration"}},
      {"a duration beyond a day", {},
       With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--duration", "86400"})), "", 2, {}, {"--duration"}},
      {"a day written without its zeros", {},
       With({"compare", "--db", "{inst}/ordalis.db", "--site", "MI", "--from", "2024-1-1", "--to", "2024-01-31"},
            {"--carrier-file", "{inst}/Carrier/alpha.mdb"}),
       "", 2, {}, {"--from must be a day"}},
      {"a file that is not a database", {}, With({"run", "--db", "{inst}/registry.reg"}, kCall), "", 1, {},
       {"Error during opening DSN", "file is not a database"}},
      {"a database file that is not there", {}, With({"run", "--db", "{inst}/nothing.db"}, kCall), "", 1, {},
       {"Error during opening DSN", "unable to open database file"}},
      {"an ODBC data source that does not exist", {}, With({"run", "--dsn", "ordalis-no-such-source"}, kCall), "", 1,
       {}, {"Error during opening DSN ordalis-no-such-source", "Data source name not found", "SQLSTATE IM002"}},
      {"--dry-run needs a database file", {}, With({"run", "--dsn", "calls", "--dry-run"}, kCall), "", 2, {},
       {"--dry-run needs --db"}},
      {"an unknown extension where none is added says why the cost is 0",
       [](const std::string& inst) { ExecSql(inst + "/ordalis.db", "UPDATE Siti SET iAggiuntaAutomaticaTornel = 0"); },
       With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--extension", "9999"})), "", 0,
       {"cCosto1_c            0\n"}, {"cost 0: extension \"9999\" is not known at site MI"}},
      {"a number no destination matches says why the cost is 0", {},
       With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--number", "9"})), "", 0, {},
       {"cost 0: no tariff of the site's least-cost carriers applies to number \"9\""}},
      {"an unknown site says why the cost is 0", {},
       With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--site", "ZZ"})), "", 0, {},
       {"cost 0: site \"ZZ\" is not in the sites table"}},
      {"calc of a number the carrier does not price", {},
       With({"calc", "--db", "{inst}/ordalis.db", "--carrier-file", "{inst}/Carrier/alpha.mdb"},
            With(kCall, {"--number", "9"})),
       "", 0, {"cCosto3_c            0\n"}, {"cost 0: no tariff of this carrier"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Inst());
    fs::copy(master_->File("inst"), Inst(), fs::copy_options::recursive);
    if (c.prepare) c.prepare(Inst());
    Outcome o = Ordalis(c.args, c.cwd);
    EXPECT_EQ(o.status, c.status) << o.err;
    for (const auto& text : c.out_has) EXPECT_NE(o.out.find(text), std::string::npos) << text << "\n" << o.out;
    for (const auto& text : c.err_has) EXPECT_NE(o.err.find(text), std::string::npos) << text << "\n" << o.err;
    if (c.status == 2) {
      EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;  // one line
      EXPECT_TRUE(o.out.empty()) << o.out;
    }
  }
}

TEST_F(HostTest, AMovedInstallationRatesAsItDidInPlace) {
  Outcome here = Ordalis({"process", "--db", Db()});
  ASSERT_EQ(here.status, 0) << here.err;
  const std::string in_place = TotalCost(Db());
  ASSERT_NE(in_place, "0.0000");

  fs::remove_all(Inst());
  fs::copy(master_->File("inst"), Inst(), fs::copy_options::recursive);
  fs::rename(Inst(), root_.File("moved"));
  Outcome moved = Ordalis({"process", "--db", "moved/ordalis.db"});
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_EQ(TotalCost(root_.File("moved/ordalis.db")), in_place);
  // The same calls were left unpriced (or none): the tally lines agree.
  EXPECT_EQ(moved.out.substr(moved.out.find("CHIAMATE ")), here.out.substr(here.out.find("CHIAMATE ")));

  // --home names the folder the relative carrier paths are under.
  fs::create_directories(root_.File("elsewhere"));
  fs::rename(root_.File("moved/Carrier"), root_.File("elsewhere/Carrier"));
  Outcome without = Ordalis({"process", "--db", "moved/ordalis.db"});
  EXPECT_EQ(without.status, 1);
  EXPECT_NE(without.err.find("moved/Carrier/alpha.mdb"), std::string::npos) << without.err;
  Outcome with_home = Ordalis({"process", "--db", "moved/ordalis.db", "--home", "elsewhere"});
  ASSERT_EQ(with_home.status, 0) << with_home.err;
  EXPECT_EQ(TotalCost(root_.File("moved/ordalis.db")), in_place);
}

TEST_F(HostTest, ACarrierFileIsTheOneTypedNotItsNamesakeUnderTheHome) {
  // w/Carrier/alpha.mdb is typed relative to w; the home has its own
  // Carrier/alpha.mdb, which must be neither used nor renamed.
  fs::create_directories(root_.File("w/Carrier"));
  const std::string typed = root_.File("w/Carrier/alpha.mdb");
  fs::copy_file(Inst() + "/Carrier/alpha.mdb", typed);
  ExecSql(typed, "UPDATE Carrier SET NomeCarrier = 'Typed'");
  const std::string home_file = Inst() + "/Carrier/alpha.mdb";
  const std::string before = ReadAll(home_file);

  Outcome o = Ordalis({"compare", "--db", "../inst/ordalis.db", "--site", "MI", "--from", "2024-01-01", "--to",
                       "2024-01-31", "--carrier-file", "Carrier/alpha.mdb", "--carrier-file", "{inst}/Carrier/beta.mdb"},
                      "w");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("Typed"), std::string::npos) << o.out;
  EXPECT_EQ(ReadAll(home_file), before);
  EXPECT_EQ(QueryText(typed, "SELECT NomeCarrier FROM Carrier"), "Typed");
}

TEST_F(HostTest, DryRunWritesNothingWhereARealRunWrites) {
  // Site MI adds unknown extensions and counts calls in the phone book.
  const auto call = With({"run", "--db", "{inst}/ordalis.db"}, With(kCall, {"--extension", "7777"}));
  const std::string before = ReadAll(Db());
  Outcome dry = Ordalis(With(call, {"--dry-run"}));
  ASSERT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(ReadAll(Db()), before);
  EXPECT_EQ(QueryText(Db(), "SELECT count(*) FROM Derivati WHERE sNumero = '7777'"), "0");

  Outcome real = Ordalis(call);
  ASSERT_EQ(real.status, 0) << real.err;
  EXPECT_EQ(QueryText(Db(), "SELECT count(*) FROM Derivati WHERE sNumero = '7777'"), "1");
  // Both rated the call alike.
  EXPECT_EQ(dry.out, real.out);
}

TEST_F(HostTest, JsonOutputsParseWithTypedValues) {
  Outcome run = Ordalis(With({"run", "--db", "{inst}/ordalis.db", "--json"}, kCall));
  ASSERT_EQ(run.status, 0) << run.err;
  auto r = nlohmann::json::parse(run.out);
  EXPECT_TRUE(r["cCosto1_c"].is_number());
  EXPECT_GT(r["cCosto1_c"].get<double>(), 0);
  EXPECT_TRUE(r["lScatti"].is_number_integer());
  EXPECT_EQ(r["dData"], "2024-01-10");
  EXPECT_EQ(r["dOra"], "10:15:00");
  EXPECT_EQ(r["sSito"], "MI");
  EXPECT_TRUE(r["zero_cost_reason"].is_null());

  Outcome calc = Ordalis(With({"calc", "--db", "{inst}/ordalis.db", "--carrier-file", "{inst}/Carrier/beta.mdb",
                               "--json"},
                              kCall));
  ASSERT_EQ(calc.status, 0) << calc.err;
  auto c = nlohmann::json::parse(calc.out);
  EXPECT_DOUBLE_EQ(c["cCosto3_c"].get<double>(), 0.21);
  EXPECT_TRUE(c["DatiTariffa"]["ArrotDurata"].is_number_integer());
  EXPECT_EQ(c["DatiTariffa"]["GruppoDest"], "Locale MI");

  // A carrier without mobile tariffs leaves the period's mobile calls unpriced.
  const std::string no_mobile = root_.File("nomobile.mdb");
  fs::copy_file(Inst() + "/Carrier/beta.mdb", no_mobile);
  ExecSql(no_mobile, "UPDATE Carrier SET NomeCarrier = 'NoMobile'; DELETE FROM Listino WHERE sGruppoDest_e = 'Mobile IT'");
  Outcome rated = Ordalis({"process", "--db", "{inst}/ordalis.db"});
  ASSERT_EQ(rated.status, 0) << rated.err;
  Outcome cmp = Ordalis({"compare", "--db", "{inst}/ordalis.db", "--site", "MI", "--from", "2024-01-01", "--to",
                         "2024-02-29", "--json", "--carrier-file", "{inst}/Carrier/alpha.mdb", "--carrier-file", no_mobile});
  ASSERT_EQ(cmp.status, 0) << cmp.err;
  auto t = nlohmann::json::parse(cmp.out);
  ASSERT_EQ(t["carriers"].size(), 2u);
  const auto& alpha = t["carriers"][0];
  const auto& partial = t["carriers"][1];
  EXPECT_TRUE(alpha["Total"].is_number());
  EXPECT_EQ(alpha["unpriced"], 0);
  EXPECT_TRUE(partial["Mobile"].is_null());
  EXPECT_TRUE(partial["unpriced"].is_number_integer());
  EXPECT_GT(partial["unpriced"].get<int>(), 0);
  EXPECT_EQ(partial["complete"], false);
  EXPECT_EQ(t["cheapest"], "Alpha");  // NoMobile's total is lower but lacks calls
}

}  // namespace
}  // namespace ordalis::testing
