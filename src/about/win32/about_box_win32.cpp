#include "about/win32/about_box_win32.h"

#include <cstdio>
#include <vector>

#include "about/win32/about_box_ids.h"
#include "base/win32/handles.h"
#include "base/win32/wide.h"

namespace zkq::win32 {
namespace {

std::u16string QueryVersionText(const std::vector<BYTE>& data, const std::wstring& name) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), name.c_str(), &value, &length) || value == nullptr) return u"";
  const auto* text = static_cast<const wchar_t*>(value);
  std::size_t size = 0;
  while (size < length && text[size] != L'\0') ++size;
  return FromWide(text, size);
}

}  // namespace

// A program without a version resource shows 0.0.0 and no notice.
ProgramVersion WindowsAboutSystem::ReadProgramVersion() {
  ProgramVersion version;
  std::wstring file(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module_, file.data(), static_cast<DWORD>(file.size()));
    if (length == 0) return version;
    if (length < file.size()) {
      file.resize(length);
      break;
    }
    file.resize(file.size() * 2);
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return version;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return version;
  void* fixed = nullptr;
  UINT fixedLength = 0;
  if (VerQueryValueW(data.data(), L"\\", &fixed, &fixedLength) && fixed != nullptr &&
      fixedLength >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionMS);
    version.revision = HIWORD(info->dwFileVersionLS);
  }
  void* translations = nullptr;
  UINT translationsLength = 0;
  if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translations,
                     &translationsLength) &&
      translations != nullptr && translationsLength >= 2 * sizeof(WORD)) {
    const auto* pair = static_cast<const WORD*>(translations);
    wchar_t name[64];
    std::swprintf(name, 64, L"\\StringFileInfo\\%04x%04x\\LegalCopyright", pair[0], pair[1]);
    version.legalCopyright = QueryVersionText(data, name);
  }
  return version;
}

std::uint64_t WindowsAboutSystem::PhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

std::u16string WindowsAboutSystem::ThousandsSeparator() {
  wchar_t separator[8] = {};
  const int length =
      GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator, static_cast<int>(std::size(separator)));
  if (length <= 1) return u",";
  return FromWide(separator, static_cast<std::size_t>(length - 1));
}

// Read access only: reading needs no more, and a user without write access to
// HKEY_LOCAL_MACHINE can still start the tool. The value is read whole,
// however long.
std::optional<std::u16string> WindowsAboutSystem::ReadMachineString(const std::u16string& key,
                                                                   const std::u16string& value) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  UniqueKey keyHandle(opened);
  std::vector<BYTE> data(1024);
  for (;;) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LONG result = RegQueryValueExW(keyHandle.Get(), Wide(value), nullptr, &type, data.data(), &size);
    if (result == ERROR_MORE_DATA) {
      data.resize(static_cast<std::size_t>(size) + sizeof(wchar_t));
      continue;
    }
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    std::size_t count = size / sizeof(wchar_t);
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    while (count > 0 && text[count - 1] == L'\0') --count;
    std::wstring read(text, count);
    if (type == REG_EXPAND_SZ) {
      const DWORD needed = ExpandEnvironmentStringsW(read.c_str(), nullptr, 0);
      if (needed == 0) return std::nullopt;
      std::wstring expanded(needed, L'\0');
      if (ExpandEnvironmentStringsW(read.c_str(), expanded.data(), needed) == 0) return std::nullopt;
      expanded.resize(needed - 1);
      read = std::move(expanded);
    }
    return FromWide(read);
  }
}

bool WindowsAboutSystem::FileExists(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WindowsAboutSystem::StartProgram(const std::u16string& path) {
  std::wstring commandLine = L"\"" + ToWide(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(Wide(path), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  UniqueKernelHandle thread(process.hThread);
  UniqueKernelHandle started(process.hProcess);
  return true;
}

void AboutBoxWin32::Run(HINSTANCE instance, HWND owner, AboutBox& presenter) {
  instance_ = instance;
  presenter_ = &presenter;
  RunModal(instance, owner, IDD_ABOUT);
  presenter_ = nullptr;
}

void AboutBoxWin32::Centre() {
  RECT rect{};
  GetWindowRect(window_, &rect);
  const int top = GetSystemMetrics(SM_CYSCREEN) / 2 - (rect.bottom - rect.top) / 2;
  const int left = GetSystemMetrics(SM_CXSCREEN) / 2 - (rect.right - rect.left) / 2;
  SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR AboutBoxWin32::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Centre();
      icon_ = UniqueIcon(LoadIconSized(instance_, iconId_, GetSystemMetrics(SM_CXICON)));
      SendDlgItemMessageW(window_, IDC_ABOUT_PICICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(icon_.Get()), 0);
      if (presenter_ != nullptr) presenter_->FormLoad();
      return TRUE;  // the focus goes to OK, the default button
    case WM_COMMAND:
      if (presenter_ == nullptr) return FALSE;
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:  // Escape and the close box
          presenter_->OkClicked();
          return TRUE;
        case IDC_ABOUT_CMDSYSINFO:
          presenter_->SysInfoClicked();
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

void AboutBoxWin32::SetCaption(const std::u16string& text) { SetWindowTextW(window_, Wide(text)); }
void AboutBoxWin32::SetTitle(const std::u16string& text) {
  SetDlgItemTextW(window_, IDC_ABOUT_LBLTITLE, Wide(text));
}
void AboutBoxWin32::SetVersion(const std::u16string& text) {
  SetDlgItemTextW(window_, IDC_ABOUT_LBLVERSION, Wide(text));
}
void AboutBoxWin32::SetCopyright(const std::u16string& text) {
  SetDlgItemTextW(window_, IDC_ABOUT_LBLCOPYRIGHT, Wide(text));
}
void AboutBoxWin32::SetMemory(const std::u16string& text) {
  SetDlgItemTextW(window_, IDC_ABOUT_LBLDISCLAIMER, Wide(text));
}
void AboutBoxWin32::SetBusyCursor(bool busy) {
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}
void AboutBoxWin32::Close() {
  if (window_ != nullptr) EndDialog(window_, IDOK);
}

void AboutBoxWin32::ShowFailure(const std::u16string& description) noexcept {
  try {
    SetBusyCursor(false);
    boxes_.Show(u"アプリケーションエラー！\r\n" + description, MessageIcon::Exclamation);
  } catch (...) {
  }
}

}  // namespace zkq::win32
