#pragma once
// What the event log reader needs from the platform. The Windows adapters live
// in eventlog/win32; the .evt file reader is portable.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zkq {

inline constexpr std::uint32_t kErrorHandleEof = 38;

// One open event log, read from the newest record to the oldest.
class EventLog {
 public:
  virtual ~EventLog() = default;
  // Points record at the next record's bytes (one EVENTLOGRECORD, valid until
  // the next call). Returns 0, kErrorHandleEof at the end, or a Windows error code.
  virtual std::uint32_t ReadNext(std::span<const std::uint8_t>& record) = 0;
};

// Where a reading needs to begin. A log that can be queried (a channel of
// the Windows Event Log API) reads no further back than this; one that
// cannot ignores it and hands out every record.
struct ReadStart {
  // The bookmarked record: the log hands it out with every record after it
  // (newest first), and the records before it only when asked for more, as
  // the reader does when the numbers started again.
  std::optional<std::uint64_t> fromRecord;
  // Without a bookmark: the records written at or after this moment (UTC
  // seconds); more may come after them.
  std::optional<std::int64_t> fromUtc;
};

class EventLogSource {
 public:
  virtual ~EventLogSource() = default;
  // Opens the named log ("System", "Security", "Application", or a channel
  // such as "Microsoft-Windows-Windows Defender/Operational") of server;
  // nullptr when it cannot be opened, with the Windows error code in error.
  virtual std::unique_ptr<EventLog> Open(std::u16string_view server, std::u16string_view logName,
                                         std::uint32_t& error) = 0;
  virtual std::unique_ptr<EventLog> OpenFrom(std::u16string_view server,
                                             std::u16string_view logName,
                                             const ReadStart& /*start*/, std::uint32_t& error) {
    return Open(server, logName, error);
  }
  // The calls a failure message names.
  virtual std::u16string_view OpenCallName() const { return u"OpenEventLog"; }
  virtual std::u16string_view ReadCallName() const { return u"ReadEventLog"; }
};

class AccountNames {
 public:
  virtual ~AccountNames() = default;
  // The account name (without domain) of a binary SID, or nothing.
  virtual std::optional<std::u16string> AccountName(std::span<const std::uint8_t> sid) = 0;
};

// Registry, environment and message tables behind the category and error texts.
class MessageTables {
 public:
  virtual ~MessageTables() = default;
  // The source's "CategoryMessageFile" value; nothing when the source's key
  // cannot be opened, "" when the value is missing.
  virtual std::optional<std::u16string> CategoryMessageFile(std::u16string_view logName,
                                                            std::u16string_view source) = 0;
  // A variable of the process environment; "" when not set.
  virtual std::u16string Environment(std::u16string_view name) = 0;
  // Message id of the module at path, in the user's language where the module has
  // it, else in the language Windows falls back to; "" on any failure.
  virtual std::u16string FormatModuleMessage(std::u16string_view path, std::uint32_t messageId) = 0;
  // The system's one-line text for a Windows error code; "" on failure.
  virtual std::u16string FormatSystemMessage(std::uint32_t code) = 0;

  // The event messages of alerted records. A machine without message tables
  // (Linux, a log replayed elsewhere) has none of these: the alert then shows
  // the record's strings.

  // A value of the source's key as stored ("EventMessageFile",
  // "ParameterMessageFile"): a REG_EXPAND_SZ comes back unexpanded. Nothing
  // when the key or the value is missing.
  virtual std::optional<std::u16string> SourceValue(std::u16string_view /*logName*/,
                                                    std::u16string_view /*source*/,
                                                    std::u16string_view /*valueName*/) {
    return std::nullopt;
  }
  // The whole message messageId of the module at path (one module, its
  // variables expanded), in language 0, as its message table holds it: every
  // line, and the inserts (%1, %2!s!) and parameters (%%7) as written. Nothing
  // when the module cannot be loaded or has no such message. The module is
  // loaded as a data file, never shows an error box, and stays loaded until
  // ReleaseModules.
  virtual std::optional<std::u16string> ModuleMessage(std::u16string_view /*path*/,
                                                      std::uint32_t /*messageId*/) {
    return std::nullopt;
  }
  // The system's own message id (a %%n parameter without a parameter file),
  // with its lines; nothing when the system has none.
  virtual std::optional<std::u16string> SystemMessage(std::uint32_t /*messageId*/) {
    return std::nullopt;
  }
  // Frees what ModuleMessage loaded: called when a cycle has made its alert.
  virtual void ReleaseModules() {}

  // The message of a record whose source registered no message file, from
  // its provider's manifest (the Windows Event Log API), with the record's
  // values inserted; the record is found again by its number in logName (a
  // log or a channel). Nothing when the provider or the record cannot be
  // found. Called for alerted records only.
  virtual std::optional<std::u16string> PublisherMessage(std::u16string_view /*logName*/,
                                                         std::u16string_view /*provider*/,
                                                         std::uint64_t /*recordNumber*/) {
    return std::nullopt;
  }
  // The name of the record's task from the same manifest: the category an
  // alert shows for a record whose source registered no category texts.
  virtual std::optional<std::u16string> PublisherTask(std::u16string_view /*logName*/,
                                                      std::u16string_view /*provider*/,
                                                      std::uint64_t /*recordNumber*/) {
    return std::nullopt;
  }
};

}  // namespace zkq
