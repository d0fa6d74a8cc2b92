#pragma once
// Small helpers of the main window's Windows side.
#include <windows.h>

#include <string>

#include "base/win32/handles.h"
#include "base/win32/wide.h"

namespace zkq::win32 {

// The text of a window or control; "" when it has none or does not exist.
std::u16string WindowText(HWND window);

}  // namespace zkq::win32
