#pragma once
// A failure inside the core: carries the Japanese description that the handler
// at the window boundary shows after its own fixed sentence and a CR LF.
#include <stdexcept>
#include <string>

namespace zkq {

class Failure : public std::runtime_error {
 public:
  // number: the runtime's number for the failure (13 for a type mismatch,
  // say), which the service mode's error entries carry; 0 when it has none.
  explicit Failure(std::u16string description, int number = 0);
  const std::u16string& Description() const noexcept { return description_; }
  int Number() const noexcept { return number_; }

 private:
  std::u16string description_;
  int number_;
};

// The description of the exception being handled, for a catch (...) at a
// boundary: a Failure's own, another exception's what(), or a fixed text for
// anything else. Never throws; "" when even that text cannot be made.
std::u16string CurrentFailureDescription() noexcept;

// The descriptions the runtime gives for the failures the program can meet.
inline constexpr char16_t kTypeMismatch[] = u"型が一致しません。";
inline constexpr char16_t kOverflow[] = u"オーバーフローしました。";
inline constexpr char16_t kUnknownFailure[] = u"予期しないエラーが発生しました。";
inline constexpr int kTypeMismatchNumber = 13;
inline constexpr int kOverflowNumber = 6;
inline constexpr int kOutOfMemoryNumber = 7;
inline constexpr int kPathNotFoundNumber = 76;

}  // namespace zkq
