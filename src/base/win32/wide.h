#pragma once
// UTF-16 text between the core's std::u16string and the W API. wchar_t is a
// UTF-16 code unit on Windows, so the text passes through as it is.
#include <windows.h>

#include <string>
#include <string_view>

namespace zkq::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// A NUL-terminated copy, for a view that may not end in NUL.
inline std::wstring ToWide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string FromWide(const std::wstring& text) {
  return FromWide(text.data(), text.size());
}

}  // namespace zkq::win32
