#include "app/unavailable_ports.h"

namespace zkq {

bool UnavailableDialogs::OpenSettingsDialog(Settings&) {
  boxes_.Show(kSettingsDialogUnavailable, MessageIcon::Information);
  return false;
}

void UnavailableDialogs::OpenRulesEditor(const std::filesystem::path&) {
  boxes_.Show(kRulesEditorUnavailable, MessageIcon::Information);
}

void UnavailableDialogs::OpenAboutBox() { boxes_.Show(kAboutBoxUnavailable, MessageIcon::Information); }

}  // namespace zkq
