#include "base/win32/time_zone.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace zkq::win32 {
namespace {

// Whatever zone Wine runs in, a local time that Windows made from a UTC moment
// converts back to that moment, in winter and in summer.
TEST(WindowsTimeZone, LocalTimesOfWindowsGoBackToTheirUtc) {
  WindowsTimeZone zone;
  for (const DateTime utc : {DateTime{2026, 1, 15, 3, 4, 5}, DateTime{2026, 7, 15, 23, 59, 59},
                             DateTime{2004, 6, 26, 0, 0, 0}}) {
    const SYSTEMTIME in = ToSystemTime(utc);
    SYSTEMTIME local{};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &in, &local));
    const DateTime shown{local.wYear, local.wMonth,  local.wDay,
                         local.wHour, local.wMinute, local.wSecond};
    EXPECT_EQ(zone.LocalToUtc(shown), utc.ToSeconds()) << utc.year << "/" << utc.month;
  }
  EXPECT_FALSE(zone.LocalToUtc(DateTime{1500, 1, 1, 0, 0, 0}).has_value());
}

}  // namespace
}  // namespace zkq::win32
