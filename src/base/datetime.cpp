#include "base/datetime.h"

#include "base/convert.h"
#include "base/text.h"

namespace zkq {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date, and back: whole 400-year
// eras keep the arithmetic exact for any year.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

void PutTwo(char16_t* out, int value) {
  out[0] = static_cast<char16_t>(u'0' + value / 10 % 10);
  out[1] = static_cast<char16_t>(u'0' + value % 10);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// One or two digits, as a stamp typed into the settings file by hand may have.
bool ReadClockField(std::u16string_view text, std::size_t& pos, int limit, int& value) {
  const std::size_t start = pos;
  value = 0;
  while (pos < text.size() && IsDigit(text[pos]) && pos - start < 2) {
    value = value * 10 + (text[pos++] - u'0');
  }
  return pos > start && value < limit;
}

}  // namespace

std::int64_t DateTime::ToSeconds() const {
  return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

DateTime DateTime::FromSeconds(std::int64_t seconds) {
  DateTime t;
  const std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const auto inDay = static_cast<int>(seconds - days * kSecondsPerDay);
  CivilFromDays(days, t.year, t.month, t.day);
  t.hour = inDay / 3600;
  t.minute = inDay / 60 % 60;
  t.second = inDay % 60;
  return t;
}

DateTime RecordTime(std::uint32_t timeWritten) {
  // Japan's clock, whatever zone the machine is set to; a time from before
  // 1970 comes as a negative count.
  constexpr std::int64_t kNineHours = 9 * 3600;
  return DateTime::FromSeconds(static_cast<std::int32_t>(timeWritten) + kNineHours);
}

void FormatDate(const DateTime& t, char16_t out[10]) {
  PutTwo(out, t.year / 100);
  PutTwo(out + 2, t.year % 100);
  out[4] = u'/';
  PutTwo(out + 5, t.month);
  out[7] = u'/';
  PutTwo(out + 8, t.day);
}

void FormatTime(const DateTime& t, char16_t out[8]) {
  PutTwo(out, t.hour);
  out[2] = u':';
  PutTwo(out + 3, t.minute);
  out[5] = u':';
  PutTwo(out + 6, t.second);
}

std::u16string FormatDate(const DateTime& t) {
  char16_t buffer[10];
  FormatDate(t, buffer);
  return std::u16string(buffer, 10);
}

std::u16string FormatTime(const DateTime& t) {
  char16_t buffer[8];
  FormatTime(t, buffer);
  return std::u16string(buffer, 8);
}

std::optional<DateTime> ParseStamp(std::u16string_view date, std::u16string_view time) {
  const std::optional<std::u16string> day = RecognizeDate(date);
  if (!day) return std::nullopt;
  DateTime t;
  // RecognizeDate gives "yyyy/mm/dd".
  const std::u16string& d = *day;
  t.year = (d[0] - u'0') * 1000 + (d[1] - u'0') * 100 + (d[2] - u'0') * 10 + (d[3] - u'0');
  t.month = (d[5] - u'0') * 10 + (d[6] - u'0');
  t.day = (d[8] - u'0') * 10 + (d[9] - u'0');

  time = TrimView(time);
  std::size_t pos = 0;
  if (!ReadClockField(time, pos, 24, t.hour)) return std::nullopt;
  if (pos == time.size() || time[pos++] != u':') return std::nullopt;
  if (!ReadClockField(time, pos, 60, t.minute)) return std::nullopt;
  if (pos < time.size()) {
    if (time[pos++] != u':') return std::nullopt;
    if (!ReadClockField(time, pos, 60, t.second)) return std::nullopt;
  }
  if (pos != time.size()) return std::nullopt;
  return t;
}

}  // namespace zkq
