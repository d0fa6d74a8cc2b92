#pragma once
// UTF-16 text between the core (char16_t) and the W API (wchar_t, 16 bits on Windows).
#include <windows.h>

#include <string>
#include <string_view>

namespace zkq {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// A NUL-terminated copy for an API that wants LPCWSTR.
inline std::wstring ToWide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace zkq
