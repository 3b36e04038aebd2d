#include "platform/encoding.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp1252, AccentedTextRoundTrips) {
  struct Case {
    const char* utf8;
    const char* cp1252;
  };
  const Case cases[] = {
      {"Configuração de dados", "Configura\xE7\xE3o de dados"},
      {"AÇÃO é Ótima", "A\xC7\xC3O \xE9 \xD3tima"},
      {"R$ 1,50 €", "R$ 1,50 \x80"},
      {"“aspas” – ‰",
       "\x93"
       "aspas\x94 \x96 \x89"},
      {"Šƒ˜Ÿž•™", "\x8A\x83\x98\x9F\x9E\x95\x99"},
      {"", ""},
      {"CRT\r\n", "CRT\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plat::utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
    EXPECT_EQ(plat::cp1252ToUtf8(c.cp1252), c.utf8) << c.utf8;
  }
}

TEST(Cp1252, UnmappableAndInvalidBecomeQuestionMarks) {
  struct Case {
    std::string utf8;
    std::string cp1252;
  };
  const Case cases[] = {
      {"日本", "??"},
      {"Ā ā Ω ≠", "? ? ? ?"},  // no look-alike letters: one '?' each
      {"\xC2\x80", "?"},       // U+0080: the byte 0x80 is the euro sign
      {"\xEF\xBF\xBD", "?"},   // U+FFFD itself
      {"a😀b", "a?b"},
      {"x\xFFy", "x?y"},            // stray byte
      {"x\xC3", "x?"},              // cut sequence at the end
      {"\xE2\x82", "??"},           // cut three-byte sequence
      {"\xC0\xAF", "??"},           // overlong
      {"ok\xED\xA0\x80", "ok???"},  // surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(plat::utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = plat::cp1252ToUtf8(all);
  EXPECT_EQ(plat::utf8ToCp1252(utf8), all);
  // The undefined bytes come back as the control characters of the same value.
  EXPECT_EQ(plat::cp1252ToUtf8("\x81"), "\xC2\x81");
}

TEST(U32, CountsCharactersNotBytes) {
  const std::u32string t = plat::toU32("Ação😀");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[1], U'ç');
  EXPECT_EQ(t[4], U'\U0001F600');
  EXPECT_EQ(plat::fromU32(t), "Ação😀");
  EXPECT_EQ(plat::toU32("a\xFF"
                        "b"),
            (std::u32string{U'a', 0xFFFD, U'b'}));
  EXPECT_EQ(plat::fromU32(std::u32string{0xD800, 0x110000}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
