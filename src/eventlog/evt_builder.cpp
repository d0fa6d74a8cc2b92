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

Bytes BuildRecord(const RecordSpec& spec) {
  Bytes b(56, 0);
  AppendText(b, spec.source);
  AppendText(b, spec.computer);
  Pad4(b);
  const std::size_t sidOffset = b.size();
  b.insert(b.end(), spec.sid.begin(), spec.sid.end());
  const std::size_t stringOffset = b.size();
  for (const std::u16string& s : spec.strings) AppendText(b, s);
  const std::size_t dataOffset = b.size();
  b.insert(b.end(), spec.data.begin(), spec.data.end());
  Pad4(b);
  const std::uint32_t length = static_cast<std::uint32_t>(b.size() + 4);
  Append32(b, length);
  PutU32(b, 0, length);
  PutU32(b, 4, 0x654c664c);
  PutU32(b, 8, spec.number);
  PutU32(b, 12, spec.timeGenerated);
  PutU32(b, 16, spec.timeWritten);
  PutU32(b, 20, spec.eventId);
  PutU32(b, 24, spec.type | static_cast<std::uint32_t>(spec.strings.size()) << 16);
  PutU32(b, 28, spec.category);
  PutU32(b, 32, 0);
  PutU32(b, 36, static_cast<std::uint32_t>(stringOffset));
  PutU32(b, 40, static_cast<std::uint32_t>(spec.sid.size()));
  PutU32(b, 44, static_cast<std::uint32_t>(spec.sid.empty() ? 0 : sidOffset));
  PutU32(b, 48, static_cast<std::uint32_t>(spec.data.size()));
  PutU32(b, 52, static_cast<std::uint32_t>(dataOffset));
  return b;
}

Bytes BuildEvtFile(const EvtSpec& spec) {
  std::size_t needed = 48 + 40 + (spec.staleEof ? 40 : 0);
  for (const Bytes& r : spec.records) needed += r.size();
  for (const Bytes& r : spec.stale) needed += r.size();
  const std::size_t size = spec.fileSize != 0 ? spec.fileSize : needed;
  if (size < needed || spec.firstOffset < 48 || spec.firstOffset >= size) {
    throw std::invalid_argument("log does not fit the file");
  }
  Bytes file(size, 0);
  const std::size_t ring = size - 48;
  auto wrap = [&](std::size_t pos) { return 48 + (pos - 48) % ring; };
  auto put = [&](std::size_t pos, const Bytes& what) {
    for (std::size_t i = 0; i < what.size(); ++i) file[wrap(pos + i)] = what[i];
    return wrap(pos + what.size());
  };

  std::size_t pos = spec.firstOffset;
  bool wrapped = false;
  std::uint32_t oldest = 0, current = 1;
  for (const Bytes& r : spec.records) {
    if (pos + r.size() > size) wrapped = true;
    if (&r == &spec.records.front()) oldest = Get32(r, 8);
    current = Get32(r, 8) + 1;
    pos = put(pos, r);
  }
  if (spec.records.empty()) oldest = 1;
  auto eof = [&](std::uint32_t cur, std::uint32_t old, std::size_t at) {
    Bytes e;
    for (std::uint32_t v : {0x28u, 0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u,
                            static_cast<std::uint32_t>(spec.firstOffset),
                            static_cast<std::uint32_t>(at), cur, old, 0x28u}) {
      Append32(e, v);
    }
    return e;
  };
  const std::size_t eofPos = pos;
  pos = put(pos, eof(current, oldest, eofPos));
  std::size_t staleEofPos = 0;
  if (spec.staleEof) {
    staleEofPos = pos;
    const std::uint32_t older = current > 3 ? current - 3 : 1;
    put(pos, eof(older, oldest > 2 ? oldest - 2 : oldest, pos));
  }
  std::size_t back = spec.firstOffset;
  for (auto it = spec.stale.rbegin(); it != spec.stale.rend(); ++it) {
    back = wrap(back + ring - it->size());
    put(back, *it);
  }

  Bytes header;
  const std::uint32_t flags = (spec.dirty ? 0x1u : 0u) | (wrapped ? 0x2u : 0u);
  // A stale header names an older state: an earlier end and fewer records.
  const std::size_t headerEnd = spec.dirty ? (spec.staleEof ? staleEofPos : 48) : eofPos;
  const std::uint32_t headerCurrent = spec.dirty && current > 2 ? current - 2 : current;
  for (std::uint32_t v : {0x30u, 0x654c664cu, 1u, 1u, static_cast<std::uint32_t>(spec.firstOffset),
                          static_cast<std::uint32_t>(headerEnd), headerCurrent, oldest,
                          static_cast<std::uint32_t>(size), flags, 0u, 0x30u}) {
    Append32(header, v);
  }
  std::copy(header.begin(), header.end(), file.begin());
  return file;
}

}  // namespace zkq
