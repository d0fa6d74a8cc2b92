#include "eventlog/channel_log.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/testing/recording_boxes.h"
#include "base/text.h"
#include "eventlog/event_message.h"
#include "eventlog/no_lookups.h"
#include "eventlog/reader.h"
#include "eventlog/testing/fake_evt_api.h"

namespace zkq {
namespace {

using test_support::FakeEvtApi;
using test_support::RecordingBoxes;

// 2011/07/27 06:41:47 UTC, 15:41:47 in Japan.
constexpr std::int64_t kBase = 1311748907;
constexpr char16_t kDefender[] = u"Microsoft-Windows-Windows Defender/Operational";

class TextTables : public NoMessageTables {
 public:
  std::u16string FormatSystemMessage(std::uint32_t code) override {
    if (code == kErrorEvtChannelNotFound) return u"指定されたチャネルが見つかりませんでした。";
    return u"text of " + FromUtf8(std::to_string(code));
  }
};

// A program's view of the channels: one source over the fake API, read
// through the reader as a cycle reads them.
struct Machine {
  FakeEvtApi api;
  ChannelLogSource source{api};
  NoAccountNames accounts;
  TextTables tables;
  RecordingBoxes boxes;
  FixedOffsetZone zone{9 * 3600};
  EventList list;

  // Records first..last of channel, one a minute from kBase.
  void Fill(std::u16string_view channel, std::uint64_t first, std::uint64_t last) {
    for (std::uint64_t id = first; id <= last; ++id) {
      api.Add(channel, id, kBase + 60 * static_cast<std::int64_t>(id), u"Microsoft-Windows-Test",
              static_cast<std::uint16_t>(id));
    }
  }
  LogReading Read(std::u16string_view channel, std::optional<LogBookmark> bookmark,
                  std::u16string_view date = u"", std::u16string_view time = u"") {
    EventLogContext context{source, accounts, tables, boxes, zone};
    return ReadNewEventLogRows(list, channel, u"PC1", date, time, bookmark, context);
  }
  std::vector<std::uint64_t> Numbers() const {
    std::vector<std::uint64_t> numbers;
    for (const EventRow& row : list) numbers.push_back(row.recordNumber);
    return numbers;
  }
};

std::vector<std::uint64_t> Range(std::uint64_t newest, std::uint64_t oldest) {
  std::vector<std::uint64_t> numbers;
  for (std::uint64_t n = newest; n >= oldest && n != 0; --n) numbers.push_back(n);
  return numbers;
}

LogBookmark BookmarkOf(std::uint64_t id) {
  return {id, kBase + 60 * static_cast<std::int64_t>(id)};
}

TEST(ChannelLogSource, ABookmarkResumesAfterTheLastRecordAcrossARestart) {
  Machine m;
  m.Fill(kDefender, 1, 1000);
  m.api.channels[kDefender].events[999].event.level = 2;
  m.api.channels[kDefender].events[999].event.userSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  m.api.channels[kDefender].events[999].event.keywords = 0x8000000000000000ull;

  // The first cycle has only the stamp: 2011/07/27 15:41:47 + 990 minutes.
  LogReading first = m.Read(kDefender, std::nullopt, u"2011/07/28", u"08:11:47");
  EXPECT_EQ(m.api.queries,
            std::vector<std::u16string>{
                u"reverse: *[System[TimeCreated[@SystemTime>='2011-07-27T23:11:47.000Z']]]"});
  EXPECT_EQ(m.Numbers(), Range(1000, 990));
  const EventRow newest{u"エラー", u"2011/07/28", u"08:21:47", u"Microsoft-Windows-Test",
                        u"なし",   u"1000",       u"S-1-5-18", u"PC1",
                        1000,      u"",           u"",         1000};
  EXPECT_EQ(m.list.front(), newest);
  ASSERT_EQ(first.bookmark, BookmarkOf(1000));

  // After a restart (a new source), 100 new records: those alone, in two calls at most.
  m.Fill(kDefender, 1001, 1100);
  ChannelLogSource restarted(m.api);
  EventLogContext context{restarted, m.accounts, m.tables, m.boxes, m.zone};
  m.api.queries.clear();
  m.api.nexts = 0;
  LogReading second =
      ReadNewEventLogRows(m.list, kDefender, u"PC1", u"", u"", first.bookmark, context);
  EXPECT_EQ(m.Numbers(), Range(1100, 1001));
  EXPECT_EQ(m.api.queries, std::vector<std::u16string>{u"forward: *[System[EventRecordID>=1000]]"});
  EXPECT_LE(m.api.nexts, 2u);
  EXPECT_EQ(second.bookmark, BookmarkOf(1100));
  EXPECT_FALSE(second.cleared || second.failed || second.overwritten != 0);
  EXPECT_TRUE(m.boxes.shown.empty());
  EXPECT_EQ(m.api.OpenHandles(), 0u);
  EXPECT_EQ(m.api.badCloses, 0u);
}

// What a reading tells beside its rows when the channel changed, went, or
// the API could not give what was asked.
TEST(ChannelLogSource, ClearedStaleMissingAndDamagedChannelsAreTold) {
  struct Case {
    const char* name;
    std::function<void(Machine&)> arrange;
    std::optional<LogBookmark> bookmark;
    std::vector<std::uint64_t> rows;
    bool cleared = false;
    std::uint64_t overwritten = 0;
    std::u16string failure;  // the start of the failure text
    std::optional<LogBookmark> after;
  };
  auto refill = [](Machine& m) {
    m.api.Clear(kDefender);
    m.Fill(kDefender, 1, 3);
  };
  const std::vector<Case> cases = {
      {"cleared and written again", refill, BookmarkOf(50), Range(3, 1), true, 0, u"",
       BookmarkOf(3)},
      {"cleared while the query was open: asked again from scratch",
       [&](Machine& m) {
         m.api.beforeNext = [&m, &refill, done = false]() mutable {
           if (!std::exchange(done, true)) refill(m);
         };
       },
       BookmarkOf(50), Range(3, 1), true, 0, u"", BookmarkOf(3)},
      {"stale while reading backwards: the rest asked again below what was read",
       [](Machine& m) {
         m.api.largestBatch = 16;  // 60…45 come in the fifth call
         m.api.beforeNext = [&m, calls = 0]() mutable {
           if (++calls != 6) return;
           m.Fill(kDefender, 61, 61);
           m.api.Stale(kDefender);
         };
       },
       std::nullopt, Range(60, 1), false, 0, u"", BookmarkOf(60)},
      {"stale twice: the read fails, the bookmark stays",
       [&](Machine& m) { m.api.beforeNext = [&m, &refill] { refill(m); }; },
       BookmarkOf(50),
       {},
       false,
       0,
       u"EvtNext function fails.\r\nErrNumber = 0x00003AA3\r\ntext of 15011",
       BookmarkOf(50)},
      {"the bookmark's number holds another record: a new channel",
       [](Machine& m) { m.api.channels[kDefender].events[49].event.timeCreated += 10000000; },
       BookmarkOf(50), Range(60, 1), true, 0, u"", BookmarkOf(60)},
      {"records overwritten unread",
       [](Machine& m) {
         auto& events = m.api.channels[kDefender].events;
         events.erase(events.begin(), events.begin() + 40);
       },
       BookmarkOf(10), Range(60, 41), false, 30, u"", BookmarkOf(60)},
      {"a backlog too long to hold is read backwards",
       [](Machine& m) { m.Fill(kDefender, 61, 9000); }, BookmarkOf(30), Range(9000, 31), false, 0,
       u"", BookmarkOf(9000)},
      {"a missing channel",
       [](Machine& m) { m.api.channels.erase(kDefender); },
       BookmarkOf(50),
       {},
       false,
       0,
       u"EvtQuery function fails.\r\nErrNumber = 0x00003A9F\r\n"
       u"指定されたチャネルが見つかりませんでした。\r\nイベントログ: " +
           std::u16string(kDefender),
       BookmarkOf(50)},
      {"access denied: the remedy",
       [](Machine& m) { m.api.channels[kDefender].openError = 5; },
       std::nullopt,
       {},
       false,
       0,
       u"EvtQuery function fails.\r\nErrNumber = 0x00000005\r\ntext of 5\r\nイベントログ: " +
           std::u16string(kDefender) + kAccessRemedy,
       std::nullopt},
      {"batches the API refuses are halved", [](Machine& m) { m.api.largestBatch = 5; },
       BookmarkOf(20), Range(60, 21), false, 0, u"", BookmarkOf(60)},
      {"an event that cannot be rendered is told, the rest read",
       [](Machine& m) { m.api.unrenderable = {55}; },
       BookmarkOf(50),
       {60, 59, 58, 57, 56, 54, 53, 52, 51},
       false,
       0,
       u"EvtNext function fails.\r\nErrNumber = 0x000005DC",
       BookmarkOf(60)},
  };
  for (const Case& c : cases) {
    Machine m;
    m.Fill(kDefender, 1, 60);
    c.arrange(m);
    const LogReading reading = m.Read(kDefender, c.bookmark);
    EXPECT_EQ(m.Numbers(), c.rows) << c.name;
    EXPECT_EQ(reading.cleared, c.cleared) << c.name;
    EXPECT_EQ(reading.overwritten, c.overwritten) << c.name;
    EXPECT_EQ(reading.failed, !c.failure.empty()) << c.name;
    EXPECT_TRUE(reading.failure.starts_with(c.failure)) << c.name << "\n"
                                                        << ToUtf8(reading.failure);
    EXPECT_EQ(reading.bookmark, c.after) << c.name;
    EXPECT_EQ(m.api.OpenHandles(), 0u) << c.name;
    EXPECT_LE(m.api.peakHandles, 8192u + 2 * kEvtBatch) << c.name;
  }
}

TEST(ChannelLogSource, BatchesAreHalvedDownToOne) {
  Machine m;
  m.Fill(kDefender, 1, 5);
  m.api.largestBatch = 20;
  m.Read(kDefender, std::nullopt);
  EXPECT_EQ(m.Numbers(), Range(5, 1));
  // 256 and 128 … are refused; 16 is kept for the rest of the reading.
  EXPECT_EQ(m.api.batches, (std::vector<std::size_t>{256, 128, 64, 32, 16, 16}));

  m.api.largestBatch = 0;
  const LogReading refused = m.Read(kDefender, std::nullopt);
  EXPECT_EQ(m.api.batches.back(), 1u);
  EXPECT_TRUE(refused.failure.starts_with(u"EvtNext function fails.\r\nErrNumber = 0x000006C6"))
      << ToUtf8(refused.failure);
}

// Under Wine EvtQuery is not implemented and most other Evt functions end
// the process: after the first answer nothing is called any more.
TEST(ChannelLogSource, AnAPIThatIsNotImplementedIsNeverCalledAgain) {
  Machine m;
  m.Fill(u"System", 1, 3);
  m.api.notImplemented = true;
  const LogReading first = m.Read(kDefender, BookmarkOf(2));
  EXPECT_TRUE(first.failure.starts_with(u"EvtQuery function fails.\r\nErrNumber = 0x00000078\r\n"))
      << ToUtf8(first.failure);
  const std::size_t calls = m.api.calls;
  EXPECT_EQ(calls, 1u);
  const LogReading again = m.Read(u"ForwardedEvents", std::nullopt);
  EXPECT_TRUE(again.failure.starts_with(u"EvtQuery function fails.\r\nErrNumber = 0x00000078"))
      << ToUtf8(again.failure);
  EXPECT_TRUE(m.source.ListChannels().empty());
  PublisherMessageTables tables(m.tables, m.source);
  EXPECT_FALSE(tables.PublisherMessage(u"System", u"Microsoft-Windows-Test", 2).has_value());
  EXPECT_EQ(m.api.calls, calls);
  EXPECT_EQ(m.boxes.shown.size(), 2u);  // each reading tells it
}

TEST(ChannelLogSource, ListsTheMachinesChannels) {
  Machine m;
  m.Fill(u"System", 1, 1);
  m.Fill(u"ForwardedEvents", 1, 1);
  EXPECT_EQ(m.source.ListChannels(), (std::vector<std::u16string>{u"ForwardedEvents", u"System"}));
  EXPECT_EQ(m.api.OpenHandles(), 0u);
}

// A forwarded event carries the message its computer rendered; a local one
// has its message made from its provider's manifest, only when it is alerted.
TEST(ChannelLogSource, MessagesAreMadeOnlyForAlertedRecordsAndForwardedOnesCarryTheirs) {
  Machine m;
  m.api.publishers[u"Microsoft-Windows-Windows Defender"] = {{1116, u"Malware %1 found."}};
  const std::u16string s = std::u16string(u"Trojan:X") + u'\0';
  m.api.Add(kDefender, 7, kBase, u"Microsoft-Windows-Windows Defender", 1116, s);
  m.api.Add(kDefender, 8, kBase + 1, u"Microsoft-Windows-Windows Defender", 1116, s).event.task = 3;
  m.api.tasks[u"Microsoft-Windows-Windows Defender"] = {{3, u" Malware\r\ndetection "}};
  m.api.Add(kDefender, 9, kBase + 2, u"Unregistered-Provider", 5, std::u16string(u"raw") + u'\0');
  m.api.Add(u"ForwardedEvents", 40, kBase, u"Service Control Manager", 7036, s).channel = u"System";
  m.api.channels[u"ForwardedEvents"].events[0].xml =
      u"<Event><System><Channel>System</Channel></System><EventData><Data Name='Message'>no"
      u"</Data></EventData><RenderingInfo Culture='ja-JP'><Message>A &amp; B &lt;停止&gt;&#x263A;"
      u"</Message><Level>情報</Level></RenderingInfo></Event>";

  m.Read(u"ForwardedEvents", std::nullopt);
  const EventList forwarded = m.list;
  m.Read(kDefender, std::nullopt);
  EXPECT_EQ(m.api.formats + m.api.metadataOpens, 0u);  // reading asks no message
  ASSERT_EQ(forwarded.size(), 1u);
  EXPECT_EQ(forwarded[0].message, u"A & B <停止>☺");
  EXPECT_EQ(m.api.xmlRenders, 1u);  // for the forwarded event alone

  PublisherMessageTables tables(m.tables, m.source);
  auto detail = [&](std::u16string_view log, const EventRow& row) {
    EventMessages messages(tables);
    std::u16string out;
    messages.AppendDetail(out, log, row);
    return ToUtf8(out);
  };
  EXPECT_EQ(detail(u"ForwardedEvents", forwarded[0]), "    A & B <停止>☺\r\n");
  EXPECT_EQ(m.api.formats, 0u);
  EventMessages cycle(tables);
  std::u16string out;
  for (const EventRow& row : m.list) cycle.AppendDetail(out, kDefender, row);
  EXPECT_EQ(ToUtf8(out),
            "    raw\r\n    Malware Trojan:X found.\r\n    Malware Trojan:X found.\r\n");
  EXPECT_EQ(m.api.metadataOpens, 2u);  // once per provider in a cycle
  EXPECT_EQ(m.api.formats, 4u);        // the message and the task of each record
  // The alert line's category: the task's name, on one line, where the record has one.
  std::vector<std::u16string> categories;
  for (const EventRow& row : m.list)
    categories.emplace_back(cycle.AlertCategory(kDefender, row));
  EXPECT_EQ(categories, (std::vector<std::u16string>{u"なし", u"Malware  detection", u"なし"}));
  EXPECT_EQ(std::u16string(cycle.AlertCategory(u"ForwardedEvents", forwarded[0])), u"なし");
  EXPECT_EQ(m.api.formats, 8u);  // asked once more for each record of the Defender log
  cycle.Release();
  EXPECT_EQ(m.api.OpenHandles(), 0u);
  cycle.AppendDetail(out, kDefender, m.list.back());
  EXPECT_EQ(m.api.metadataOpens, 3u);  // the next cycle opens it again
}

TEST(RenderingInfoMessage, FindsTheRenderedMessageOnly) {
  const struct {
    std::u16string xml;
    std::optional<std::u16string> message;
  } cases[] = {
      {u"<Event><RenderingInfo><Message>x&#10;y &#65; &bogus; &</Message></RenderingInfo></Event>",
       u"x\ny A &bogus; &"},
      {u"<Event><EventData><Message>not this</Message></EventData></Event>", std::nullopt},
      {u"<Event><RenderingInfo><Messages>no</Messages></RenderingInfo><Message>no</Message>"
       u"</Event>",
       std::nullopt},
      {u"<Event><RenderingInfo Culture='en-US'><Message/></RenderingInfo></Event>", std::nullopt},
      {u"<Event><RenderingInfo>\r\n  <Message>\r\n</Message>", u"\r\n"},
      {u"<Event><RenderingInfo/><Message>no</Message></Event>", std::nullopt},
      {u"<Event><RenderingInfo><Message>cut", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(RenderingInfoMessage(c.xml), c.message) << ToUtf8(c.xml);
}

}  // namespace
}  // namespace zkq
