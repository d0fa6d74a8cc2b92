#pragma once
// A protector for the tests of the settings: reversible, and its blob is
// nothing like the password it keeps.
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace zkq::test_support {

class FakeProtector : public PasswordProtector {
 public:
  std::optional<std::string> Protect(std::string_view clear) override {
    return "blob:" + std::string(clear.rbegin(), clear.rend());
  }
  std::optional<std::string> Unprotect(std::string_view blob) override {
    if (!blob.starts_with("blob:")) return std::nullopt;
    return std::string(blob.rbegin(), blob.rend() - 5);
  }
};

}  // namespace zkq::test_support
