#include "app/unavailable_ports.h"

namespace zkq {

void UnavailableServiceCheck::Check(const std::vector<MonitoringRule>&, std::u16string_view,
                                    std::u16string&) {}

bool UnavailableDialogs::OpenSettingsDialog(Settings&) {
  boxes_.Show(kSettingsDialogUnavailable, MessageIcon::Information);
  return false;
}

void UnavailableDialogs::OpenRulesEditor() {
  boxes_.Show(kRulesEditorUnavailable, MessageIcon::Information);
}

}  // namespace zkq
