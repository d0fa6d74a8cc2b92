#pragma once
// The event log ports on the Windows API: the live event log, account names of
// SIDs, and the registry and message tables behind the category texts.

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/win32/handles.h"
#include "eventlog/ports.h"

namespace zkq {

// One ReadEventLogW call of an open log (newest first) into buffer: 0, or the
// error code; read and needed as the call gives them.
using EventLogReadCall = std::function<DWORD(BYTE* buffer, DWORD size, DWORD& read, DWORD& needed)>;
// A log read through read in batches: a 64 KiB buffer filled with as many
// whole records as fit, grown only for a record larger than that.
std::unique_ptr<EventLog> EventLogOverReads(EventLogReadCall read);

// Whether server ("", "PC1" or "\\PC1") names this computer.
bool IsLocalComputer(const std::wstring& server);

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
// and FormatMessageW with Windows' own choice of language. The event message
// modules stay loaded, by path, until ReleaseModules or the end of this object.
class WindowsMessageTables : public MessageTables {
 public:
  std::optional<std::u16string> CategoryMessageFile(std::u16string_view logName,
                                                    std::u16string_view source) override;
  std::u16string Environment(std::u16string_view name) override;
  std::u16string FormatModuleMessage(std::u16string_view path, std::uint32_t messageId) override;
  std::u16string FormatSystemMessage(std::uint32_t code) override;

  std::optional<std::u16string> SourceValue(std::u16string_view logName,
                                            std::u16string_view source,
                                            std::u16string_view valueName) override;
  std::optional<std::u16string> ModuleMessage(std::u16string_view path,
                                              std::uint32_t messageId) override;
  std::optional<std::u16string> SystemMessage(std::uint32_t messageId) override;
  void ReleaseModules() override;

 private:
  // A module that failed to load is kept as an empty handle, so that a
  // missing file costs one attempt a cycle, not one a record.
  std::map<std::u16string, win32::UniqueModule, std::less<>> modules_;
};

}  // namespace zkq
