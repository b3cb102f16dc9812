#include "support/CommonLib.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Registry.h"
#include "platform/TempDir.h"

using namespace ordalis;
using namespace std::string_literals;
using platform::Registry;
using ordalis::testing::ReadBytes;
using ordalis::testing::ScopedEnv;
using ordalis::testing::TempDir;

namespace {

constexpr char kProcessKey[] = "SOFTWARE\\valmer\\Process";

// Keeps the module settings of one test from leaking into the next.
class CommonLibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_module_settings;
    SetLogPath(dir_.Dir());
    SetLogEnabled(false);
  }
  void TearDown() override {
    g_module_settings = saved_;
    Registry::SetForTesting(nullptr);
  }

  // Installs a registry whose CommesseEstese holds exactly `bytes`.
  void CommesseEstese(std::string bytes) {
    auto reg = std::make_shared<Registry>();
    reg->SetValue(kProcessKey, "CommesseEstese", platform::REG_SZ, std::move(bytes));
    Registry::SetForTesting(reg);
  }

  TempDir dir_;
  ModuleSettings saved_;
};

struct Member {
  int id;
};

class RecordingSink : public CacheErrorSink {
 public:
  bool uso_riproc = false;
  std::string errore;
  bool cache_stopped = false;
  int calls = 0;
  bool UsoRiproc() const override { return uso_riproc; }
  void SetErrore(const std::string& d) override {
    ++calls;
    errore = d;
  }
  void SetCacheStopped(bool s) override {
    ++calls;
    cache_stopped = s;
  }
};

// A collection whose Add fails with a chosen error, as a cache's collection
// could on a failing member.
struct FailingCollection {
  using Ptr = std::shared_ptr<Member>;
  std::int32_t number;
  void Add(Ptr, std::string_view) { throw ComponentError(number, "Member failed"); }
};

}  // namespace

TEST_F(CommonLibTest, CommesseEsteseIsOnlyTheExactText1) {
  CommesseEstese("1\0"s);
  CheckCommesseEstese();
  EXPECT_TRUE(UseCommesseEstese());
  EXPECT_FALSE(ReadBytes(dir_.File(kCommesseLogFile)));  // logging is off

  SetLogEnabled(true);
  // "1" without its NUL and a value too long for the 10-byte buffer fail too.
  for (std::string bytes : {"1 \0"s, "01\0"s, "1"s, ""s, "1234567890\0"s}) {
    CommesseEstese(bytes);
    g_module_settings.use_commesse_estese = true;  // the check starts from False
    CheckCommesseEstese();
    EXPECT_FALSE(UseCommesseEstese()) << '"' << bytes << '"';
  }
  EXPECT_FALSE(ReadBytes(dir_.File(kCommesseLogFile)));

  dir_.Write(kCommesseLogFile, "old content that is longer\r\n");
  CommesseEstese("1\0"s);
  CheckCommesseEstese();
  EXPECT_TRUE(UseCommesseEstese());
  EXPECT_EQ(ReadBytes(dir_.File(kCommesseLogFile)), "Commesse Estese\r\n");
}

TEST_F(CommonLibTest, DuplicateKeysInAnyCaseKeepTheFirstSilently) {
  KeyedCollection<Member> col;
  RecordingSink sink;
  sink.uso_riproc = true;  // even when errors are raised, a duplicate is not one
  AddToCollection(col, std::make_shared<Member>(Member{1}), "Key\xC2\xA6Site", sink);
  AddToCollection(col, std::make_shared<Member>(Member{2}), "KEY\xC2\xA6SITE", sink);
  AddToCollection(col, std::make_shared<Member>(Member{3}), "key\xC2\xA6site", sink);
  sink.uso_riproc = false;
  AddToCollection(col, std::make_shared<Member>(Member{4}), "kEy\xC2\xA6sItE", sink);
  AddToCollection(col, std::make_shared<Member>(Member{5}), "other", sink);
  ASSERT_EQ(col.Count(), 2u);
  EXPECT_EQ(col.Item("key\xC2\xA6site")->id, 1);
  EXPECT_EQ(col.Item(2)->id, 5);
  EXPECT_EQ(sink.calls, 0);
}

