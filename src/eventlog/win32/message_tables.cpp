#include <windows.h>

#include <vector>

#include "eventlog/win32/adapters.h"
// After the adapters' header, which keeps the port's method names intact.
#include "base/win32/handles.h"
#include "base/win32/wide.h"
#include "eventlog/category.h"

namespace zkq {

using win32::FromWide;
using win32::ToWide;

namespace {

constexpr wchar_t kEventLogKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\";
constexpr wchar_t kCategoryValue[] = L"CategoryMessageFile";
// Registry values can in principle be huge; a path never is.
constexpr DWORD kMaxValueBytes = 64u * 1024;
constexpr DWORD kMessageChars = 255;
// Language 0 lets Windows fall back from the thread's and the user's language
// to the system's and to English: a module without Japanese texts still has
// its own texts on a Japanese system.
constexpr DWORD kAnyLanguage = 0;

std::u16string UpToNul(const wchar_t* text, std::size_t maxChars) {
  std::size_t length = 0;
  while (length < maxChars && text[length] != L'\0') ++length;
  return FromWide(text, length);
}

std::u16string ReadStringValue(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD bytes = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
  // The value may grow between the two calls; a few rounds settle it.
  for (int round = 0; round < 4; ++round) {
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
    if (bytes > kMaxValueBytes) return {};
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (status == ERROR_SUCCESS) {
      if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
      return UpToNul(text.data(), size / sizeof(wchar_t));
    }
    bytes = size;
  }
  return {};
}

// Keeps a path on an empty removable drive from raising a "no disk" box.
class QuietErrors {
 public:
  QuietErrors() { SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_); }
  ~QuietErrors() { SetThreadErrorMode(old_, nullptr); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  DWORD old_ = 0;
};

}  // namespace

std::optional<std::u16string> WindowsMessageTables::CategoryMessageFile(
    std::u16string_view logName, std::u16string_view source) {
  std::wstring path = kEventLogKey;
  path += ToWide(logName);
  path += L'\\';
  path += ToWide(source);
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &handle) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const win32::UniqueKey key(handle);
  return ReadStringValue(key.Get(), kCategoryValue);
}

std::u16string WindowsMessageTables::Environment(std::u16string_view name) {
  if (name.empty()) return {};
  const std::wstring variable = ToWide(name);
  DWORD needed = GetEnvironmentVariableW(variable.c_str(), nullptr, 0);
  for (int round = 0; round < 4 && needed != 0; ++round) {
    std::vector<wchar_t> value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(variable.c_str(), value.data(), needed);
    if (length < needed) return FromWide(value.data(), length);
    needed = length;  // it grew in between: the new size includes the NUL
  }
  return {};
}

std::u16string WindowsMessageTables::FormatModuleMessage(std::u16string_view path,
                                                         std::uint32_t messageId) {
  if (path.empty()) return {};
  const std::wstring file = ToWide(path);
  win32::UniqueModule module;
  {
    const QuietErrors quiet;
    // As a data file: the module's code never runs, its message table is all we read.
    module.Reset(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  }
  if (!module) return {};
  wchar_t text[kMessageChars + 1] = {};
  // Category files often hold event messages with inserts ("%1") too; no
  // arguments are passed, so the inserts must stay as they are written.
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module.Get(),
                     messageId, kAnyLanguage, text, kMessageChars, nullptr);
  return FromWide(text, length > kMessageChars ? kMessageChars : length);
}

std::u16string WindowsMessageTables::FormatSystemMessage(std::uint32_t code) {
  wchar_t text[kMessageChars + 1] = {};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | 0xFF, nullptr,
                     code, kAnyLanguage, text, kMessageChars, nullptr);
  return FromWide(text, length > kMessageChars ? kMessageChars : length);
}

}  // namespace zkq
