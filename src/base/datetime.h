#pragma once
// Calendar date and time without time zones: seconds counted from
// 1970-01-01 00:00:00 of whatever clock the value came from.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zkq {

struct DateTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;

  // Seconds since 1970-01-01 00:00:00 (negative before it).
  std::int64_t ToSeconds() const;
  static DateTime FromSeconds(std::int64_t seconds);
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// A record's time: 1970-01-01 09:00:00 plus the signed 32-bit seconds written.
DateTime RecordTime(std::uint32_t timeWritten);

// "yyyy/mm/dd", "hh:mm:ss".
std::u16string FormatDate(const DateTime& t);
std::u16string FormatTime(const DateTime& t);
// Fills 10 and 8 ASCII characters without allocating (the reader's hot path).
void FormatDate(const DateTime& t, char16_t out[10]);
void FormatTime(const DateTime& t, char16_t out[8]);

// Reads the examination stamp: the date as RecognizeDate accepts it, the time
// as h:m or h:m:s with one or two digits each (a hand-edited settings file may
// hold "9:05"), blanks around; nothing when either part is no date or time.
std::optional<DateTime> ParseStamp(std::u16string_view date, std::u16string_view time);

}  // namespace zkq
