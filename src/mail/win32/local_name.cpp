// This machine's DNS name on Windows: the host name with its primary DNS
// suffix, as the system keeps it (no lookup, so it never waits).
#include <windows.h>

#include <vector>

#include "base/win32/wide.h"
#include "mail/smtp_session.h"

namespace zkq {

std::u16string LocalDnsName() {
  DWORD size = 0;
  GetComputerNameExW(ComputerNameDnsFullyQualified, nullptr, &size);
  if (size == 0) return u"";
  std::vector<wchar_t> name(size + 1);
  if (!GetComputerNameExW(ComputerNameDnsFullyQualified, name.data(), &size)) return u"";
  return win32::FromWide(name.data(), size);
}

}  // namespace zkq
