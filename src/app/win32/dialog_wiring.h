#pragma once
// The main window's modal dialogs on Windows: the settings dialog, the rules
// editor and the about box, each owned by the main window while it is open.
#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/main_window_view.h"
#include "base/ports.h"
#include "config/settings.h"

namespace zkq::win32 {

// What the dialogs need of the program around them.
struct DialogContext {
  HINSTANCE instance;
  std::function<HWND()> owner;  // the main window, once it exists
  MessageBoxes& boxes;
  Clock& clock;
  SettingsFile& settingsFile;
  ServiceControl& service;
  // ComputerNameText, for the settings dialog's test mail.
  std::u16string computerName;
  // The machine's event channels, for the rules editor to offer; empty where
  // the Windows Event Log API is missing.
  std::function<std::vector<std::u16string>()> listChannels;
};

class WindowsDialogs final : public MainWindowDialogs {
 public:
  explicit WindowsDialogs(DialogContext context) : context_(context) {}
  bool OpenSettingsDialog(Settings& settings) override;
  void OpenRulesEditor(const std::filesystem::path& rulesFile) override;
  void OpenAboutBox() override;

 private:
  DialogContext context_;
};

}  // namespace zkq::win32
