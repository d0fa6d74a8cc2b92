#pragma once
// The service manager port on the Windows service control manager.
#include "services/service_check.h"

namespace zkq::win32 {

// The local OpenSCManagerW (no machine name) for enumeration, EnumServicesStatusW
// of the Win32 services.
class WindowsServiceManager : public ServiceManager {
 public:
  OpenedServiceDatabase Open(std::u16string_view computerName) override;
};

}  // namespace zkq::win32
