#pragma once
// The machine's own time zone through the C library (TZ on Linux); the
// Windows program uses its own adapter in base/win32.
#include "base/ports.h"

namespace zkq {

class SystemTimeZone : public TimeZone {
 public:
  std::optional<std::int64_t> LocalToUtc(const DateTime& local) override;
};

}  // namespace zkq
