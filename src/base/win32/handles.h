#pragma once
// Owners for every kind of handle the program holds, so that no handle is
// released by hand and none leaks on an early return or an exception.
#include <windows.h>
#include <winsock2.h>
#include <winsvc.h>

#include <utility>

namespace zkq::win32 {

// Owns one handle; Traits gives its empty value and how it is freed.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(Adopted(handle)) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  Handle Get() const { return handle_; }
  Handle Release() { return std::exchange(handle_, Traits::Empty()); }
  explicit operator bool() const { return handle_ != Traits::Empty(); }
  void Reset(Handle handle = Traits::Empty()) {
    handle = Adopted(handle);
    if (handle_ != Traits::Empty() && handle_ != handle) Traits::Free(handle_);
    handle_ = handle;
  }

 private:
  // A kind of handle with a second "no handle" value maps it to the empty one.
  static Handle Adopted(Handle handle) {
    if constexpr (requires { Traits::Adopt(handle); }) {
      return Traits::Adopt(handle);
    } else {
      return handle;
    }
  }

  Handle handle_ = Traits::Empty();
};

// Traits of a handle whose empty value is null.
template <typename H, auto FreeFunction>
struct NullEmpty {
  using Handle = H;
  static Handle Empty() { return nullptr; }
  static void Free(Handle handle) { FreeFunction(handle); }
};

inline void ReleaseGdiObject(HGDIOBJ object) { DeleteObject(object); }
inline void ReleaseIcon(HICON icon) { DestroyIcon(icon); }
inline void ReleaseMenu(HMENU menu) { DestroyMenu(menu); }
inline void ReleaseKey(HKEY key) { RegCloseKey(key); }
inline void ReleaseModuleHandle(HMODULE module) { FreeLibrary(module); }
inline void ReleaseEventLog(HANDLE log) { CloseEventLog(log); }
inline void ReleaseEventSource(HANDLE source) { DeregisterEventSource(source); }
inline void ReleaseServiceHandle(SC_HANDLE handle) { CloseServiceHandle(handle); }
inline void ReleaseMemoryDc(HDC dc) { DeleteDC(dc); }
inline void ReleaseKernelHandle(HANDLE handle) { CloseHandle(handle); }

using UniqueFont = UniqueHandle<NullEmpty<HFONT, ReleaseGdiObject>>;
using UniqueBitmap = UniqueHandle<NullEmpty<HBITMAP, ReleaseGdiObject>>;
using UniqueIcon = UniqueHandle<NullEmpty<HICON, ReleaseIcon>>;
using UniqueMenu = UniqueHandle<NullEmpty<HMENU, ReleaseMenu>>;
using UniqueKey = UniqueHandle<NullEmpty<HKEY, ReleaseKey>>;
using UniqueModule = UniqueHandle<NullEmpty<HMODULE, ReleaseModuleHandle>>;
using UniqueEventLog = UniqueHandle<NullEmpty<HANDLE, ReleaseEventLog>>;
using UniqueEventSource = UniqueHandle<NullEmpty<HANDLE, ReleaseEventSource>>;
using UniqueServiceHandle = UniqueHandle<NullEmpty<SC_HANDLE, ReleaseServiceHandle>>;
using UniqueMemoryDc = UniqueHandle<NullEmpty<HDC, ReleaseMemoryDc>>;
// Events, threads, files and other kernel objects. Some calls give null for
// no handle, others (CreateFileW) INVALID_HANDLE_VALUE: both are empty.
struct KernelHandleTraits : NullEmpty<HANDLE, ReleaseKernelHandle> {
  static Handle Adopt(Handle handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// A device context of a window (or of the screen when window is null), given
// back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context for as long as this lives; the
// object it replaced goes back in.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object)
      : dc_(dc), old_(dc != nullptr ? SelectObject(dc, object) : nullptr) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (old_ != nullptr && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Empty() { return INVALID_SOCKET; }
  static void Free(Handle socket) { closesocket(socket); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;

}  // namespace zkq::win32
