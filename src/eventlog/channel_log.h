#pragma once
// Any event channel ("Microsoft-Windows-Windows Defender/Operational",
// "ForwardedEvents", …) read live through the Windows Event Log API, behind
// the same reader port as the classic logs: each event becomes an
// EVENTLOGRECORD as an .evtx file's events do, handed out newest first.
//
// A reading with a bookmark queries the channel forward from the bookmarked
// record, so that its cost follows what is new, not the channel's size; the
// records before the bookmark are queried (backwards) only when the reader
// asks for more, as it does when the numbers started again.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "eventlog/evtx_file.h"
#include "eventlog/ports.h"

namespace zkq {

// Answers of the Event Log API that the reading acts on.
inline constexpr std::uint32_t kErrorCallNotImplemented = 120;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kRpcInvalidBound = 1734;
inline constexpr std::uint32_t kErrorEvtChannelNotFound = 15007;
inline constexpr std::uint32_t kErrorEvtQueryResultStale = 15011;

// The most events one EvtNext asks for.
inline constexpr std::size_t kEvtBatch = 256;

// An object of the API (a result set, an event, publisher metadata); 0 is none.
using EvtHandle = std::uintptr_t;

enum class EvtDirection { Forward, Reverse };
enum class EvtMessageKind { Event, Task };

// The calls of the Windows Event Log API (wevtapi) that the reading makes,
// shaped as the reading needs them. Nothing here throws.
class EvtApi {
 public:
  virtual ~EvtApi() = default;
  // EvtQuery of a channel of the local computer (server names it) with an
  // XPath filter; 0 with the error code when it fails.
  virtual EvtHandle Query(std::u16string_view server, std::u16string_view channel,
                          std::u16string_view xpath, EvtDirection direction,
                          std::uint32_t& error) = 0;
  // EvtNext: up to count events of the result set into events (replaced).
  // 0, kErrorNoMoreItems at the end, or the error code.
  virtual std::uint32_t Next(EvtHandle results, std::size_t count,
                             std::vector<EvtHandle>& events) = 0;
  // The event's system values and user values (EventData or UserData, as
  // strings each ended by a NUL) into event, which comes in cleared; the
  // channel the event was written to into channel. 0 or the error code.
  virtual std::uint32_t Render(EvtHandle event, EvtxEvent& out, std::u16string& channel) = 0;
  // The event as XML (EvtRenderEventXml). 0 or the error code.
  virtual std::uint32_t RenderXml(EvtHandle event, std::u16string& xml) = 0;
  virtual void Close(EvtHandle handle) = 0;
  // EvtOpenPublisherMetadata of the provider, in the user's language; 0 with
  // the error code when the provider has none here.
  virtual EvtHandle OpenPublisherMetadata(std::u16string_view provider, std::uint32_t& error) = 0;
  // EvtFormatMessage of the event with its provider's metadata: its message
  // with its values inserted, or its task's name. Nothing when there is none.
  virtual std::optional<std::u16string> FormatEventMessage(EvtHandle metadata, EvtHandle event,
                                                           EvtMessageKind kind) = 0;
  // EvtOpenChannelEnum and EvtNextChannelPath: every channel's name into
  // names. 0 or the error code.
  virtual std::uint32_t ChannelPaths(std::vector<std::u16string>& names) = 0;
};

// The XPath filter of a query: the records from fromRecord on, those before
// belowRecord, those written at or after fromUtc (UTC seconds), all of which
// must hold; "*" when none is given.
std::u16string ChannelXPath(std::optional<std::uint64_t> fromRecord,
                            std::optional<std::uint64_t> belowRecord,
                            std::optional<std::int64_t> fromUtc);

// The text of RenderingInfo/Message in an event's XML, its references
// resolved; nothing when the event carries no rendered message.
std::optional<std::u16string> RenderingInfoMessage(std::u16string_view xml);

// The channels of the local computer through api. When the API answers that
// it is not implemented (Wine, where most of its functions end the process),
// no call of it is made again: every Open fails with kErrorCallNotImplemented.
class ChannelLogSource final : public EventLogSource {
 public:
  explicit ChannelLogSource(EvtApi& api) : api_(api) {}

