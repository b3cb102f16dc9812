#include "support/RegistryLib.h"

#include <gtest/gtest.h>

#include "platform/TempDir.h"

using namespace ordalis;
using namespace std::string_literals;
using platform::Registry;
using ordalis::testing::ScopedEnv;
using ordalis::testing::TempDir;

namespace {

class RegistryLibTest : public ::testing::Test {
 protected:
  std::shared_ptr<Registry> Install() {
    auto reg = std::make_shared<Registry>();
    Registry::SetForTesting(reg);
    return reg;
  }
  void TearDown() override { Registry::SetForTesting(nullptr); }
};

}  // namespace

TEST_F(RegistryLibTest, StringValueIsCutBeforeItsFirstNulOrReturnedWhole) {
  auto reg = Install();
  reg->SetValue("Software\\x", "NoNul", platform::REG_SZ, "abc");
  reg->SetValue("Software\\x", "WithNul", platform::REG_SZ, "abc\0"s);
  reg->SetValue("Software\\x", "Embedded", platform::REG_SZ, "ab\0cd\0"s);
  reg->SetValue("Software\\x", "Empty", platform::REG_SZ, "");

  Variant whole = GetRegValue(HKEY_LOCAL_MACHINE, "Software\\x", "NoNul");
  EXPECT_EQ(whole.kind(), Variant::Kind::Text);
  EXPECT_EQ(whole.ToText(), "abc");
  EXPECT_EQ(GetRegValue(HKEY_LOCAL_MACHINE, "Software\\x", "WithNul").ToText(), "abc");
  EXPECT_EQ(GetRegValue(HKEY_LOCAL_MACHINE, "Software\\x", "Embedded").ToText(), "ab");
  EXPECT_EQ(GetRegValue(HKEY_LOCAL_MACHINE, "Software\\x", "Empty").ToText(), "");
}

TEST_F(RegistryLibTest, DwordIsASignedNumberNotText) {
  auto reg = Install();
  reg->SetDword("Software\\x", "Timeout", 0x1e);
  reg->SetDword("Software\\x", "AllOnes", 0xffffffffu);
  Variant v = GetRegValue(HKEY_LOCAL_MACHINE, "Software\\x", "Timeout");
  EXPECT_EQ(v.kind(), Variant::Kind::Integer);
  EXPECT_EQ(v.ToInteger(), 30);
  EXPECT_EQ(GetRegValue(HKEY_LOCAL_MACHINE, "Software\\x", "AllOnes").ToInteger(), -1);
}

TEST_F(RegistryLibTest, EveryOtherCaseIsTheEmptyText) {
  auto reg = Install();
  reg->SetValue("Software\\x", "Expand", platform::REG_EXPAND_SZ, "%PATH%\0"s);
  reg->SetValue("Software\\x", "LongDword", platform::REG_DWORD, "\x01\x02\x03\x04\x05");
  for (const char* name : {"Expand", "LongDword", "Missing"}) {
    EXPECT_EQ(GetRegValue(HKEY_LOCAL_MACHINE, "Software\\x", name), Variant("")) << name;
  }
  EXPECT_EQ(GetRegValue(HKEY_LOCAL_MACHINE, "Software\\missing", "Expand"), Variant(""));
}

TEST_F(RegistryLibTest, OemNameComparesExactly) {
  auto reg = Install();
  EXPECT_FALSE(OemKeyExists());
  EXPECT_TRUE(IsOem(""));  // no OEM key at all
  EXPECT_FALSE(IsOem(kOemKelmora));
  EXPECT_EQ(GetLookupObjectName(), "");

  reg->AddKey(kOemKey);
  EXPECT_TRUE(OemKeyExists());
  EXPECT_TRUE(IsOem(""));  // the key without a Name value
  EXPECT_EQ(GetLookupObjectName(), "");

  reg->SetString("software\\VALMER\\oem", "name", "Kelmora");
  reg->SetString(kOemKey, "LookupObjectName", "KelmoraSpdApi.DirLookup");
  EXPECT_TRUE(IsOem("Kelmora"));
  EXPECT_FALSE(IsOem("kelmora"));
  EXPECT_FALSE(IsOem("Kelmora "));
  EXPECT_FALSE(IsOem(""));
  EXPECT_EQ(GetLookupObjectName(), "KelmoraSpdApi.DirLookup");
}

TEST_F(RegistryLibTest, ReadsThroughTheRegistryFile) {
  TempDir dir;
  std::string file = dir.Write("registry.reg",
                               "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\valmer\\oem]\r\n"
                               "\"Name\"=\"Kelmora\"\r\n"
                               "\"LookupObjectName\"=\"Kelmora.Dir\"\r\n"
                               "[HKEY_LOCAL_MACHINE\\software\\Valmer\\Quarzo\\Processor]\r\n"
                               "\"QueryTimeout\"=dword:0000002d\r\n");
  ScopedEnv env("ORDALIS_REGISTRY", file);
  EXPECT_TRUE(IsOem(kOemKelmora));
  EXPECT_EQ(GetLookupObjectName(), "Kelmora.Dir");
  EXPECT_EQ(GetRegValue(HKEY_LOCAL_MACHINE, "Software\\valmer\\Quarzo\\Processor", "QueryTimeout").ToInteger(), 45);
}
