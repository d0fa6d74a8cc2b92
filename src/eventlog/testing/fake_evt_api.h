#pragma once
// The Windows Event Log API as a machine with a few channels would answer it,
// for tests and the benchmark. It understands exactly the XPath filters the
// reading makes (anything else is an invalid query), hands out events in
// record order (or backwards), answers a result set made before the channel
// was cleared as stale, and counts every call and every handle left open.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "eventlog/channel_log.h"

namespace zkq::test_support {

inline constexpr std::uint32_t kErrorEvtInvalidQuery = 15001;
inline constexpr std::uint32_t kErrorEvtPublisherNotFound = 15002;

// FILETIME of UTC seconds since 1970.
constexpr std::uint64_t FileTimeOf(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ull;
}

struct FakeEvent {
  EvtxEvent event;
  std::u16string channel;  // where it was written; "" for the channel that holds it
  std::u16string xml;      // what EvtRenderEventXml gives
};

class FakeEvtApi : public EvtApi {
 public:
  struct Channel {
    std::vector<FakeEvent> events;  // by record ID, oldest first
    unsigned generation = 0;
    std::uint32_t openError = 0;  // answered to every query
  };
  std::map<std::u16string, Channel, std::less<>> channels;
  // Per provider, the message of each event ID; "%1" takes the first value.
  std::map<std::u16string, std::map<std::uint16_t, std::u16string>, std::less<>> publishers;
  // Per provider: the names of its tasks by number.
  std::map<std::u16string, std::map<std::uint16_t, std::u16string>, std::less<>> tasks;

  bool notImplemented = false;           // every query answers 120, as under Wine
  std::size_t largestBatch = SIZE_MAX;   // a larger EvtNext answers 1734
  std::set<std::uint64_t> unrenderable;  // records whose EvtRender fails
  std::function<void()> beforeNext;      // runs as each EvtNext begins

  std::size_t calls = 0, nexts = 0, renders = 0, xmlRenders = 0, formats = 0, metadataOpens = 0;
  std::size_t badCloses = 0, peakHandles = 0;
  std::vector<std::u16string> queries;  // "forward: xpath" / "reverse: xpath"
  std::vector<std::size_t> batches;     // the count each EvtNext asked for

  // Appends an event (record IDs must grow) written at seconds (UTC).
  FakeEvent& Add(std::u16string_view channel, std::uint64_t recordId, std::int64_t seconds,
                 std::u16string provider = u"Microsoft-Windows-Test", std::uint16_t eventId = 1,
                 std::u16string strings = {}) {
    FakeEvent e;
    e.event.recordId = recordId;
    e.event.timeCreated = FileTimeOf(seconds);
    e.event.provider = std::move(provider);
    e.event.eventId = eventId;
    e.event.level = 4;
    e.event.computer = u"PC1";
    for (char16_t c : strings) e.event.stringCount += c == u'\0';
    e.event.strings = std::move(strings);
    Channel& c = channels[std::u16string(channel)];
    c.events.push_back(std::move(e));
    return c.events.back();
  }
  // Empties the channel: its result sets go stale.
  void Clear(std::u16string_view channel) {
    Channel& c = channels[std::u16string(channel)];
    c.events.clear();
    ++c.generation;
  }
  // New records went in while a query was open: its result set goes stale.
  void Stale(std::u16string_view channel) { ++channels[std::u16string(channel)].generation; }
  std::size_t OpenHandles() const { return results_.size() + events_.size() + metadata_.size(); }

  EvtHandle Query(std::u16string_view, std::u16string_view channel, std::u16string_view xpath,
                  EvtDirection direction, std::uint32_t& error) override {
    ++calls;
    queries.push_back((direction == EvtDirection::Forward ? u"forward: " : u"reverse: ") +
                      std::u16string(xpath));
    if (notImplemented) {
      error = kErrorCallNotImplemented;
      return 0;
    }
    const auto it = channels.find(channel);
    if (it == channels.end()) {
      error = kErrorEvtChannelNotFound;
      return 0;
    }
    if (it->second.openError != 0) {
      error = it->second.openError;
      return 0;
    }
    Results r{it->first, it->second.generation, direction == EvtDirection::Reverse};
    if (!Filter(xpath, it->second.events, r.lo, r.hi)) {
      error = kErrorEvtInvalidQuery;
      return 0;
    }
    r.next = r.reverse ? r.hi : r.lo;
    results_[++lastHandle_] = r;
    return lastHandle_;
  }

