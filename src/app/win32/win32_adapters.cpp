#include "win32_adapters.h"

#include <lmcons.h>
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/win32/folder_security.h"
#include "base/win32/time_zone.h"
#include "base/win32/wide.h"
#include "win_util.h"

namespace zkq::win32 {
namespace {

// Both locale formatters answer the needed size first when given no buffer.
template <typename Format>
std::u16string FormatWithLocale(Format format) {
  const int size = format(nullptr, 0);
  if (size <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(size));
  const int written = format(buffer.data(), size);
  if (written <= 0) return {};
  return FromWide(buffer.data(), static_cast<std::size_t>(written - 1));
}

}  // namespace

DateTime Win32Clock::Now() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return FromSystemTime(st);
}

std::u16string Win32Clock::ShortDate(const DateTime& t) {
  const SYSTEMTIME st = ToSystemTime(t);
  return FormatWithLocale([&](wchar_t* out, int size) {
    return GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, out, size,
                           nullptr);
  });
}

std::u16string Win32Clock::LongTime(const DateTime& t) {
  const SYSTEMTIME st = ToSystemTime(t);
  return FormatWithLocale([&](wchar_t* out, int size) {
    return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, out, size);
  });
}

unsigned MessageBoxStyle(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Exclamation:
      return MB_OK | MB_ICONEXCLAMATION;
    case MessageIcon::Information:
      return MB_OK | MB_ICONINFORMATION;
    case MessageIcon::Question:
      return MB_OK | MB_ICONQUESTION;
    case MessageIcon::Critical:
      return MB_OK | MB_ICONHAND;
    case MessageIcon::None:
      break;
  }
  return MB_OK;
}

void Win32MessageBoxes::Show(const std::u16string& text, MessageIcon icon) {
  HWND owner = GetActiveWindow();
  if (owner == nullptr) owner = owner_;
  if (owner != nullptr && (!IsWindow(owner) || IsIconic(owner))) owner = nullptr;
  UINT style = MessageBoxStyle(icon) | MB_SETFOREGROUND;
  if (owner == nullptr || !IsWindowVisible(owner)) style |= MB_TOPMOST;
  MessageBoxW(owner, Wide(text), Wide(kAppTitle), style);
}

std::u16string Win32SystemInfo::ComputerName() {
  // 16 characters hold the longest NetBIOS name and its NUL.
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buffer, &size)) return {};
  return FromWide(buffer, size);
}

std::u16string Win32SystemInfo::UserName() {
  wchar_t buffer[UNLEN + 1] = {};
  DWORD size = UNLEN + 1;
  if (!GetUserNameW(buffer, &size)) return {};
  // The size counts the NUL; the text ends at the first one.
  return FromWide(buffer, wcsnlen(buffer, UNLEN + 1));
}

bool AnotherMonitorRuns(const wchar_t* name, UniqueKernelHandle& mutex) {
  const std::string user = ProcessUserSid();
  const std::wstring userSid(user.begin(), user.end());
  // An administrator's object belongs to the Administrators, so that another
  // administrator's start sees a monitor in it too.
  const std::wstring owner = AdministratorRunningThis().empty() ? userSid : L"BA";
  const std::wstring sddl =
      L"O:" + owner + L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;" + userSid + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    descriptor = nullptr;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  mutex.Reset(CreateMutexW(descriptor ? &attributes : nullptr, FALSE, name));
  const DWORD error = GetLastError();
  if (descriptor) LocalFree(descriptor);
  // Every monitor's object lets SYSTEM and Administrators in: one refused to
  // them is not a monitor's. To anyone else it is, as it stands for the service.
  if (!mutex) return error == ERROR_ACCESS_DENIED && AdministratorRunningThis().empty();
  if (error != ERROR_ALREADY_EXISTS) return false;
  PSID heldBy = nullptr;
  PSECURITY_DESCRIPTOR held = nullptr;
  std::string ownerSid;
  if (GetSecurityInfo(mutex.Get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &heldBy, nullptr,
                      nullptr, nullptr, &held) == ERROR_SUCCESS) {
    ownerSid = SidText(heldBy);
    LocalFree(held);
  }
  if (IsTrustedSid(ownerSid) || ownerSid == user) return true;
  mutex.Reset();
  return false;
}

std::u16string WindowsStateFolder::Path() { return FromWide(StateFolderPath()); }

bool WindowsStateFolder::Prepare() {
  const std::wstring folder = StateFolderPath();
  return CreateStateFolder(folder) && CanWriteIn(folder);
}

}  // namespace zkq::win32
