// The monitoring without any window, as the service mode drives it.
#include "app/monitor.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "eventlog/no_lookups.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;

class FixedClock : public Clock {
 public:
  DateTime Now() override { return now; }
  std::u16string ShortDate(const DateTime& t) override { return FormatDate(t); }
  std::u16string LongTime(const DateTime& t) override { return FormatTime(t); }
  DateTime now{2026, 12, 8, 10, 0, 0};
};

// Logs from a folder that holds none: each reads as empty.
class RecordingLogSources : public LogSources {
 public:
  EventLogSource& For(const fs::path& folder) override {
    folders.push_back(folder);
    return empty;
  }
  EvtFileSource empty{"/nonexistent-zkq-logs"};
  std::vector<fs::path> folders;
};

class OneServiceRule : public RulesSource {
 public:
  void Load(const fs::path& rulesFile, RuleSet& rules, MessageBoxes&) override {
    loadedFrom = rulesFile;
    MonitoringRule rule;
    rule.log = RuleLog::Service;
    rule.serviceName = u"Spooler";
    rule.state = u"開始";
    rules[RuleLog::Service] = {rule};
  }
  fs::path loadedFrom;
};

class StoppedSpooler : public ServiceCheck {
 public:
  void Check(const std::vector<MonitoringRule>& rules, std::u16string_view,
             std::u16string& alertText) override {
    if (!rules.empty()) alertText += u"［サービス］\r\nSpooler  停止\r\n";
  }
};

class Sender : public AlertSender {
 public:
  bool Send(const AlertMail& mail) override {
    sent.push_back(mail);
    if (during) during();
    return true;
  }
  std::vector<AlertMail> sent;
  std::function<void()> during;
};

class RecordingView : public MonitorView {
 public:
  void ShowStatus(const std::u16string& text) override { statuses.push_back(text); }
  void ShowRunState(bool r) override { running = r; }
  void EnableCheckTimer(bool e) override { timer = e; }
  void ShowStamp(const std::u16string& s) override { stamp = s; }
  void ShowReadRows(const EventList&) override { ++readRows; }
  void ShowMatchedRows(const EventList&) override {}
  MailFields CurrentMailFields() override {
    return {u"smtp.example.jp", u"25", u"from@example.jp", u"to@example.jp", u"監視警告"};
  }
  std::vector<std::u16string> statuses;
  std::u16string stamp;
  bool running = false, timer = false;
  int readRows = 0;
};

struct World {
  World() {
    settings.Interval = u"2";
    settings.Rules = u"rules.txt";
    settings.EventLogDir = u"logs";
    monitor.emplace(MonitorPorts{clock, boxes, file, logs, rules, accounts, zone, tables, sender,
                                 services},
                    view, folder.Path(), settings, std::int16_t{1});
    monitor->SetComputerName(u"HOST");
  }
  test_support::ScratchFolder folder{"zkq-monitor-"};
  test_support::RecordingBoxes boxes;
  FixedClock clock;
  SettingsFile file{folder.Path() / "zkQuorvane.ini", boxes};
  RecordingLogSources logs;
  OneServiceRule rules;
  NoAccountNames accounts;
  FixedOffsetZone zone{9 * 3600};
  NoMessageTables tables;
  Sender sender;
  StoppedSpooler services;
  RecordingView view;
  Settings settings;
  std::optional<Monitor> monitor;
};

