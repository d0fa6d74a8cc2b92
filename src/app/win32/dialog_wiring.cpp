#include "dialog_wiring.h"

#include "rules/win32/rules_editor_win32.h"

namespace zkq::win32 {

// The settings dialog.
bool WindowsDialogs::OpenSettingsDialog(Settings& settings) {
  return unavailable_.OpenSettingsDialog(settings);
}

// The rules editor.
void WindowsDialogs::OpenRulesEditor(const std::filesystem::path& rulesFile) {
  OpenRulesEditorWindow(context_.instance, context_.owner ? context_.owner() : nullptr, rulesFile,
                        context_.boxes);
}

// The about box.
void WindowsDialogs::OpenAboutBox() { unavailable_.OpenAboutBox(); }

}  // namespace zkq::win32
