#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/TempDir.h"

using namespace ordalis::platform;
using ordalis::testing::ScopedEnv;
using ordalis::testing::TempDir;

namespace {

using namespace std::string_literals;

const RegValue& Value(const Registry& reg, std::string_view key, std::string_view name) {
  const RegValue* v = reg.FindValue(key, name);
  if (v == nullptr) throw std::runtime_error("missing value " + std::string(name));
  return *v;
}

// Reads text the way an engine caller does: through RegOpenKey / Query on the
// process-wide registry.
std::string QueryBytes(std::string_view key, std::string_view name, std::uint32_t* type = nullptr) {
  RegKey k;
  if (RegOpenKey(HKEY_LOCAL_MACHINE, key, &k) != kRegOk) return "<no key>";
  std::uint32_t size = 0;
  if (k.Query(name, type, nullptr, &size) != kRegOk) return "<no value>";
  std::string buf(size, '?');
  if (k.Query(name, nullptr, buf.data(), &size) != kRegOk) return "<read failed>";
  buf.resize(size);
  return buf;
}

class RegistryOverride : public ::testing::Test {
 protected:
  void TearDown() override { Registry::SetForTesting(nullptr); }
};

}  // namespace

TEST(RegistryParse, ReadsStringsDwordsDefaultValueAndEscapes) {
  Registry reg = Registry::Parse(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\valmer\\oem]\n"
      "\"Name\"=\"Kelmora\"\n"
      "\"Flag\"=dword:0000001e\n"
      "\"Short\"=dword:7\n"
      "@=\"default text\"\n"
      "\"Path\"=\"C:\\\\dir \\\"q\\\"\"\n");
  const char* oem = "Software\\valmer\\oem";
  EXPECT_EQ(Value(reg, oem, "Name").type, REG_SZ);
  EXPECT_EQ(Value(reg, oem, "Name").data, "Kelmora\0"s);
  EXPECT_EQ(Value(reg, oem, "Flag").type, REG_DWORD);
  EXPECT_EQ(Value(reg, oem, "Flag").data, "\x1e\0\0\0"s);
  EXPECT_EQ(Value(reg, oem, "Short").data, "\x07\0\0\0"s);
  EXPECT_EQ(Value(reg, oem, "").data, "default text\0"s);
  EXPECT_EQ(Value(reg, oem, "Path").data, "C:\\dir \"q\"\0"s);
  // Paths and names ignore letter case; a key's parents exist.
  EXPECT_NE(reg.FindValue("SOFTWARE\\VALMER\\Oem\\", "FLAG"), nullptr);
  EXPECT_NE(reg.FindKey("software\\valmer"), nullptr);
  EXPECT_EQ(reg.FindKey("software\\valmer\\oe"), nullptr);
}

TEST(RegistryParse, MalformedLinesAreSkippedAndTheRestIsRead) {
  Registry reg = Registry::Parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\Software\\a]\n"
      "\"Good1\"=\"one\"\n"
      "this is not a registry line\n"
      "\"NoEquals\" \"x\"\n"
      "\"Open\"=\"never closed\n"
      "\"OpenName=\"x\"\n"
      "\"BadDword\"=dword:xyz\n"
      "\"LongDword\"=dword:123456789\n"
      "\"Trailing\"=\"x\" junk\n"
      "\"BadHex\"=hex:zz,01\n"
      "; a comment\n"
      "[HKEY_LOCAL_MACHINE\\Software\\broken\n"
      "\"Orphan\"=\"lost\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\b]\n"
      "\"Good2\"=dword:00000002\n");
  EXPECT_EQ(Value(reg, "Software\\a", "Good1").data, "one\0"s);
  EXPECT_EQ(Value(reg, "Software\\b", "Good2").data, "\x02\0\0\0"s);
  for (const char* skipped : {"NoEquals", "Open", "OpenName", "BadDword", "LongDword", "Trailing", "BadHex"}) {
    EXPECT_EQ(reg.FindValue("Software\\a", skipped), nullptr) << skipped;
  }
  // Values under an unreadable header belong to no key.
  EXPECT_EQ(reg.FindKey("Software\\broken"), nullptr);
  EXPECT_EQ(reg.FindValue("Software\\a", "Orphan"), nullptr);
}