TEST(Monitor, CyclesAndMailsWithoutAWindow) {
  World w;
  Monitor& m = *w.monitor;
  m.LoadRules(w.boxes);
  EXPECT_EQ(w.rules.loadedFrom, w.folder.Path() / "rules.txt");
  m.StampNow();
  EXPECT_EQ(w.file.ReadIniString(kSettingsSection, u"TimeStamp"), u"10:00:00");

  m.Tick();  // not running: nothing counts down
  m.Start();
  EXPECT_TRUE(w.view.running && w.view.timer);
  m.Tick();  // the countdown of one minute
  EXPECT_TRUE(w.sender.sent.empty());

  w.clock.now = {2026, 12, 8, 10, 2, 0};
  m.Tick();
  ASSERT_EQ(w.logs.folders.size(), 1u);
  EXPECT_EQ(w.logs.folders[0], w.folder.Path() / "logs");
  EXPECT_EQ(w.view.readRows, 3);
  ASSERT_EQ(w.sender.sent.size(), 1u);
  EXPECT_EQ(w.sender.sent[0].subject, u"監視警告 - HOST");
  EXPECT_EQ(w.sender.sent[0].server, u"smtp.example.jp");
  EXPECT_EQ(w.sender.sent[0].body, u"［サービス］\r\nSpooler  停止\r\n");
  EXPECT_EQ(w.view.statuses.back(), u"メール送信を完了しました。[2026/12/08 10:02:00]");
  EXPECT_EQ(m.Countdown(), 1);
  EXPECT_TRUE(m.AlertText().empty());
  EXPECT_EQ(w.file.ReadIniString(kSettingsSection, u"TimeStamp"), u"10:02:00");
  EXPECT_TRUE(w.boxes.shown.empty());
}

TEST(Monitor, AStopDuringTheMailEndsEverythingAfterIt) {
  World w;
  Monitor& m = *w.monitor;
  m.LoadRules(w.boxes);
  m.Start();
  m.Tick();
  // A tick that arrives while the mail is open starts nothing, and the
  // program's end, asked for meanwhile, leaves no status behind.
  w.sender.during = [&] {
    EXPECT_TRUE(m.Busy());
    m.Tick();
    m.End();
  };
  const std::size_t statuses = w.view.statuses.size();
  m.Tick();
  EXPECT_EQ(w.sender.sent.size(), 1u);
  EXPECT_EQ(w.view.statuses.size(), statuses);
  EXPECT_FALSE(m.Busy());
  m.Send();
  EXPECT_EQ(w.sender.sent.size(), 1u);
}

// The live logs of a machine where the account may not read the Security log.
class SecurityRefused : public LogSources, public EventLogSource {
 public:
  EventLogSource& For(const fs::path&) override { return *this; }
  std::unique_ptr<EventLog> Open(std::u16string_view, std::u16string_view logName,
                                 std::uint32_t& error) override {
    if (logName == u"Security" && refused) {
      error = 5;
      return nullptr;
    }
    return EmptyEventLog();
  }
  bool refused = true;
};

TEST(Monitor, ALogThatCannotBeOpenedIsNoAllClearAndIsToldOnceUntilItReadsAgain) {
  World w;
  SecurityRefused logs;
  Monitor m(MonitorPorts{w.clock, w.boxes, w.file, logs, w.rules, w.accounts, w.zone, w.tables,
                         w.sender, w.services},
            w.view, w.folder.Path(), w.settings, std::int16_t{0});
  m.Start();
  const std::u16string unreadable =
      u"監視処理でイベントログを読み込めませんでした。[2026/12/08 10:00:00]";
  for (const bool refused : {true, true, false, true}) {
    logs.refused = refused;
    m.Tick();
    m.Tick();
    EXPECT_EQ(
        w.view.statuses.back(),
        refused ? unreadable : u"監視処理を実行しましたが異常はありません。[2026/12/08 10:00:00]");
  }
  // The first refusal and the one after the log had read again; never a mail.
  ASSERT_EQ(w.boxes.shown.size(), 2u);
  for (const auto& box : w.boxes.shown) {
    EXPECT_NE(box.text.find(u"OpenEventLog function fails.\r\nErrNumber = 0x00000005"),
              std::u16string::npos);
    EXPECT_NE(box.text.find(u"イベントログ: Security"), std::u16string::npos);
    EXPECT_NE(box.text.find(u"Event Log Readers"), std::u16string::npos);
  }
  EXPECT_TRUE(w.sender.sent.empty());
}

}  // namespace
}  // namespace zkq
