// The portable code page 932 codec and katakana widening, compared with what
// Windows itself converts, for every input they can meet.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "base/text.h"

namespace zkq {
namespace {

std::u16string WindowsDecode(const std::string& bytes) {
  wchar_t out[8] = {};
  const int n = MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), out, 8);
  return std::u16string(reinterpret_cast<const char16_t*>(out), n > 0 ? n : 0);
}

std::string WindowsEncode(const std::u16string& text) {
  char out[16] = {};
  const int n = WideCharToMultiByte(932, 0, reinterpret_cast<const wchar_t*>(text.data()),
                                    static_cast<int>(text.size()), out, 16, nullptr, nullptr);
  return std::string(out, n > 0 ? n : 0);
}

std::u16string WindowsWiden(const std::u16string& text) {
  wchar_t out[16] = {};
  const int n = LCMapStringW(0x411, LCMAP_FULLWIDTH | LCMAP_KATAKANA,
                             reinterpret_cast<const wchar_t*>(text.data()),
                             static_cast<int>(text.size()), out, 16);
  return std::u16string(reinterpret_cast<const char16_t*>(out), n > 0 ? n : 0);
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    wsprintfA(buf, "%02X", b);
    out += buf;
  }
  return out;
}

TEST(Cp932Windows, DecodesEverySingleByteAlike) {
  for (int b = 0; b < 256; ++b) {
    const std::string bytes(1, static_cast<char>(b));
    EXPECT_EQ(DecodeCp932(bytes), WindowsDecode(bytes)) << Hex(bytes);
  }
}

TEST(Cp932Windows, DecodesEveryTwoByteSequenceAlike) {
  int mismatches = 0;
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      const std::string bytes = {static_cast<char>(first), static_cast<char>(second)};
      const std::u16string mine = DecodeCp932(bytes);
      if (mine != WindowsDecode(bytes)) {
        ++mismatches;
        ADD_FAILURE() << Hex(bytes);
        ASSERT_LT(mismatches, 20);
      }
    }
  }
}

TEST(Cp932Windows, DecodesPairsInsideLongerText) {
  // A pair that straddles the end of an ASCII run, and a lead byte before a
  // line break, as a file line gives them.
  const std::string text = "abc\x82\xA0\x81\r\nx\x81\x00y\xFB\xFC\xA0\x80\x85\x40z";
  const std::string bytes(text.data(), text.size());
  EXPECT_EQ(DecodeCp932(bytes), [&] {
    wchar_t out[64] = {};
    const int n =
        MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), out, 64);
    return std::u16string(reinterpret_cast<const char16_t*>(out), n);
  }());
}

TEST(Cp932Windows, EncodesEveryCodeUnitAlike) {
  int mismatches = 0;
  for (int unit = 0; unit < 0x10000; ++unit) {
    const std::u16string text(1, static_cast<char16_t>(unit));
    const std::string mine = EncodeCp932(text);
    const std::string windows = WindowsEncode(text);
    if (mine != windows) {
      ++mismatches;
      ADD_FAILURE() << "U+" << std::hex << unit << ": " << Hex(mine) << " vs " << Hex(windows);
      ASSERT_LT(mismatches, 20);
    }
  }
}

TEST(Cp932Windows, EncodesSurrogatePairsAlike) {
  for (const std::u16string text : {u"\U0001F600", u"a\U00020B9Fb", u"\U0010FFFF"}) {
    EXPECT_EQ(EncodeCp932(text), WindowsEncode(text));
  }
}

// Where this program widens differently from LCMapStringW, and why: Windows
// would give a combining sound mark (U+3099, U+309A) for a mark that joins
// nothing, and the composed kana U+30F7 and U+30FA; none of these has a code
// page 932 form, so files and mails would carry "?" in their place.
const std::map<std::u16string, std::u16string> kOwnWidening = {
    {u"ﾜﾞ", u"ワ゛"},
    {u"ｦﾞ", u"ヲ゛"},
};

// Windows' answer with its combining marks read as the spacing ones.
std::u16string WindowsWidenKept(const std::u16string& text) {
  std::u16string out = WindowsWiden(text);
  for (char16_t& c : out) {
    if (c == 0x3099) c = 0x309B;
    if (c == 0x309A) c = 0x309C;
  }
  return out;
}

TEST(KatakanaWindows, WidensTheHalfWidthBlockAlike) {
  for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
    const std::u16string one(1, c);
    const auto own = kOwnWidening.find(one);
    EXPECT_EQ(HalfToFullKatakana(one),
              own != kOwnWidening.end() ? own->second : WindowsWidenKept(one))
        << std::hex << int(c);
    for (char16_t mark : {char16_t{0xFF9E}, char16_t{0xFF9F}}) {
      const std::u16string pair = {c, mark};
      const auto ownPair = kOwnWidening.find(pair);
      const std::u16string expected =
          ownPair != kOwnWidening.end() ? ownPair->second : WindowsWidenKept(pair);
      EXPECT_EQ(HalfToFullKatakana(pair), expected) << std::hex << int(c) << "+" << int(mark);
      // Windows widens the pair's characters one by one when it does not compose them.
      if (expected.size() == 2) {
        EXPECT_EQ(HalfToFullKatakanaEach(pair), expected) << std::hex << int(c);
      }
    }
  }
}

TEST(KatakanaWindows, WindowsComposesTheKanaThisProgramKeepsApart) {
  // If Windows ever stops composing these, the exceptions above can go.
  EXPECT_EQ(WindowsWiden(u"ﾜﾞ"), u"\u30F7");
  EXPECT_EQ(WindowsWiden(u"ｦﾞ"), u"\u30FA");
  EXPECT_EQ(WindowsEncode(u"\u30F7\u30FA"), "??");
}

}  // namespace
}  // namespace zkq
