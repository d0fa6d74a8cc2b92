#include <windows.h>

#include <memory>
#include <optional>
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

// A REG_SZ or REG_EXPAND_SZ value as stored; nothing when it is missing or of
// another type.
std::optional<std::u16string> ReadStringValue(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD bytes = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
  // The value may grow between the two calls; a few rounds settle it.
  for (int round = 0; round < 4; ++round) {
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    if (bytes > kMaxValueBytes) return std::nullopt;
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (status == ERROR_SUCCESS) {
      if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
      return UpToNul(text.data(), size / sizeof(wchar_t));
    }
    bytes = size;
  }
  return std::nullopt;
}

win32::UniqueKey OpenSourceKey(std::u16string_view logName, std::u16string_view source) {
  std::wstring path = kEventLogKey;
  path += ToWide(logName);
  path += L'\\';
  path += ToWide(source);
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &handle) !=
      ERROR_SUCCESS) {
    return win32::UniqueKey();
  }
  return win32::UniqueKey(handle);
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

// As a data file: the module's code never runs, its message table is all we read.
win32::UniqueModule LoadMessageModule(const std::wstring& path, DWORD flags) {
  const QuietErrors quiet;
  return win32::UniqueModule(LoadLibraryExW(path.c_str(), nullptr, flags));
}

// The whole text of a message, however long; nothing when there is none.
std::optional<std::u16string> WholeMessage(DWORD source, HMODULE module, DWORD messageId) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(source | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      module, messageId, kAnyLanguage,
                                      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (text == nullptr) return std::nullopt;
  const std::unique_ptr<wchar_t, decltype(&LocalFree)> owner(text, &LocalFree);
  if (length == 0) return std::nullopt;
  return FromWide(text, length);
}

}  // namespace

std::optional<std::u16string> WindowsMessageTables::CategoryMessageFile(
    std::u16string_view logName, std::u16string_view source) {
  const win32::UniqueKey key = OpenSourceKey(logName, source);
  if (!key) return std::nullopt;
  return ReadStringValue(key.Get(), kCategoryValue).value_or(std::u16string());
}

std::optional<std::u16string> WindowsMessageTables::SourceValue(std::u16string_view logName,
                                                                std::u16string_view source,
                                                                std::u16string_view valueName) {
  try {
    const win32::UniqueKey key = OpenSourceKey(logName, source);
    if (!key) return std::nullopt;
    return ReadStringValue(key.Get(), ToWide(valueName).c_str());
  } catch (...) {
    return std::nullopt;
  }
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
  const win32::UniqueModule module = LoadMessageModule(file, LOAD_LIBRARY_AS_DATAFILE);
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

std::optional<std::u16string> WindowsMessageTables::ModuleMessage(std::u16string_view path,
                                                                  std::uint32_t messageId) {
  // The alert goes out without the text rather than not at all.
  try {
    if (path.empty()) return std::nullopt;
    auto found = modules_.find(path);
    if (found == modules_.end()) {
      // Mapped for its resources only: none of its code runs and its imports
      // are never resolved.
      found = modules_
                  .emplace(std::u16string(path),
                           LoadMessageModule(ToWide(path), LOAD_LIBRARY_AS_DATAFILE |
                                                               LOAD_LIBRARY_AS_IMAGE_RESOURCE))
                  .first;
    }
    if (!found->second) return std::nullopt;
    return WholeMessage(FORMAT_MESSAGE_FROM_HMODULE, found->second.Get(), messageId);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::u16string> WindowsMessageTables::SystemMessage(std::uint32_t messageId) {
  try {
    return WholeMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, messageId);
  } catch (...) {
    return std::nullopt;
  }
}

void WindowsMessageTables::ReleaseModules() { modules_.clear(); }

}  // namespace zkq