TEST(RegistryParse, EveryOtherFormIsAnotherType) {
  Registry reg = Registry::Parse(
      "[HKEY_LOCAL_MACHINE\\Software\\t]\n"
      "\"Bin\"=hex:01,02,ff\n"
      "\"Expand\"=hex(2):25,00,50,00,00,00\n"
      "\"Multi\"=hex(7):61,00,00,\\\n"
      "  62,00,00,00\n"
      "\"LooksLikeString\"=hex(1):31,00\n"
      "\"LooksLikeDword\"=hex(4):01,00,00,00\n"
      "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
      "\"Unknown\"=frobnicate:42\n"
      "\"Bare\"=12\n"
      "\"After\"=\"still read\"\n");
  EXPECT_EQ(Value(reg, "Software\\t", "Bin").type, REG_BINARY);
  EXPECT_EQ(Value(reg, "Software\\t", "Bin").data, "\x01\x02\xff"s);
  EXPECT_EQ(Value(reg, "Software\\t", "Expand").type, REG_EXPAND_SZ);
  EXPECT_EQ(Value(reg, "Software\\t", "Multi").type, REG_MULTI_SZ);
  EXPECT_EQ(Value(reg, "Software\\t", "Multi").data, "a\0\0b\0\0\0"s);
  EXPECT_EQ(Value(reg, "Software\\t", "Qword").type, 0xbu);
  for (const char* name : {"LooksLikeString", "LooksLikeDword", "Unknown", "Bare"}) {
    std::uint32_t type = Value(reg, "Software\\t", name).type;
    EXPECT_NE(type, REG_SZ) << name;
    EXPECT_NE(type, REG_DWORD) << name;
  }
  EXPECT_EQ(Value(reg, "Software\\t", "After").data, "still read\0"s);
}

TEST(RegistryParse, OnlyLocalMachineKeysAreKept) {
  Registry reg = Registry::Parse(
      "\"BeforeAnyKey\"=\"x\"\n"
      "[HKEY_CURRENT_USER\\Software\\valmer\\oem]\n"
      "\"Name\"=\"WrongHive\"\n"
      "[HKLM\\Software\\valmer\\oem]\n"
      "\"LookupObjectName\"=\"Dir.Lookup\"\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\deleted]\n"
      "\"Gone\"=\"x\"\n");
  EXPECT_EQ(reg.FindValue("Software\\valmer\\oem", "Name"), nullptr);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "LookupObjectName").data, "Dir.Lookup\0"s);
  EXPECT_EQ(reg.FindKey("Software\\deleted"), nullptr);
  EXPECT_EQ(reg.FindValue("", "BeforeAnyKey"), nullptr);
}

TEST(RegistryParse, CrLfBomAndUtf16) {
  Registry crlf = Registry::Parse(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\valmer\\oem]\r\n"
      "\"Name\"=\"Kelmora\"\r\n"
      "\"Flag\"=dword:0000001e\r\n");
  EXPECT_EQ(Value(crlf, "Software\\valmer\\oem", "Name").data, "Kelmora\0"s);
  EXPECT_EQ(Value(crlf, "Software\\valmer\\oem", "Flag").data, "\x1e\0\0\0"s);

  // regedit writes UTF-16LE with a byte-order mark; "Città" checks a
  // non-ASCII letter comes out as UTF-8.
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\x]\r\n\"Name\"=\"Citt\u00e0\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  Registry utf16 = Registry::Parse(bytes);
  EXPECT_EQ(Value(utf16, "Software\\x", "Name").data, "Citt\xC3\xA0\0"s);
}

TEST_F(RegistryOverride, ProcessRegistryFollowsTheFileAndTheTestOverride) {
  TempDir dir;
  std::string a = dir.Write("a.reg", "[HKEY_LOCAL_MACHINE\\Software\\v]\n\"Name\"=\"first\"\n");
  std::string b = dir.Write("b.reg", "[HKEY_LOCAL_MACHINE\\Software\\v]\n\"Name\"=\"second\"\n");
  {
    ScopedEnv env("ORDALIS_REGISTRY", dir.File("absent.reg"));
    RegKey key;
    EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\v", &key), kRegNotFound);
    EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "", &key), kRegOk);  // the hive itself is always there
  }
  ScopedEnv env_a("ORDALIS_REGISTRY", a);
  EXPECT_EQ(QueryBytes("software\\V", "NAME"), "first\0"s);
  ScopedEnv env_b("ORDALIS_REGISTRY", b);
  EXPECT_EQ(QueryBytes("Software\\v", "Name"), "second\0"s);

  auto mem = std::make_shared<Registry>();
  mem->SetValue("Software\\v", "Name", REG_SZ, "raw");  // no terminating NUL
  Registry::SetForTesting(mem);
  EXPECT_EQ(QueryBytes("Software\\v", "Name"), "raw");
  Registry::SetForTesting(nullptr);
  EXPECT_EQ(QueryBytes("Software\\v", "Name"), "second\0"s);
}

