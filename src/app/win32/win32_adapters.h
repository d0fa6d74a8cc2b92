#pragma once
// The main window's ports on Windows: local clock and the user's date and time
// forms, message boxes, and the names of the computer and the user.
#include <windows.h>

#include "app/main_window_view.h"
#include "app/startup.h"
#include "base/ports.h"
#include "base/win32/handles.h"

namespace zkq::win32 {

class Win32Clock final : public Clock {
 public:
  DateTime Now() override;
  // "" when the locale cannot format the moment.
  std::u16string ShortDate(const DateTime& t) override;
  std::u16string LongTime(const DateTime& t) override;
};

// A box owned by whatever window of this thread is active (a modal dialog when
// one is open), captioned with the application title.
// Boxes owned by the thread's active window or, when none is active (a
// cycle's box while the program is in the background), by the main window,
// and brought to the foreground: a box behind other windows would hold up
// every cycle unseen. An owner that is minimised would hide the box: it is
// then shown on its own, topmost.
class Win32MessageBoxes final : public MessageBoxes {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  void Show(const std::u16string& text, MessageIcon icon) override;

 private:
  HWND owner_ = nullptr;
};

// MB_* style of the OK box with that icon.
unsigned MessageBoxStyle(MessageIcon icon);

class Win32SystemInfo final : public SystemInfo {
 public:
  std::u16string ComputerName() override;
  std::u16string UserName() override;
};

// The one-monitor-per-machine name: true when another monitor holds it.
// The object grants SYSTEM, Administrators and this process's account only,
// so no other account's program can hold it in the monitor's place; a name
// that another account took first (its owner is none of those) belongs to no
// monitor of this state, and is passed over (mutex stays empty).
bool AnotherMonitorRuns(const wchar_t* name, UniqueKernelHandle& mutex);

// %ProgramData%\zkQuorvane, made with permissions for SYSTEM and
// Administrators only.
class WindowsStateFolder final : public StateFolder {
 public:
  std::u16string Path() override;
  bool Prepare() override;
};

}  // namespace zkq::win32
