// The SQL and connect-string text the data-access layer reads itself.
#include <gtest/gtest.h>

#include "data/SqlText.h"
#include "data/odbc/RecordText.h"
#include "ordalis/Money.h"

namespace ordalis::rdo {
namespace {

TEST(ConnectString, DbqKeyIgnoresCaseAndEndsAtSemicolon) {
  EXPECT_EQ(ConnectValue("UID=admin;driver={Microsoft Access Driver (*.mdb)};DBQ=/x/carrier.mdb;", "dbq"),
            "/x/carrier.mdb");
  EXPECT_EQ(ConnectValue("Driver=x; dbq = /a b/c.db ", "DBQ"), "/a b/c.db");
  EXPECT_EQ(ConnectValue("driver={Microsoft Access Driver (*.mdb)}", "driver"), "Microsoft Access Driver (*.mdb)");
  EXPECT_FALSE(ConnectValue("DSN=calls;UID=sa;PWD=x;", "DBQ").has_value());
  EXPECT_FALSE(ConnectValue("XDBQ=/x", "DBQ").has_value());
}

TEST(DateEscapes, RewrittenOutsideQuotedTextOnly) {
  EXPECT_EQ(RewriteDateEscapes("WHERE d >= {d '2024-01-31'}"), "WHERE d >= '2024-01-31 00:00:00'");
  EXPECT_EQ(RewriteDateEscapes("{ts '2024-01-31 10:20:30'}"), "'2024-01-31 10:20:30'");
  EXPECT_EQ(RewriteDateEscapes("{ T '10:20:30' }"), "'1899-12-30 10:20:30'");
  EXPECT_EQ(RewriteDateEscapes("'{d ''2024-01-01''}' , \"{d '1'}\""), "'{d ''2024-01-01''}' , \"{d '1'}\"");
  EXPECT_EQ(RewriteDateEscapes("{d 'garbage'}"), "{d 'garbage'}");
  EXPECT_EQ(RewriteDateEscapes("{d '223060259'}"), "{d '223060259'}");  // a number of days past 9999
  EXPECT_EQ(RewriteDateEscapes("{d '0001-01-01'}"), "{d '0001-01-01'}");  // a year before the calendar
  EXPECT_EQ(RewriteDateEscapes("{fn NOW()}"), "{fn NOW()}");
}

TEST(SingleTableSelect, FindsTableAliasAndRest) {
  auto p = ParseSingleTableSelect("SELECT * FROM CHIAMATE WHERE iStato = 0 ORDER BY dData;");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->list, "*");
  EXPECT_EQ(p->table, "CHIAMATE");
  EXPECT_EQ(p->alias, "");
  EXPECT_EQ(p->rest, "WHERE iStato = 0 ORDER BY dData");
  p = ParseSingleTableSelect("select c.a, (select max(x) from y) as m from [Call Log] AS c where c.a='from'");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->list, "c.a, (select max(x) from y) as m");
  EXPECT_EQ(p->table, "[Call Log]");
  EXPECT_EQ(p->Qualifier(), "c");
  EXPECT_EQ(p->rest, "where c.a='from'");
  p = ParseSingleTableSelect("SELECT * FROM main.t x");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->table, "main.t");
  EXPECT_EQ(p->alias, "x");
  EXPECT_FALSE(ParseSingleTableSelect("SELECT * FROM a, b"));
  EXPECT_FALSE(ParseSingleTableSelect("SELECT * FROM a JOIN b ON a.x = b.x"));
  EXPECT_FALSE(ParseSingleTableSelect("SELECT DISTINCT x FROM a"));
  EXPECT_FALSE(ParseSingleTableSelect("UPDATE a SET x = 1"));
}

TEST(WrittenTables, TheTableAWriteNamesComparedWithoutCaseOrSchema) {
  EXPECT_EQ(WrittenTable(" /* x */ update ONLY Rubrica SET n = n + ? WHERE id = ?"), "Rubrica");
  EXPECT_EQ(WrittenTable("INSERT INTO public.\"Call Log\" (a) VALUES (1)"), "public.\"Call Log\"");
  EXPECT_EQ(WrittenTable("DELETE FROM [Old].t WHERE 1"), "[Old].t");
  EXPECT_FALSE(WrittenTable("INSERT t VALUES (1)"));
  EXPECT_FALSE(WrittenTable("CREATE INDEX i ON t (a)"));
  EXPECT_FALSE(WrittenTable("WITH x AS (SELECT 1) UPDATE t SET a = 1"));
  EXPECT_EQ(TableNameKey("public.\"Call Log\""), "call log");
  EXPECT_EQ(TableNameKey("[Old].RUBRICA"), TableNameKey("rubrica"));
}

