#include "win_util.h"

#include <vector>

namespace zkq::win32 {

std::u16string WindowText(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  return FromWide(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

}  // namespace zkq::win32
