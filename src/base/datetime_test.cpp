#include "base/datetime.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace zkq {
namespace {

TEST(DateTime, CountsSecondsFromTheEpoch) {
  struct Case {
    DateTime t;
    std::int64_t seconds;
  };
  const std::vector<Case> cases = {
      {{1970, 1, 1, 0, 0, 0}, 0},
      {{1970, 1, 1, 0, 0, 1}, 1},
      {{1969, 12, 31, 23, 59, 59}, -1},
      {{2004, 6, 26, 0, 0, 0}, 1088208000},
      {{2000, 2, 29, 12, 0, 0}, 951825600},
      {{2038, 1, 19, 3, 14, 7}, 2147483647},
      {{1901, 12, 13, 20, 45, 52}, -2147483648LL},
      {{2100, 3, 1, 0, 0, 0}, 4107542400},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.t.ToSeconds(), c.seconds) << c.seconds;
    EXPECT_EQ(DateTime::FromSeconds(c.seconds), c.t) << c.seconds;
  }
}

TEST(DateTime, FromSecondsRoundTripsAcrossDaysAndLeapYears) {
  // Every 6 hours and 7 seconds over 1960..2040: a fault at a month, year or
  // century boundary shows as a date that does not count back.
  for (std::int64_t s = -315619200; s < 2208988800; s += 6 * 3600 + 7) {
    const DateTime t = DateTime::FromSeconds(s);
    ASSERT_EQ(t.ToSeconds(), s);
    ASSERT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
    ASSERT_TRUE(t.hour < 24 && t.minute < 60 && t.second < 60);
  }
}

TEST(RecordTime, IsJapanTimeOfTheSignedCount) {
  struct Case {
    std::uint32_t written;
    DateTime t;
  };
  const std::vector<Case> cases = {
      {0, {1970, 1, 1, 9, 0, 0}},
      {1088208000, {2004, 6, 26, 9, 0, 0}},      // 00:00:00 UTC
      {1088208000 - 9 * 3600, {2004, 6, 26, 0, 0, 0}},
      {0xFFFFFFFFu, {1970, 1, 1, 8, 59, 59}},    // -1 second
      {0x80000000u, {1901, 12, 14, 5, 45, 52}},  // the most negative count
      {0x7FFFFFFFu, {2038, 1, 19, 12, 14, 7}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RecordTime(c.written), c.t) << c.written;
  }
}

TEST(Format, WritesFixedPatterns) {
  struct Case {
    DateTime t;
    std::u16string date, time;
  };
  const std::vector<Case> cases = {
      {{2004, 6, 26, 9, 5, 0}, u"2004/06/26", u"09:05:00"},
      {{2026, 12, 8, 23, 59, 59}, u"2026/12/08", u"23:59:59"},
      {{1970, 1, 1, 0, 0, 0}, u"1970/01/01", u"00:00:00"},
      {{987, 10, 1, 12, 30, 45}, u"0987/10/01", u"12:30:45"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDate(c.t), c.date);
    EXPECT_EQ(FormatTime(c.t), c.time);
    char16_t date[10];
    char16_t time[8];
    FormatDate(c.t, date);
    FormatTime(c.t, time);
    EXPECT_EQ(std::u16string(date, 10), c.date);
    EXPECT_EQ(std::u16string(time, 8), c.time);
  }
}

TEST(ParseStamp, ReadsTheExaminationStamp) {
  struct Case {
    std::u16string date, time;
    std::optional<DateTime> t;
  };
  const std::vector<Case> cases = {
      {u"2004/06/26", u"09:05:00", DateTime{2004, 6, 26, 9, 5, 0}},
      {u"2004/6/26", u"9:05", DateTime{2004, 6, 26, 9, 5, 0}},
      {u"04-6-26", u"23:59:59", DateTime{2004, 6, 26, 23, 59, 59}},
      {u"2004/06/26", u" 00:00:00 ", DateTime{2004, 6, 26, 0, 0, 0}},
      {u"", u"09:05:00", std::nullopt},
      {u"2004/06/26", u"", std::nullopt},
      {u"2004/02/30", u"09:05:00", std::nullopt},
      {u"2004/06/26", u"24:00:00", std::nullopt},
      {u"2004/06/26", u"12:60", std::nullopt},
      {u"2004/06/26", u"12:00:60", std::nullopt},
      {u"2004/06/26", u"12", std::nullopt},
      {u"2004/06/26", u"12:00:", std::nullopt},
      {u"2004/06/26", u"123:00", std::nullopt},
      {u"2004/06/26", u"12:00:00:00", std::nullopt},
      {u"abc", u"def", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseStamp(c.date, c.time), c.t) << ToUtf8(c.date) << " " << ToUtf8(c.time);
  }
}

TEST(ParseStamp, OrdersStampsAndRecordsByTheirSeconds) {
  // The reader keeps a record when the stamp is not later than its time.
  const auto stamp = ParseStamp(u"2004/06/26", u"09:00:00");
  ASSERT_TRUE(stamp);
  EXPECT_EQ(stamp->ToSeconds(), RecordTime(1088208000).ToSeconds());
  EXPECT_LT(stamp->ToSeconds(), RecordTime(1088208001).ToSeconds());
  EXPECT_GT(stamp->ToSeconds(), RecordTime(1088207999).ToSeconds());
}

}  // namespace
}  // namespace zkq
