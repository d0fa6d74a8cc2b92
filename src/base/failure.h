#pragma once
// A failure inside the core: carries the Japanese description that the handler
// at the window boundary shows after its own fixed sentence and a CR LF.
#include <stdexcept>
#include <string>

namespace zkq {

class Failure : public std::runtime_error {
 public:
  explicit Failure(std::u16string description);
  const std::u16string& Description() const noexcept { return description_; }

 private:
  std::u16string description_;
};

// The descriptions the runtime gives for the failures the program can meet.
inline constexpr char16_t kTypeMismatch[] = u"型が一致しません。";
inline constexpr char16_t kOverflow[] = u"オーバーフローしました。";

}  // namespace zkq
