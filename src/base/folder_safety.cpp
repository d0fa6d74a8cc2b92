#include "base/folder_safety.h"

namespace zkq {

bool IsTrustedSid(const std::string& sid) {
  return sid == kSystemSid || sid == kAdministratorsSid || sid == kTrustedInstallerSid;
}

std::optional<std::string> UntrustedWriter(const ObjectSecurity& security,
                                           const std::string& installer) {
  const auto trusted = [&](const std::string& sid) {
    return IsTrustedSid(sid) || (!installer.empty() && sid == installer);
  };
  if (!security.hasDacl) return std::string(kEveryoneSid);
  if (!trusted(security.ownerSid)) return security.ownerSid;
  for (const AccessEntry& entry : security.entries) {
    // An inherit-only entry applies to what is created inside, which only a
    // writer of this object can create; CREATOR OWNER applies only so.
    if (!entry.allows || entry.inheritOnly || entry.sid == kCreatorOwnerSid) continue;
    if ((entry.rights & kChangingRights) != 0 && !trusted(entry.sid)) return entry.sid;
  }
  return std::nullopt;
}

}  // namespace zkq