TEST_F(CommonLibTest, OtherAddFailuresStopTheCacheOrAreRaised) {
  RecordingSink sink;
  FailingCollection failing{5};
  AddToCollection(failing, std::make_shared<Member>(Member{1}), "k", sink);
  EXPECT_EQ(sink.errore, "Member failed");
  EXPECT_TRUE(sink.cache_stopped);

  RecordingSink raising;
  raising.uso_riproc = true;
  try {
    AddToCollection(failing, std::make_shared<Member>(Member{1}), "k", raising);
    FAIL() << "expected the error to be raised";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), 5);
  }
  EXPECT_EQ(raising.calls, 0);

  FailingCollection unsupported{kErrNotSupported};
  AddToCollection(unsupported, std::make_shared<Member>(Member{1}), "k", raising);
  EXPECT_EQ(raising.calls, 0);
}

TEST_F(CommonLibTest, IniValuesAreCutTo499Characters) {
  std::string ini = dir_.Write(kIniFile, "[Configurazione]\r\nAbilitalogProcess=1\r\nLong=" + std::string(600, 'a') +
                                             "\r\nExact=" + std::string(499, 'b') + "\r\nAccents=" +
                                             std::string(498, 'c') + "\xC3\xA0\xC3\xA8\r\n");
  EXPECT_EQ(ReadIniString(ini, "configurazione", "abilitalogprocess"), "1");
  EXPECT_EQ(ReadIniString(ini, "Configurazione", "Long"), std::string(499, 'a'));
  EXPECT_EQ(ReadIniString(ini, "Configurazione", "Exact"), std::string(499, 'b'));
  // Characters, not bytes: the first accented letter is the 499th.
  EXPECT_EQ(ReadIniString(ini, "Configurazione", "Accents"), std::string(498, 'c') + "\xC3\xA0");
  EXPECT_EQ(ReadIniString(dir_.File("none.ini"), "Configurazione", "AbilitalogProcess"), "");
}

TEST_F(CommonLibTest, DetailLogIsUntouchedWhileLoggingIsOff) {
  WriteDetailLog("never written");
  EXPECT_FALSE(ReadBytes(dir_.File(kDetailLogFile)));
  dir_.Write(kDetailLogFile, "existing\r\n");
  auto before = std::filesystem::last_write_time(dir_.File(kDetailLogFile));
  WriteDetailLog("never written");
  EXPECT_EQ(std::filesystem::last_write_time(dir_.File(kDetailLogFile)), before);
  SetLogPath("/nonexistent/dir/");  // not even looked at
  EXPECT_NO_THROW(WriteDetailLog("x"));
}

TEST_F(CommonLibTest, LogLinesAreAppendedWithCrLf) {
  SetLogEnabled(true);
  WriteDetailLog("Inizio Processamento chiamate");
  WriteDetailLog("Città ¦ fine");
  EXPECT_EQ(ReadBytes(dir_.File(kDetailLogFile)), "Inizio Processamento chiamate\r\nCittà ¦ fine\r\n");
  // Both spellings of the process log name one file.
  AppendLogLine("process2008.log", "one");
  AppendLogLine("Process2008.log", "two");
  EXPECT_EQ(ReadBytes(dir_.File(kProcessLogFile)), "one\r\ntwo\r\n");
  CreateLogFile("Process2008.log");
  EXPECT_EQ(ReadBytes(dir_.File(kProcessLogFile)), "");
}

TEST_F(CommonLibTest, UnwritableLogPathRaisesTheFileError) {
  SetLogEnabled(true);
  std::string blocker = dir_.Write("not-a-directory", "x");
  SetLogPath(blocker + "/");
  try {
    WriteDetailLog("line");
    FAIL() << "expected a file error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrPathNotFound);
    EXPECT_NE(e.Description().find(blocker), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("Not a directory"), std::string::npos) << e.Description();
  }
  EXPECT_NO_THROW(WriteDetailLogNoThrow("line"));
  EXPECT_THROW(AppendLogLine(kProcessLogFile, "x"), ComponentError);
  EXPECT_THROW(CreateLogFile("Process2008.log"), ComponentError);

  // A log file that is a directory cannot be opened for writing.
  SetLogPath(dir_.Dir());
  std::filesystem::create_directory(dir_.File(kDetailLogFile));
  try {
    WriteDetailLog("line");
    FAIL() << "expected a file error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrPathFileAccess);
  }
}

