#include "base/base64.h"

#include <cstdint>

namespace zkq {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = p[i] << 16 | p[i + 1] << 8 | p[i + 2];
    out += kBase64Alphabet[group >> 18];
    out += kBase64Alphabet[group >> 12 & 63];
    out += kBase64Alphabet[group >> 6 & 63];
    out += kBase64Alphabet[group & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    const std::uint32_t group = p[i] << 16 | (rest == 2 ? p[i + 1] << 8 : 0);
    out += kBase64Alphabet[group >> 18];
    out += kBase64Alphabet[group >> 12 & 63];
    out += rest == 2 ? kBase64Alphabet[group >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t pad = 0;
  while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < text.size() - pad; ++i) {
    const int sextet = SextetOf(text[i]);
    if (sextet < 0) return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(sextet);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16 & 0xFF);
      out += static_cast<char>(bits >> 8 & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      bits = 0;
      count = 0;
    }
  }
  if (count == 2) {
    if ((bits & 0xF) != 0) return std::nullopt;
    out += static_cast<char>(bits >> 4 & 0xFF);
  } else if (count == 3) {
    if ((bits & 0x3) != 0) return std::nullopt;
    out += static_cast<char>(bits >> 10 & 0xFF);
    out += static_cast<char>(bits >> 2 & 0xFF);
  }
  return out;
}

}  // namespace zkq
