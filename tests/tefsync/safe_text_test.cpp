#include "tefsync/core/safe_text.h"

#include <gtest/gtest.h>

namespace tefsync {
namespace {

TEST(EscapeControls, OneTextIsOneLine) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"'1\r\n04/03/2024 10:00:00 | Get status | Ok  200' is not a valid floating point value",
       "'1\\r\\n04/03/2024 10:00:00 | Get status | Ok  200' is not a valid floating point value"},
      {"a\tb\x1b[2Jc\x7f", "a\\tb\\x1b[2Jc\\x7f"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"Versão Transação ñ € 😀", "Versão Transação ñ € 😀"},
      {"C:\\Client\\REQ\\", "C:\\Client\\REQ\\"},  // backslashes are not controls
      {"nel\xc2\x85x", "nel\\u0085x"},             // C1 control (next line)
      {"ls\xe2\x80\xa8ps\xe2\x80\xa9", "ls\\u2028ps\\u2029"},
      {"cp1252 \x85 \xe9", "cp1252 \\x85 \\xe9"},  // bytes that are not UTF-8
      {"cut \xe2\x80", "cut \\xe2\\x80"},
      {"overlong \xc0\x8a", "overlong \\xc0\\x8a"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
      {"", ""},
  };
  for (const Case& c : cases) {
    const std::string out = escapeControls(c.in);
    EXPECT_EQ(out, c.out) << c.in;
    EXPECT_EQ(escapeControls(out), out) << "escaping twice changes nothing";
  }
}

TEST(MaskSecrets, TheTokenWholeOrCut) {
  const std::vector<std::string> tokens = {"tok-S3CRET-9f8e7d"};
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"Authorization: Bearer tok-S3CRET-9f8e7d\r\n", "Authorization: Bearer ***\r\n"},
      {"tok-S3CRET-9f8e7dtok-S3CRET-9f8e7d x", "*** x"},
      // An answer that ends mid-token, or begins mid-way into it.
      {"missing closing quote; last read: '\"Bearer tok-S3CRE'",
       "missing closing quote; last read: '\"Bearer ***'"},
      {"...CRET-9f8e7d\"}", "...***\"}"},
      // Pieces shorter than eight characters are ordinary text.
      {"tok-S3C and 9f8e7d", "tok-S3C and 9f8e7d"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(maskSecrets(c.in, tokens), c.out) << c.in;

  // A short token is masked only whole; no token masks nothing.
  EXPECT_EQ(maskSecrets("abc abd", {"abc", ""}), "*** abd");
  EXPECT_EQ(maskSecrets("Bearer x", {}), "Bearer x");
  EXPECT_EQ(maskSecrets("old 0123456789 new abcdefghij", {"0123456789", "abcdefghij"}),
            "old *** new ***");
}

TEST(SafeText, MasksAndEscapes) {
  EXPECT_EQ(safeText("Bearer tok-S3CRET-9f8e7d\r\nX-Forged: 1", {"tok-S3CRET-9f8e7d"}),
            "Bearer ***\\r\\nX-Forged: 1");
  EXPECT_EQ(safeText("a\nb"), "a\\nb");
}

}  // namespace
}  // namespace tefsync
