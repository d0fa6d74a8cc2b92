#include <windows.h>

#include <algorithm>
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
// One read call fills this much with as many whole records as fit, so a
// cycle that reads what is new costs a few calls, not two per record.
constexpr DWORD kBatchBytes = 64u << 10;
// No real record comes near this; a larger size asked for is refused rather
// than allocated.
constexpr DWORD kMaxRecordBytes = 16u << 20;
// A read that succeeds without delivering a record is asked again only a few
// times before the log is given up.
constexpr int kMaxEmptyReads = 8;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

class WindowsEventLog : public EventLog {
 public:
  explicit WindowsEventLog(EventLogReadCall read) : read_(std::move(read)), buffer_(kBatchBytes) {}

  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    for (int empty = 0; offset_ >= filled_; ++empty) {
      if (empty == kMaxEmptyReads) return ERROR_INVALID_DATA;
      DWORD read = 0;
      DWORD needed = 0;
      DWORD error = read_(buffer_.data(), static_cast<DWORD>(buffer_.size()), read, needed);
      if (error == ERROR_INSUFFICIENT_BUFFER) {
        // Only a record larger than the batch grows the buffer.
        if (needed > kMaxRecordBytes) return ERROR_NOT_ENOUGH_MEMORY;
        buffer_.resize(std::max<std::size_t>(needed, buffer_.size()));
        error = read_(buffer_.data(), static_cast<DWORD>(buffer_.size()), read, needed);
      }
      if (error != ERROR_SUCCESS) return error;
      filled_ = std::min<std::size_t>(read, buffer_.size());
      offset_ = 0;
    }
    const std::size_t left = filled_ - offset_;
    const std::uint32_t length = left >= 4 ? Le32(buffer_.data() + offset_) : 0;
    // A length that does not fit what was read hands out the rest; the decoder
    // reads no further than that.
    const std::size_t take = length >= 4 && length <= left ? length : left;
    record = std::span<const std::uint8_t>(buffer_.data() + offset_, take);
    offset_ += take;
    return 0;
  }

 private:
  EventLogReadCall read_;
  std::vector<std::uint8_t> buffer_;
  std::size_t filled_ = 0, offset_ = 0;
};

}  // namespace

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
