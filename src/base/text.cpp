#include "base/text.h"

#include <algorithm>

namespace zkq {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
  }
}

bool IsBlank(char16_t c) { return c == u' '; }

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendUtf8(out, text);
  return out;
}

void AppendUtf8(std::string& out, std::u16string_view text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    // Most names and every fixed column are ASCII: copy runs of it at once.
    std::size_t run = i;
    while (run < n && text[run] < 0x80) ++run;
    if (run > i) {
      const std::size_t old = out.size();
      out.resize(old + (run - i));
      char* dst = out.data() + old;
      for (std::size_t k = i; k < run; ++k) *dst++ = static_cast<char>(text[k]);
      i = run;
      if (i == n) break;
    }
    std::uint32_t c = text[i++];
    if (c >= 0xD800 && c <= 0xDBFF && i < n && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int length = 0;
    char32_t c = 0;
    // The allowed range of the second byte excludes overlong forms,
    // surrogates and values past U+10FFFF at the earliest byte.
    unsigned char low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
      c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      c = b0 & 0x0F;
      if (b0 == 0xE0) low = 0xA0;
      if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      c = b0 & 0x07;
      if (b0 == 0xF0) low = 0x90;
      if (b0 == 0xF4) high = 0x8F;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    // A broken sequence is replaced as a whole up to the first byte that does
    // not fit, and decoding resumes at that byte.
    std::size_t j = i + 1;
    bool complete = true;
    for (int k = 1; k < length; ++k, ++j) {
      if (j >= n) {
        complete = false;
        break;
      }
      const auto b = static_cast<unsigned char>(bytes[j]);
      if (b < low || b > high) {
        complete = false;
        break;
      }
      low = 0x80;
      high = 0xBF;
      c = (c << 6) | (b & 0x3F);
    }
    if (complete) {
      AppendUtf16(out, c);
    } else {
      out.push_back(kReplacement);
    }
    i = j;
  }
  return out;
}

std::u16string_view TrimView(std::u16string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::u16string Trim(std::u16string_view text) { return std::u16string(TrimView(text)); }

bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view what,
                          std::u16string_view with) {
  // Nothing to look for would match everywhere and never advance.
  if (what.empty()) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(what, pos);
    if (hit == std::u16string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(with);
    pos = hit + what.size();
  }
  out.append(text.substr(pos));
  return out;
}

void ReplaceControls(std::u16string& text) {
  for (char16_t& c : text) {
    if (IsControlCharacter(c)) c = u'?';
  }
}

namespace {

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates), and
// whether any character took more than one byte.
bool IsUtf8(std::string_view bytes, bool& multiByte) {
  multiByte = false;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int extra = 0;
    std::uint32_t min = 0, c = 0;
    if ((b & 0xE0) == 0xC0) {
      extra = 1;
      min = 0x80;
      c = b & 0x1Fu;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      min = 0x800;
      c = b & 0x0Fu;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      min = 0x10000;
      c = b & 0x07u;
    } else
      return false;
    if (i + static_cast<std::size_t>(extra) >= bytes.size()) return false;  // cut short
    for (int k = 1; k <= extra; ++k) {
      const auto t = static_cast<std::uint8_t>(bytes[i + static_cast<std::size_t>(k)]);
      if ((t & 0xC0) != 0x80) return false;
      c = c << 6 | (t & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    multiByte = true;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

TextEncoding DetectTextEncoding(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) return TextEncoding::Utf8Bom;
  bool multiByte = false;
  return IsUtf8(bytes, multiByte) && multiByte ? TextEncoding::Utf8 : TextEncoding::Cp932;
}

std::string_view WithoutBom(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  return bytes;
}

std::u16string DecodeText(std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::Cp932) return DecodeCp932(bytes);
  return FromUtf8(WithoutBom(bytes));
}

std::string EncodeText(std::u16string_view text, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Cp932:
      return EncodeCp932(text);
    case TextEncoding::Utf8:
      return ToUtf8(text);
    case TextEncoding::Utf8Bom:
      return std::string(kUtf8Bom) + ToUtf8(text);
  }
  return EncodeCp932(text);
}

}  // namespace zkq
