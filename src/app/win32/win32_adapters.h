#pragma once
// The main window's ports on Windows: local clock and the user's date and time
// forms, message boxes, and the names of the computer and the user.
#include "app/main_window_view.h"
#include "base/ports.h"

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
class Win32MessageBoxes final : public MessageBoxes {
 public:
  void Show(const std::u16string& text, MessageIcon icon) override;
};

// MB_* style of the OK box with that icon.
unsigned MessageBoxStyle(MessageIcon icon);

class Win32SystemInfo final : public SystemInfo {
 public:
  std::u16string ComputerName() override;
  std::u16string UserName() override;
};

}  // namespace zkq::win32
