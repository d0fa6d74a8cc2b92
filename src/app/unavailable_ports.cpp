#include "app/unavailable_ports.h"

namespace zkq {

bool UnavailableDialogs::OpenSettingsDialog(Settings&) {
  boxes_.Show(kSettingsDialogUnavailable, MessageIcon::Information);
  return false;
}

void UnavailableDialogs::OpenRulesEditor() {
  boxes_.Show(kRulesEditorUnavailable, MessageIcon::Information);
}

}  // namespace zkq
