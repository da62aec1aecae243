#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/log_capture.h"

using namespace tav::text;

TEST(Text, Utf8RoundTripAndInvalidSequences) {
  EXPECT_EQ(FromUtf8("a\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u00E7\u20AC\U0001F600");
  EXPECT_EQ(ToUtf8(u"a\u00E7\u20AC\U0001F600"), "a\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80");
  struct Row { const char *name; std::string in; std::u16string out; };
  const Row rows[] = {
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"truncated at end", "a\xC3", u"a\uFFFD"},
      {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"surrogate encoded", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"cut three-byte", "\xE2\x82z", u"\uFFFDz"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FromUtf8(row.in), row.out);
  }
  std::u16string lone = u"x";
  lone.push_back(0xD800);
  EXPECT_EQ(ToUtf8(lone), "x\xEF\xBF\xBD");
}

TEST(Text, AnsiIsWindows1252) {
  EXPECT_EQ(ToAnsi(u"ç€\u201C中"), "\xE7\x80\x93?");
  EXPECT_EQ(FromAnsi("\xE7\x80\x81"), u"ç€\u0081");
}

TEST(Text, AsciiBestFit) {
  EXPECT_EQ(ToAsciiBestFit(u"Ação É ã á ç"), "Acao E a a c");
#if defined(_WIN32)
  // Windows' own best fit (code page 20127): no look-alike for ß, one "?" per UTF-16 unit.
  EXPECT_EQ(ToAsciiBestFit(u"straße Łódź øre"), "stra?e Lodz ore");
  EXPECT_EQ(ToAsciiBestFit(u"\u201Cx\u201D \u2013 中文 \U0001F600"), "\"x\" - ?? ??");
#else
  EXPECT_EQ(ToAsciiBestFit(u"straße Łódź øre"), "strase Lodz ore");
  EXPECT_EQ(ToAsciiBestFit(u"\u201Cx\u201D \u2013 中文 \U0001F600"), "\"x\" - ?? ?");
#endif
  EXPECT_EQ(ToAsciiBestFit(u"\\u00e7 stays"), "\\u00e7 stays");
}

TEST(Text, CharsetsByRegistryName) {
  const std::string utf8 = "\xC3\xA7";
  struct Row { const char *charset; std::u16string decoded; };
  const Row rows[] = {
      {"", u"\u00C3\u00A7"},          {"UTF-8", u"ç"},      {"utf-8", u"ç"},
      {"utf8", u"\u00C3\u00A7"},      {"latin1", u"\u00C3\u00A7"}, {"ASCII", u"\uFFFD\uFFFD"},
      {"us", u"\uFFFD\uFFFD"},        {"no-such", u"\u00C3\u00A7"}, {"windows-1252", u"\u00C3\u00A7"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.charset);
    EXPECT_EQ(Decode(utf8, row.charset), row.decoded);
  }
  EXPECT_EQ(Encode(u"ç€", "ISO-8859-1"), "\xE7?");
  EXPECT_EQ(Encode(u"ç€", ""), "\xE7?");
  EXPECT_EQ(Encode(u"ç€", "CP819"), "\xE7?");
  EXPECT_EQ(Encode(u"ç€", "US-ASCII"), "??");
  EXPECT_EQ(Encode(u"ç€", "windows-1252"), "\xE7\x80");
  EXPECT_EQ(Encode(u"ç", "UTF-8"), utf8);
  EXPECT_EQ(CanonicalCharset("L1"), "ISO-8859-1");
  EXPECT_EQ(CanonicalCharset("utf8"), "");
}
