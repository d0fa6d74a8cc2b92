#include "eventlog/reader.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/testing/recording_boxes.h"
#include "eventlog/evt_builder.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"

namespace zkq {
namespace {

// A live log as the event log API would hand it out: records newest first,
// optionally failing with an error code at some read.
class FakeLog : public EventLog {
 public:
  FakeLog(std::vector<Bytes> records, std::size_t failAt, std::uint32_t failCode)
      : records_(std::move(records)), failAt_(failAt), failCode_(failCode) {}
  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    if (next_ == failAt_) return failCode_;
    if (next_ >= records_.size()) return kErrorHandleEof;
    record = records_[next_++];
    return 0;
  }

 private:
  std::vector<Bytes> records_;
  std::size_t next_ = 0, failAt_;
  std::uint32_t failCode_;
};

class FakeSource : public EventLogSource {
 public:
  std::map<std::u16string, std::vector<Bytes>> logs;
  std::size_t failAt = SIZE_MAX;
  std::uint32_t failCode = 0;
  std::uint32_t openError = 0;  // for a log that is not in logs
  std::vector<std::pair<std::u16string, std::u16string>> opened;
  std::unique_ptr<EventLog> Open(std::u16string_view server, std::u16string_view logName,
                                 std::uint32_t& error) override {
    opened.emplace_back(server, logName);
    auto it = logs.find(std::u16string(logName));
    if (it == logs.end()) {
      error = openError;
      return nullptr;
    }
    return std::make_unique<FakeLog>(it->second, failAt, failCode);
  }
};

class FakeAccounts : public AccountNames {
 public:
  // Keyed by the SID's bytes as a string (GCC's -O2 warns wrongly about maps
  // keyed by byte vectors).
  std::map<std::string, std::u16string> names;
  void Add(const Bytes& sid, std::u16string name) {
    names[std::string(sid.begin(), sid.end())] = name;
  }
  std::optional<std::u16string> AccountName(std::span<const std::uint8_t> sid) override {
    auto it = names.find(std::string(sid.begin(), sid.end()));
    if (it == names.end()) return std::nullopt;
    return it->second;
  }
};

// Category files per source and messages per file and category.
class FakeTables : public MessageTables {
 public:
  std::map<std::u16string, std::u16string> files;  // source -> file
  std::map<std::pair<std::u16string, std::uint32_t>, std::u16string> messages;
  std::map<std::uint32_t, std::u16string> systemTexts;
  std::optional<std::u16string> CategoryMessageFile(std::u16string_view,
                                                    std::u16string_view source) override {
    auto it = files.find(std::u16string(source));
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  std::u16string Environment(std::u16string_view) override { return {}; }
  std::u16string FormatModuleMessage(std::u16string_view path, std::uint32_t id) override {
    auto it = messages.find({std::u16string(path), id});
    return it == messages.end() ? std::u16string() : it->second;
  }
  std::u16string FormatSystemMessage(std::uint32_t code) override {
    auto it = systemTexts.find(code);
    return it == systemTexts.end() ? std::u16string() : it->second;
  }
};

using test_support::RecordingBoxes;
using test_support::ShownBox;

const EventRow kOldRow{u"old", u"", u"", u"", u"", u"", u"", u""};

// 2011/07/27 15:41:47 on the records' clock.
constexpr std::uint32_t kBase = 1311748907;

Bytes Record(std::uint32_t number, std::uint32_t timeWritten, std::u16string source = u"Disk",
             std::uint16_t category = 0, std::uint16_t type = 1) {
  RecordRecipe recipe;
  recipe.number = number;
  recipe.timeWritten = timeWritten;
  recipe.source = std::move(source);
  recipe.category = category;
  recipe.type = type;
  recipe.eventId = 1000 + number;
  recipe.computer = u"PC1";
  return BuildRecord(recipe);
}

struct Reader {
  FakeSource source;
  FakeAccounts accounts;
  FakeTables tables;
  RecordingBoxes boxes;
  FixedOffsetZone zone{9 * 3600};  // a machine set to Japan time
  EventLogContext context{source, accounts, tables, boxes, zone};
  EventList list;
  std::int32_t Read(std::u16string_view date, std::u16string_view time,
                    std::u16string_view log = u"System") {
    return ReadEventLogRows(list, log, u"MYPC", date, time, context);
  }
  std::vector<std::u16string> Ids() const {
    std::vector<std::u16string> ids;
    for (const EventRow& row : list) ids.push_back(row.eventId);
    return ids;
  }
};

TEST(ReadEventLogRows, StampSelectsRecordsButTheWholeLogIsScanned) {
  // Newest first, with one record out of time order behind older ones.
  const std::vector<Bytes> log = {Record(6, kBase + 61),  Record(5, kBase + 60),
                                  Record(4, kBase + 59),  Record(3, kBase - 3600),
                                  Record(2, kBase + 120), Record(1, kBase - 7200)};
  struct Case {
    const char* name;
    std::u16string date, time;
    std::vector<std::u16string> ids;
  };
  const std::vector<Case> cases = {
      {"stamp in the same second as a record",
       u"2011/07/27",
       u"15:42:47",
       {u"1006", u"1005", u"1002"}},
      {"one second later", u"2011/07/27", u"15:42:48", {u"1006", u"1002"}},
      {"after every record", u"2011/07/27", u"16:00:00", {}},
      {"before every record",
       u"2011/07/27",
       u"00:00:00",
       {u"1006", u"1005", u"1004", u"1003", u"1002", u"1001"}},
      {"empty stamp", u"", u"", {u"1006", u"1005", u"1004", u"1003", u"1002", u"1001"}},
      {"no real date",
       u"2011/02/30",
       u"15:42:47",
       {u"1006", u"1005", u"1004", u"1003", u"1002", u"1001"}},
      {"malformed time",
       u"2011/07/27",
       u"25:00:00",
       {u"1006", u"1005", u"1004", u"1003", u"1002", u"1001"}},
  };
  for (const Case& c : cases) {
    Reader r;
    r.source.logs[u"System"] = log;
    r.list.push_back(kOldRow);
    EXPECT_EQ(r.Read(c.date, c.time), 0) << c.name;
    EXPECT_EQ(r.Ids(), c.ids) << c.name;
    EXPECT_TRUE(r.boxes.shown.empty()) << c.name;
  }
}

TEST(ReadEventLogRows, OpensTheNamedLogOfTheComputer) {
  Reader r;
  r.source.logs[u"Security"] = {Record(1, kBase)};
  r.Read(u"", u"", u"Security");
  ASSERT_EQ(r.source.opened.size(), 1u);
  EXPECT_EQ(r.source.opened[0], (std::pair<std::u16string, std::u16string>(u"MYPC", u"Security")));
  EXPECT_EQ(r.Ids(), std::vector<std::u16string>{u"1001"});
}

TEST(ReadEventLogRows, AnEmptyLogGivesNoRowsAndNoMessage) {
  Reader empty;
  empty.source.logs[u"System"] = {};
  empty.list.push_back(kOldRow);
  EXPECT_EQ(empty.Read(u"", u""), 0);
  EXPECT_TRUE(empty.list.empty());
  EXPECT_TRUE(empty.boxes.shown.empty());
}

TEST(ReadEventLogRows, ALogThatCannotBeOpenedIsToldWithItsNameAndTheRemedy) {
  struct Case {
    std::u16string log;
    std::uint32_t code;
    std::u16string systemText, message;
  };
  const std::vector<Case> cases = {
      {u"Security", 5, u"アクセスが拒否されました。",
       u"OpenEventLog function fails.\r\nErrNumber = 0x00000005\r\nアクセスが拒否されました。"
       u"\r\nイベントログ: Security\r\nサービスとして実行するか、実行するアカウントを Event "
       u"Log Readers グループに追加してください。"},
      {u"System", 1722, u"RPC サーバーを利用できません。",
       u"OpenEventLog function fails.\r\nErrNumber = 0x000006BA\r\nRPC "
       u"サーバーを利用できません。\r\nイベントログ: System"},
  };
  for (const Case& c : cases) {
    Reader r;
    r.source.openError = c.code;
    r.tables.systemTexts[c.code] = c.systemText;
    r.list.push_back(kOldRow);
    EXPECT_EQ(r.Read(u"", u"", c.log), 0);
    EXPECT_TRUE(r.list.empty());
    ASSERT_EQ(r.boxes.shown.size(), 1u);
    EXPECT_EQ(r.boxes.shown[0].text, c.message);
    EXPECT_EQ(r.boxes.shown[0].icon, MessageIcon::Exclamation);
  }
}

TEST(ReadEventLogRows, ReadFailureKeepsRowsAndShowsTheCode) {
  struct Case {
    std::uint32_t code;
    std::u16string systemText, message;
  };
  const std::vector<Case> cases = {
      {5, u"アクセスが拒否されました。",
       u"ReadEventLog function fails.\r\nErrNumber = 0x00000005\r\nアクセスが拒否されました。"
       u"\r\nイベントログ: System\r\nサービスとして実行するか、実行するアカウントを Event Log "
       u"Readers グループに追加してください。"},
      {0xC000013A, u"",
       u"ReadEventLog function fails.\r\nErrNumber = 0xC000013A\r\n\r\nイベントログ: System"},
      {1500, u"イベント ログ ファイルが壊れています。",
       u"ReadEventLog function fails.\r\nErrNumber = 0x000005DC\r\nイベント ログ "
       u"ファイルが壊れています。\r\nイベントログ: System"},
  };
  for (const Case& c : cases) {
    Reader r;
    r.source.logs[u"System"] = {Record(3, kBase + 2), Record(2, kBase + 1), Record(1, kBase)};
    r.source.failAt = 2;
    r.source.failCode = c.code;
    r.tables.systemTexts[c.code] = c.systemText;
    EXPECT_EQ(r.Read(u"", u""), 0);
    EXPECT_EQ(r.Ids(), (std::vector<std::u16string>{u"1003", u"1002"}));
    ASSERT_EQ(r.boxes.shown.size(), 1u);
    EXPECT_EQ(r.boxes.shown[0].text, c.message);
    EXPECT_EQ(r.boxes.shown[0].icon, MessageIcon::Exclamation);
  }
}

TEST(ReadEventLogRows, CategoryTexts) {
  Reader r;
  r.tables.files[u"Disk"] = u"disk.dll";
  r.tables.files[u"Net"] = u"net.dll";
  r.tables.files[u"Nothing"] = u"";
  r.tables.messages[{u"disk.dll", 1}] = u"ディスク\r\n";
  r.tables.messages[{u"disk.dll", 2}] = u"A\r\n\r\n";
  r.tables.messages[{u"disk.dll", 3}] = u"  Two\r\nLines \r\n";
  r.tables.messages[{u"disk.dll", 4}] = u"\r\n";
  r.tables.messages[{u"net.dll", 1}] = u"ネット";
  // Sources and categories interleave, so remembered texts must not mix.
  r.source.logs[u"System"] = {
      Record(9, kBase, u"Disk", 1), Record(8, kBase, u"Net", 1),     Record(7, kBase, u"Disk", 2),
      Record(6, kBase, u"Disk", 1), Record(5, kBase, u"Disk", 3),    Record(4, kBase, u"Disk", 4),
      Record(3, kBase, u"Disk", 5), Record(2, kBase, u"Nothing", 1), Record(1, kBase, u"Other", 1)};
  r.Read(u"", u"");
  std::vector<std::u16string> categories;
  for (const EventRow& row : r.list) categories.push_back(row.category);
  EXPECT_EQ(categories, (std::vector<std::u16string>{u"ディスク", u"ネット", u"A", u"ディスク",
                                                     u"TwoLines", u"", u"なし", u"なし", u"なし"}));
}

TEST(ReadEventLogRows, UserTexts) {
  const Bytes system = MakeSid(5, {18});
  const Bytes admin = MakeSid(5, {21, 3000000000u, 2, 3, 500});
  const Bytes deleted = MakeSid(5, {21, 4294967295u, 2147483648u, 7, 1107});
  Reader r;
  r.accounts.Add(system, u"SYSTEM");
  r.accounts.Add(admin, u" Administrator ");
  std::vector<Bytes> log;
  const std::vector<Bytes> sids = {system, deleted, {}, admin, system, deleted};
  for (std::size_t i = 0; i < sids.size(); ++i) {
    RecordRecipe recipe;
    recipe.number = static_cast<std::uint32_t>(sids.size() - i);
    recipe.sid = sids[i];
    log.push_back(BuildRecord(recipe));
  }
  r.source.logs[u"System"] = log;
  r.Read(u"", u"");
  std::vector<std::u16string> users;
  for (const EventRow& row : r.list) users.push_back(row.user);
  EXPECT_EQ(users, (std::vector<std::u16string>{u"SYSTEM", u"S-1-5-21-4294967295-2147483648-7-1107",
                                                u"N/A", u"Administrator", u"SYSTEM",
                                                u"S-1-5-21-4294967295-2147483648-7-1107"}));
}

// The stamp is the machine's local time, the records UTC: a record is listed
// when it was written at or after the stamp's moment, in any zone, and is
// still shown in Japan time.
TEST(ReadEventLogRows, StampAndRecordsMeetOnOneClock) {
  constexpr std::uint32_t kNoonUtc = 1088251200;  // 2004-06-26 12:00:00 UTC
  const std::vector<Bytes> log = {Record(3, kNoonUtc + 1), Record(2, kNoonUtc),
                                  Record(1, kNoonUtc - 1)};
  struct Case {
    const char* zone;
    std::int64_t offset;
    const char16_t* stampTime;  // local time of noon UTC on 2004/06/26
  } cases[] = {
      {"Japan", 9 * 3600, u"21:00:00"},
      {"UTC", 0, u"12:00:00"},
      {"New York (summer)", -4 * 3600, u"08:00:00"},
      {"Kathmandu", 5 * 3600 + 45 * 60, u"17:45:00"},
  };
  for (const Case& c : cases) {
    Reader r;
    r.source.logs[u"System"] = log;
    FixedOffsetZone zone(c.offset);
    EventLogContext context{r.source, r.accounts, r.tables, r.boxes, zone};
    ReadEventLogRows(r.list, u"System", u"MYPC", u"2004/06/26", c.stampTime, context);
    EXPECT_EQ(r.Ids(), (std::vector<std::u16string>{u"1003", u"1002"})) << c.zone;
    ASSERT_FALSE(r.list.empty());
    EXPECT_EQ(r.list.back().date + u" " + r.list.back().time, u"2004/06/26 21:00:00") << c.zone;
  }
}

}  // namespace
}  // namespace zkq
