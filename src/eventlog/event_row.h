#pragma once
// One event record as the lists show it: eight display texts.
#include <cstdint>
#include <string>
#include <vector>

namespace zkq {

struct EventRow {
  std::u16string type;      // "エラー", "警告", "情報", "成功", "失敗" (or "" for other values)
  std::u16string date;      // "yyyy/mm/dd"
  std::u16string time;      // "hh:mm:ss"
  std::u16string source;
  std::u16string category;  // "なし" when the source has no category text
  std::u16string eventId;   // low 16 bits, decimal
  std::u16string user;      // "N/A", the account name, or "S-1-5-…"
  std::u16string computer;
  // Not shown in the lists: what the alert's message text is made from.
  std::uint32_t eventCode = 0;  // the whole event ID, as message tables number it
  std::u16string strings;       // the record's insertion strings, each ended by a NUL
  std::u16string message;       // the message text the record carries (forwarded .evtx events)
  std::uint64_t recordNumber = 0;  // to find the record again for its manifest message
  friend bool operator==(const EventRow&, const EventRow&) = default;
};

using EventList = std::vector<EventRow>;

}  // namespace zkq
