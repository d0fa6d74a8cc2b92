#include "dialog_wiring.h"

namespace zkq::win32 {

// The settings dialog.
bool WindowsDialogs::OpenSettingsDialog(Settings& settings) {
  return unavailable_.OpenSettingsDialog(settings);
}

// The rules editor.
void WindowsDialogs::OpenRulesEditor(const std::filesystem::path& rulesFile) {
  unavailable_.OpenRulesEditor(rulesFile);
}

// The about box.
void WindowsDialogs::OpenAboutBox() { unavailable_.OpenAboutBox(); }

}  // namespace zkq::win32
