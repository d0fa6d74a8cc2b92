#include "eventlog/reader.h"

#include "base/datetime.h"
#include "eventlog/evt_file.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"

namespace zkq {

namespace {

constexpr std::uint32_t kErrorAccessDenied = 5;

std::u16string CallFailureText(std::u16string_view call, std::uint32_t code,
                               MessageTables& tables) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string text(call);
  text.append(u" function fails.\r\nErrNumber = 0x");
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kHex[(code >> shift) & 0xF]);
  text.append(u"\r\n");
  text.append(tables.FormatSystemMessage(code));
  return text;
}

// The administrator must learn which log stayed unread and, when the account
// lacks the right, how to give it: the Security log is the usual case.
std::u16string LogFailureText(std::u16string_view call, std::u16string_view logName,
                              std::uint32_t code, MessageTables& tables) {
  std::u16string text = CallFailureText(call, code, tables);
  text.append(kLogNameLabel);
  text.append(logName);
  if (code == kErrorAccessDenied) text.append(kAccessRemedy);
  return text;
}

// A decimal number with an optional leading "-", nothing else.
std::optional<std::int64_t> ParseDecimal(std::u16string_view text) {
  const bool negative = !text.empty() && text.front() == u'-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::int64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  return negative ? -value : value;
}

}  // namespace

std::u16string ReadFailureText(std::uint32_t code, MessageTables& tables) {
  return CallFailureText(u"ReadEventLog", code, tables);
}

std::optional<std::int64_t> StampUtcSeconds(std::u16string_view dateStamp,
                                            std::u16string_view timeStamp, TimeZone& zone) {
  if (std::optional<DateTime> stamp = ParseStamp(dateStamp, timeStamp)) {
    // A local time the zone cannot place (a year far out of range) is still a
    // stamp: read as Japan time, it lets through the same records as before.
    if (std::optional<std::int64_t> utc = zone.LocalToUtc(*stamp)) return utc;
    return stamp->ToSeconds() - 9 * 3600;
  }
  return std::nullopt;
}

std::optional<LogBookmark> ParseBookmark(std::u16string_view text) {
  const std::size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos) return std::nullopt;
  const std::u16string_view digits = text.substr(0, colon);
  const auto seconds = ParseDecimal(text.substr(colon + 1));
  if (digits.empty() || digits.size() > 20 || !seconds) return std::nullopt;
  std::uint64_t number = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9' || number > (UINT64_MAX - (c - u'0')) / 10) return std::nullopt;
    number = number * 10 + static_cast<std::uint64_t>(c - u'0');
  }
  return LogBookmark{number, *seconds};
}

std::u16string BookmarkText(const LogBookmark& bookmark) {
  std::u16string text;
  AppendDecimal64(text, bookmark.number);
  text.push_back(u':');
  if (bookmark.seconds < 0) {
    text.push_back(u'-');
    AppendDecimal(text, static_cast<std::uint32_t>(-bookmark.seconds));
  } else {
    AppendDecimal(text, static_cast<std::uint32_t>(bookmark.seconds));
  }
  return text;
}

std::u16string LogNoticeText(const LogReading& reading) {
  std::u16string text;
  if (reading.failed) {
    // One line: the failure message's lines joined.
    text += kLogUnreadNotice;
    bool blank = false;
    for (const char16_t c : reading.failure) {
      if (c == u'\r' || c == u'\n') {
        blank = true;
        continue;
      }
      if (blank && !text.empty() && text.back() != u' ') text.push_back(u' ');
      blank = false;
      text.push_back(c);
    }
    text += u"\r\n";
  }
  if (reading.cleared) text += u"※ 前回の監視の後にログが消去されました。\r\n";
  if (reading.overwritten != 0) {
    text += u"※ 監視前に上書きされた記録: ";
    AppendDecimal64(text, reading.overwritten);
    text += u" 件\r\n";
  }
  return text;
}

LogReading ReadNewEventLogRows(EventList& list, std::u16string_view logName,
                               std::u16string_view computerName, std::u16string_view dateStamp,
                               std::u16string_view timeStamp,
                               const std::optional<LogBookmark>& bookmark,
                               EventLogContext& context) {
  list.clear();
  return ReadNewEventLogRows([&list](const EventRowView& row) { list.push_back(row.ToRow()); },
                             logName, computerName, dateStamp, timeStamp, bookmark, context);
}

