#pragma once
// Where every visible control of the main window sits, in logical pixels at
// 96 dpi; the window scales the whole design by its DPI.
#include <span>

namespace zkq::win32 {

// The client area above the status bar.
inline constexpr int kLayoutWidth = 800;
inline constexpr int kLayoutHeight = 520;

struct Placement {
  int id;         // control ID of main_window_ids.h
  int container;  // ID of the frame drawn around it, 0 for the window itself
  int x, y, width, height;
};

// Without channel rules the monitoring frame holds the four rule lists; with
// them a fifth, the channels', sits between the logs and the services, and
// the five share the same height. The right column is the same in both.
std::span<const Placement> MainWindowLayout(bool channelRules = false);

// value * dpi / 96, rounded to the nearest pixel.
int ScaleToDpi(int value, unsigned dpi);

}  // namespace zkq::win32
