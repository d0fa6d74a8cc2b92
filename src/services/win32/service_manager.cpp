#include "services/win32/service_manager.h"

#include <windows.h>
#include <winsvc.h>

#include <algorithm>
#include <cwchar>
#include <limits>
#include <vector>

#include "base/win32/handles.h"
#include "base/win32/wide.h"

namespace zkq::win32 {
namespace {

class WindowsServiceDatabase : public ServiceDatabase {
 public:
  explicit WindowsServiceDatabase(UniqueServiceHandle manager) : manager_(std::move(manager)) {}

  ServiceEnumeration Enumerate(std::uint32_t stateFilter, std::size_t bufferBytes) override {
    // Whole records, so that the names the manager packs behind them stay aligned.
    constexpr std::size_t kRecord = sizeof(ENUM_SERVICE_STATUSW);
    constexpr std::size_t kMaxBytes = std::numeric_limits<DWORD>::max() / 2;
    bufferBytes = std::min(bufferBytes, kMaxBytes);
    std::vector<ENUM_SERVICE_STATUSW> buffer(bufferBytes == 0 ? 0 : bufferBytes / kRecord + 1);
    const DWORD size = static_cast<DWORD>(buffer.size() * kRecord);
    DWORD needed = 0, returned = 0, resume = 0;
    if (!EnumServicesStatusW(manager_.Get(), SERVICE_WIN32, stateFilter,
                             buffer.empty() ? nullptr : buffer.data(), size, &needed, &returned,
                             &resume)) {
      return {static_cast<std::uint32_t>(GetLastError()), needed, {}};
    }
    const auto* begin = reinterpret_cast<const std::byte*>(buffer.data());
    const auto* end = begin + size;
    ServiceEnumeration result;
    const std::size_t count = std::min<std::size_t>(returned, buffer.size());
    result.services.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const ENUM_SERVICE_STATUSW& record = buffer[i];
      result.services.push_back({NameInBuffer(record.lpServiceName, begin, end),
                                 NameInBuffer(record.lpDisplayName, begin, end),
                                 record.ServiceStatus.dwCurrentState});
    }
    return result;
  }

 private:
  // A name the manager wrote into the buffer, read up to its NUL and never
  // past the buffer's end; a pointer anywhere else gives "".
  static std::u16string NameInBuffer(const wchar_t* name, const std::byte* begin,
                                     const std::byte* end) {
    const auto* at = reinterpret_cast<const std::byte*>(name);
    if (name == nullptr || at < begin || at >= end) return {};
    const std::size_t room = static_cast<std::size_t>(end - at) / sizeof(wchar_t);
    return FromWide(name, wcsnlen(name, room));
  }

  UniqueServiceHandle manager_;
};

}  // namespace

OpenedServiceDatabase WindowsServiceManager::Open(std::u16string_view /*computerName*/) {
  // The program watches the machine it runs on: the local manager needs no
  // name, and "\\\\NAME" would take the remote route, which fails where the
  // Server service is off.
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  if (!manager) return {nullptr, static_cast<std::uint32_t>(GetLastError())};
  return {std::make_unique<WindowsServiceDatabase>(std::move(manager)), 0};
}

}  // namespace zkq::win32
