#include "base/win32/folder_security.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>

#include "base/win32/wide.h"

namespace zkq::win32 {
namespace {

struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

}  // namespace

std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
  const LocalMemory<wchar_t> owner(text);
  std::string narrow;
  for (const wchar_t* p = text; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
  return narrow;
}

std::string ProcessUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD needed = 0;
  const BOOL read = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &needed);
  CloseHandle(token);
  return read ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : std::string();
}

std::string AdministratorRunningThis() {
  BYTE adminsSid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(adminsSid);
  BOOL member = FALSE;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsSid, &size) ||
      !CheckTokenMembership(nullptr, adminsSid, &member) || !member) {
    return {};
  }
  return ProcessUserSid();
}

std::wstring StateFolderPath() {
  PWSTR known = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known))) {
    CoTaskMemFree(known);
    return {};
  }
  std::wstring path(known);
  CoTaskMemFree(known);
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path + L"zkQuorvane";
}

bool CreateStateFolder(const std::wstring& folder) {
  // Anyone may make folders in %ProgramData%: one made by someone else first
  // is not used, as its owner could change what the service reads.
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
    const auto security = ReadObjectSecurity(folder);
    return security && !UntrustedWriter(*security, AdministratorRunningThis());
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kStateFolderSddl, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  const LocalMemory<void> owner(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  return CreateDirectoryW(folder.c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CanWriteIn(const std::wstring& folder) {
  const std::wstring probe = folder + L"\\~zkQuorvane-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::optional<ObjectSecurity> ReadObjectSecurity(const std::wstring& path) {
  PSID ownerSid = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &ownerSid,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const LocalMemory<void> owner(descriptor);
  ObjectSecurity security;
  security.ownerSid = SidText(ownerSid);
  security.hasDacl = dacl != nullptr;
  if (dacl == nullptr) return security;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return std::nullopt;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    AccessEntry entry;
    // Only the two plain kinds carry a SID at this place; any other kind is
    // counted as an allowing one for everyone, which can only refuse more.
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      const auto* plain = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      entry.allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
      entry.rights = plain->Mask;
      entry.sid = SidText(const_cast<DWORD*>(&plain->SidStart));
    } else {
      entry.rights = kChangingRights;
      entry.sid = kEveryoneSid;
    }
    entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    security.entries.push_back(std::move(entry));
  }
  return security;
}

std::u16string AccountOfSid(const std::string& sid) {
  const std::wstring wide(sid.begin(), sid.end());
  PSID binary = nullptr;
  if (!ConvertStringSidToSidW(wide.c_str(), &binary)) return FromWide(wide);
  const LocalMemory<void> owner(binary);
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, binary, name, &nameSize, domain, &domainSize, &use)) {
    return FromWide(wide);
  }
  std::wstring text = domainSize > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
  return FromWide(text);
}

}  // namespace zkq::win32
