#pragma once
// ReadEventLogRows: one log into event rows, newest first, from the stamp on.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/ports.h"
#include "eventlog/event_row.h"
#include "eventlog/ports.h"

namespace zkq {

struct EventLogContext {
  EventLogSource& logs;
  AccountNames& accounts;
  MessageTables& tables;
  MessageBoxes& boxes;
  TimeZone& zone;  // the stamp is local time, the records UTC
};

// Clears list and appends a row for every record of logName written at or
// after "dateStamp timeStamp" (every record when the stamp is no date and time).
// A log that cannot be opened or read is shown on context.boxes: the failed
// call, the error code and its system text, the log's name, and for access
// denied the remedy. Returns 0 when it ran, -1 when the list could not be cleared.
std::int32_t ReadEventLogRows(EventList& list, std::u16string_view logName,
                              std::u16string_view computerName, std::u16string_view dateStamp,
                              std::u16string_view timeStamp, EventLogContext& context);

// The stamp "dateStamp timeStamp", a local time of the machine, as UTC seconds
// to compare with the records; nothing when it is no date and time (then every
// record is listed).
std::optional<std::int64_t> StampUtcSeconds(std::u16string_view dateStamp,
                                            std::u16string_view timeStamp, TimeZone& zone);

// The lines that name the log in a failure message, and the remedy for a log
// the account may not read.
inline constexpr char16_t kLogNameLabel[] = u"\r\nイベントログ: ";
inline constexpr char16_t kAccessRemedy[] =
    u"\r\nサービスとして実行するか、実行するアカウントを Event Log Readers "
    u"グループに追加してください。";

// "ReadEventLog function fails." CR LF "ErrNumber = 0x0000001F" CR LF and the
// system's text for the code.
std::u16string ReadFailureText(std::uint32_t code, MessageTables& tables);

}  // namespace zkq
