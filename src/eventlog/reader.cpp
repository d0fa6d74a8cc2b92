#include "eventlog/reader.h"

#include "base/datetime.h"
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

std::int32_t ReadEventLogRows(EventList& list, std::u16string_view logName,
                              std::u16string_view computerName, std::u16string_view dateStamp,
                              std::u16string_view timeStamp, EventLogContext& context) {
  // An EventList cannot refuse to be cleared, so the -1 status of a list that
  // is not an event list never arises here.
  list.clear();
  std::uint32_t openError = 0;
  std::unique_ptr<EventLog> log = context.logs.Open(computerName, logName, openError);
  if (!log) {
    // An empty list would read as "nothing found": the monitor must hear of it.
    context.boxes.Show(LogFailureText(u"OpenEventLog", logName, openError, context.tables),
                       MessageIcon::Exclamation);
    return 0;
  }

  const std::optional<std::int64_t> stamp = StampUtcSeconds(dateStamp, timeStamp, context.zone);
  EventRowDecoder decoder(logName, context.accounts, context.tables);
  const std::uint32_t code = ForEachEventRow(
      *log, decoder, stamp, [&list](const EventRowView& row) { list.push_back(row.ToRow()); });
  if (code != 0) {
    context.boxes.Show(LogFailureText(u"ReadEventLog", logName, code, context.tables),
                       MessageIcon::Exclamation);
  }
  return 0;
}

}  // namespace zkq
