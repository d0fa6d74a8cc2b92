#include "mail/encoders.h"

#include <array>
#include <fstream>
#include <unordered_map>

#include "base/text.h"

namespace zkq {
namespace {

constexpr std::uint8_t kFirstKanaByte = 0xA1;
constexpr std::uint8_t kLastKanaByte = 0xDF;
constexpr std::uint8_t kFirstIbmLead = 0xFA;
constexpr std::uint8_t kLastIbmLead = 0xFC;

using SjisCode = std::uint16_t;  // lead << 8 | trail; 0 for none

// The NEC-selected form (leads 0xED, 0xEE) of each IBM extension character
// (leads 0xFA..0xFC), taken from the code page's own table: both forms decode
// to the same character, and Windows encodes that character with the IBM form.
const std::array<SjisCode, 3 * 256>& IbmToNecSelected() {
  static const std::array<SjisCode, 3 * 256> table = [] {
    std::unordered_map<char16_t, SjisCode> nec;
    for (unsigned lead = 0xED; lead <= 0xEE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        const char pair[] = {static_cast<char>(lead), static_cast<char>(trail)};
        const std::u16string c = DecodeCp932(std::string_view(pair, 2));
        if (c.size() == 1 && c[0] != u'・')
          nec.emplace(c[0], static_cast<SjisCode>(lead << 8 | trail));
      }
    }
    std::array<SjisCode, 3 * 256> ibm{};
    for (unsigned lead = kFirstIbmLead; lead <= kLastIbmLead; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        const char pair[] = {static_cast<char>(lead), static_cast<char>(trail)};
        const std::u16string c = DecodeCp932(std::string_view(pair, 2));
        if (c.size() != 1) continue;
        if (const auto found = nec.find(c[0]); found != nec.end()) {
          ibm[(lead - kFirstIbmLead) * 256 + trail] = found->second;
        }
      }
    }
    return ibm;
  }();
  return table;
}

// The double-byte code of each half-width katakana byte's full-width form.
const std::array<SjisCode, kLastKanaByte - kFirstKanaByte + 1>& WideKanaCodes() {
  static const auto table = [] {
    std::array<SjisCode, kLastKanaByte - kFirstKanaByte + 1> codes{};
    for (unsigned b = kFirstKanaByte; b <= kLastKanaByte; ++b) {
      const char byte = static_cast<char>(b);
      const std::string wide =
          EncodeCp932(HalfToFullKatakanaEach(DecodeCp932(std::string_view(&byte, 1))));
      if (wide.size() == 2) {
        codes[b - kFirstKanaByte] = static_cast<SjisCode>(static_cast<std::uint8_t>(wide[0]) << 8 |
                                                          static_cast<std::uint8_t>(wide[1]));
      }
    }
    return codes;
  }();
  return table;
}

// The JIS X 0208 pair of a double-byte code, or 0.
std::uint16_t JisOfCode(SjisCode code) {
  auto lead = static_cast<std::uint8_t>(code >> 8);
  auto trail = static_cast<std::uint8_t>(code & 0xFF);
  if (!SjisToJis(lead, trail)) return 0;
  return static_cast<std::uint16_t>(lead << 8 | trail);
}

// The JIS X 0208 pair that ToIso2022Jp writes for a character of this code-page
// value, or 0 when it writes the character (ASCII) or "?" instead.
std::uint16_t JisOfValue(int value) {
  if (value < 0) return JisOfCode(static_cast<SjisCode>(value & 0xFFFF));
  if (value >= kFirstKanaByte && value <= kLastKanaByte) {
    return JisOfCode(WideKanaCodes()[value - kFirstKanaByte]);
  }
  return 0;
}

// What an ASCII-valued character goes out as: its code page byte, so that best
// fit ("é" -> "e") and unrepresentable characters ("?") reach the mail as the
// code page would send them.
char16_t AsciiOf(int value) {
  return value >= 0 && value < 0x80 ? static_cast<char16_t>(value) : u'?';
}

void AppendAscii(std::u16string& out, std::string_view ascii) {
  out.append(ascii.begin(), ascii.end());
}

}  // namespace

int CodePageValue(char16_t c) {
  if (c < 0x80) return c;
  const std::string bytes = EncodeCp932(std::u16string_view(&c, 1));
  if (bytes.size() == 2) {
    return static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[0]) << 8 |
                                     static_cast<std::uint8_t>(bytes[1]));
  }
  return static_cast<std::uint8_t>(bytes[0]);
}

std::u16string WidenHalfWidthKana(std::u16string_view text) {
  // Of the values 160..223 only the half-width katakana change: 160 (U+F8F0)
  // has no full-width form.
  return HalfToFullKatakana(text);
}

bool CheckCharacters(std::u16string& text) {
  bool counted = false;
  for (char16_t& c : text) {
    const int value = CodePageValue(c);
    if (value >= 0 && value < 0x80) continue;
    if (value >= kFirstKanaByte && value <= kLastKanaByte) {
      c = HalfToFullKatakanaEach(std::u16string_view(&c, 1))[0];
      counted = true;
    } else if (value > 0) {
      c = u'.';
    } else {
      counted = true;
    }
  }
  return counted;
}

