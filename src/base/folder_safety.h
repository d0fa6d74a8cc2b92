#pragma once
// Whether a file or folder may be trusted with what runs as SYSTEM: nobody
// but SYSTEM, Administrators and TrustedInstaller may change it. Decided from
// the object's owner and its access entries, read by the Windows side
// (base/win32/folder_security.h).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zkq {

inline constexpr char kSystemSid[] = "S-1-5-18";
inline constexpr char kAdministratorsSid[] = "S-1-5-32-544";
inline constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr char kCreatorOwnerSid[] = "S-1-3-0";
inline constexpr char kEveryoneSid[] = "S-1-1-0";

// The rights that change a file or a folder's contents, its name or its
// permissions: write (add a file), append (add a folder), delete a child,
// delete, change the permissions, take the ownership, and the generic all and
// write.
inline constexpr std::uint32_t kChangingRights =
    0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

struct AccessEntry {
  bool allows = true;        // an access-allowed entry (denials are not counted on)
  bool inheritOnly = false;  // applies only to what is created inside
  std::uint32_t rights = 0;
  std::string sid;  // "S-1-…"
};

struct ObjectSecurity {
  std::string ownerSid;
  bool hasDacl = true;  // no DACL at all grants everyone everything
  std::vector<AccessEntry> entries;
};

bool IsTrustedSid(const std::string& sid);

// The account (its SID) other than SYSTEM, Administrators, TrustedInstaller
// and installer (the administrator who registers the service, when given)
// that may change the object, or that owns it (an owner may always rewrite
// the permissions); nothing when there is none.
std::optional<std::string> UntrustedWriter(const ObjectSecurity& security,
                                           const std::string& installer = {});

}  // namespace zkq
