#include "mail/encoders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "base/testing/scratch_folder.h"
#include "base/text.h"

namespace zkq {
namespace {

using namespace std::string_literals;

std::string Jis(std::string_view pairs) { return kToJis + std::string(pairs) + kToAscii; }

TEST(EncodersTest, SjisToJis) {
  struct Case {
    std::uint8_t lead, trail, jisLead, jisTrail;
  };
  const Case cases[] = {
      {0x82, 0xA0, 0x24, 0x22},                      // あ
      {0x88, 0x9F, 0x30, 0x21},                      // 亜
      {0x81, 0x40, 0x21, 0x21},                      // full-width blank
      {0xEA, 0xA4, 0x74, 0x26},                      // 熙, the last of JIS X 0208
      {0x87, 0x40, 0x2D, 0x21},                      // ①, NEC row 13
      {0xFB, 0xFC, 0x7C, 0x62},                      // 髙, IBM extension -> NEC-selected 0xEEE0
      {0xFA, 0x40, 0x7C, 0x71},                      // ⅰ -> 0xEEEF
      {0xF0, 0x40, 0, 0},                            // user-defined row
      {0x81, 0x7F, 0, 0},                            // bad trail byte
      {0xA0, 0x40, 0, 0},       {0xFC, 0x4C, 0, 0},  // past the last IBM character
  };
  for (const Case& c : cases) {
    std::uint8_t lead = c.lead, trail = c.trail;
    EXPECT_EQ(SjisToJis(lead, trail), c.jisLead != 0) << std::hex << +c.lead << +c.trail;
    EXPECT_EQ(lead, c.jisLead) << std::hex << +c.lead << +c.trail;
    EXPECT_EQ(trail, c.jisTrail) << std::hex << +c.lead << +c.trail;
  }
}

// Every character that code page 932 writes with an IBM lead byte reaches the
// mail: its JIS pair, read back as Shift-JIS, is the same character.
TEST(EncodersTest, EveryIbmExtensionCharacterHasAJisPair) {
  int ibm = 0;
  for (char32_t u = 0x80; u < 0x10000; ++u) {
    const auto c = static_cast<char16_t>(u);
    const std::string sjis = EncodeCp932(std::u16string_view(&c, 1));
    if (sjis.size() != 2 || static_cast<std::uint8_t>(sjis[0]) < 0xFA) continue;
    ++ibm;
    std::uint8_t lead = sjis[0], trail = sjis[1];
    ASSERT_TRUE(SjisToJis(lead, trail)) << std::hex << +u;
    ASSERT_GE(lead, 0x79);  // rows 89..92, the NEC-selected leads 0xED and 0xEE
    const char back[] = {
        static_cast<char>((lead + 1) / 2 + (lead <= 0x5E ? 0x70 : 0xB0)),
        static_cast<char>(trail + (lead % 2 ? (trail >= 0x60 ? 0x20 : 0x1F) : 0x7E))};
    EXPECT_EQ(DecodeCp932(std::string_view(back, 2)), std::u16string(1, c)) << std::hex << +u;
  }
  EXPECT_EQ(ibm, 373);
}

TEST(EncodersTest, ToIso2022Jp) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"", ""},
      {u"abc", "abc"},
      {u"あ", Jis("$\"")},
      {u"a亜b漢", "a"s + Jis("0!") + "b"s + Jis("4A")},
      {u"監視\r\nok", Jis("4F;k") + "\r\nok"},
      {u"ｱ", Jis("%\"")},  // a half-width katakana that reached it alone
      {u"\uE000x", "?x"},  // user-defined character: "?", never NULs
      {u"あ\uE000い", Jis("$\"") + "?"s + Jis("$$")},
      {u"\u0080\uF8F0\uF8F3", "???"},  // stray single bytes
      {u"é😀", "e??"},                  // best fit, and what code page 932 cannot write
  };
  for (const auto& [text, iso] : cases) EXPECT_EQ(ToIso2022Jp(text), iso) << ToUtf8(text);
}

TEST(EncodersTest, WidenAndCheck) {
  struct Case {
    std::u16string text, widened, checked;
    bool japanese;
  };
  const Case cases[] = {
      {u"", u"", u"", false},
      {u"abc", u"abc", u"abc", false},
      {u"ｶﾞ", u"ガ", u"カ゛", true},
      {u"ﾊﾟｳﾞﾎﾟ", u"パヴポ", u"ハ゜ウ゛ホ゜", true},
      {u"ｱﾞﾞｶ", u"ア゛゛カ", u"ア゛゛カ", true},
      {u"ﾞ", u"゛", u"゛", true},
      {u"全角ｶﾅ", u"全角カナ", u"全角カナ", true},
      {u"a\u0080\uF8F0b", u"a\u0080\uF8F0b", u"a..b", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WidenHalfWidthKana(c.text), c.widened) << ToUtf8(c.text);
    std::u16string text = c.text;
    EXPECT_EQ(CheckCharacters(text), c.japanese) << ToUtf8(c.text);
    EXPECT_EQ(text, c.checked) << ToUtf8(c.text);
  }
}

