#pragma once
// The event log ports on the Windows API: the live event log, account names of
// SIDs, and the registry and message tables behind the category texts.

#include <windows.h>

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
  std::optional<std::u16string> AccountName(std::span<const std::uint8_t> sid) override;
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
