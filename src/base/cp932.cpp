#include <cstdint>

#include "base/text.h"

namespace zkq {

namespace {
#include "base/cp932_table.inc"

constexpr char16_t kNoCharacter = 0x30FB;
}  // namespace

bool IsCp932LeadByte(std::uint8_t byte) { return kCp932LeadIndex[byte] != 0; }

std::u16string DecodeCp932(std::string_view bytes) {
  std::u16string out;
  out.resize(bytes.size());  // never more characters than bytes
  char16_t* dst = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    // Names, sources and rules are mostly ASCII: copy such runs straight.
    while (p < end && *p < 0x80) *dst++ = *p++;
    if (p == end) break;
    const unsigned row = kCp932LeadIndex[*p];
    if (row == 0) {
      *dst++ = kCp932Single[*p++];
    } else if (p + 1 == end || p[1] == 0) {
      // A lead byte at the end, or before a NUL, stands alone; the NUL is
      // kept as a character of its own.
      *dst++ = kNoCharacter;
      ++p;
    } else {
      *dst++ = kCp932Double[(row - 1) * 256 + p[1]];
      p += 2;
    }
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

std::string EncodeCp932(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (const char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const unsigned code = kCp932EncodePages[kCp932EncodePageOf[c >> 8] * 256 + (c & 0xFF)];
    if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  }
  return out;
}

}  // namespace zkq
