#pragma once
// The machine's time zone as Windows keeps it (daylight saving included).
#include <windows.h>

#include "base/ports.h"

namespace zkq::win32 {

inline SYSTEMTIME ToSystemTime(const DateTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  return st;
}

inline DateTime FromSystemTime(const SYSTEMTIME& st) {
  return DateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

class WindowsTimeZone : public TimeZone {
 public:
  std::optional<std::int64_t> LocalToUtc(const DateTime& local) override;
};

}  // namespace zkq::win32
