#pragma once
// The event log ports on the Windows API: the live event log, account names of
// SIDs, and the registry and message tables behind the category texts.

#include <windows.h>

#include <functional>
#include <memory>

#include "eventlog/ports.h"

namespace zkq {

// One ReadEventLogW call of an open log (newest first) into buffer: 0, or the
// error code; read and needed as the call gives them.
using EventLogReadCall = std::function<DWORD(BYTE* buffer, DWORD size, DWORD& read, DWORD& needed)>;
// A log read through read in batches: a 64 KiB buffer filled with as many
// whole records as fit, grown only for a record larger than that.
std::unique_ptr<EventLog> EventLogOverReads(EventLogReadCall read);

// OpenEventLogW/ReadEventLogW, newest record first, in batches.
class WindowsEventLogSource : public EventLogSource {
 public:
  std::unique_ptr<EventLog> Open(std::u16string_view server, std::u16string_view logName,
                                 std::uint32_t& error) override;
};

// LookupAccountSidW on the local computer.
class WindowsAccountNames : public AccountNames {
 public:
  std::optional<std::u16string> AccountName(std::span<const std::uint8_t> sid) override;
};

// HKLM\SYSTEM\CurrentControlSet\Services\EventLog, the process environment,
// and FormatMessageW with Windows' own choice of language.
class WindowsMessageTables : public MessageTables {
 public:
  std::optional<std::u16string> CategoryMessageFile(std::u16string_view logName,
                                                    std::u16string_view source) override;
  std::u16string Environment(std::u16string_view name) override;
  std::u16string FormatModuleMessage(std::u16string_view path, std::uint32_t messageId) override;
  std::u16string FormatSystemMessage(std::uint32_t code) override;
};

}  // namespace zkq