LogReading ReadNewEventLogRows(const EventRowSink& onRow, std::u16string_view logName,
                               std::u16string_view computerName, std::u16string_view dateStamp,
                               std::u16string_view timeStamp,
                               const std::optional<LogBookmark>& bookmark,
                               EventLogContext& context) {
  LogReading reading;
  reading.bookmark = bookmark;
  const std::optional<std::int64_t> stamp = StampUtcSeconds(dateStamp, timeStamp, context.zone);
  ReadStart start;
  if (bookmark) {
    start.fromRecord = bookmark->number;
  } else {
    start.fromUtc = stamp;
  }
  std::uint32_t openError = 0;
  std::unique_ptr<EventLog> log = context.logs.OpenFrom(computerName, logName, start, openError);
  if (!log) {
    reading.failure = LogFailureText(context.logs.OpenCallName(), logName, openError, context.tables);
    context.boxes.Show(reading.failure, MessageIcon::Exclamation);
    reading.failed = true;
    return reading;
  }
  EventRowDecoder decoder(logName, context.accounts, context.tables);
  decoder.DeferStrings();
  std::optional<std::uint64_t> newest;
  std::int64_t newestSeconds = 0;
  const std::uint32_t code = ForEachNewEventRow(
      *log, decoder, stamp,
      bookmark ? std::optional<std::uint64_t>(bookmark->number) : std::nullopt,
      bookmark ? bookmark->seconds : 0, newest, newestSeconds, reading.cleared, reading.overwritten,
      [&](const EventRowView& row) {
        ++reading.rows;
        onRow(row);
      });
  if (code != 0) {
    reading.failure = LogFailureText(context.logs.ReadCallName(), logName, code, context.tables);
    context.boxes.Show(reading.failure, MessageIcon::Exclamation);
    reading.failed = true;
  }
  // What was read is alerted now. A read that failed for now (a log cleared
  // meanwhile, the service restarting) moves no bookmark, so that the records
  // below it are read next time, not lost; those above it are alerted again
  // then: a repeat, never a loss. Damage in the log's data (a cut copy, a
  // broken chunk) reads the same every time: what lies beyond it can never
  // be read, and the bookmark moves over what was, or every cycle would mail
  // the same records again.
  const bool damaged = code == kErrorEventlogFileCorrupt;
  if (newest && (!reading.failed || damaged)) reading.bookmark = LogBookmark{*newest, newestSeconds};
  return reading;
}

std::optional<LogBookmark> NewestBookmarkBefore(EventLogSource& logs, std::u16string_view logName,
                                                std::u16string_view computerName,
                                                std::int64_t utcSeconds) {
  std::uint32_t openError = 0;
  const std::unique_ptr<EventLog> log = logs.Open(computerName, logName, openError);
  if (!log) return std::nullopt;
  std::span<const std::uint8_t> record;
  for (;;) {
    const std::uint32_t code = log->ReadNext(record);
    // Nothing before the moment: every record that comes is new. Record
    // numbers start at 1, so 0 stands before them all.
    if (code == kErrorHandleEof) return LogBookmark{0, utcSeconds};
    if (code != 0) return std::nullopt;
    const RecordFields fields = DecodeRecordFields(record);
    const std::int64_t seconds = RecordUtcSeconds(fields.timeWritten);
    if (seconds < utcSeconds) return LogBookmark{fields.recordId, seconds};
  }
}

std::int32_t ReadEventLogRows(EventList& list, std::u16string_view logName,
                              std::u16string_view computerName, std::u16string_view dateStamp,
                              std::u16string_view timeStamp, EventLogContext& context) {
  // Without a bookmark the stamp bounds the reading. An EventList cannot
  // refuse to be cleared, so the -1 status of a list that is not an event
  // list never arises here.
  ReadNewEventLogRows(list, logName, computerName, dateStamp, timeStamp, std::nullopt, context);
  return 0;
}

}  // namespace zkq
