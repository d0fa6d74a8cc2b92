#include <windows.h>

#include <vector>

#include "base/win32/handles.h"
#include "base/win32/wide.h"
#include "eventlog/win32/adapters.h"

namespace zkq {

using win32::FromWide;
using win32::ToWide;

namespace {

constexpr DWORD kReadFlags = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ;
// No real record comes near this; a larger size from the probe is refused
// rather than allocated.
constexpr DWORD kMaxRecordBytes = 16u << 20;
// A probe into no buffer at all cannot deliver a record, so one that keeps
// succeeding is asked again only a few times before the log is given up.
constexpr int kMaxProbes = 8;

class WindowsEventLog : public EventLog {
 public:
  explicit WindowsEventLog(HANDLE handle) : handle_(handle) {}

  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    // First learn the size of the next record from a read into no buffer,
    // then read exactly that record.
    DWORD needed = 0;
    bool probed = false;
    for (int i = 0; i < kMaxProbes && !probed; ++i) {
      DWORD read = 0;
      needed = 0;
      BYTE none = 0;
      probed = !ReadEventLogW(handle_.Get(), kReadFlags, 0, &none, 0, &read, &needed);
    }
    if (!probed) return ERROR_INVALID_DATA;
    if (needed > kMaxRecordBytes) return ERROR_NOT_ENOUGH_MEMORY;
    buffer_.assign(needed == 0 ? 1 : needed, 0);
    DWORD read = 0;
    DWORD more = 0;
    if (!ReadEventLogW(handle_.Get(), kReadFlags, 0, buffer_.data(), needed, &read, &more)) {
      const DWORD error = GetLastError();
      return error == ERROR_SUCCESS ? ERROR_INVALID_DATA : error;
    }
    if (read > needed) read = needed;
    record = std::span<const std::uint8_t>(buffer_.data(), read);
    return 0;
  }

 private:
  win32::UniqueEventLog handle_;
  std::vector<std::uint8_t> buffer_;
};

// The local computer is opened without a server name: the same logs, without a
// round trip through the remote interface (which Wine does not have at all).
bool IsLocalComputer(const std::wstring& server) {
  if (server.empty()) return true;
  const std::wstring name = server.rfind(L"\\\\", 0) == 0 ? server.substr(2) : server;
  wchar_t local[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(local, &size)) return false;
  return CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), local,
                              static_cast<int>(size), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::unique_ptr<EventLog> WindowsEventLogSource::Open(std::u16string_view server,
                                                      std::u16string_view logName) {
  const std::wstring serverName = ToWide(server);
  const std::wstring log = ToWide(logName);
  HANDLE handle =
      OpenEventLogW(IsLocalComputer(serverName) ? nullptr : serverName.c_str(), log.c_str());
  if (handle == nullptr) return nullptr;
  return std::make_unique<WindowsEventLog>(handle);
}

}  // namespace zkq