bool SjisToJis(std::uint8_t& lead, std::uint8_t& trail) {
  const std::uint8_t inLead = lead, inTrail = trail;
  lead = trail = 0;
  unsigned l = inLead, t = inTrail;
  if (l >= kFirstIbmLead && l <= kLastIbmLead) {
    const SjisCode nec = IbmToNecSelected()[(l - kFirstIbmLead) * 256 + t];
    if (nec == 0) return false;
    l = nec >> 8;
    t = nec & 0xFF;
  }
  unsigned d, c;
  if (l >= 0x81 && l <= 0x9F) {
    d = l - 0x81;
  } else if (l >= 0xE0 && l <= 0xEF) {
    d = l - 0xC1;
  } else {
    return false;
  }
  if (t >= 0x40 && t <= 0x7E) {
    c = t - 0x3F;
  } else if (t >= 0x80 && t <= 0xFC) {
    c = t - 0x40;
  } else {
    return false;
  }
  unsigned row = 2 * d + 1;
  if (c > 94) {
    c -= 94;
    ++row;
  }
  lead = static_cast<std::uint8_t>(row + 0x20);
  trail = static_cast<std::uint8_t>(c + 0x20);
  return true;
}

std::string ToIso2022Jp(std::u16string_view text) {
  const std::string bytes = EncodeCp932(text);
  std::string out;
  out.reserve(bytes.size() + 16);
  bool jis = false;
  const auto ascii = [&](char c) {
    if (jis) out += kToAscii;
    jis = false;
    out += c;
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    if (b < 0x80) {
      ascii(static_cast<char>(b));
      continue;
    }
    std::uint16_t pair = 0;
    if (IsCp932LeadByte(b) && i + 1 < bytes.size()) {
      pair = JisOfCode(static_cast<SjisCode>(b << 8 | static_cast<std::uint8_t>(bytes[++i])));
    } else {
      pair = JisOfValue(b);
    }
    if (pair == 0) {
      ascii('?');
      continue;
    }
    if (!jis) out += kToJis;
    jis = true;
    out += static_cast<char>(pair >> 8);
    out += static_cast<char>(pair & 0xFF);
  }
  if (jis) out += kToAscii;
  return out;
}

std::u16string EncodeWord(std::u16string_view run) {
  std::u16string word(kEncodedWordStart);
  AppendAscii(word, Base64Encode(ToIso2022Jp(run)));
  word += kEncodedWordEnd;
  return word;
}

std::u16string EncodeHeaderText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() * 2);
  std::u16string run;
  bool open = false;
  const auto encodable = [](char16_t c) { return JisOfValue(CodePageValue(c)) != 0; };
  // An encoded word must be set off from the text around it, but by one blank
  // only: a reader keeps a blank of the text's own beside the one added.
  const auto closeWord = [&](bool blankFollows) {
    out += EncodeWord(run);
    if (!blankFollows) out += u' ';
    run.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // Blanks between two encoded stretches go inside the word: decoders drop
    // the white space between encoded words, and the blank with it.
    bool inRun = encodable(c);
    if (!inRun && open && c == u' ') {
      const std::size_t next = text.find_first_not_of(u' ', i);
      inRun = next != std::u16string_view::npos && encodable(text[next]);
    }
    if (inRun) {
      if (!open) {
        if (!out.ends_with(u' ')) out += u' ';
        open = true;
      }
      // The word this character would make; for kana and kanji alone its
      // ISO-2022-JP is 2 bytes a character and 6 of escapes (18 fit).
      const std::size_t l = ToIso2022Jp(run + c).size();
      if (4 * ((l + 2) / 3) + 16 + 2 > kMaxEncodedWordLength) closeWord(false);
      run += c;
      continue;
    }
    if (open) {
      closeWord(c == u' ');
      open = false;
    }
    out += AsciiOf(CodePageValue(c));
  }
  if (open) closeWord(false);
  return out;
}

std::u16string FoldHeaderLines(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(u"\r\n", start);
    const std::size_t next = end == std::u16string_view::npos ? text.size() : end + 2;
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view line = text.substr(start, end - start);
    std::size_t wordStart = 0;
    std::size_t blank = line.find(u' ');
    std::u16string_view segment = line.substr(0, blank);
    // The segment is kept as a view into the line while it only grows by the
    // line's own words and blanks.
    std::size_t segmentStart = 0;
    while (blank != std::u16string_view::npos) {
      wordStart = blank + 1;
      blank = line.find(u' ', wordStart);
      const std::size_t wordEnd = blank == std::u16string_view::npos ? line.size() : blank;
      const std::size_t wordLength = wordEnd - wordStart;
      if (segment.size() + wordLength + 1 > kFoldedLineLength) {
        out += segment;
        out += u"\r\n ";
        segmentStart = wordStart;
      }
      segment = line.substr(segmentStart, wordEnd - segmentStart);
    }
    out += segment;
    out += u"\r\n";
    start = next;
  }
  return out;
}

std::optional<std::string> EncodeFileBase64(const std::filesystem::path& path,
                                            std::size_t lineLength) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string encoded;
  encoded.reserve(static_cast<std::size_t>((size + 2) / 3 * 4));
  std::string chunk(kFileChunkBytes, '\0');
  for (std::uintmax_t remaining = size; remaining > 0;) {
    const auto n =
        static_cast<std::streamsize>(remaining < kFileChunkBytes ? remaining : kFileChunkBytes);
    if (!in.read(chunk.data(), n) || in.gcount() != n) return std::nullopt;
    // 32766 bytes are a whole number of Base64 groups: only the last piece pads.
    encoded += Base64Encode(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    remaining -= static_cast<std::uintmax_t>(n);
  }
  if (lineLength == 0 || encoded.size() <= lineLength) return encoded;
  std::string lines;
  lines.reserve(encoded.size() + encoded.size() / lineLength * 2);
  for (std::size_t at = 0; at < encoded.size(); at += lineLength) {
    if (at > 0) lines += "\r\n";
    lines.append(encoded, at, lineLength);
  }
  return lines;
}

}  // namespace zkq
