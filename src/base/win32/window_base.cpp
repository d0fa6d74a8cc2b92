#include "base/win32/window_base.h"

#include <cwchar>

namespace zkq::win32 {
unsigned SystemDpi() {
  const WindowDc screen(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
  return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

unsigned WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  if (auto getDpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow")) {
    const UINT dpi = getDpi(window);
    if (dpi != 0) return dpi;
  }
  return SystemDpi();
}

UniqueFont CreateMessageFont(unsigned dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  using ParametersForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  bool scaled = false;
  if (auto forDpi = User32Function<ParametersForDpiFn>("SystemParametersInfoForDpi")) {
    scaled = forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi) != FALSE;
  }
  if (!scaled) {
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
      metrics.lfMessageFont = LOGFONTW{};
      metrics.lfMessageFont.lfHeight = -12;
      metrics.lfMessageFont.lfCharSet = DEFAULT_CHARSET;
      wcscpy_s(metrics.lfMessageFont.lfFaceName, L"MS UI Gothic");
    }
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                            static_cast<int>(SystemDpi()));
  }
  return UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

HICON LoadIconSized(HINSTANCE instance, int id, int size) {
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void SetFontOfChildren(HWND window, HFONT font) {
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  EnumChildWindows(
      window,
      [](HWND child, LPARAM f) -> BOOL {
        SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(f), TRUE);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(font));
}

}  // namespace zkq::win32
