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

TEST(RegistryParse, ReadsStringsDwordsAndDefaultValue) {
  Registry reg = Registry::Parse(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\valmer\\oem]\n"
      "\"Name\"=\"Kelmora\"\n"
      "\"Flag\"=dword:0000001e\n"
      "\"Neg\"=dword:ffffffff\n"
      "\"Short\"=dword:7\n"
      "@=\"default text\"\n"
      "\"Empty\"=\"\"\n");
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "Name").type, REG_SZ);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "Name").data, "Kelmora\0"s);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "Flag").type, REG_DWORD);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "Flag").data, "\x1e\0\0\0"s);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "Neg").data, "\xff\xff\xff\xff"s);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "Short").data, "\x07\0\0\0"s);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "").data, "default text\0"s);
  EXPECT_EQ(Value(reg, "Software\\valmer\\oem", "Empty").data, "\0"s);
}

TEST(RegistryParse, KeyPathsAndValueNamesIgnoreCaseAndParentsExist) {
  Registry reg = Registry::Parse(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Valmer\\Process]\n"
      "\"CommesseEstese\"=\"1\"\n");
  EXPECT_NE(reg.FindValue("software\\valmer\\process", "commesseestese"), nullptr);
  EXPECT_NE(reg.FindValue("Software\\VALMER\\Process\\", "COMMESSEESTESE"), nullptr);
  EXPECT_NE(reg.FindKey("software\\valmer"), nullptr);
  EXPECT_NE(reg.FindKey("SOFTWARE"), nullptr);
  EXPECT_EQ(reg.FindKey("software\\valmer\\proc"), nullptr);
  EXPECT_EQ(reg.FindKey("software\\valmer\\process\\sub"), nullptr);
}

TEST(RegistryParse, EscapesInNamesAndStrings) {
  Registry reg = Registry::Parse(
      "[HKEY_LOCAL_MACHINE\\Software\\x]\n"
      "\"Path\"=\"C:\\\\dir\\\\sub\"\n"
      "\"Quoted\"=\"say \\\"hi\\\"\"\n"
      "\"we\\\"ird\"=\"v\"\n");
  EXPECT_EQ(Value(reg, "Software\\x", "Path").data, "C:\\dir\\sub\0"s);
  EXPECT_EQ(Value(reg, "Software\\x", "Quoted").data, "say \"hi\"\0"s);
  EXPECT_EQ(Value(reg, "Software\\x", "we\"ird").data, "v\0"s);
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

TEST_F(RegistryOverride, MissingFileIsAnEmptyRegistry) {
  TempDir dir;
  ScopedEnv env("ORDALIS_REGISTRY", dir.File("absent.reg"));
  RegKey key;
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\valmer\\oem", &key), kRegNotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "", &key), kRegOk);  // the hive itself is always there
}

TEST_F(RegistryOverride, ProcessRegistryFollowsTheFileAndTheTestOverride) {
  TempDir dir;
  std::string a = dir.Write("a.reg", "[HKEY_LOCAL_MACHINE\\Software\\v]\n\"Name\"=\"first\"\n");
  std::string b = dir.Write("b.reg", "[HKEY_LOCAL_MACHINE\\Software\\v]\n\"Name\"=\"second\"\n");
  {
    ScopedEnv env("ORDALIS_REGISTRY", a);
    EXPECT_EQ(QueryBytes("software\\V", "NAME"), "first\0"s);
  }
  {
    ScopedEnv env("ORDALIS_REGISTRY", b);
    EXPECT_EQ(QueryBytes("Software\\v", "Name"), "second\0"s);
    // A key opened before an override keeps reading what it was opened in.
    RegKey held;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\v", &held), kRegOk);

    auto mem = std::make_shared<Registry>();
    mem->SetValue("Software\\v", "Name", REG_SZ, "raw");
    Registry::SetForTesting(mem);
    EXPECT_EQ(QueryBytes("Software\\v", "Name"), "raw");

    std::uint32_t size = 0;
    EXPECT_EQ(held.Query("Name", nullptr, nullptr, &size), kRegOk);
    EXPECT_EQ(size, 7u);

    Registry::SetForTesting(nullptr);
    EXPECT_EQ(QueryBytes("Software\\v", "Name"), "second\0"s);
  }
}

TEST_F(RegistryOverride, QueryFollowsTheWin32SizeProtocol) {
  auto mem = std::make_shared<Registry>();
  mem->SetString("Software\\q", "Text", "hello");
  mem->SetDword("Software\\q", "Num", 30);
  Registry::SetForTesting(mem);

  RegKey key;
  EXPECT_EQ(RegOpenKey(0x80000001u, "Software\\q", &key), kRegInvalidHandle);  // HKEY_CURRENT_USER
  ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\q", &key), kRegOk);

  std::uint32_t type = 99, size = 0;
  EXPECT_EQ(key.Query("Text", &type, nullptr, &size), kRegOk);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 6u);

  char small[3] = {'x', 'x', 'x'};
  size = sizeof small;
  EXPECT_EQ(key.Query("Text", nullptr, small, &size), kRegMoreData);
  EXPECT_EQ(size, 6u);

  char big[10] = {};
  size = sizeof big;
  EXPECT_EQ(key.Query("Text", nullptr, big, &size), kRegOk);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::string(big, 6), "hello\0"s);

  std::int32_t n = 0;
  size = sizeof n;
  EXPECT_EQ(key.Query("num", &type, &n, &size), kRegOk);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(n, 30);

  EXPECT_EQ(key.Query("Missing", &type, nullptr, &size), kRegNotFound);
  key.Close();
  EXPECT_EQ(key.Query("Text", &type, nullptr, &size), kRegInvalidHandle);
}
