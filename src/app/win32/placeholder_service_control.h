#pragma once
// Stands in for the service registration until the program can run as a
// Windows service: it says so plainly and reports failure, so that neither
// "-install" nor the settings dialog pretends that a service now exists.
#include "app/main_window_view.h"
#include "base/ports.h"

namespace zkq::win32 {

inline constexpr char16_t kServiceInstallUnavailable[] =
    u"サービスの登録はこの版ではまだできません。";
inline constexpr char16_t kServiceUninstallUnavailable[] =
    u"サービスの登録解除はこの版ではまだできません。";

class PlaceholderServiceControl final : public ServiceControl {
 public:
  explicit PlaceholderServiceControl(MessageBoxes& boxes) : boxes_(boxes) {}
  bool Install() override;
  bool Uninstall() override;
  // Without a service there is no controller to connect to.
  void Connect() override {}

 private:
  MessageBoxes& boxes_;
};

}  // namespace zkq::win32
