// report, explain and the HTML pages through the real ordalis binary, on a
// demo installation it writes and rates itself; the pages are opened in a
// real headless Chromium.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr char kChromium[] = "/usr/bin/chromium";

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Outcome {
  int code = -1;
  std::string out, err;
};

class ReportCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("ordalis-host-report-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const Outcome demo = Run({"demo", "--dir", (dir_ / "demo").string(), "--calls", "400"});
    ASSERT_EQ(demo.code, 0) << demo.err;
    db_ = (dir_ / "demo" / "ordalis.db").string();
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  // Runs a command line; `program` defaults to the ordalis binary.
  static Outcome Run(const std::vector<std::string>& args, const std::string& program = ORDALIS_BINARY) {
    std::string command = Quote(program);
    for (const auto& a : args) command += " " + Quote(a);
    const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
    command += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
    Outcome o;
    const int status = std::system(command.c_str());
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Read(out);
    o.err = Read(err);
    return o;
  }
  static std::string Stored(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(db_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW &&
        sqlite3_column_text(st, 0))
      value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return value;
  }
  static std::vector<std::string> Period() { return {"--db", db_, "--from", "2024-01-01", "--to", "2024-02-29"}; }
  static std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& more) {
    a.insert(a.begin(), "report");
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }

  static fs::path dir_;
  static std::string db_;
};

fs::path ReportCommandsTest::dir_;
std::string ReportCommandsTest::db_;

