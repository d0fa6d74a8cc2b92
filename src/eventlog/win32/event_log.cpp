#include <windows.h>

#include <functional>
#include <memory>
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
  explicit WindowsEventLog(EventLogReadCall read) : read_(std::move(read)) {}

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
      const DWORD error = read_(&none, 0, read, needed);
      if (error == ERROR_SUCCESS) continue;
      // Only "buffer too small" is the size the probe asks for; the end of the
      // log, or a real failure, is the reader's answer as it stands.
      if (error != ERROR_INSUFFICIENT_BUFFER) return error;
      probed = true;
    }
    if (!probed) return ERROR_INVALID_DATA;
    if (needed > kMaxRecordBytes) return ERROR_NOT_ENOUGH_MEMORY;
    buffer_.assign(needed == 0 ? 1 : needed, 0);
    DWORD read = 0;
    DWORD more = 0;
    if (const DWORD error = read_(buffer_.data(), needed, read, more); error != ERROR_SUCCESS) {
      return error;
    }
    if (read > needed) read = needed;
    record = std::span<const std::uint8_t>(buffer_.data(), read);
    return 0;
  }

 private:
  EventLogReadCall read_;
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

std::unique_ptr<EventLog> EventLogOverReads(EventLogReadCall read) {
  return std::make_unique<WindowsEventLog>(std::move(read));
}

std::unique_ptr<EventLog> WindowsEventLogSource::Open(std::u16string_view server,
                                                      std::u16string_view logName,
                                                      std::uint32_t& error) {
  const std::wstring serverName = ToWide(server);
  const std::wstring log = ToWide(logName);
  HANDLE handle =
      OpenEventLogW(IsLocalComputer(serverName) ? nullptr : serverName.c_str(), log.c_str());
  if (handle == nullptr) {
    error = GetLastError();
    return nullptr;
  }
  auto owned = std::make_shared<win32::UniqueEventLog>(handle);
  return EventLogOverReads([owned](BYTE* buffer, DWORD size, DWORD& read, DWORD& needed) -> DWORD {
    if (ReadEventLogW(owned->Get(), kReadFlags, 0, buffer, size, &read, &needed)) return 0;
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? ERROR_INVALID_DATA : error;
  });
}

}  // namespace zkq
