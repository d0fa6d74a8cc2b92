#include "placeholder_service_control.h"

namespace zkq::win32 {

bool PlaceholderServiceControl::Install() {
  boxes_.Show(kServiceInstallUnavailable, MessageIcon::Exclamation);
  return false;
}

bool PlaceholderServiceControl::Uninstall() {
  boxes_.Show(kServiceUninstallUnavailable, MessageIcon::Exclamation);
  return false;
}

}  // namespace zkq::win32