TEST_F(ReportCommandsTest, JsonAndCsvKeepCurrenciesApartAndUsageErrorsExitWith2) {
  const Outcome json = Run(With(Period(), {"--by", "destination-type", "--json"}));
  ASSERT_EQ(json.code, 0) << json.err;
  const nlohmann::json r = nlohmann::json::parse(json.out);
  ASSERT_EQ(r["currencies"].size(), 2u);
  long long calls = 0;
  for (const auto& c : r["currencies"]) {
    EXPECT_TRUE(c["code"] == "EUR" || c["code"] == "USD") << c["code"];
    EXPECT_EQ(c["decimals"], 2);
    ASSERT_TRUE(c["total"]["cost"].is_number());
    long long in_groups = 0;
    for (const auto& g : c["groups"]) {
      EXPECT_TRUE(g["cost"].is_number() && g["calls"].is_number_integer());
      in_groups += g["calls"].get<long long>();
    }
    EXPECT_EQ(in_groups, c["total"]["calls"].get<long long>());
    calls += in_groups;
  }
  // The period holds every stored call of CHIAMATE, all rated by the demo.
  EXPECT_EQ(std::to_string(calls), Stored("SELECT COUNT(*) FROM CHIAMATE"));
  EXPECT_EQ(r["unrated"], 0);

  const Outcome csv = Run(With(Period(), {"--by", "destination-type", "--csv"}));
  ASSERT_EQ(csv.code, 0) << csv.err;
  std::size_t lines = 0;
  for (char c : csv.out) lines += c == '\n';
  std::size_t groups = 0;
  for (const auto& c : r["currencies"]) groups += c["groups"].size();
  EXPECT_EQ(csv.out.rfind("currency,decimals,destination-type,label,calls,seconds,minutes,cost\n", 0), 0u);
  EXPECT_EQ(lines, groups + 1);

  const Outcome bad_day = Run({"report", "--db", db_, "--from", "2024-13-01", "--to", "2024-02-29"});
  EXPECT_EQ(bad_day.code, 2);
  EXPECT_NE(bad_day.err.find("--from"), std::string::npos) << bad_day.err;
  const Outcome backwards = Run({"report", "--db", db_, "--from", "2024-02-01", "--to", "2024-01-31"});
  EXPECT_EQ(backwards.code, 2);
  const Outcome no_site = Run(With(Period(), {"--site", "XX"}));
  EXPECT_EQ(no_site.code, 1);
  EXPECT_NE(no_site.err.find("no site XX"), std::string::npos) << no_site.err;
  const std::string missing = (dir_ / "missing.db").string();
  const Outcome no_file = Run({"report", "--db", missing, "--from", "2024-01-01", "--to", "2024-01-31"});
  EXPECT_EQ(no_file.code, 1);
  EXPECT_NE(no_file.err.find("missing.db"), std::string::npos) << no_file.err;
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(ReportCommandsTest, ExplainOfAStoredCallShowsItsStoredCostAndWritesNothing) {
  const std::string id = Stored("SELECT lPKId FROM CHIAMATE WHERE CCOSTO1_C > 0 AND SSITO = 'NY' LIMIT 1");
  ASSERT_FALSE(id.empty());
  const std::string before = Read(db_);
  const Outcome json = Run({"explain", "--db", db_, "--id", id, "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  const nlohmann::json e = nlohmann::json::parse(json.out);
  ASSERT_TRUE(e["result"]["cCosto1_c"].is_number());
  EXPECT_DOUBLE_EQ(e["result"]["cCosto1_c"].get<double>(),
                   std::stod(Stored("SELECT CCOSTO1_C FROM CHIAMATE WHERE lPKId = " + id)));
  EXPECT_EQ(e["result"]["sCarrier1_c"], Stored("SELECT SCARRIER1_C FROM CHIAMATE WHERE lPKId = " + id));
  bool chosen = false;
  for (const auto& s : e["steps"]) chosen = chosen || (s["section"] == "least-cost search, main carrier" &&
                                                       s["outcome"] == "chosen");
  EXPECT_TRUE(chosen);

  const Outcome text = Run({"explain", "--db", db_, "--id", id});
  ASSERT_EQ(text.code, 0) << text.err;
  for (const char* heading : {"site and extension\n", "times\n", "least-cost search, main carrier\n",
                              "cost, main carrier\n", "result\n"})
    EXPECT_NE(text.out.find(heading), std::string::npos) << heading;
  EXPECT_EQ(Run({"explain", "--db", db_, "--id", "999999"}).code, 1);
  EXPECT_EQ(Run({"explain", "--db", db_, "--site", "MI"}).code, 2);
  EXPECT_EQ(Read(db_), before);
}

// Opens a page in headless Chromium: its screenshot and the DOM it built.
struct Rendered {
  std::string png, dom, log;
};

class ChromiumTest : public ReportCommandsTest {
 protected:
  void SetUp() override {
    if (::access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed: the pages are not rendered";
  }
  Rendered Render(const fs::path& page) {
    const fs::path profile = dir_ / ("profile-" + page.stem().string());
    const fs::path shot = dir_ / (page.stem().string() + ".png");
    const std::vector<std::string> common = {
        "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--user-data-dir=" + profile.string(), "--enable-logging=stderr", "--v=0", "--window-size=900,1200"};
    Rendered r;
    std::vector<std::string> args = common;
    args.push_back("--screenshot=" + shot.string());
    args.push_back("file://" + page.string());
    Outcome o = Run(args, kChromium);
    EXPECT_EQ(o.code, 0) << o.err;
    r.png = Read(shot);
    r.log = o.err;
    args = common;
    args.push_back("--dump-dom");
    args.push_back("file://" + page.string());
    o = Run(args, kChromium);
    EXPECT_EQ(o.code, 0) << o.err;
    r.dom = o.out;
    r.log += o.err;
    return r;
  }
  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  // The PNG signature and the size of its image (IHDR).
  static void ExpectScreenshot(const std::string& png) {
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    auto be32 = [&](std::size_t at) {
      return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
             (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 900u);
    EXPECT_EQ(be32(20), 1200u);
  }
};

TEST_F(ChromiumTest, ConsoleMessagesOfAPageAreSeen) {
  const fs::path page = dir_ / "noisy.html";
  std::ofstream(page) << "<!DOCTYPE html><html><body><script>console.error('broken chart')</script></body></html>";
  EXPECT_NE(Render(page).log.find("broken chart"), std::string::npos);
}

TEST_F(ChromiumTest, TheReportAndComparisonPagesRenderOfflineWithoutConsoleMessages) {
  const fs::path report = dir_ / "report.html", compare = dir_ / "compare.html";
  const Outcome made = Run(With(Period(), {"--by", "department", "--html", report.string()}));
  ASSERT_EQ(made.code, 0) << made.err;
  const nlohmann::json r = nlohmann::json::parse(Run(With(Period(), {"--by", "department", "--json"})).out);
  std::size_t bars = 0;
  for (const auto& c : r["currencies"]) bars += std::min<std::size_t>(c["groups"].size(), 25) + c["days"].size();
  ASSERT_GT(bars, 0u);
  const fs::path carriers = dir_ / "demo" / "Carrier";
  const Outcome compared =
      Run({"compare", "--db", db_, "--site", "MI", "--from", "2024-01-01", "--to", "2024-02-29", "--carrier-file",
           (carriers / "alpha.mdb").string(), "--carrier-file", (carriers / "beta.mdb").string(), "--carrier-file",
           (carriers / "gamma.mdb").string(), "--html", compare.string()});
  ASSERT_EQ(compared.code, 0) << compared.err;

  // Bars: report, one per group and day; comparison, three carriers by five destination types.
  for (const auto& [page, expected] : {std::pair{report, bars}, std::pair{compare, std::size_t{15}}}) {
    SCOPED_TRACE(page.filename().string());
    // Nothing to fetch: no address of any kind in the page.
    EXPECT_EQ(Read(page).find("http"), std::string::npos);
    const Rendered shown = Render(page);
    ExpectScreenshot(shown.png);
    EXPECT_EQ(shown.log.find("CONSOLE"), std::string::npos) << shown.log;
    EXPECT_EQ(Count(shown.dom, "<svg"), page == report ? 2 * r["currencies"].size() : 1u);
    EXPECT_EQ(Count(shown.dom, "class=\"bar\""), expected);
  }
}

}  // namespace
