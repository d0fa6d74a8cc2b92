#include "dialog_wiring.h"

#include "config/win32/settings_dialog_win32.h"

namespace zkq::win32 {

// The settings dialog.
namespace {

// The main window's service control, as the settings dialog registers and
// removes the service.
class ServiceControlRegistration final : public ServiceRegistration {
 public:
  explicit ServiceControlRegistration(ServiceControl& service) : service_(service) {}
  bool Install() override { return service_.Install(); }
  bool Uninstall() override { return service_.Uninstall(); }

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
  unavailable_.OpenRulesEditor(rulesFile);
}

// The about box.
void WindowsDialogs::OpenAboutBox() { unavailable_.OpenAboutBox(); }

}  // namespace zkq::win32
