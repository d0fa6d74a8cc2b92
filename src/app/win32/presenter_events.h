#pragma once
// Hands what the Win32 main window reports to the presenter's handlers.
#include "app/main_window.h"
#include "main_window_win32.h"

namespace zkq::win32 {

class PresenterEvents final : public MainWindowEvents {
 public:
  explicit PresenterEvents(MainWindow& presenter) : presenter_(presenter) {}
  void CommandChosen(int id) override;
  void WindowResized(WindowState state) override { presenter_.Resized(state); }
  void TrayIconNotified(unsigned mouseMessage) override;
  void RuleListFocused(int listId) override { presenter_.RuleListFocused(listId); }
  void CheckTimerTicked() override { presenter_.OnCheckTimer(); }
  void CloseRequested() override { presenter_.Unload(); }

 private:
  MainWindow& presenter_;
};

}  // namespace zkq::win32
