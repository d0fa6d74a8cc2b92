#include "base/win32/time_zone.h"

#include <windows.h>

namespace zkq::win32 {

std::optional<std::int64_t> WindowsTimeZone::LocalToUtc(const DateTime& local) {
  if (local.year < 1601 || local.year > 30827) return std::nullopt;
  const SYSTEMTIME in = ToSystemTime(local);
  SYSTEMTIME out{};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &in, &out)) return std::nullopt;
  return FromSystemTime(out).ToSeconds();
}

}  // namespace zkq::win32
