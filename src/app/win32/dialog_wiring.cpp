#include "dialog_wiring.h"

#include "about/about_box.h"
#include "about/win32/about_box_win32.h"
#include "app/main_window_ids.h"
#include "config/win32/settings_dialog_win32.h"
#include "rules/win32/rules_editor_win32.h"

namespace zkq::win32 {

// The settings dialog.
namespace {

// The main window's service control, as the settings dialog registers and
// removes the service.
class ServiceControlRegistration final : public ServiceRegistration {
 public:
  explicit ServiceControlRegistration(ServiceControl& service) : service_(service) {}
  RegistrationOutcome Install() override { return service_.Install(); }
  RegistrationOutcome Uninstall() override { return service_.Uninstall(); }

 private:
  ServiceControl& service_;
};

}  // namespace

bool WindowsDialogs::OpenSettingsDialog(Settings& settings) {
  ServiceControlRegistration registration(context_.service);
  return OpenSettingsDialogWindow(context_.instance, context_.owner(), settings,
                                  context_.settingsFile, context_.clock, context_.boxes,
                                  registration);
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
