#include <windows.h>

#include <cstring>
#include <vector>

#include "base/win32/wide.h"
#include "eventlog/win32/adapters.h"

namespace zkq {

using win32::FromWide;
using win32::ToWide;

namespace {

constexpr DWORD kNameChars = 255;

// The SID bytes come from a record, so they are checked to be one whole SID
// before the system is let to read them.
bool IsWholeSid(std::span<const std::uint8_t> sid) {
  if (sid.size() < 8) return false;
  const std::size_t subAuthorities = sid[1];
  if (subAuthorities > SID_MAX_SUB_AUTHORITIES) return false;
  if (sid.size() < 8 + 4 * subAuthorities) return false;
  PSID p = const_cast<std::uint8_t*>(sid.data());
  return IsValidSid(p) != FALSE;
}

}  // namespace

std::optional<std::u16string> WindowsAccountNames::AccountName(std::span<const std::uint8_t> sid) {
  if (!IsWholeSid(sid)) return std::nullopt;
  // A copy, so that the SID is aligned as the API expects.
  std::vector<DWORD> aligned((sid.size() + 3) / 4);
  std::memcpy(aligned.data(), sid.data(), sid.size());
  wchar_t name[kNameChars + 1] = {};
  wchar_t domain[kNameChars + 1] = {};
  DWORD nameChars = kNameChars;
  DWORD domainChars = kNameChars;
  SID_NAME_USE use = SidTypeUnknown;
  if (!::LookupAccountSidW(nullptr, aligned.data(), name, &nameChars, domain, &domainChars, &use)) {
    return std::nullopt;
  }
  return FromWide(name, wcsnlen(name, kNameChars));
}

}  // namespace zkq
