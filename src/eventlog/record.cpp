#include "eventlog/record.h"

namespace zkq {
namespace {

std::uint32_t U32At(std::span<const std::uint8_t> b, std::size_t at) {
  if (b.size() < 4 || at > b.size() - 4) return 0;
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t U16At(std::span<const std::uint8_t> b, std::size_t at) {
  if (b.size() < 2 || at > b.size() - 2) return 0;
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// The name starting at `at` up to its UTF-16 NUL or to `end`; `at` moves past the NUL.
std::span<const std::uint8_t> TakeName(std::span<const std::uint8_t> b, std::size_t& at,
                                       std::size_t end) {
  const std::size_t begin = at;
  while (at + 1 < end) {
    if (b[at] == 0 && b[at + 1] == 0) {
      std::span<const std::uint8_t> name = b.subspan(begin, at - begin);
      at += 2;
      return name;
    }
    at += 2;
  }
  // Unterminated: the name runs to the end of the space for names.
  const std::size_t stop = begin + (end > begin ? (end - begin) & ~std::size_t{1} : 0);
  at = end;
  return b.subspan(begin, stop - begin);
}

}  // namespace

RecordFields DecodeRecordFields(std::span<const std::uint8_t> record) noexcept {
  RecordFields f;
  f.length = U32At(record, 0);
  f.reserved = U32At(record, 4);
  f.recordNumber = U32At(record, 8);
  f.timeGenerated = U32At(record, 12);
  f.timeWritten = U32At(record, 16);
  f.eventId = U32At(record, 20);
  f.eventType = U16At(record, 24);
  f.numStrings = U16At(record, 26);
  f.category = U16At(record, 28);
  f.recordId = f.recordNumber;
  const std::uint16_t flags = U16At(record, 30);
  if (flags & kRecordFlagWideNumber) f.recordId |= std::uint64_t{U32At(record, 32)} << 32;
  const std::uint32_t dataLength = U32At(record, 48), dataOffset = U32At(record, 52);
  if ((flags & kRecordFlagMessage) && dataOffset >= kRecordHeaderSize &&
      std::uint64_t{dataOffset} + dataLength <= record.size()) {
    f.message = record.subspan(dataOffset, dataLength & ~std::uint32_t{1});
  }
  const std::uint32_t stringOffset = U32At(record, 36);
  const std::uint32_t sidLength = U32At(record, 40);
  const std::uint32_t sidOffset = U32At(record, 44);

  const std::size_t size = record.size();
  if (size > kRecordHeaderSize) {
    // A whole record ends in a copy of its length, which is no part of a name;
    // a cut-off record has no such copy.
    const bool whole = f.length >= kRecordHeaderSize + 4 && f.length <= size;
    const std::size_t namesEnd = whole ? f.length - 4 : size;
    std::size_t at = kRecordHeaderSize;
    f.source = TakeName(record, at, namesEnd);
    f.computer = TakeName(record, at, namesEnd);
    if (stringOffset >= kRecordHeaderSize && stringOffset < namesEnd) {
      f.strings = record.subspan(stringOffset, namesEnd - stringOffset);
    }
  }

  if (sidLength != 0) {
    f.sidState = SidState::Unreadable;
    const std::uint64_t end = std::uint64_t{sidOffset} + sidLength;
    if (sidOffset >= kRecordHeaderSize && end <= size && sidLength >= 8) {
      const std::size_t count = record[sidOffset + 1];
      const std::size_t own = 8 + 4 * count;
      if (count <= 15 && own <= sidLength) {
        f.sidState = SidState::Readable;
        f.sid = record.subspan(sidOffset, own);
      }
    }
  }
  return f;
}

void AppendRecordStrings(std::u16string& out, const RecordFields& fields) {
  AppendRecordStrings(out, fields.strings, fields.numStrings);
}

void AppendRecordStrings(std::u16string& out, std::span<const std::uint8_t> bytes,
                         std::uint16_t count) {
  std::size_t at = 0;
  for (std::uint16_t i = 0; i < count && at + 1 < bytes.size(); ++i) {
    AppendUtf16Le(out, TakeName(bytes, at, bytes.size()));
    out.push_back(u'\0');
  }
}

std::u16string_view EventTypeText(std::uint16_t eventType) noexcept {
  switch (eventType) {
    case 1: return u"エラー";
    case 2: return u"警告";
    case 4: return u"情報";
    case 8: return u"成功";
    case 16: return u"失敗";
    default: return u"";
  }
}

void AppendUtf16Le(std::u16string& out, std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size() / 2;
  const std::size_t old = out.size();
  out.resize(old + n);
  char16_t* dst = out.data() + old;
  for (std::size_t i = 0; i < n; ++i) {
    dst[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
}

void AppendDecimal(std::u16string& out, std::uint32_t value) { AppendDecimal64(out, value); }

void AppendDecimal64(std::u16string& out, std::uint64_t value) {
  char16_t digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

void AppendSidText(std::u16string& out, std::span<const std::uint8_t> sid) {
  out.append(u"S-1-5");
  if (sid.size() < 8) return;
  std::size_t count = sid[1];
  if (count > 15) count = 15;
  for (std::size_t i = 0; i < count && 8 + 4 * i + 4 <= sid.size(); ++i) {
    out.push_back(u'-');
    AppendDecimal(out, U32At(sid, 8 + 4 * i));
  }
}

}  // namespace zkq
