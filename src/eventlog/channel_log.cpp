#include "eventlog/channel_log.h"

#include <algorithm>

#include "base/datetime.h"
#include "eventlog/evt_file.h"
#include "eventlog/record.h"

namespace zkq {
namespace {

constexpr std::uint32_t kErrorInvalidData = 13;

void AppendPadded(std::u16string& out, int value, int width) {
  std::u16string digits;
  AppendDecimal(digits, static_cast<std::uint32_t>(value < 0 ? 0 : value));
  if (digits.size() < static_cast<std::size_t>(width)) {
    out.append(static_cast<std::size_t>(width) - digits.size(), u'0');
  }
  out.append(digits);
}

// Channel names are compared as Windows compares them: without case.
bool SameChannel(std::u16string_view a, std::u16string_view b) {
  auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

// Appends the character a reference names ("lt", "#10", "#x263A"); false
// when it names none.
bool AppendReference(std::u16string& out, std::u16string_view name) {
  static constexpr std::pair<std::u16string_view, char16_t> kEntities[] = {
      {u"lt", u'<'}, {u"gt", u'>'}, {u"amp", u'&'}, {u"quot", u'"'}, {u"apos", u'\''}};
  for (const auto& [entity, c] : kEntities) {
    if (name == entity) {
      out.push_back(c);
      return true;
    }
  }
  if (name.size() < 2 || name[0] != u'#') return false;
  const bool hex = name[1] == u'x' || name[1] == u'X';
  const std::u16string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return false;
  std::uint32_t code = 0;
  for (char16_t c : digits) {
    std::uint32_t digit = 0;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (hex && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (hex && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return false;
    }
    code = code * (hex ? 16 : 10) + digit;
  }
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  if (code < 0x10000) {
    out.push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
  return true;
}

// The position just after the start tag <name …> at or after from, whose
// name is exactly name; npos when there is none. selfClosed tells <name/>.
std::size_t AfterStartTag(std::u16string_view xml, std::u16string_view name, std::size_t from,
                          bool& selfClosed) {
  for (std::size_t at = xml.find(u'<', from); at != std::u16string_view::npos;
       at = xml.find(u'<', at + 1)) {
    if (xml.substr(at + 1, name.size()) != name) continue;
    const std::size_t after = at + 1 + name.size();
    if (after >= xml.size()) return std::u16string_view::npos;
    const char16_t next = xml[after];
    if (next != u'>' && next != u'/' && next != u' ' && next != u'\t' && next != u'\r' &&
        next != u'\n') {
      continue;
    }
    const std::size_t close = xml.find(u'>', after);
    if (close == std::u16string_view::npos) return std::u16string_view::npos;
    selfClosed = xml[close - 1] == u'/';
    return close + 1;
  }
  return std::u16string_view::npos;
}

// One reading of one channel; see ChannelLogSource.
class ChannelLog final : public EventLog {
 public:
  ChannelLog(ChannelLogSource& source, std::u16string_view server, std::u16string_view channel,
             const ReadStart& start, EvtHandle results)
      : source_(source),
        api_(source.Api()),
        server_(server),
        channel_(channel),
        start_(start),
        phase_(start.fromRecord ? Phase::Forward : Phase::Older),
        results_(results) {}
  ~ChannelLog() override {
    CloseHeld();
    if (results_ != 0) api_.Close(results_);
  }

  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    if (pending_) {
      pending_ = false;
      record = buffer_;
      return 0;
    }
    for (;;) {
      if (taken_ < held_.size()) {
        const EvtHandle event = held_[taken_];
        held_[taken_++] = 0;
        if (!Build(event)) {
          ++damaged_;
          continue;
        }
        if (phase_ != Phase::Forward) below_ = event_.recordId;
        // The reader stops at the bookmarked record, which comes last of the
        // new ones: damage found above it is told before it.
        if (phase_ != Phase::Older && damaged_ != 0 && event_.recordId == *start_.fromRecord) {
          damaged_ = 0;
          pending_ = true;
          return kErrorEventlogFileCorrupt;
        }
        record = buffer_;
        return 0;
      }
      held_.clear();
      taken_ = 0;
      std::uint32_t code = 0;
      if (phase_ == Phase::Forward && !loaded_) {
        code = LoadForward();
      } else if (phase_ == Phase::Forward) {
        code = ToOlder();
      } else if (phase_ != Phase::Done) {
        code = Fetch(held_);
        if (code == kErrorNoMoreItems && phase_ == Phase::Newer) {
          code = ToOlder();
        } else if (code == kErrorNoMoreItems) {
          phase_ = Phase::Done;
          code = 0;
        } else if (code == kErrorEvtQueryResultStale && !retried_) {
          retried_ = true;
          code = Requery();
        }
      } else {
        // Events that could not be rendered are told once, after the rest.
        if (damaged_ == 0) return kErrorHandleEof;
        damaged_ = 0;
        return kErrorEventlogFileCorrupt;
      }
      if (code != 0) return code;
    }
  }

 private:
  // With a bookmark: Forward (the new records, held to be handed out newest
  // first) or, for more than kMaxHeld of them, Newer (the same backwards);
  // then Older, the records before the bookmark, only when the reader asks.
  // Without one, Older is all there is.
  enum class Phase { Forward, Newer, Older, Done };
  // The most events held at once: each holds its data in the API's memory.
  static constexpr std::size_t kMaxHeld = 8192;

  // One EvtNext; a batch the API cannot give at once is asked for in halves.
  std::uint32_t Fetch(std::vector<EvtHandle>& events) {
    for (;;) {
      const std::uint32_t code = api_.Next(results_, batch_, events);
      if (code == kRpcInvalidBound && batch_ > 1) {
        batch_ /= 2;
        continue;
      }
      if (code == 0 && events.empty()) return kErrorNoMoreItems;
      return code;
    }
  }

  // The forward query's events, all of them, so that they can be handed out
  // newest first. A channel cleared or overwritten meanwhile is queried once
  // more from the start. Past kMaxHeld events they are read backwards
  // instead: that query may look through the older records once, at its
  // end, but holds nothing.
  std::uint32_t LoadForward() {
    std::vector<EvtHandle> batch;
    for (;;) {
      std::uint32_t code = Fetch(batch);
      if (code == 0) {
        held_.insert(held_.end(), batch.begin(), batch.end());
        if (held_.size() <= kMaxHeld) continue;
        CloseHeld();
        phase_ = Phase::Newer;
        return Requery();
      }
      if (code == kErrorNoMoreItems) break;
      CloseHeld();
      if (code != kErrorEvtQueryResultStale || retried_) return code;
      retried_ = true;
      api_.Close(results_);
      results_ = source_.Query(server_, channel_, ChannelXPath(start_.fromRecord, {}, {}),
                               EvtDirection::Forward, code);
      if (results_ == 0) return code;
    }
    std::reverse(held_.begin(), held_.end());
    loaded_ = true;
    return 0;
  }

  // Only now, since the reader asks: the records before the bookmark.
  std::uint32_t ToOlder() {
    phase_ = Phase::Older;
    if (*start_.fromRecord == 0) {
      phase_ = Phase::Done;  // no record comes before the first
      return 0;
    }
    below_ = *start_.fromRecord;
    return Requery();
  }

  // A new backward query for the records not handed out yet.
  std::uint32_t Requery() {
    if (results_ != 0) api_.Close(results_);
    std::uint32_t error = 0;
    const auto fromRecord = phase_ == Phase::Newer ? start_.fromRecord : std::nullopt;
    const auto fromUtc = start_.fromRecord ? std::nullopt : start_.fromUtc;
    results_ = source_.Query(server_, channel_, ChannelXPath(fromRecord, below_, fromUtc),
                             EvtDirection::Reverse, error);
    return results_ != 0 ? 0 : error;
  }

  // The event as a record in buffer_; false when it cannot be rendered.
  // The event's handle is closed.
  bool Build(EvtHandle event) {
    event_ = EvtxEvent{};
    eventChannel_.clear();
    const std::uint32_t code = api_.Render(event, event_, eventChannel_);
    event_.message.clear();
    // A forwarded event carries the message its own computer made of it;
    // this computer may not even know its provider.
    if (code == 0 && !eventChannel_.empty() && !SameChannel(eventChannel_, channel_)) {
      xml_.clear();
      if (api_.RenderXml(event, xml_) == 0) {
        if (auto message = RenderingInfoMessage(xml_)) event_.message = std::move(*message);
      }
    }
    api_.Close(event);
    if (code != 0) return false;
    BuildEventLogRecord(event_, buffer_);
    return true;
  }

  void CloseHeld() {
    for (std::size_t i = taken_; i < held_.size(); ++i) {
      if (held_[i] != 0) api_.Close(held_[i]);
    }
    held_.clear();
    taken_ = 0;
  }

  ChannelLogSource& source_;
  EvtApi& api_;
  const std::u16string server_, channel_;
  const ReadStart start_;
  Phase phase_;
  EvtHandle results_;
  bool loaded_ = false;          // the forward query was read whole
  bool retried_ = false;         // a stale result set was queried again
  bool pending_ = false;         // buffer_ waits behind a damage notice
  std::vector<EvtHandle> held_;  // events to hand out, in order
  std::size_t taken_ = 0;
  std::size_t batch_ = kEvtBatch;
  std::optional<std::uint64_t> below_;  // backwards: the oldest record handed out
  std::size_t damaged_ = 0;
  EvtxEvent event_;
  std::u16string eventChannel_, xml_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

std::u16string ChannelXPath(std::optional<std::uint64_t> fromRecord,
                            std::optional<std::uint64_t> belowRecord,
                            std::optional<std::int64_t> fromUtc) {
  std::u16string conditions;
  auto add = [&conditions](std::u16string_view condition) {
    if (!conditions.empty()) conditions.append(u" and ");
    conditions.append(condition);
  };
  std::u16string text;
  if (fromRecord) {
    text = u"EventRecordID>=";
    AppendDecimal64(text, *fromRecord);
    add(text);
  }
  if (belowRecord) {
    text = u"EventRecordID<";
    AppendDecimal64(text, *belowRecord);
    add(text);
  }
  if (fromUtc) {
    const DateTime t = DateTime::FromSeconds(*fromUtc);
    text = u"TimeCreated[@SystemTime>='";
    const int parts[] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    static constexpr char16_t kSeparators[] = u"--T::";
    for (std::size_t i = 0; i < 6; ++i) {
      AppendPadded(text, parts[i], i == 0 ? 4 : 2);
      if (i < 5) text.push_back(kSeparators[i]);
    }
    text.append(u".000Z']");
    add(text);
  }
  if (conditions.empty()) return u"*";
  return u"*[System[" + conditions + u"]]";
}

std::optional<std::u16string> RenderingInfoMessage(std::u16string_view xml) {
  bool selfClosed = false;
  const std::size_t info = AfterStartTag(xml, u"RenderingInfo", 0, selfClosed);
  if (info == std::u16string_view::npos || selfClosed) return std::nullopt;
  const std::size_t infoEnd = xml.find(u"</RenderingInfo>", info);
  const std::u16string_view section = xml.substr(0, infoEnd);
  const std::size_t start = AfterStartTag(section, u"Message", info, selfClosed);
  if (start == std::u16string_view::npos || selfClosed) return std::nullopt;
  const std::size_t end = section.find(u"</Message>", start);
  if (end == std::u16string_view::npos) return std::nullopt;
  std::u16string message;
  const std::u16string_view raw = section.substr(start, end - start);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == u'&') {
      const std::size_t semicolon = raw.find(u';', i + 1);
      if (semicolon != std::u16string_view::npos && semicolon - i <= 10 &&
          AppendReference(message, raw.substr(i + 1, semicolon - i - 1))) {
        i = semicolon;
        continue;
      }
    }
    message.push_back(raw[i]);
  }
  return message;
}

EvtHandle ChannelLogSource::Query(std::u16string_view server, std::u16string_view channel,
                                  std::u16string_view xpath, EvtDirection direction,
                                  std::uint32_t& error) {
  if (unavailable_) {
    error = kErrorCallNotImplemented;
    return 0;
  }
  error = 0;
  const EvtHandle results = api_.Query(server, channel, xpath, direction, error);
  if (results != 0) {
    answered_ = true;
    return results;
  }
  if (error == 0) error = kErrorInvalidData;
  if (error == kErrorCallNotImplemented) unavailable_ = true;
  return 0;
}

std::unique_ptr<EventLog> ChannelLogSource::Open(std::u16string_view server,
                                                 std::u16string_view logName,
                                                 std::uint32_t& error) {
  return OpenFrom(server, logName, ReadStart{}, error);
}

std::unique_ptr<EventLog> ChannelLogSource::OpenFrom(std::u16string_view server,
                                                     std::u16string_view logName,
                                                     const ReadStart& start, std::uint32_t& error) {
  const EvtHandle results = start.fromRecord
                                ? Query(server, logName, ChannelXPath(start.fromRecord, {}, {}),
                                        EvtDirection::Forward, error)
                                : Query(server, logName, ChannelXPath({}, {}, start.fromUtc),
                                        EvtDirection::Reverse, error);
  if (results == 0) return nullptr;
  return std::make_unique<ChannelLog>(*this, server, logName, start, results);
}

std::vector<std::u16string> ChannelLogSource::ListChannels() {
  std::vector<std::u16string> names;
  if (!answered_) {
    // Under Wine the enumeration would end the process: it is asked only of
    // an API that has answered a query.
    std::uint32_t error = 0;
    const EvtHandle probe =
        Query(u"", u"System", ChannelXPath(0, 1, {}), EvtDirection::Forward, error);
    if (probe == 0) return names;
    api_.Close(probe);
  }
  api_.ChannelPaths(names);
  return names;
}

void PublisherMessageTables::CloseMetadata() {
  for (const auto& [provider, metadata] : metadata_) {
    if (metadata != 0) channels_.Api().Close(metadata);
  }
  metadata_.clear();
}

void PublisherMessageTables::ReleaseModules() {
  CloseMetadata();
  texts_ = RecordTexts{};
  inner_.ReleaseModules();
}

const PublisherMessageTables::RecordTexts& PublisherMessageTables::Texts(
    std::u16string_view logName, std::u16string_view provider, std::uint64_t recordNumber) {
  // The message and the task of one record are asked one after the other:
  // the record is looked up once for both.
  if (texts_.recordNumber == recordNumber && texts_.logName == logName && recordNumber != 0)
    return texts_;
  texts_ = RecordTexts{std::u16string(logName), recordNumber, std::nullopt, std::nullopt};
  std::uint32_t error = 0;
  std::u16string xpath = u"*[System[EventRecordID=";
  AppendDecimal64(xpath, recordNumber);
  xpath.append(u"]]");
  const EvtHandle results =
      recordNumber == 0 || channels_.Unavailable()
          ? 0
          : channels_.Query(u"", logName, xpath, EvtDirection::Forward, error);
  if (results == 0) return texts_;
  EvtApi& api = channels_.Api();
  std::vector<EvtHandle> events;
  if (api.Next(results, 1, events) == 0 && !events.empty()) {
    // The record names its provider; its source may be the name of the
    // classic source instead.
    event_ = EvtxEvent{};
    channel_.clear();
    std::u16string name(provider);
    if (api.Render(events.front(), event_, channel_) == 0 && !event_.provider.empty()) {
      name = event_.provider;
    }
    auto it = metadata_.find(name);
    if (it == metadata_.end()) {
      it = metadata_.emplace(name, api.OpenPublisherMetadata(name, error)).first;
    }
    if (it->second != 0) {
      texts_.message = api.FormatEventMessage(it->second, events.front(), EvtMessageKind::Event);
      texts_.task = api.FormatEventMessage(it->second, events.front(), EvtMessageKind::Task);
    }
    for (const EvtHandle event : events) api.Close(event);
  }
  api.Close(results);
  return texts_;
}

std::optional<std::u16string> PublisherMessageTables::PublisherMessage(std::u16string_view logName,
                                                                       std::u16string_view provider,
                                                                       std::uint64_t recordNumber) {
  const std::optional<std::u16string>& message = Texts(logName, provider, recordNumber).message;
  if (message && !message->empty()) return message;
  return inner_.PublisherMessage(logName, provider, recordNumber);
}

std::optional<std::u16string> PublisherMessageTables::PublisherTask(std::u16string_view logName,
                                                                    std::u16string_view provider,
                                                                    std::uint64_t recordNumber) {
  const std::optional<std::u16string>& task = Texts(logName, provider, recordNumber).task;
  if (task && !task->empty()) return task;
  return inner_.PublisherTask(logName, provider, recordNumber);
}

}  // namespace zkq
