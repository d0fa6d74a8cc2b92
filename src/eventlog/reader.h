#pragma once
// ReadEventLogRows: one log into event rows, newest first, from the stamp on.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/ports.h"
#include "eventlog/event_row.h"
#include "eventlog/ports.h"
#include "eventlog/row_decoder.h"

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

// The newest record a cycle examined in one log: its record number and its
// written time (UTC seconds). Kept as "number:seconds"; an .evtx record's
// number is its 64-bit record ID.
struct LogBookmark {
  std::uint64_t number = 0;
  std::int64_t seconds = 0;
  friend bool operator==(const LogBookmark&, const LogBookmark&) = default;
};
std::optional<LogBookmark> ParseBookmark(std::u16string_view text);
std::u16string BookmarkText(const LogBookmark& bookmark);

// What one reading found out about the log beside its rows.
struct LogReading {
  // The newest record read when the log was read down to the bookmark (or to
  // its end); the bookmark given when the read failed or no record was read,
  // so that the next reading reads what this one could not.
  std::optional<LogBookmark> bookmark;
  bool cleared = false;           // the record numbers started again
  std::uint64_t overwritten = 0;  // records lost between the bookmark and the oldest one
  bool failed = false;
  std::u16string failure;  // the failure message, when failed
  std::uint64_t rows = 0;  // the rows read
};

// The lines that open the log's section of the alert: the log could not be
// read (whole), was cleared, or records were overwritten unread. "" when none.
std::u16string LogNoticeText(const LogReading& reading);

// As above, but a log with a bookmark is read only down to the bookmarked
// record, and every record after it is listed whatever its written time; the
// stamp is the bound only where there is no bookmark.
LogReading ReadNewEventLogRows(EventList& list, std::u16string_view logName,
                               std::u16string_view computerName, std::u16string_view dateStamp,
                               std::u16string_view timeStamp,
                               const std::optional<LogBookmark>& bookmark,
                               EventLogContext& context);
// The same, handing each row to onRow as it is read instead of keeping it: a
// log of a million new records then costs no list of a million rows. The
// row's strings wait: ToRow gives the row with them.
using EventRowSink = std::function<void(const EventRowView&)>;
LogReading ReadNewEventLogRows(const EventRowSink& onRow, std::u16string_view logName,
                               std::u16string_view computerName, std::u16string_view dateStamp,
                               std::u16string_view timeStamp,
                               const std::optional<LogBookmark>& bookmark,
                               EventLogContext& context);

// The newest record of logName written before utcSeconds: the bookmark a log
// gets when its examination starts at that moment; number 0 (before every
// record) when it has none. Nothing when the log cannot be opened or read
// (the stamp then bounds its first reading).
std::optional<LogBookmark> NewestBookmarkBefore(EventLogSource& logs, std::u16string_view logName,
                                                std::u16string_view computerName,
                                                std::int64_t utcSeconds);

// The stamp "dateStamp timeStamp", a local time of the machine, as UTC seconds
// to compare with the records; nothing when it is no date and time (then every
// record is listed).
std::optional<std::int64_t> StampUtcSeconds(std::u16string_view dateStamp,
                                            std::u16string_view timeStamp, TimeZone& zone);

// The lines that name the log in a failure message, and the remedy for a log
// the account may not read.
inline constexpr char16_t kLogUnreadNotice[] = u"※ ログを読めませんでした: ";
inline constexpr char16_t kLogNameLabel[] = u"\r\nイベントログ: ";
inline constexpr char16_t kAccessRemedy[] =
    u"\r\nサービスとして実行するか、実行するアカウントを Event Log Readers "
    u"グループに追加してください。";

// "ReadEventLog function fails." CR LF "ErrNumber = 0x0000001F" CR LF and the
// system's text for the code.
std::u16string ReadFailureText(std::uint32_t code, MessageTables& tables);

}  // namespace zkq
