#include "common/record_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every byte comes back as it was, and no escaped field holds a tab or a line break.
TEST(RecordLine, FieldsRoundTripWithoutSeparators) {
  using namespace std::string_literals;
  struct Case {
    std::string field;
    std::string escaped;
  };
  const Case cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a\tb\r\nc", "a\\tb\\r\\nc"},
      {"C:\\CLIENT\\REQ\\", "C:\\\\CLIENT\\\\REQ\\\\"},
      {"\\t is not a tab", "\\\\t is not a tab"},
      {"nul\0and \xC3\xA7 stay"s, "nul\0and \xC3\xA7 stay"s},
  };
  for (const auto& c : cases) {
    const std::string escaped = zkt::escapeField(c.field);
    EXPECT_EQ(escaped, c.escaped);
    EXPECT_EQ(escaped.find_first_of("\t\r\n"), std::string::npos) << escaped;
    std::string back = "left over";
    EXPECT_TRUE(zkt::unescapeField(escaped, back)) << escaped;
    EXPECT_EQ(back, c.field);
  }
}

// What escapeField never writes is reported; the text read in its place keeps the
// character after a stray backslash, and a backslash at the end.
TEST(RecordLine, AnEscapeNeverWrittenIsReported) {
  struct Case {
    const char* field;
    const char* read;
  };
  const Case cases[] = {
      {"a\\xb", "axb"}, {"\\\"quoted\\\"", "\"quoted\""}, {"ends with \\", "ends with \\"},
      {"\\", "\\"},     {"\\n then \\q", "\n then q"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_FALSE(zkt::unescapeField(c.field, out)) << c.field;
    EXPECT_EQ(out, c.read) << c.field;
  }
}

TEST(RecordLine, SplitKeepsEmptyPieces) {
  struct Case {
    const char* text;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a\tb\t", {"a", "b", ""}},
      {"\t\t", {"", "", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(zkt::splitOn(c.text, '\t'), c.pieces) << c.text;
}

}  // namespace
