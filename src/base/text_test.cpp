#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zkq {
namespace {

using namespace std::string_literals;

TEST(Utf8, RoundTripsWellFormedText) {
  const std::vector<std::u16string> texts = {
      u"", u"abc", u"é", u"監視ルール", u"ｶﾞ", u"\U0001F600", u"a\0b"s,
  };
  for (const auto& text : texts) {
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  }
}

TEST(Utf8, EncodesKnownCharacters) {
  EXPECT_EQ(ToUtf8(u"A"), "A");
  EXPECT_EQ(ToUtf8(u"é"), "\xC3\xA9");
  EXPECT_EQ(ToUtf8(u"あ"), "\xE3\x81\x82");
  EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(Utf8, LoneSurrogatesBecomeReplacement) {
  const std::u16string high(1, char16_t{0xD800});
  const std::u16string low(1, char16_t{0xDC00});
  EXPECT_EQ(ToUtf8(high), "\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8(low + u"a"), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(ToUtf8(u"a" + high), "a\xEF\xBF\xBD");
}

TEST(Utf8, IllFormedInputBecomesReplacement) {
  struct Case {
    std::string bytes;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"\x80", u"\uFFFD"},                          // stray continuation byte
      {"\xC3", u"\uFFFD"},                          // truncated at the end
      {"\xC3" "A", u"\uFFFDA"},                     // truncated before ASCII
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                // overlong "/"
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},      // overlong, 3 bytes
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},      // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"\xE3\x81", u"\uFFFD"},                      // truncated kana
      {"\xE3\x81" "\xE3\x81\x82", u"\uFFFDあ"},     // resumes at the next lead
      {"\xFF", u"\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FromUtf8(c.bytes), c.expected) << testing::PrintToString(c.bytes);
  }
}

TEST(Trim, RemovesOnlyBlanksAtBothEnds) {
  struct Case {
    std::u16string in, out;
  };
  const std::vector<Case> cases = {
      {u"", u""},           {u"   ", u""},        {u" a ", u"a"},
      {u"a b", u"a b"},     {u"  a b  ", u"a b"}, {u"\ta\t", u"\ta\t"},
      {u"\u3000a\u3000", u"\u3000a\u3000"},  // the ideographic space is no blank
      {u" 15\r\n", u"15\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Trim(c.in), c.out);
    EXPECT_EQ(TrimView(c.in), c.out);
  }
}

TEST(ReplaceAll, ReplacesEveryOccurrenceOnce) {
  struct Case {
    std::u16string text, what, with, expected;
  };
  const std::vector<Case> cases = {
      {u"a.b.c", u".", u"..", u"a..b..c"},   // inserted text is not searched again
      {u"aaa", u"aa", u"b", u"ba"},          // left to right, no overlap
      {u"abc", u"x", u"y", u"abc"},
      {u"abc", u"", u"y", u"abc"},           // empty pattern changes nothing
      {u"", u"a", u"b", u""},
      {u"\r\n.\r\n", u"\r\n.", u"\r\n..", u"\r\n..\r\n"},
      {u"監視監視", u"監視", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.what, c.with), c.expected);
  }
}

TEST(Katakana, ComposesFollowingSoundMarks) {
  struct Case {
    std::u16string in, composed, each;
  };
  const std::vector<Case> cases = {
      {u"ｶﾞ", u"ガ", u"カ゛"},
      {u"ﾊﾟ", u"パ", u"ハ゜"},
      {u"ﾊﾞ", u"バ", u"ハ゛"},
      {u"ｳﾞ", u"ヴ", u"ウ゛"},
      {u"ﾂﾞ", u"ヅ", u"ツ゛"},
      {u"ｶﾞﾊﾟｱ", u"ガパア", u"カ゛ハ゜ア"},
      {u"ｶﾟ", u"カ゜", u"カ゜"},          // no semi-voiced ka
      {u"ｱﾞ", u"ア゛", u"ア゛"},          // a vowel takes no mark
      {u"ﾜﾞ", u"ワ゛", u"ワ゛"},          // ヷ has no code page 932 form
      {u"ｦﾞ", u"ヲ゛", u"ヲ゛"},
      {u"ﾞ", u"゛", u"゛"},
      {u"ﾞﾞ", u"゛゛", u"゛゛"},
      {u"ｶ", u"カ", u"カ"},
      {u"ﾞｶ", u"゛カ", u"゛カ"},
      {u"｡｢｣､･ｰ", u"。「」、・ー", u"。「」、・ー"},
      {u"", u"", u""},
      {u"abc ガ", u"abc ガ", u"abc ガ"},   // outside the block: unchanged
      {u"カﾞ", u"カ゛", u"カ゛"},          // a full-width kana does not compose
      {u"ｶ\u3099", u"カ\u3099", u"カ\u3099"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HalfToFullKatakana(c.in), c.composed) << ToUtf8(c.in);
    EXPECT_EQ(HalfToFullKatakanaEach(c.in), c.each) << ToUtf8(c.in);
  }
}

TEST(Katakana, WidensEveryHalfWidthCharacterIntoCodePage932) {
  // Every widened character must survive the trip through a file or a mail.
  for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
    const std::u16string wide = HalfToFullKatakanaEach(std::u16string(1, c));
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_TRUE(wide[0] >= 0x3000 && wide[0] < 0x3100) << std::hex << int(c);
    EXPECT_EQ(DecodeCp932(EncodeCp932(wide)), wide) << std::hex << int(c);
    for (char16_t mark : {char16_t{0xFF9E}, char16_t{0xFF9F}}) {
      const std::u16string pair = {c, mark};
      const std::u16string composed = HalfToFullKatakana(pair);
      EXPECT_EQ(DecodeCp932(EncodeCp932(composed)), composed) << std::hex << int(c);
    }
  }
}

}  // namespace
}  // namespace zkq
