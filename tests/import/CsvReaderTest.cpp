// The import's CSV reader on the shapes exchanges write: quoted fields with
// doubled quotes, commas and line breaks inside, CR LF endings, blank lines,
// a blank before an opening quote, and records larger than its buffer.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "import/CsvReader.h"

namespace ordalis::import {
namespace {

struct Record {
  std::int64_t line;
  std::vector<std::string> fields;
  std::string problem;
  bool operator==(const Record&) const = default;
};

std::vector<Record> ReadAll(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in);
  std::vector<Record> out;
  while (reader.Next())
    out.push_back({reader.Line(), {reader.Fields().begin(), reader.Fields().end()}, reader.Problem()});
  return out;
}

TEST(CsvReaderTest, QuotedFieldsLineEndingsAndBlankLines) {
  EXPECT_EQ(ReadAll("a,\"b,\"\"c\"\"\",\r\n\r\n\"multi\nline\", \"x\",y\"z\n\"\",last"),
            (std::vector<Record>{{1, {"a", "b,\"c\"", ""}, ""},
                                 {3, {"multi\nline", "x", "y\"z"}, ""},
                                 {5, {"", "last"}, ""}}));
}

TEST(CsvReaderTest, MalformedQuotesAreReportedOnTheirRecord) {
  EXPECT_EQ(ReadAll("\"a\"b,c\nok\n\"open,\nnever closed"),
            (std::vector<Record>{{1, {"a", "c"}, "text after the closing quote of a field"},
                                 {2, {"ok"}, ""},
                                 {3, {"open,\nnever closed"}, "a quoted field is not closed before the end of the file"}}));
}

TEST(CsvReaderTest, RecordsLongerThanTheBufferStayWhole) {
  std::string big(3 << 20, 'x');
  std::vector<Record> records = ReadAll("\"" + big + "\"," + big + "\nend\n");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].fields, (std::vector<std::string>{big, big}));
  EXPECT_EQ(records[1], (Record{2, {"end"}, ""}));
}

}  // namespace
}  // namespace ordalis::import
