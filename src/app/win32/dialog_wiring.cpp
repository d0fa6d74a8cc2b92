#include "dialog_wiring.h"

#include "about/about_box.h"
#include "about/win32/about_box_win32.h"
#include "app/main_window_ids.h"
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
void WindowsDialogs::OpenAboutBox() {
  WindowsAboutSystem system(nullptr);  // the running program's own resource
  AboutBoxWin32 view(context_.boxes, IDI_APP);
  AboutBox presenter(view, system, context_.boxes);
  view.Run(context_.instance, context_.owner(), presenter);
}

}  // namespace zkq::win32
