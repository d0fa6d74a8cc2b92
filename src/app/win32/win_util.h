#pragma once
// Small helpers of the Windows side: UTF-16 text between the core's
// std::u16string and the W API, and owners for GDI and icon handles.
#include <windows.h>

#include <string>
#include <utility>

namespace zkq::win32 {

// wchar_t is a UTF-16 code unit on Windows, so the core's text passes as it is.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string FromWide(const std::wstring& text) {
  return FromWide(text.data(), text.size());
}

// The text of a window or control; "" when it has none or does not exist.
std::u16string WindowText(HWND window);

// Owns one handle and frees it with Free when replaced or destroyed.
template <typename Handle, auto Free>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  Handle Get() const { return handle_; }
  Handle Release() { return std::exchange(handle_, nullptr); }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset(Handle handle = nullptr) {
    if (handle_ != nullptr && handle_ != handle) Free(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

inline void FreeGdiObject(HFONT font) { DeleteObject(font); }
inline void FreeIcon(HICON icon) { DestroyIcon(icon); }
inline void FreeMenu(HMENU menu) { DestroyMenu(menu); }

using UniqueFont = UniqueHandle<HFONT, FreeGdiObject>;
using UniqueIcon = UniqueHandle<HICON, FreeIcon>;
using UniqueMenu = UniqueHandle<HMENU, FreeMenu>;

}  // namespace zkq::win32
