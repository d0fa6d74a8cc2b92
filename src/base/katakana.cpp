#include "base/text.h"

namespace zkq {

namespace {

constexpr char16_t kFirstHalf = 0xFF61;
constexpr char16_t kLastHalf = 0xFF9F;
constexpr char16_t kVoicedMark = 0xFF9E;
constexpr char16_t kSemiVoicedMark = 0xFF9F;

// U+FF61..U+FF9F. The sound marks become the spacing marks U+309B and U+309C:
// they exist in code page 932, so a mark that joins nothing still reaches a
// mail or a file intact.
constexpr char16_t kFull[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3,  //
    0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC,  //
    0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF,  //
    0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF,  //
    0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD,  //
    0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF,  //
    0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9, 0x30EA,  //
    0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,
};
static_assert(sizeof(kFull) / sizeof(kFull[0]) == kLastHalf - kFirstHalf + 1);

bool IsHalfKana(char16_t c) { return c >= kFirstHalf && c <= kLastHalf; }

char16_t Widen(char16_t c) { return IsHalfKana(c) ? kFull[c - kFirstHalf] : c; }

// The composed kana of a half-width kana and the mark after it, or 0 when they
// stay apart. Only kana with a code page 932 form compose: ﾜﾞ and ｦﾞ would give
// U+30F7 and U+30FA, which a file or a mail could only carry as "?".
char16_t Compose(char16_t kana, char16_t mark) {
  if (mark == kVoicedMark) {
    if (kana == 0xFF73) return 0x30F4;                         // ｳﾞ -> ヴ
    if (kana >= 0xFF76 && kana <= 0xFF84) return Widen(kana) + 1;  // ｶﾞ..ﾄﾞ
    if (kana >= 0xFF8A && kana <= 0xFF8E) return Widen(kana) + 1;  // ﾊﾞ..ﾎﾞ
  } else if (mark == kSemiVoicedMark) {
    if (kana >= 0xFF8A && kana <= 0xFF8E) return Widen(kana) + 2;  // ﾊﾟ..ﾎﾟ
  }
  return 0;
}

}  // namespace

std::u16string HalfToFullKatakana(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHalfKana(c) && i + 1 < text.size()) {
      if (const char16_t composed = Compose(c, text[i + 1])) {
        out.push_back(composed);
        ++i;
        continue;
      }
    }
    out.push_back(Widen(c));
  }
  return out;
}

std::u16string HalfToFullKatakanaEach(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = Widen(c);
  return out;
}

}  // namespace zkq
