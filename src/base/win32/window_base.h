#pragma once
// What every window and dialog of the program shares, so that a new window
// states only what is its own: the one noexcept window-procedure thunk (the
// object is bound at WM_NCCREATE or WM_INITDIALOG and unbound at WM_NCDESTROY),
// the one error boundary (no exception of any kind leaves a window procedure),
// and the message font at the window's DPI, replaced when the DPI changes
// (the new font is set before the old one is freed).
//
// A window class T derives from WindowBase<T> or DialogBase<T> and provides
//   LRESULT HandleMessage(UINT, WPARAM, LPARAM)   (windows; DefWindowProcW for the rest)
//   INT_PTR HandleMessage(UINT, WPARAM, LPARAM)   (dialogs; FALSE when not handled)
//   void ShowFailure(const std::u16string& description) noexcept
// and may hide OnDpiChanged(unsigned dpi) to rescale its own things as well.
#include <windows.h>

#include <string>

#include "base/failure.h"
#include "base/win32/handles.h"

namespace zkq::win32 {

// A function of newer Windows versions, looked up so that the program still
// starts where it is missing (nullptr then).
template <typename Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

unsigned SystemDpi();
unsigned WindowDpi(HWND window);
// The system's message font at this DPI.
UniqueFont CreateMessageFont(unsigned dpi);
HICON LoadIconSized(HINSTANCE instance, int id, int size);
// Sets font on window and every child of it.
void SetFontOfChildren(HWND window, HFONT font);

template <class T>
class WindowCommon {
 public:
  HWND Handle() const { return window_; }
  unsigned Dpi() const { return dpi_; }
  HFONT Font() const { return font_.Get(); }

 protected:
  // A new font for the DPI goes to every child before the old one is freed.
  void ApplyFont(unsigned dpi) {
    dpi_ = dpi;
    UniqueFont font = CreateMessageFont(dpi);
    SetFontOfChildren(window_, font.Get());
    font_ = std::move(font);
  }
  void OnDpiChanged(unsigned dpi) { ApplyFont(dpi); }

  static T* Bound(HWND window) {
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  static T* Bind(HWND window, void* object) {
    T* self = static_cast<T*>(object);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return self;
  }
  static void Unbind(T* self) {
    SetWindowLongPtrW(self->window_, GWLP_USERDATA, 0);
    self->window_ = nullptr;
  }
  // The error boundary: whatever the handler threw is shown by the window.
  static void ShowCurrentFailure(T* self) noexcept {
    self->ShowFailure(CurrentFailureDescription());
  }

  HWND window_ = nullptr;
  unsigned dpi_ = 96;
  UniqueFont font_;
};

template <class T>
class WindowBase : public WindowCommon<T> {
 public:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept {
    T* self = message == WM_NCCREATE
                  ? WindowCommon<T>::Bind(window,
                                          reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams)
                  : WindowCommon<T>::Bound(window);
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    try {
      result = self->HandleMessage(message, wParam, lParam);
    } catch (...) {
      WindowCommon<T>::ShowCurrentFailure(self);
    }
    if (message == WM_NCDESTROY) WindowCommon<T>::Unbind(self);
    return result;
  }
};

template <class T>
class DialogBase : public WindowCommon<T> {
 public:
  // Shows the dialog modally over owner. Its own message loop dispatches the
  // messages of every window of the thread, so their timers keep ticking.
  INT_PTR RunModal(HINSTANCE instance, HWND owner, int templateId) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, &DialogProc,
                           reinterpret_cast<LPARAM>(static_cast<T*>(this)));
  }

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept {
    T* self = nullptr;
    if (message == WM_INITDIALOG) {
      self = WindowCommon<T>::Bind(window, reinterpret_cast<void*>(lParam));
      try {
        self->ApplyFont(WindowDpi(window));
      } catch (...) {
        WindowCommon<T>::ShowCurrentFailure(self);
      }
    } else {
      self = WindowCommon<T>::Bound(window);
    }
    if (self == nullptr) return FALSE;
    INT_PTR result = FALSE;
    try {
      if (message == WM_DPICHANGED) self->OnDpiChanged(HIWORD(wParam));
      result = self->HandleMessage(message, wParam, lParam);
    } catch (...) {
      WindowCommon<T>::ShowCurrentFailure(self);
    }
    if (message == WM_NCDESTROY) WindowCommon<T>::Unbind(self);
    return result;
  }
};

}  // namespace zkq::win32
