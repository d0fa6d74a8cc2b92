#include "base/system_time_zone.h"

#include <ctime>

namespace zkq {

std::optional<std::int64_t> SystemTimeZone::LocalToUtc(const DateTime& local) {
  std::tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;  // let the zone's rules decide whether daylight saving applies
  const std::time_t utc = std::mktime(&tm);
  if (utc == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(utc);
}

}  // namespace zkq
