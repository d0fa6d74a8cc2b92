#include "eventlog/evt_builder.h"

#include <stdexcept>

namespace zkq {
namespace {

void Append32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void AppendText(Bytes& b, const std::u16string& text) {
  for (char16_t c : text) {
    b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void Pad4(Bytes& b) {
  while (b.size() % 4 != 0) b.push_back(0);
}

}  // namespace

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes MakeSid(std::uint64_t authority, const std::vector<std::uint32_t>& subAuthorities) {
  Bytes sid{1, static_cast<std::uint8_t>(subAuthorities.size())};
  for (int i = 5; i >= 0; --i) sid.push_back(static_cast<std::uint8_t>(authority >> (8 * i)));
  for (std::uint32_t s : subAuthorities) Append32(sid, s);
  return sid;
}

Bytes BuildRecord(const RecordRecipe& recipe) {
  Bytes b(56, 0);
  AppendText(b, recipe.source);
  AppendText(b, recipe.computer);
  Pad4(b);
  const std::size_t sidOffset = b.size();
  b.insert(b.end(), recipe.sid.begin(), recipe.sid.end());
  const std::size_t stringOffset = b.size();
  for (const std::u16string& s : recipe.strings) AppendText(b, s);
  const std::size_t dataOffset = b.size();
  b.insert(b.end(), recipe.data.begin(), recipe.data.end());
  Pad4(b);
  const std::uint32_t length = static_cast<std::uint32_t>(b.size() + 4);
  Append32(b, length);
  PutU32(b, 0, length);
  PutU32(b, 4, 0x654c664c);
  PutU32(b, 8, recipe.number);
  PutU32(b, 12, recipe.timeGenerated);
  PutU32(b, 16, recipe.timeWritten);
  PutU32(b, 20, recipe.eventId);
  PutU32(b, 24, recipe.type | static_cast<std::uint32_t>(recipe.strings.size()) << 16);
  PutU32(b, 28, recipe.category);
  PutU32(b, 32, 0);
  PutU32(b, 36, static_cast<std::uint32_t>(stringOffset));
  PutU32(b, 40, static_cast<std::uint32_t>(recipe.sid.size()));
  PutU32(b, 44, static_cast<std::uint32_t>(recipe.sid.empty() ? 0 : sidOffset));
  PutU32(b, 48, static_cast<std::uint32_t>(recipe.data.size()));
  PutU32(b, 52, static_cast<std::uint32_t>(dataOffset));
  return b;
}

Bytes BuildEvtFile(const EvtRecipe& recipe) {
  std::size_t needed = 48 + 40 + (recipe.staleEof ? 40 : 0);
  for (const Bytes& r : recipe.records) needed += r.size();
  for (const Bytes& r : recipe.stale) needed += r.size();
  const std::size_t size = recipe.fileSize != 0 ? recipe.fileSize : needed;
  if (size < needed || recipe.firstOffset < 48 || recipe.firstOffset >= size) {
    throw std::invalid_argument("log does not fit the file");
  }
  Bytes file(size, 0);
  const std::size_t ring = size - 48;
  auto wrap = [&](std::size_t pos) { return 48 + (pos - 48) % ring; };
  auto put = [&](std::size_t pos, const Bytes& what) {
    for (std::size_t i = 0; i < what.size(); ++i) file[wrap(pos + i)] = what[i];
    return wrap(pos + what.size());
  };

  std::size_t pos = recipe.firstOffset;
  bool wrapped = false;
  std::uint32_t oldest = 0, current = 1;
  for (const Bytes& r : recipe.records) {
    if (pos + r.size() > size) wrapped = true;
    if (&r == &recipe.records.front()) oldest = Get32(r, 8);
    current = Get32(r, 8) + 1;
    pos = put(pos, r);
  }
  if (recipe.records.empty()) oldest = 1;
  auto eof = [&](std::uint32_t cur, std::uint32_t old, std::size_t at) {
    Bytes e;
    for (std::uint32_t v : {0x28u, 0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u,
                            static_cast<std::uint32_t>(recipe.firstOffset),
                            static_cast<std::uint32_t>(at), cur, old, 0x28u}) {
      Append32(e, v);
    }
    return e;
  };
  const std::size_t eofPos = pos;
  pos = put(pos, eof(current, oldest, eofPos));
  std::size_t staleEofPos = 0;
  if (recipe.staleEof) {
    staleEofPos = pos;
    const std::uint32_t older = current > 3 ? current - 3 : 1;
    put(pos, eof(older, oldest > 2 ? oldest - 2 : oldest, pos));
  }
  std::size_t back = recipe.firstOffset;
  for (auto it = recipe.stale.rbegin(); it != recipe.stale.rend(); ++it) {
    back = wrap(back + ring - it->size());
    put(back, *it);
  }

  Bytes header;
  const std::uint32_t flags = (recipe.dirty ? 0x1u : 0u) | (wrapped ? 0x2u : 0u);
  // A stale header names an older state: an earlier end and fewer records.
  const std::size_t headerEnd = recipe.dirty ? (recipe.staleEof ? staleEofPos : 48) : eofPos;
  const std::uint32_t headerCurrent = recipe.dirty && current > 2 ? current - 2 : current;
  for (std::uint32_t v : {0x30u, 0x654c664cu, 1u, 1u, static_cast<std::uint32_t>(recipe.firstOffset),
                          static_cast<std::uint32_t>(headerEnd), headerCurrent, oldest,
                          static_cast<std::uint32_t>(size), flags, 0u, 0x30u}) {
    Append32(header, v);
  }
  std::copy(header.begin(), header.end(), file.begin());
  return file;
}

}  // namespace zkq
