#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace zkq {
namespace {

using namespace std::string_literals;

struct Known {
  std::string bytes;
  std::u16string text;
};

// Characters whose code is fixed: the round trip must give both sides.
const std::vector<Known> kKnown = {
    {"A", u"A"},
    {"\x5C", u"\\"},  // code page 932 keeps the backslash
    {"\x7E", u"~"},
    {"\xB1", u"ｱ"},
    {"\xDF", u"ﾟ"},
    {"\x82\xA0", u"あ"},
    {"\x88\x9F", u"亜"},
    {"\x81\x60", u"\uFF5E"},  // wave dash row: Microsoft's full-width tilde
    {"\x81\x61", u"\u2225"},
    {"\x81\x7C", u"\uFF0D"},
    {"\x81\x5C", u"\u2015"},
    {"\x81\x4A", u"゛"},
    {"\x87\x40", u"\u2460"},  // circled digit one (NEC row 13)
    {"\xFA\x40", u"\u2170"},  // small roman numeral one (IBM row)
    {"\xFB\xFC", u"\u9AD9"},  // 髙: IBM row, not the NEC-selected 0xEEE0
    {"\xFA\xB1", u"\uFA11"},  // 﨑
    {"\xF0\x40", u"\uE000"},  // first user-defined character
    {"\x83\x94", u"ヴ"},
    {"\x8A\xC4", u"監"},
};

TEST(Cp932, KnownCharactersBothWays) {
  for (const auto& k : kKnown) {
    EXPECT_EQ(DecodeCp932(k.bytes), k.text) << ToUtf8(k.text);
    EXPECT_EQ(EncodeCp932(k.text), k.bytes) << ToUtf8(k.text);
  }
}

TEST(Cp932, DecodesDuplicatesToOneCharacter) {
  // The same character in several rows decodes alike, and encodes to the row
  // Windows prefers.
  struct Case {
    std::string bytes;
    std::u16string text;
    std::string encoded;
  };
  const std::vector<Case> cases = {
      {"\xEE\xE0", u"\u9AD9", "\xFB\xFC"},  // NEC-selected 髙
      {"\xEE\xEF", u"\u2170", "\xFA\x40"},  // NEC-selected ⅰ
      {"\x87\x90", u"\u2252", "\x81\xE0"},  // ≒ of row 13 -> JIS row
      {"\xEE\xF9", u"\uFFE2", "\x81\xCA"},  // ¬
      {"\xFA\x54", u"\uFFE2", "\x81\xCA"},
      {"\x87\x54", u"\u2160", "\x87\x54"},  // Ⅰ stays in row 13
      {"\xFA\x4A", u"\u2160", "\x87\x54"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeCp932(c.bytes), c.text);
    EXPECT_EQ(EncodeCp932(c.text), c.encoded);
  }
}

TEST(Cp932, DecodesBrokenInputWhereWindowsPutsTheMiddleDot) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {"\x81", u"・"},                   // lead byte at the end
      {"a\x82", u"a・"},
      {"\x81\x20", u"・"},               // invalid trail: both bytes go
      {"\x81\x7F" "A", u"・A"},
      {"\x85\x40", u"・"},               // unassigned row
      {"\x81\x00" "A"s, u"・\0A"s},       // a NUL is never swallowed
      {"\x80", u"\u0080"},
      {"\xA0", u"\uF8F0"},
      {"\xFD\xFE\xFF", u"\uF8F1\uF8F2\uF8F3"},
      {"\x80\x81\x40", u"\u0080\u3000"},  // 0x80 starts no pair
      {"\xE0", u"・"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeCp932(c.bytes), c.text) << testing::PrintToString(c.bytes);
  }
}

TEST(Cp932, UnrepresentableCharactersBecomeQuestionMarks) {
  struct Case {
    std::u16string text;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {u"\u301C", "?"},  // JIS wave dash: Windows knows only U+FF5E
      {u"\u2016", "?"},
      {u"\u2212", "?"},
      {u"\u3099", "?"},
      {u"\u30F7", "?"},
      {u"\u4E02", "?"},
      {u"\uFFFD", "?"},
      {u"\U0001F600", "??"},  // each half of a surrogate pair
      {std::u16string(1, char16_t{0xD800}) + u"a", "?a"},
      {u"\u00A5", "\x5C"},  // best fit: yen sign to the backslash byte
      {u"\u00AC", "\x81\xCA"},
      {u"\u00E9", "e"},
      {u"\u00C5", "A"},
      {u"\u3094", "\x83\x94"},
      {u"\u0080", "\x80"},
      {u"\uF8F0", "\xA0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeCp932(c.text), c.bytes) << ToUtf8(c.text);
  }
}

TEST(Cp932, LeadBytes) {
  struct Case {
    unsigned byte;
    bool lead;
  };
  const std::vector<Case> cases = {
      {0x00, false}, {0x7F, false}, {0x80, false}, {0x81, true}, {0x9F, true},
      {0xA0, false}, {0xA1, false}, {0xDF, false}, {0xE0, true}, {0xFC, true},
      {0xFD, false}, {0xFF, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsCp932LeadByte(static_cast<std::uint8_t>(c.byte)), c.lead) << c.byte;
  }
}

TEST(Cp932, EveryValidPairSurvivesARoundTripOfItsCharacter) {
  // Whatever pair Windows prefers for a character, decoding it again gives the
  // same character.
  int valid = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!IsCp932LeadByte(static_cast<std::uint8_t>(lead))) continue;
    for (int trail = 1; trail <= 0xFF; ++trail) {
      const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
      const std::u16string text = DecodeCp932(pair);
      ASSERT_EQ(text.size(), 1u);
      if (text[0] == u'・' && pair != "\x81\x45") continue;
      ++valid;
      const std::string encoded = EncodeCp932(text);
      EXPECT_NE(encoded, "?") << std::hex << lead << trail;
      EXPECT_EQ(DecodeCp932(encoded), text) << std::hex << lead << trail;
    }
  }
  // JIS X 0208, NEC row 13, the NEC-selected and the IBM extension rows, and
  // the user-defined rows.
  EXPECT_EQ(valid, 6879 + 83 + 374 + 388 + 1880);
}

TEST(Cp932, AsciiAndMixedText) {
  const std::string bytes = "System \x83\x43\x83\x78\x83\x93\x83\x67 id=7036\r\n";
  const std::u16string text = u"System イベント id=7036\r\n";
  EXPECT_EQ(DecodeCp932(bytes), text);
  EXPECT_EQ(EncodeCp932(text), bytes);
  EXPECT_EQ(DecodeCp932(""), u"");
  EXPECT_EQ(EncodeCp932(u""), "");
  EXPECT_EQ(DecodeCp932("\0a"s), u"\0a"s);
}

}  // namespace
}  // namespace zkq
