#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include "platform/TempDir.h"

using ordalis::platform::LookupProfileString;
using ordalis::platform::ReadPrivateProfileString;
using ordalis::testing::TempDir;

TEST(IniFile, NamesIgnoreCaseBlanksAndMatchingQuotesAreDropped) {
  const char* ini =
      "[Configurazione]\n"
      "  Spaced Key  =   spaced value  \n"
      "q=\"  padded  \"\n"
      "open=\"abc\n"
      "single='abc'\n"
      "lone=\"\n";
  EXPECT_EQ(LookupProfileString(ini, " configurazione ", "SPACED KEY"), "spaced value");
  EXPECT_EQ(LookupProfileString(ini, "Configurazione", "q"), "  padded  ");
  EXPECT_EQ(LookupProfileString(ini, "Configurazione", "open"), "\"abc");
  EXPECT_EQ(LookupProfileString(ini, "Configurazione", "single"), "'abc'");
  EXPECT_EQ(LookupProfileString(ini, "Configurazione", "lone"), "\"");
}

TEST(IniFile, FirstOfRepeatedKeysWinsAndSectionsDoNotLeak) {
  const char* ini =
      "top=before any section\n"
      "[a]\n"
      "k=first\n"
      "K=second\n"
      "[b]\n"
      "only_b=1\n";
  EXPECT_EQ(LookupProfileString(ini, "a", "k"), "first");
  EXPECT_EQ(LookupProfileString(ini, "a", "only_b"), "");
  EXPECT_EQ(LookupProfileString(ini, "b", "k"), "");
  EXPECT_EQ(LookupProfileString(ini, "a", "top"), "");
}

TEST(IniFile, CommentsMalformedLinesCrLfAndBom) {
  const char* ini =
      "\xEF\xBB\xBF[Configurazione]\r\n"
      "; AbilitalogProcess=0\r\n"
      "garbage without equals\r\n"
      "[unclosed\r\n"
      "=no name\r\n"
      "AbilitalogProcess=1\r\n"
      "Empty=\r\n";
  EXPECT_EQ(LookupProfileString(ini, "Configurazione", "AbilitalogProcess"), "1");
  EXPECT_EQ(LookupProfileString(ini, "Configurazione", "Empty"), "");
  EXPECT_EQ(LookupProfileString(ini, "Configurazione", "garbage without equals"), "");
}

TEST(IniFile, MissingFileSectionOrKeyGiveEmptyText) {
  TempDir dir;
  EXPECT_EQ(ReadPrivateProfileString(dir.File("none.ini"), "Configurazione", "AbilitalogProcess"), "");
  std::string path = dir.Write("quarzo.ini", "[Configurazione]\r\nAbilitalogProcess = \"1\"\r\n");
  EXPECT_EQ(ReadPrivateProfileString(path, "Configurazione", "AbilitalogProcess"), "1");
  EXPECT_EQ(ReadPrivateProfileString(path, "Configurazione", "Missing"), "");
  EXPECT_EQ(ReadPrivateProfileString(path, "Missing", "AbilitalogProcess"), "");
  // A directory is no INI file.
  EXPECT_EQ(ReadPrivateProfileString(dir.Dir(), "Configurazione", "AbilitalogProcess"), "");
}
