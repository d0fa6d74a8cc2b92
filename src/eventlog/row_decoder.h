#pragma once
// Turning records into the reader's eight display texts, shared by
// ReadEventLogRows and the callers that stream rows without building an
// EventList (zkq, the benchmark).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "eventlog/event_row.h"
#include "eventlog/ports.h"
#include "eventlog/record.h"

namespace zkq {

// The columns of one row; valid until the decoder's next Decode.
struct EventRowView {
  std::u16string_view type, date, time, source, category, eventId, user, computer;
  std::uint32_t eventCode = 0;
  std::u16string_view strings;  // as EventRow::strings; empty while they wait
  std::u16string_view message;  // as EventRow::message
  std::uint64_t recordNumber = 0;
  // The record's strings as it holds them, made into text by ToRow alone
  // (see EventRowDecoder::DeferStrings).
  std::span<const std::uint8_t> waitingStrings;
  std::uint16_t waitingCount = 0;
  bool stringsWait = false;
  EventRow ToRow() const;
};

// The record's moment as seconds since 1970-01-01 00:00:00 UTC: TimeWritten
// taken as a signed 32-bit number. The stamp is compared with this, after it
// has been converted from the machine's local time to UTC.
constexpr std::int64_t RecordUtcSeconds(std::uint32_t timeWritten) {
  return std::int64_t{static_cast<std::int32_t>(timeWritten)};
}

// The record time as it is shown: Japan time, UTC plus nine hours, whatever
// zone the machine is set to.
constexpr std::int64_t RecordSeconds(std::uint32_t timeWritten) {
  return RecordUtcSeconds(timeWritten) + 9 * 3600;
}

// Decodes records of one log. Within its lifetime (one reading of one log) it
// remembers the category text of each source and category and the account of
// each SID, which gives the same rows as asking every time.
class EventRowDecoder {
 public:
  EventRowDecoder(std::u16string_view logName, AccountNames& accounts, MessageTables& tables);

  // Fills row for a record written at or after stampUtc (UTC seconds; every
  // record when there is no stamp); false when the record is older and is skipped.
  bool Decode(std::span<const std::uint8_t> record, const std::optional<std::int64_t>& stampUtc,
              EventRowView& row);
  // For callers that show the rows alone: row.strings stays empty.
  void LeaveStringsOut() { withStrings_ = false; }
  // For callers that keep few of the rows: the strings are made into text
  // only by ToRow, for the rows kept.
  void DeferStrings() { deferStrings_ = true; }

 private:
  std::u16string_view Category(std::span<const std::uint8_t> source, std::uint16_t category);
  // The record's name field as one line: blanks trimmed, controls shown as "?".
  std::u16string_view NameField(std::u16string& scratch, std::span<const std::uint8_t> utf16);
  std::u16string_view User(const RecordFields& fields);

  std::u16string logName_;
  bool withStrings_ = true;
  bool deferStrings_ = false;
  AccountNames& accounts_;
  MessageTables& tables_;

  // Scratch texts, reused from record to record.
  std::u16string source_, computer_, eventId_, user_, key_, strings_, message_;
  char16_t date_[10] = {}, time_[8] = {};
  std::int64_t day_ = INT64_MIN;

  std::unordered_map<std::u16string, std::u16string> categories_;
  // The last record's source (as its bytes), and the texts of its categories so far.
  std::vector<std::uint8_t> lastSource_;
  std::vector<std::pair<std::uint16_t, const std::u16string*>> lastSourceCategories_;
  std::string sidKey_;
  std::unordered_map<std::string, std::u16string> users_;
};

// Reads log to its end and calls onRow for every row the decoder keeps, newest
// first. Returns 0 when the log was read to its end, else the failing read's code.
template <class OnRow>
std::uint32_t ForEachEventRow(EventLog& log, EventRowDecoder& decoder,
                              const std::optional<std::int64_t>& stampUtc, OnRow&& onRow) {
  std::span<const std::uint8_t> record;
  EventRowView row;
  for (;;) {
    const std::uint32_t code = log.ReadNext(record);
    if (code == kErrorHandleEof) return 0;
    if (code != 0) return code;
    if (decoder.Decode(record, stampUtc, row)) onRow(static_cast<const EventRowView&>(row));
  }
}

// Reads log newest first down to the bookmarked record and calls onRow for
// every record after it (for every record at or after stampUtc when there is
// no bookmark, and for every record of a log whose numbers started again).
// reading.bookmark becomes the newest record read. Returns as ForEachEventRow.
template <class OnRow>
std::uint32_t ForEachNewEventRow(EventLog& log, EventRowDecoder& decoder,
                                 const std::optional<std::int64_t>& stampUtc,
                                 const std::optional<std::uint64_t>& bookmarkNumber,
                                 std::int64_t bookmarkSeconds, std::optional<std::uint64_t>& newest,
                                 std::int64_t& newestSeconds, bool& cleared,
                                 std::uint64_t& overwritten, OnRow&& onRow) {
  std::span<const std::uint8_t> record;
  EventRowView row;
  std::optional<std::uint64_t> oldest;
  for (;;) {
    const std::uint32_t code = log.ReadNext(record);
    if (code != 0 && code != kErrorHandleEof) return code;
    if (code == kErrorHandleEof) {
      // The log ends above the bookmark: what lay between was overwritten unread.
      // A bookmark of 0 stands before a log that was empty: nothing was lost.
      if (bookmarkNumber && *bookmarkNumber != 0 && !cleared && oldest &&
          *oldest > *bookmarkNumber + 1) {
        overwritten = *oldest - *bookmarkNumber - 1;
      }
      return 0;
    }
    const RecordFields fields = DecodeRecordFields(record);
    const std::int64_t seconds = RecordUtcSeconds(fields.timeWritten);
    if (!newest) {
      newest = fields.recordId;
      newestSeconds = seconds;
      if (bookmarkNumber && fields.recordId < *bookmarkNumber) cleared = true;
    }
    if (bookmarkNumber && !cleared) {
      if (fields.recordId == *bookmarkNumber) {
        if (seconds == bookmarkSeconds) return 0;
        cleared = true;  // another record under the same number: a new log
      } else if (fields.recordId < *bookmarkNumber) {
        return 0;
      }
    }
    oldest = fields.recordId;
    const bool bounded = !bookmarkNumber;
    if (decoder.Decode(record, bounded ? stampUtc : std::nullopt, row)) {
      onRow(static_cast<const EventRowView&>(row));
    }
  }
}

}  // namespace zkq