TEST(DeclaredTypes, KindAndTextSize) {
  using K = Variant::Kind;
  struct Case {
    const char* declared;
    K kind;
    int size;
  } cases[] = {
      {"DATETIME", K::Date, 0},     {"date", K::Date, 0},          {"timestamp", K::Date, 0},
      {"MONEY", K::Money, 0},       {"Currency", K::Money, 0},     {"decimal(19,4)", K::Money, 0},
      {"BIT", K::Bool, 0},          {"boolean", K::Bool, 0},       {"YESNO", K::Bool, 0},
      {"INTEGER", K::Integer, 0},   {"smallint", K::Integer, 0},   {"LONG", K::Integer, 0},
      {"REAL", K::Double, 0},       {"DOUBLE", K::Double, 0},      {"float", K::Double, 0},
      {"SINGLE", K::Single, 0},     {"varchar(20)", K::Text, 20},  {"CHAR ( 3 )", K::Text, 3},
      {"text(255)", K::Text, 255},  {"TEXT", K::Text, 0},          {"", K::Null, 0},
      {"BLOB", K::Null, 0},
  };
  for (const Case& c : cases) {
    DeclaredType t = ParseDeclaredType(c.declared);
    EXPECT_EQ(t.kind, c.kind) << c.declared;
    EXPECT_EQ(t.size, c.size) << c.declared;
  }
}

// A row value's text as the server writes it: NULL is nothing, an empty
// text or one with quotes, backslashes, commas, parentheses or spaces is
// quoted; a text cut short or not of that shape is refused.
TEST(RecordText, SplitsAsTheServerQuotes) {
  std::vector<std::optional<std::string>> f;
  ASSERT_TRUE(SplitRecord(R"x((7,,"",abc,"say ""hi""","back\\slash","(x, y)","2024-01-01 10:00:00",))x", f));
  ASSERT_EQ(f.size(), 9u);
  EXPECT_EQ(f[0], "7");
  EXPECT_FALSE(f[1]);
  EXPECT_EQ(f[2], "");
  EXPECT_EQ(f[3], "abc");
  EXPECT_EQ(f[4], R"(say "hi")");
  EXPECT_EQ(f[5], R"(back\slash)");
  EXPECT_EQ(f[6], "(x, y)");
  EXPECT_EQ(f[7], "2024-01-01 10:00:00");
  EXPECT_FALSE(f[8]);
  ASSERT_TRUE(SplitRecord("()", f));
  EXPECT_EQ(f.size(), 1u);
  for (const char* bad : {"", "7,8", "(7,8", R"((7,"open))", R"((7,"a"b))", R"((7,"a\))", R"x((7,"(x, y))x"})
    EXPECT_FALSE(SplitRecord(bad, f)) << bad;
}

// Values from their text read as the driver reads them; a text it would
// read otherwise is refused, and so is a column the layer does not read so.
TEST(RecordText, ValuesReadAsTheDriverReadsThem) {
  const OdbcColumn integer{.kind = Variant::Kind::Integer, .sql_type = SQL_INTEGER};
  const OdbcColumn money{.kind = Variant::Kind::Money, .sql_type = SQL_NUMERIC};
  const OdbcColumn stamp{.kind = Variant::Kind::Date, .sql_type = SQL_TYPE_TIMESTAMP, .plain_timestamp = true};
  const OdbcColumn text{.kind = Variant::Kind::Text, .sql_type = SQL_VARCHAR, .utf8_bytes = true};
  for (const OdbcColumn& c : {integer, money, stamp, text}) EXPECT_TRUE(ReadsFromText(c));
  EXPECT_FALSE(ReadsFromText({.kind = Variant::Kind::Integer, .sql_type = SQL_NUMERIC}));
  EXPECT_FALSE(ReadsFromText({.kind = Variant::Kind::Money, .sql_type = SQL_VARCHAR}));  // a money type's text
  EXPECT_FALSE(ReadsFromText({.kind = Variant::Kind::Date, .sql_type = SQL_TYPE_TIMESTAMP}));  // with time zone
  EXPECT_FALSE(ReadsFromText({.kind = Variant::Kind::Text, .sql_type = SQL_VARCHAR}));  // read as UTF-16
  EXPECT_FALSE(ReadsFromText({.kind = Variant::Kind::Double, .sql_type = SQL_DOUBLE}));

  EXPECT_EQ(ValueFromText(integer, "-9223372036854775808"), Variant(INT64_MIN));
  EXPECT_FALSE(ValueFromText(integer, "12x"));
  EXPECT_EQ(ValueFromText(money, "-1.0225"), Variant(Money::FromText("-1.0225")));
  EXPECT_EQ(ValueFromText(stamp, "2024-02-29 23:59:59.999"),
            Variant::FromDate(dt::FromCivil({2024, 2, 29, 23, 59, 59})));
  EXPECT_FALSE(ValueFromText(stamp, "infinity"));
  EXPECT_FALSE(ValueFromText(stamp, "0044-03-15 12:00:00 BC"));
  EXPECT_EQ(ValueFromText(text, " citt\u00e0 "), Variant(" citt\u00e0 "));
}

}  // namespace
}  // namespace ordalis::rdo