  std::uint32_t Next(EvtHandle results, std::size_t count,
                     std::vector<EvtHandle>& events) override {
    ++calls;
    ++nexts;
    batches.push_back(count);
    events.clear();
    if (beforeNext) beforeNext();
    const auto it = results_.find(results);
    if (it == results_.end()) return 6;  // ERROR_INVALID_HANDLE
    Results& r = it->second;
    if (count > largestBatch) return kRpcInvalidBound;
    const Channel& c = channels[r.channel];
    if (c.generation != r.generation) return kErrorEvtQueryResultStale;
    while (events.size() < count && (r.reverse ? r.next > r.lo : r.next < r.hi)) {
      const std::size_t at = r.reverse ? --r.next : r.next++;
      events_[++lastHandle_] = {c.events[at], r.channel};
      events.push_back(lastHandle_);
    }
    peakHandles = std::max(peakHandles, OpenHandles());
    return events.empty() ? kErrorNoMoreItems : 0;
  }

  std::uint32_t Render(EvtHandle event, EvtxEvent& out, std::u16string& channel) override {
    ++calls;
    ++renders;
    const auto it = events_.find(event);
    if (it == events_.end()) return 6;
    if (unrenderable.count(it->second.event.event.recordId) != 0) return 13;
    out = it->second.event.event;
    out.message.clear();  // values carry no rendered message
    channel = it->second.event.channel.empty() ? it->second.channel : it->second.event.channel;
    return 0;
  }

  std::uint32_t RenderXml(EvtHandle event, std::u16string& xml) override {
    ++calls;
    ++xmlRenders;
    const auto it = events_.find(event);
    if (it == events_.end()) return 6;
    xml = it->second.event.xml;
    return 0;
  }

  void Close(EvtHandle handle) override {
    ++calls;
    if (results_.erase(handle) + events_.erase(handle) + metadata_.erase(handle) == 0) {
      ++badCloses;
    }
  }

  EvtHandle OpenPublisherMetadata(std::u16string_view provider, std::uint32_t& error) override {
    ++calls;
    ++metadataOpens;
    if (publishers.find(provider) == publishers.end()) {
      error = kErrorEvtPublisherNotFound;
      return 0;
    }
    metadata_[++lastHandle_] = std::u16string(provider);
    return lastHandle_;
  }

  std::optional<std::u16string> FormatEventMessage(EvtHandle metadata, EvtHandle event,
                                                   EvtMessageKind kind) override {
    ++calls;
    ++formats;
    const auto m = metadata_.find(metadata);
    const auto e = events_.find(event);
    if (m == metadata_.end() || e == events_.end()) return std::nullopt;
    const EvtxEvent& ev = e->second.event.event;
    if (kind == EvtMessageKind::Task) {
      const auto& names = tasks[m->second];
      const auto name = names.find(ev.task);
      if (ev.provider != m->second || name == names.end()) return std::nullopt;
      return name->second;
    }
    const auto& messages = publishers[m->second];
    const auto text = messages.find(ev.eventId);
    if (ev.provider != m->second || text == messages.end()) return std::nullopt;
    std::u16string message = text->second;
    const std::u16string first = ev.strings.substr(0, ev.strings.find(u'\0'));
    if (const std::size_t at = message.find(u"%1"); at != std::u16string::npos) {
      message.replace(at, 2, first);
    }
    return message;
  }

  std::uint32_t ChannelPaths(std::vector<std::u16string>& names) override {
    ++calls;
    for (const auto& [name, channel] : channels) names.push_back(name);
    return 0;
  }