  std::unique_ptr<EventLog> Open(std::u16string_view server, std::u16string_view logName,
                                 std::uint32_t& error) override;
  std::unique_ptr<EventLog> OpenFrom(std::u16string_view server, std::u16string_view logName,
                                     const ReadStart& start, std::uint32_t& error) override;
  std::u16string_view OpenCallName() const override { return u"EvtQuery"; }
  std::u16string_view ReadCallName() const override { return u"EvtNext"; }

  // The machine's channel names, for the rules editor; empty when the API is
  // not there.
  std::vector<std::u16string> ListChannels();

  // EvtQuery behind the latch: 0 with kErrorCallNotImplemented once the API
  // said it has none.
  EvtHandle Query(std::u16string_view server, std::u16string_view channel,
                  std::u16string_view xpath, EvtDirection direction, std::uint32_t& error);
  bool Unavailable() const { return unavailable_; }
  EvtApi& Api() { return api_; }

 private:
  EvtApi& api_;
  bool unavailable_ = false;
  bool answered_ = false;  // a query has succeeded: the API is the real one
};

// The program's message tables with the manifests of the providers: the
// message of an alerted record whose source has no message file is found
// through the Event Log API. Everything else goes to inner.
class PublisherMessageTables final : public MessageTables {
 public:
  PublisherMessageTables(MessageTables& inner, ChannelLogSource& channels)
      : inner_(inner), channels_(channels) {}
  ~PublisherMessageTables() override { CloseMetadata(); }
  PublisherMessageTables(const PublisherMessageTables&) = delete;
  PublisherMessageTables& operator=(const PublisherMessageTables&) = delete;

  std::optional<std::u16string> CategoryMessageFile(std::u16string_view logName,
                                                    std::u16string_view source) override {
    return inner_.CategoryMessageFile(logName, source);
  }
  std::u16string Environment(std::u16string_view name) override { return inner_.Environment(name); }
  std::u16string FormatModuleMessage(std::u16string_view path, std::uint32_t messageId) override {
    return inner_.FormatModuleMessage(path, messageId);
  }
  std::u16string FormatSystemMessage(std::uint32_t code) override {
    return inner_.FormatSystemMessage(code);
  }
  std::optional<std::u16string> SourceValue(std::u16string_view logName, std::u16string_view source,
                                            std::u16string_view valueName) override {
    return inner_.SourceValue(logName, source, valueName);
  }
  std::optional<std::u16string> ModuleMessage(std::u16string_view path,
                                              std::uint32_t messageId) override {
    return inner_.ModuleMessage(path, messageId);
  }
  std::optional<std::u16string> SystemMessage(std::uint32_t messageId) override {
    return inner_.SystemMessage(messageId);
  }
  // Also closes the providers' metadata opened since the last call.
  void ReleaseModules() override;
  // The record numbered recordNumber in logName, formatted with its
  // provider's manifest; each provider's metadata is opened once a cycle.
  std::optional<std::u16string> PublisherMessage(std::u16string_view logName,
                                                 std::u16string_view provider,
                                                 std::uint64_t recordNumber) override;
  // The name of that record's task, from the same manifest.
  std::optional<std::u16string> PublisherTask(std::u16string_view logName,
                                              std::u16string_view provider,
                                              std::uint64_t recordNumber) override;

 private:
  struct RecordTexts {
    std::u16string logName;
    std::uint64_t recordNumber = 0;
    std::optional<std::u16string> message, task;
  };
  const RecordTexts& Texts(std::u16string_view logName, std::u16string_view provider,
                           std::uint64_t recordNumber);
  void CloseMetadata();
  MessageTables& inner_;
  ChannelLogSource& channels_;
  // Per provider: its metadata, 0 when it has none here.
  std::map<std::u16string, EvtHandle, std::less<>> metadata_;
  EvtxEvent event_;
  std::u16string channel_;
  RecordTexts texts_;  // the record looked up last
};

}  // namespace zkq
