#include "rules/matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace zkq {
namespace {

MonitoringRule Rule(std::u16string target, std::u16string type, std::u16string source,
                    std::u16string category, std::u16string id) {
  MonitoringRule r;
  r.target = std::move(target);
  r.eventType = std::move(type);
  r.source = std::move(source);
  r.category = std::move(category);
  r.eventId = std::move(id);
  return r;
}

EventRow Row(std::u16string type, std::u16string source, std::u16string category,
             std::u16string id) {
  return EventRow{std::move(type),     u"2026/12/08", u"10:03:00", std::move(source),
                  std::move(category), std::move(id), u"SYSTEM",   u"HOST"};
}

// A row whose columns are views, as a streaming reader hands them out.
struct ViewRow {
  std::u16string_view type, date, time, source, category, eventId, user, computer;
};

TEST(Matching, WhichRowsPassWhateverTheOrderOfTheRules) {
  struct Case {
    const char* name;
    std::vector<MonitoringRule> rules;
    EventRow row;
    bool passes;
  };
  // clang-format off
  const Case cases[] = {
      {"no rules", {}, Row(u"エラー", u"Disk", u"なし", u"7"), false},
      {"error with any source", {Rule(u"対象", u"エラー", u"*", u"*", u"*")},
       Row(u"エラー", u"Disk", u"なし", u"7"), true},
      {"source * ignores the fields after it", {Rule(u"対象", u"エラー", u"*", u"X", u"99")},
       Row(u"エラー", u"Disk", u"なし", u"7"), true},
      {"category * ignores the event ID", {Rule(u"対象", u"エラー", u"Disk", u"*", u"99")},
       Row(u"エラー", u"Disk", u"なし", u"7"), true},
      {"category * still needs the source", {Rule(u"対象", u"エラー", u"Disk", u"*", u"*")},
       Row(u"エラー", u"Tcpip", u"なし", u"7"), false},
      {"event ID * still needs the category", {Rule(u"対象", u"エラー", u"Disk", u"なし", u"*")},
       Row(u"エラー", u"Disk", u"(2)", u"7"), false},
      {"all fields equal", {Rule(u"対象", u"警告", u"Disk", u"なし", u"7")},
       Row(u"警告", u"Disk", u"なし", u"7"), true},
      {"event ID differs", {Rule(u"対象", u"警告", u"Disk", u"なし", u"7")},
       Row(u"警告", u"Disk", u"なし", u"70"), false},
      {"other type", {Rule(u"対象", u"エラー", u"*", u"*", u"*")},
       Row(u"警告", u"Disk", u"なし", u"7"), false},
      {"type has no wildcard", {Rule(u"対象", u"*", u"*", u"*", u"*")},
       Row(u"エラー", u"Disk", u"なし", u"7"), false},
      {"a star inside a text is no wildcard", {Rule(u"対象", u"エラー", u"Di*", u"*", u"*")},
       Row(u"エラー", u"Disk", u"なし", u"7"), false},
      {"letter case counts", {Rule(u"対象", u"情報", u"disk", u"*", u"*")},
       Row(u"情報", u"Disk", u"なし", u"7"), false},
      {"no trimming when matching", {Rule(u"対象", u"情報", u"Disk ", u"*", u"*")},
       Row(u"情報", u"Disk", u"なし", u"7"), false},
      {"an empty field equals an empty field", {Rule(u"対象", u"", u"", u"", u"")},
       Row(u"", u"", u"", u""), true},
      {"an empty field equals nothing else", {Rule(u"対象", u"情報", u"", u"*", u"*")},
       Row(u"情報", u"Disk", u"なし", u"7"), false},
      {"another target is inert as include", {Rule(u"監視", u"エラー", u"*", u"*", u"*")},
       Row(u"エラー", u"Disk", u"なし", u"7"), false},
      {"another target is inert as exclude",
       {Rule(u"対象", u"エラー", u"*", u"*", u"*"), Rule(u"除外 ", u"エラー", u"*", u"*", u"*")},
       Row(u"エラー", u"Disk", u"なし", u"7"), true},
      {"an exclude rule alone passes nothing", {Rule(u"除外", u"エラー", u"*", u"*", u"*")},
       Row(u"エラー", u"Disk", u"なし", u"7"), false},
      {"excluded category of an included source",
       {Rule(u"対象", u"エラー", u"A", u"*", u"*"), Rule(u"除外", u"エラー", u"A", u"B", u"*")},
       Row(u"エラー", u"A", u"B", u"1"), false},
      {"other category of an included source",
       {Rule(u"対象", u"エラー", u"A", u"*", u"*"), Rule(u"除外", u"エラー", u"A", u"B", u"*")},
       Row(u"エラー", u"A", u"C", u"1"), true},
      {"exclude covers only its own event ID",
       {Rule(u"対象", u"エラー", u"A", u"*", u"*"), Rule(u"除外", u"エラー", u"A", u"B", u"5")},
       Row(u"エラー", u"A", u"B", u"6"), true},
      {"exclude of another type does not block",
       {Rule(u"対象", u"エラー", u"*", u"*", u"*"), Rule(u"除外", u"警告", u"*", u"*", u"*")},
       Row(u"エラー", u"A", u"B", u"6"), true},
      {"one of several includes is enough",
       {Rule(u"対象", u"エラー", u"X", u"*", u"*"), Rule(u"対象", u"エラー", u"A", u"B", u"6"),
        Rule(u"除外", u"エラー", u"Y", u"*", u"*")},
       Row(u"エラー", u"A", u"B", u"6"), true},
      {"one exclude among includes blocks",
       {Rule(u"対象", u"エラー", u"*", u"*", u"*"), Rule(u"対象", u"エラー", u"A", u"B", u"6"),
        Rule(u"除外", u"エラー", u"A", u"B", u"6")},
       Row(u"エラー", u"A", u"B", u"6"), false},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::size_t> order(c.rules.size());
    std::iota(order.begin(), order.end(), 0);
    do {
      std::vector<MonitoringRule> rules;
      for (const auto i : order) rules.push_back(c.rules[i]);
      EXPECT_EQ(RowPasses(rules, c.row), c.passes);
      const ViewRow view{c.row.type,     c.row.date,    c.row.time, c.row.source,
                         c.row.category, c.row.eventId, c.row.user, c.row.computer};
      EXPECT_EQ(RowPasses(rules, view), c.passes);
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

TEST(Matching, MatchEventsReplacesTheMatchesKeepingTheRowOrder) {
  const std::vector<MonitoringRule> rules = {Rule(u"対象", u"エラー", u"*", u"*", u"*"),
                                             Rule(u"除外", u"エラー", u"Noisy", u"*", u"*")};
  const EventList events = {Row(u"エラー", u"B", u"なし", u"2"), Row(u"警告", u"B", u"なし", u"3"),
                            Row(u"エラー", u"Noisy", u"なし", u"4"),
                            Row(u"エラー", u"A", u"なし", u"1")};
  EventList matches = {Row(u"情報", u"left over", u"なし", u"9")};
  MatchEvents(rules, events, matches);
  EXPECT_EQ(matches, (EventList{events[0], events[3]}));

  MatchEvents(rules, EventList{}, matches);
  EXPECT_TRUE(matches.empty());
}

TEST(Matching, AddEventRowAppendsAllEightColumns) {
  EventList list = {Row(u"情報", u"first", u"なし", u"1")};
  const EventRow row{u"失敗", u"2026/01/02", u"03:04:05", u"Security", u"ログオン/ログオフ",
                     u"529",  u"S-1-5-21-1", u"PC"};
  AddEventRow(list, row);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1], row);
}

TEST(AlertText, LinePadsOrCutsTheTypeToSixCharacters) {
  struct Case {
    std::u16string type;
    std::u16string line;
  };
  const Case cases[] = {
      {u"エラー", u"エラー    2026/12/08 10:03:00 Disk なし 7 SYSTEM HOST\r\n"},
      {u"情報", u"情報     2026/12/08 10:03:00 Disk なし 7 SYSTEM HOST\r\n"},
      {u"", u"       2026/12/08 10:03:00 Disk なし 7 SYSTEM HOST\r\n"},
      {u"ABCDEF", u"ABCDEF 2026/12/08 10:03:00 Disk なし 7 SYSTEM HOST\r\n"},
      {u"ABCDEFGH", u"ABCDEF 2026/12/08 10:03:00 Disk なし 7 SYSTEM HOST\r\n"},
      {u"監査の成功です", u"監査の成功で 2026/12/08 10:03:00 Disk なし 7 SYSTEM HOST\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line.size()));
    const EventRow row = Row(c.type, u"Disk", u"なし", u"7");
    std::u16string text = u"before\r\n";
    AppendAlertLine(text, row);
    EXPECT_EQ(text, u"before\r\n" + c.line);
    const ViewRow view{row.type,     row.date,    row.time, row.source,
                       row.category, row.eventId, row.user, row.computer};
    std::u16string fromView;
    AppendAlertLine(fromView, view);
    EXPECT_EQ(fromView, c.line);
  }
}

TEST(AlertText, EmptyFieldsKeepTheirSeparatingBlanks) {
  std::u16string text;
  AppendAlertLine(text, EventRow{u"警告", u"2026/12/08", u"10:03:00", u"", u"", u"", u"", u""});
  EXPECT_EQ(text, u"警告     2026/12/08 10:03:00     \r\n");
}

TEST(AlertText, SectionsOfACycleWithMatchesInSystemAndApplication) {
  RuleSet rules;
  rules[RuleLog::System] = {Rule(u"対象", u"エラー", u"*", u"*", u"*")};
  rules[RuleLog::Security] = {Rule(u"対象", u"失敗", u"*", u"*", u"*")};
  rules[RuleLog::Application] = {Rule(u"対象", u"情報", u"*", u"*", u"*"),
                                 Rule(u"除外", u"情報", u"zkQuorvane", u"*", u"*")};
  EventList logs[3] = {
      {EventRow{u"エラー", u"2026/12/08", u"10:03:00", u"Service Control Manager", u"なし", u"7034",
                u"N/A", u"HOST"},
       EventRow{u"情報", u"2026/12/08", u"10:04:00", u"EventLog", u"なし", u"6005", u"N/A",
                u"HOST"},
       EventRow{u"エラー", u"2026/12/08", u"10:05:00", u"Disk", u"なし", u"11", u"N/A", u"HOST"}},
      {EventRow{u"成功", u"2026/12/08", u"10:03:30", u"Security", u"ログオン/ログオフ", u"528",
                u"admin", u"HOST"}},
      {EventRow{u"情報", u"2026/12/08", u"10:06:00", u"zkQuorvane", u"なし", u"1", u"N/A", u"HOST"},
       EventRow{u"情報", u"2026/12/08", u"10:07:00", u"MsiInstaller", u"なし", u"11707", u"admin",
                u"HOST"}},
  };
  const auto cycle = [&] {
    std::u16string alertText;
    EventList matches;
    for (const auto& log : kAlertLogs) {
      MatchEvents(rules[log.rules], logs[static_cast<int>(log.rules)], matches);
      AppendAlertSection(alertText, log.displayName, matches);
    }
    return alertText;
  };
  const std::u16string system =
      u"［システム］\r\n"
      u"エラー    2026/12/08 10:03:00 Service Control Manager なし 7034 N/A HOST\r\n"
      u"エラー    2026/12/08 10:05:00 Disk なし 11 N/A HOST\r\n";
  const std::u16string application =
      u"［アプリケーション］\r\n"
      u"情報     2026/12/08 10:07:00 MsiInstaller なし 11707 admin HOST\r\n";
  EXPECT_EQ(cycle(), system + application);

  logs[1][0].type = u"失敗";
  EXPECT_EQ(cycle(),
            system +
                u"［セキュリティ］\r\n"
                u"失敗     2026/12/08 10:03:30 Security ログオン/ログオフ 528 admin HOST\r\n" +
                application);
}

TEST(AlertText, EmptyMatchesAddNoSection) {
  std::u16string alertText = u"［システム］\r\n";
  AppendAlertSection(alertText, u"セキュリティ", EventList{});
  EXPECT_EQ(alertText, u"［システム］\r\n");
}

}  // namespace
}  // namespace zkq
