#pragma once
// One EVENTLOGRECORD in the wide layout (UTF-16LE names), as the event log API
// and exported .evt files hold it. Decoding never allocates and never reads
// outside the bytes it is given, whatever the record claims about its sizes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zkq {

inline constexpr std::uint32_t kRecordSignature = 0x654c664c;  // "LfLe"
inline constexpr std::size_t kRecordHeaderSize = 56;
// An .evtx record's identifier has 64 bits: its EVENTLOGRECORD keeps the high
// half in ClosingRecordNumber and says so with this bit of ReservedFlags.
inline constexpr std::uint16_t kRecordFlagWideNumber = 0x8000;
// The record's data is the message text it carries (UTF-16LE), as a record
// forwarded from another machine carries its rendered message.
inline constexpr std::uint16_t kRecordFlagMessage = 0x4000;

enum class SidState {
  None,        // UserSidLength is 0
  Readable,    // a well-formed SID lies inside the record
  Unreadable,  // the record names a SID that lies outside it or is malformed
};

struct RecordFields {
  std::uint32_t length = 0, reserved = 0, recordNumber = 0;
  std::uint64_t recordId = 0;  // recordNumber, or an .evtx record's whole identifier
  std::uint32_t timeGenerated = 0, timeWritten = 0, eventId = 0;
  std::uint16_t eventType = 0, numStrings = 0, category = 0;
  // Source and computer names: UTF-16LE bytes without the NUL, always an even count.
  std::span<const std::uint8_t> source, computer;
  SidState sidState = SidState::None;
  std::span<const std::uint8_t> sid;  // exactly the SID's own bytes when Readable
  // From StringOffset to the record's end (before the length copy of a whole
  // record); empty when StringOffset points outside the record or into its header.
  std::span<const std::uint8_t> strings;
  std::span<const std::uint8_t> message;  // UTF-16LE; empty unless kRecordFlagMessage
};

// Reads what can be read: header fields that do not fit are left 0, a name
// without its NUL ends at the record's end.
RecordFields DecodeRecordFields(std::span<const std::uint8_t> record) noexcept;

// Appends the first numStrings of the record's insertion strings, each ended
// by a NUL; a string without its NUL ends where the strings' bytes end.
void AppendRecordStrings(std::u16string& out, const RecordFields& fields);
void AppendRecordStrings(std::u16string& out, std::span<const std::uint8_t> strings,
                         std::uint16_t count);

// The type text of column 0; "" for values outside the table.
std::u16string_view EventTypeText(std::uint16_t eventType) noexcept;

// Appends the UTF-16LE bytes as text (an odd last byte is dropped).
void AppendUtf16Le(std::u16string& out, std::span<const std::uint8_t> bytes);

// Appends "S-1-5" and "-" plus each sub-authority as unsigned decimal. The
// prefix is fixed, whatever revision and authority the SID carries.
void AppendSidText(std::u16string& out, std::span<const std::uint8_t> sid);

// Appends the unsigned decimal text of value.
void AppendDecimal(std::u16string& out, std::uint32_t value);
void AppendDecimal64(std::u16string& out, std::uint64_t value);

}  // namespace zkq
