#pragma once
// The event log ports on the Windows API: the live event log, account names of
// SIDs, and the registry and message tables behind the category texts.

// <windows.h> maps LookupAccountSid to LookupAccountSidW, which would rename the
// port's method in every file that includes both; the API is called by its W name.
// In a file that uses <windows.h>, include this header before anything else that
// brings in eventlog/ports.h.
#include <windows.h>
#undef LookupAccountSid

#include <memory>

#include "eventlog/ports.h"

namespace zkq {

// OpenEventLogW/ReadEventLogW, newest record first, one record per read.
class WindowsEventLogSource : public EventLogSource {
 public:
  std::unique_ptr<EventLog> Open(std::u16string_view server, std::u16string_view logName) override;
};

// LookupAccountSidW on the local computer.
class WindowsAccountNames : public AccountNames {
 public:
  std::optional<std::u16string> LookupAccountSid(std::span<const std::uint8_t> sid) override;
};

// HKLM\SYSTEM\CurrentControlSet\Services\EventLog, the process environment,
// and FormatMessageW in the user's default language.
class WindowsMessageTables : public MessageTables {
 public:
  std::optional<std::u16string> CategoryMessageFile(std::u16string_view logName,
                                                    std::u16string_view source) override;
  std::u16string Environment(std::u16string_view name) override;
  std::u16string FormatModuleMessage(std::u16string_view path, std::uint32_t messageId) override;
  std::u16string FormatSystemMessage(std::uint32_t code) override;
};

}  // namespace zkq