TEST(EncodersTest, EncodeHeaderText) {
  const std::u16string kana18(18, u'あ');
  const std::u16string word18 = EncodeWord(kana18);
  EXPECT_EQ(word18.size(), kMaxEncodedWordLength);
  EXPECT_EQ(EncodeHeaderText(kana18), u" "s + word18 + u" ");
  EXPECT_EQ(EncodeHeaderText(kana18 + u"あ"), u" "s + word18 + u" "s + EncodeWord(u"あ") + u" ");
  EXPECT_EQ(EncodeHeaderText(u"Subject:監視です\r\n"),
            u"Subject: "s + EncodeWord(u"監視です") + u" \r\n");
  EXPECT_EQ(EncodeWord(u"あ"), u"=?ISO-2022-JP?B?GyRCJCIbKEI=?=");
  // The text's own blank sets a word off; none is added beside it.
  EXPECT_EQ(EncodeHeaderText(u"a 日本 b"), u"a "s + EncodeWord(u"日本") + u" b");
  EXPECT_EQ(EncodeHeaderText(u"監視  警告 - VM"), u" "s + EncodeWord(u"監視  警告") + u" - VM");
  EXPECT_EQ(
      EncodeHeaderText(std::u16string(17, u'あ') + u" い"),
      u" "s + EncodeWord(std::u16string(17, u'あ') + u" ") + u" "s + EncodeWord(u"い") + u" ");
  // What becomes "?" counts as ASCII: it ends the run.
  EXPECT_EQ(EncodeHeaderText(u"日\uE000本é"),
            u" "s + EncodeWord(u"日") + u" ? "s + EncodeWord(u"本") + u" e");
  EXPECT_EQ(EncodeHeaderText(u"plain"), u"plain");
}

TEST(EncodersTest, FoldHeaderLines) {
  const std::u16string a70(70, u'a'), a80(80, u'a');
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u""},
      {u"\r\n", u"\r\n"},
      {u"To:"s + a70 + u" b\r\n", u"To:"s + a70 + u" b\r\n"},  // 75 characters
      {u"To:"s + a70 + u" bc\r\n", u"To:"s + a70 + u"\r\n bc\r\n"},
      {u"To: "s + a80 + u" x\r\nA: b\r\n", u"To:\r\n "s + a80 + u"\r\n x\r\nA: b\r\n"},
      {u"a  b\r\n", u"a  b\r\n"},  // two blanks: an empty word
      {u"no end", u"no end\r\n"},
  };
  for (const auto& [text, folded] : cases) EXPECT_EQ(FoldHeaderLines(text), folded) << ToUtf8(text);
}

TEST(EncodersTest, Base64Encode) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {std::string("\0\xFF\xFE", 3), "AP/+"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(Base64Encode(bytes), text);
  EXPECT_EQ(Base64Encode(std::string(60, 'x')).size(), 80u);
}

TEST(EncodersTest, EncodeFileBase64) {
  test_support::ScratchFolder folder("mail-");
  std::mt19937 random(7);
  for (const std::size_t size : {0u, 1u, 32766u, 32767u, 100000u}) {
    std::string bytes(size, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    const auto path = folder.Path() / ("f"s + std::to_string(size));
    std::ofstream(path, std::ios::binary) << bytes;
    EXPECT_EQ(EncodeFileBase64(path), Base64Encode(bytes)) << size;
    const std::optional<std::string> wrapped = EncodeFileBase64(path, 76);
    ASSERT_TRUE(wrapped);
    std::string joined;
    for (std::size_t at = 0; at <= wrapped->size();) {
      std::size_t end = wrapped->find("\r\n", at);
      if (end == std::string::npos) end = wrapped->size();
      EXPECT_LE(end - at, 76u);
      if (end + 2 < wrapped->size()) {
        EXPECT_EQ(end - at, 76u);
      }
      joined.append(*wrapped, at, end - at);
      at = end + 2;
    }
    EXPECT_EQ(joined, Base64Encode(bytes)) << size;
  }
  EXPECT_FALSE(EncodeFileBase64(folder.Path() / "missing"));
  EXPECT_FALSE(EncodeFileBase64(folder.Path()));  // a folder
}

}  // namespace
}  // namespace zkq
