#pragma once
// The settings password protected with DPAPI at machine scope, so that the
// service (LocalSystem) and the desktop program read the same file.
#include "config/settings.h"

namespace zkq::win32 {

class DpapiProtector final : public PasswordProtector {
 public:
  std::optional<std::string> Protect(std::string_view clear) override;
  std::optional<std::string> Unprotect(std::string_view blob) override;
};

}  // namespace zkq::win32