 private:
  struct Results {
    std::u16string channel;
    unsigned generation = 0;
    bool reverse = false;
    std::size_t lo = 0, hi = 0, next = 0;
  };
  struct HeldEvent {
    FakeEvent event;
    std::u16string channel;
  };

  static bool Number(std::u16string_view text, std::uint64_t& n) {
    if (text.empty() || text.size() > 20) return false;
    n = 0;
    for (char16_t c : text) {
      if (c < u'0' || c > u'9') return false;
      n = n * 10 + (c - u'0');
    }
    return true;
  }

  // "2026-12-10T05:08:45.000Z" as UTC seconds.
  static bool Time(std::u16string_view text, std::int64_t& seconds) {
    std::uint64_t y, mo, d, h, mi, s;
    if (text.size() != 24 || text.substr(19) != u".000Z" || !Number(text.substr(0, 4), y) ||
        !Number(text.substr(5, 2), mo) || !Number(text.substr(8, 2), d) ||
        !Number(text.substr(11, 2), h) || !Number(text.substr(14, 2), mi) ||
        !Number(text.substr(17, 2), s)) {
      return false;
    }
    seconds = DateTime{static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d),
                       static_cast<int>(h), static_cast<int>(mi), static_cast<int>(s)}
                  .ToSeconds();
    return true;
  }

  // The events [lo, hi) that the filter selects; false for a filter the
  // reading never makes.
  static bool Filter(std::u16string_view xpath, const std::vector<FakeEvent>& events,
                     std::size_t& lo, std::size_t& hi) {
    lo = 0;
    hi = events.size();
    if (xpath == u"*") return true;
    constexpr std::u16string_view kOpen = u"*[System[", kClose = u"]]";
    if (xpath.substr(0, kOpen.size()) != kOpen || xpath.size() < kOpen.size() + kClose.size() ||
        xpath.substr(xpath.size() - kClose.size()) != kClose) {
      return false;
    }
    std::u16string_view rest = xpath.substr(kOpen.size(), xpath.size() - kOpen.size() - 2);
    auto byId = [&](std::uint64_t id) {
      return static_cast<std::size_t>(std::lower_bound(events.begin(), events.end(), id,
                                                       [](const FakeEvent& e, std::uint64_t v) {
                                                         return e.event.recordId < v;
                                                       }) -
                                      events.begin());
    };
    while (!rest.empty()) {
      const std::size_t andAt = rest.find(u" and ");
      const std::u16string_view c = rest.substr(0, andAt);
      rest = andAt == std::u16string_view::npos ? std::u16string_view() : rest.substr(andAt + 5);
      std::uint64_t n = 0;
      std::int64_t t = 0;
      constexpr std::u16string_view kTime = u"TimeCreated[@SystemTime>='";
      if (c.starts_with(u"EventRecordID>=") && Number(c.substr(15), n)) {
        lo = std::max(lo, byId(n));
      } else if (c.starts_with(u"EventRecordID<") && Number(c.substr(14), n)) {
        hi = std::min(hi, byId(n));
      } else if (c.starts_with(u"EventRecordID=") && Number(c.substr(14), n)) {
        lo = std::max(lo, byId(n));
        hi = std::min(hi, byId(n + 1));
      } else if (c.starts_with(kTime) && c.ends_with(u"']") &&
                 Time(c.substr(kTime.size(), c.size() - kTime.size() - 2), t)) {
        // The fake's events are written in time order.
        const std::uint64_t from = FileTimeOf(t);
        lo = static_cast<std::size_t>(
            std::partition_point(
                events.begin() + static_cast<std::ptrdiff_t>(lo), events.end(),
                [from](const FakeEvent& e) { return e.event.timeCreated < from; }) -
            events.begin());
      } else {
        return false;
      }
    }
    if (hi < lo) hi = lo;
    return true;
  }

  std::map<EvtHandle, Results> results_;
  std::map<EvtHandle, HeldEvent> events_;
  std::map<EvtHandle, std::u16string> metadata_;
  EvtHandle lastHandle_ = 0;
};

}  // namespace zkq::test_support
