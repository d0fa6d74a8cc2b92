// The monitoring without any window, as the service mode drives it.
#include "app/monitor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "eventlog/evt_builder.h"
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

// Logs that hold no records.
class EmptyLogs : public EventLogSource {
 public:
  std::unique_ptr<EventLog> Open(std::u16string_view, std::u16string_view,
                                 std::uint32_t&) override {
    return EmptyEventLog();
  }
};

class RecordingLogSources : public LogSources {
 public:
  EventLogSource& For(const fs::path& folder) override {
    folders.push_back(folder);
    return empty;
  }
  EmptyLogs empty;
  std::vector<fs::path> folders;
};

class OneServiceRule : public RulesSource {
 public:
  bool Load(const fs::path& rulesFile, RuleSet& rules, MessageBoxes& boxes) override {
    loadedFrom = rulesFile;
    MonitoringRule rule;
    rule.log = RuleLog::Service;
    rule.serviceName = u"Spooler";
    rule.state = u"開始";
    rules[RuleLog::Service] = {rule};
    if (fails) boxes.Show(u"rules unreadable", MessageIcon::Exclamation);
    return !fails;
  }
  fs::path loadedFrom;
  bool fails = false;
};

class StoppedSpooler : public ServiceCheck {
 public:
  std::u16string Check(const std::vector<MonitoringRule>& rules, std::u16string_view,
                       std::u16string& alertText) override {
    if (!failure.empty()) {
      alertText += u"［サービス］\r\n" + failure + u"\r\n";
      return failure;
    }
    if (!rules.empty() && stopped) alertText += u"［サービス］\r\nSpooler  停止\r\n";
    return u"";
  }
  bool stopped = true;
  std::u16string failure;
};

// Stamps its mails with the clock's moment; answers every send with result.
class Sender : public AlertSender {
 public:
  explicit Sender(FixedClock& clock) : clock_(clock) {}
  MessageStamp Stamp() override { return {clock_.now, 540, u"HOST", ++stamps}; }
  SendOutcome Send(const AlertMail& mail, const KeptMail& message) override {
    sent.push_back(mail);
    messages.push_back(message.messageText);
    if (during) during();
    return sent.size() <= script.size() ? script[sent.size() - 1] : result;
  }
  std::vector<AlertMail> sent;
  std::vector<std::string> messages;
  std::function<void()> during;
  SendResult result = SendResult::Sent;
  std::vector<SendOutcome> script;  // the answers to the first sends, then result
  std::uint64_t stamps = 0;

 private:
  FixedClock& clock_;
};

// Writes without waiting for the disk; fails every write while asked to.
class QuickFiles : public FileCalls {
 public:
  bool Write(std::FILE* file, std::string_view bytes) override {
    return !failWrites && FileCalls::Write(file, bytes);
  }
  bool Flush(std::FILE* file) override { return std::fflush(file) == 0; }
  bool failWrites = false;
};

class RecordingView : public MonitorView {
 public:
  void ShowStatus(const std::u16string& text) override { statuses.push_back(text); }
  void ShowRunState(bool r) override { running = r; }
  void EnableCheckTimer(bool e) override { timer = e; }
  void ShowStamp(const std::u16string& s) override { stamp = s; }
  void ShowReadRows(const EventList& rows) override {
    ++readRows;
    if (!rows.empty()) readLists.emplace_back(rows.size(), rows.front().recordNumber);
  }
  std::vector<std::pair<std::size_t, std::uint64_t>> readLists;  // size, first record
  void ShowMatchedRows(const EventList&) override {}
  MailFields CurrentMailFields() override {
    return {u"smtp.example.jp", u"25", u"from@example.jp", to, u"監視警告"};
  }
  std::u16string to = u"to@example.jp";
  void ShowKeptMails(std::size_t count) override { kept = count; }
  std::size_t kept = 0;
  std::vector<std::u16string> statuses;
  std::u16string stamp;
  bool running = false, timer = false;
  int readRows = 0;
};

// A status without the folder the logs were read from, which every status names.
std::u16string Shown(const std::u16string& status) {
  const std::size_t at = status.find(u" (ファイル: ");
  if (at == std::u16string::npos) return status;
  return status.substr(0, at) + status.substr(status.find(u')', at) + 1);
}

struct World {
  World() {
    settings.Interval.assign(1, u'2');  // GCC 12 warns falsely on "= u\"2\""
    settings.Rules = u"rules.txt";
    settings.EventLogDir = u"logs";
    settings.SmtpSecurity = u"StartTls";
    settings.SmtpUser = u"alice";
    settings.SmtpPassword = u"s3cret";
    Restart();
  }
  // A new program over the same folder (and outbox).
  void Restart() {
    monitor.reset();
    monitor.emplace(MonitorPorts{clock, boxes, file, logs, rules, accounts, zone, tables, sender,
                                 services, outbox},
                    view, folder.Path(), settings, std::int16_t{1});
    monitor->SetComputerName(u"HOST");
    monitor->LoadRules(boxes);
  }
  // One cycle a minute later.
  void Cycle() {
    clock.now = DateTime::FromSeconds(clock.now.ToSeconds() + 60);
    while (monitor->Countdown() > 0) monitor->Tick();
    monitor->Tick();
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
  Sender sender{clock};
  StoppedSpooler services;
  QuickFiles calls;
  FileOutbox outbox{folder.Path() / "outbox", calls};
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
  ASSERT_EQ(w.logs.folders.size(), 2u);  // the start-up's bookmarks, then the cycle
  EXPECT_EQ(w.logs.folders[1], w.folder.Path() / "logs");
  EXPECT_EQ(w.view.readRows, 3);
  ASSERT_EQ(w.sender.sent.size(), 1u);
  EXPECT_EQ(w.sender.sent[0].subject, u"監視警告 - HOST");
  EXPECT_EQ(w.sender.sent[0].server, u"smtp.example.jp");
  // The login comes from the settings, which the main window does not show.
  EXPECT_EQ(w.sender.sent[0].security + w.sender.sent[0].user + w.sender.sent[0].password,
            u"StartTlsalices3cret");
  EXPECT_EQ(w.sender.sent[0].body, u"［サービス］\r\nSpooler  停止\r\n");
  EXPECT_EQ(Shown(w.view.statuses.back()), u"メール送信を完了しました。[2026/12/08 10:02:00]");
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

// Only a server's acceptance after the data takes an alert out of the outbox.
TEST(MonitorOutbox, AnAlertLeavesTheOutboxOnlyWhenAccepted) {
  const std::u16string failed = u"メール送信に失敗しました。[2026/12/08 10:01:00] 未送信 1 件";
  const struct {
    SendResult result;
    bool stopDuringSend;
    std::size_t kept;
    std::u16string status;
  } cases[] = {
      {SendResult::Sent, false, 0, u"メール送信を完了しました。[2026/12/08 10:01:00]"},
      {SendResult::MailRefused, false, 1, failed},    // 451 after the data
      {SendResult::NoOutcome, false, 1, failed},      // time-out
      {SendResult::ConnectFailed, false, 1, failed},  // connection refused
      {SendResult::NoOutcome, true, 1, u""},          // service stop or shutdown
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToInt(c.result));
    World w;
    w.sender.result = c.result;
    if (c.stopDuringSend) w.sender.during = [&] { w.monitor->End(); };
    w.monitor->Start();
    const std::size_t statuses = w.view.statuses.size();
    w.Cycle();
    EXPECT_EQ(w.outbox.List().size(), c.kept);
    if (c.stopDuringSend) {
      EXPECT_EQ(w.view.statuses.size(), statuses);
    } else {
      EXPECT_EQ(Shown(w.view.statuses.back()), c.status);
      EXPECT_EQ(w.view.kept, c.kept);
    }
  }
}

// A kept alert whose data the server refuses (too large, say) does not hold
// back the alerts after it; two refusals in a row end the round.
TEST(MonitorOutbox, AMailTheServerRefusesHoldsBackNoOther) {
  const KeptMail refused{"Subject: A\r\n\r\n", u"from@example.jp", u"to@example.jp"};
  const KeptMail next{"Subject: B\r\n\r\n", u"from@example.jp", u"to@example.jp"};
  const struct {
    std::vector<SendOutcome> answers;
    std::size_t tried, kept;
    std::u16string status;
  } cases[] = {
      {{SendResult::MailRefused}, 3, 1, u"メール送信を完了しました。[2026/12/08 10:01:00] 未送信 1 件"},
      {{SendResult::MailRefused, SendResult::MailRefused}, 2, 3,
       u"メール送信に失敗しました。[2026/12/08 10:01:00] 未送信 3 件"},
      {{SendResult::ConnectFailed}, 1, 3,
       u"メール送信に失敗しました。[2026/12/08 10:01:00] 未送信 3 件"},
  };
  for (const auto& c : cases) {
    World w;
    w.outbox.Add(refused, {2026, 12, 8, 9, 0, 0});
    w.outbox.Add(next, {2026, 12, 8, 9, 30, 0});
    w.sender.script = c.answers;
    w.monitor->Start();
    w.Cycle();
    EXPECT_EQ(w.sender.messages.size(), c.tried);
    EXPECT_EQ(w.outbox.List().size(), c.kept);
    EXPECT_EQ(Shown(w.view.statuses.back()), c.status);
    EXPECT_EQ(w.outbox.Read(w.outbox.List().front())->messageText, refused.messageText);
  }
}

// The server is down for two cycles and the program restarts in between;
// then each alert goes once, oldest first, with the Date of its composition.
TEST(MonitorOutbox, KeptAlertsGoOnceInOrderAcrossARestart) {
  World w;
  w.sender.result = SendResult::ConnectFailed;
  w.monitor->Start();
  w.Cycle();
  w.Restart();
  w.monitor->Start();
  EXPECT_EQ(Shown(w.view.statuses.back()), u"稼動開始。[2026/12/08 10:01:00] 未送信 1 件");
  w.Cycle();  // the kept one fails again: the new one is kept, not tried
  ASSERT_EQ(w.sender.messages.size(), 2u);
  EXPECT_EQ(w.sender.messages[1], w.sender.messages[0]);
  EXPECT_EQ(Shown(w.view.statuses.back()), u"メール送信に失敗しました。[2026/12/08 10:02:00] 未送信 2 件");
  w.monitor->Send();  // the send button's mail waits behind them, and is not kept
  EXPECT_EQ(w.sender.messages.size(), 3u);
  EXPECT_EQ(w.outbox.List().size(), 2u);

  w.sender.result = SendResult::Sent;
  w.services.stopped = false;
  w.Cycle();
  ASSERT_EQ(w.sender.messages.size(), 5u);
  EXPECT_EQ(w.sender.messages[3], w.sender.messages[0]);
  EXPECT_NE(w.sender.messages[3].find("2026 10:01:00 +0900\r\n"), std::string::npos);
  EXPECT_NE(w.sender.messages[4].find("2026 10:02:00 +0900\r\n"), std::string::npos);
  EXPECT_EQ(Shown(w.view.statuses.back()),
            u"監視処理を実行しましたが異常はありません。[2026/12/08 10:03:00]");
  EXPECT_EQ(w.view.kept, 0u);
  w.Cycle();
  EXPECT_EQ(w.sender.messages.size(), 5u);
}

TEST(MonitorOutbox, OldAndSurplusAlertsAreDroppedAndToldOnce) {
  World w;
  w.sender.result = SendResult::ConnectFailed;
  const KeptMail mail{"Subject: kept\r\n\r\n", u"from@example.jp", u"to@example.jp"};
  w.outbox.Add(mail, {2026, 12, 1, 9, 0, 0});  // more than seven days before 10:01 on the 8th
  for (int i = 0; i < 500; ++i) w.outbox.Add(mail, {2026, 12, 8, 9, i / 60, i % 60});
  w.monitor->Start();
  w.Cycle();
  ASSERT_EQ(w.boxes.shown.size(), 2u);
  EXPECT_EQ(w.boxes.shown[0].text,
            u"7日を過ぎても送信できなかった警告メール 1 件を破棄しました。\r\n"
            u"作成日時: 2026/12/01 09:00:00");
  EXPECT_EQ(w.boxes.shown[1].text,
            u"未送信の警告メールが500件を超えたため、古い警告メール 1 件を破棄しました。\r\n"
            u"作成日時: 2026/12/08 09:00:00");
  const std::vector<OutboxEntry> kept = w.outbox.List();
  ASSERT_EQ(kept.size(), 500u);
  EXPECT_EQ(kept.front().created, (DateTime{2026, 12, 8, 9, 0, 1}));
  EXPECT_EQ(kept.back().created, (DateTime{2026, 12, 8, 10, 1, 0}));  // this cycle's alert
  w.services.stopped = false;
  w.Cycle();
  EXPECT_EQ(w.boxes.shown.size(), 2u);

  // An outbox that cannot be written: the alert is tried at once all the
  // same (after the oldest kept one failed), and that is told once.
  w.calls.failWrites = true;
  w.services.stopped = true;
  const std::size_t tries = w.sender.messages.size();
  w.Cycle();
  w.Cycle();
  EXPECT_EQ(w.sender.messages.size(), tries + 4);
  ASSERT_EQ(w.boxes.shown.size(), 3u);
  EXPECT_EQ(w.boxes.shown[2].text,
            u"警告メールを未送信フォルダ（outbox）に保存できませんでした。"
            u"この警告メールは送信に失敗すると失われます。");
  EXPECT_EQ(w.outbox.List().size(), 500u);
}

TEST(MonitorOutbox, TheFileOutboxKeepsEveryByteAndTheOrderOfCreation) {
  test_support::ScratchFolder folder{"zkq-outbox-"};
  const KeptMail mail{std::string("Subject: x\r\n\r\n\x1b$B$\"\x1b(B\r\n.\r\n") + '\0',
                      u"監視@例.jp", u"x@example.jp;y@example.jp"};
  const DateTime second{2026, 12, 8, 10, 0, 0};
  FileOutbox(folder.Path()).Add(mail, second);
  std::ofstream(folder.Path() / "0000000009-20261208-095959.mail.tmp") << "no mail";
  std::ofstream(folder.Path() / "0000000007-20261208-095959.mail") << "no mail either";
  FileOutbox outbox(folder.Path());  // after a restart, within the same second
  EXPECT_FALSE(outbox.Add({"", u"a\r\nb@example.jp", u""}, second));
  ASSERT_TRUE(outbox.Add(mail, second));
  const std::vector<OutboxEntry> entries = outbox.List();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].name, "0000000008-20261208-100000.mail");
  EXPECT_EQ(outbox.Read(entries[0]), mail);
  EXPECT_FALSE(outbox.Read(entries[1]));
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
                         w.sender, w.services, w.outbox},
            w.view, w.folder.Path(), w.settings, std::int16_t{0});
  w.services.stopped = false;
  m.Start();
  // A new failure is mailed once, with the log's section saying so; the same
  // failure again is no all-clear, but mails nothing more.
  const struct {
    bool refused;
    std::u16string status;
    std::size_t mails;
  } cycles[] = {
      {true, u"メール送信を完了しました。[2026/12/08 10:00:00]", 1},
      {true, u"監視処理でイベントログを読み込めませんでした。[2026/12/08 10:00:00]", 1},
      {false, u"監視処理を実行しましたが異常はありません。[2026/12/08 10:00:00]", 1},
      {true, u"メール送信を完了しました。[2026/12/08 10:00:00]", 2},
  };
  for (const auto& c : cycles) {
    logs.refused = c.refused;
    m.Tick();
    m.Tick();
    EXPECT_NE(w.view.statuses.back().find(c.status), std::u16string::npos)
        << ToUtf8(w.view.statuses.back());
    EXPECT_EQ(w.view.statuses.back().starts_with(u"［セキュリティ］※ ログを読めませんでした: "),
              c.refused);
    EXPECT_EQ(w.sender.sent.size(), c.mails);
  }
  // The first refusal and the one after the log had read again.
  ASSERT_EQ(w.boxes.shown.size(), 2u);
  for (const auto& box : w.boxes.shown) {
    EXPECT_NE(box.text.find(u"OpenEventLog function fails.\r\nErrNumber = 0x00000005"),
              std::u16string::npos);
    EXPECT_NE(box.text.find(u"イベントログ: Security"), std::u16string::npos);
    EXPECT_NE(box.text.find(u"Event Log Readers"), std::u16string::npos);
  }
  EXPECT_TRUE(w.sender.sent[0].body.starts_with(
      u"［セキュリティ］\r\n※ ログを読めませんでした: OpenEventLog function fails. ErrNumber = "
      u"0x00000005"));
}

// A rules file that alerts every System error, and the folder for the logs.
void AlertEveryError(const fs::path& folder) {
  const std::string rules = EncodeCp932(u"System;対象;エラー;*;*;*\r\n");
  std::ofstream(folder / "rules.txt", std::ios::binary).write(rules.data(), rules.size());
  fs::create_directories(folder / "logs");
  // The other two logs are there, and empty.
  const Bytes empty = BuildEvtFile(EvtRecipe{});
  for (const char* name : {"Security.evt", "Application.evt"}) {
    std::ofstream(folder / "logs" / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(empty.data()), static_cast<std::streamsize>(empty.size()));
  }
}

// Settings that cycle every minute over rules.txt and the logs folder.
void UseTheFolder(const SettingsFile& file) {
  for (const auto& [key, value] : std::vector<std::pair<const char16_t*, const char16_t*>>{
           {u"Interval", u"1"}, {u"Rules", u"rules.txt"}, {u"EventLogDir", u"logs"}}) {
    file.WriteIniString(kSettingsSection, key, value);
  }
}

// A program started anew over the world's folder and settings file, as the
// window starts it: rules, the start-up stamp, then monitoring.
void StartOver(World& w, LogSources& sources, RulesSource& rules, std::optional<Monitor>& m) {
  std::int16_t countdown = 0;
  m.emplace(MonitorPorts{w.clock, w.boxes, w.file, sources, rules, w.accounts, w.zone, w.tables,
                         w.sender, w.services, w.outbox},
            w.view, w.folder.Path(), LoadSettings(w.file, countdown), std::int16_t{0});
  m->LoadRules(w.boxes);
  m->StampNow();
  m->Start();
}

void WriteSystemLog(const fs::path& folder, const EvtRecipe& recipe) {
  const Bytes bytes = BuildEvtFile(recipe);
  std::ofstream(folder / "logs" / "System.evt", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The monitor over real System.evt files: a restart catches up on what was
// written while it was stopped, once; a stamp set back re-examines from it; a
// cleared log is told in the mail and on the status line.
TEST(Monitor, BookmarksCarryEveryRecordOnceAcrossRestarts) {
  World w;
  w.services.stopped = false;
  AlertEveryError(w.folder.Path());
  // Record n was written n minutes after 09:00 Japan time, the stamp is 10:00.
  const std::int64_t nine = DateTime{2026, 12, 8, 9, 0, 0}.ToSeconds() - 9 * 3600;
  auto writeLog = [&](std::uint32_t from, std::uint32_t to, std::int64_t minutesOffset) {
    EvtRecipe recipe;
    for (std::uint32_t n = from; n <= to; ++n) {
      RecordRecipe r;
      r.number = n;
      r.type = 1;
      r.eventId = static_cast<std::uint32_t>(n + minutesOffset);
      r.timeGenerated = r.timeWritten = static_cast<std::uint32_t>(nine + 60 * (n + minutesOffset));
      recipe.records.push_back(BuildRecord(r));
    }
    WriteSystemLog(w.folder.Path(), recipe);
  };
  RulesFile rulesFile;
  LogSourceChoice sources(w.logs.empty);
  std::optional<Monitor> m;
  auto start = [&] {
    StartOver(w, sources, rulesFile, m);
  };
  auto cycle = [&] {
    const std::size_t before = w.sender.sent.size();
    w.clock.now = DateTime::FromSeconds(w.clock.now.ToSeconds() + 60);
    m->Tick();
    return w.sender.sent.size() == before ? std::u16string() : w.sender.sent.back().body;
  };
  auto line = [](int n) {
    char text[80];
    std::snprintf(text, sizeof text,
                  "エラー    2026/12/08 09:%02d:00 Source なし %d N/A COMPUTER\r\n", n, n);
    return FromUtf8(text);
  };
  UseTheFolder(w.file);

  writeLog(1, 2, 0);
  start();
  EXPECT_EQ(cycle(), u"");  // older than the first stamp
  writeLog(1, 3, 0);
  EXPECT_EQ(cycle(), u"［システム］\r\n" + line(3));  // before the stamp, yet after the bookmark
  EXPECT_EQ(w.file.ReadIniString(kSettingsSection, u"SystemBookmark"),
            FromUtf8(std::to_string(3) + ":" + std::to_string(nine + 180)));
  m->Stop();
  writeLog(1, 5, 0);  // written while stopped
  w.clock.now = DateTime::FromSeconds(w.clock.now.ToSeconds() + 3600);
  start();
  EXPECT_EQ(cycle(), u"［システム］\r\n" + line(5) + line(4));
  EXPECT_EQ(cycle(), u"");
  // The stamp set back by hand: the bookmarks give way to it.
  w.file.WriteIniString(kSettingsSection, u"DateStamp", u"2026/12/08");
  w.file.WriteIniString(kSettingsSection, u"TimeStamp", u"09:04:00");
  EXPECT_EQ(cycle(), u"［システム］\r\n" + line(5) + line(4));
  EXPECT_EQ(cycle(), u"");
  writeLog(1, 1, 20);  // cleared, one record since
  EXPECT_EQ(cycle(), u"［システム］\r\n※ 前回の監視の後にログが消去されました。\r\n" + line(21));
  EXPECT_TRUE(w.view.statuses.back().starts_with(
      u"［システム］※ 前回の監視の後にログが消去されました。 メール送信を完了しました。"))
      << ToUtf8(w.view.statuses.back());
}

// Channels the rules name are sections of their own after the three logs,
// with bookmarks of their own in [Bookmarks] that carry every record once
// across a restart; a channel that cannot be read is told once, makes no
// all-clear, keeps the other logs alerting, and is read again each cycle.
TEST(Monitor, ChannelsAreSectionsOfTheirOwnReadOnceAcrossRestarts) {
  World w;
  w.services.stopped = false;
  AlertEveryError(w.folder.Path());
  const std::string rules = EncodeCp932(
      u"Microsoft-Windows-Windows Defender/Operational;対象;警告;*;*;*\r\n"
      u"System;対象;エラー;*;*;*\r\n"
      u"ForwardedEvents;対象;エラー;*;*;*\r\n");
  std::ofstream(w.folder.Path() / "rules.txt", std::ios::binary).write(rules.data(), rules.size());
  const std::int64_t nine = DateTime{2026, 12, 8, 9, 0, 0}.ToSeconds() - 9 * 3600;
  // Records 1..to of a log, record n written at 10:00 + n minutes, of type.
  auto writeLog = [&](const char* file, std::uint32_t to, std::uint16_t type) {
    EvtRecipe recipe;
    for (std::uint32_t n = 1; n <= to; ++n) {
      RecordRecipe r;
      r.number = n;
      r.type = type;
      r.eventId = 1116;
      r.timeGenerated = r.timeWritten = static_cast<std::uint32_t>(nine + 3600 + 60 * n);
      recipe.records.push_back(BuildRecord(r));
    }
    const Bytes bytes = BuildEvtFile(recipe);
    std::ofstream(w.folder.Path() / "logs" / file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  constexpr char kDefender[] = "Microsoft-Windows-Windows Defender%4Operational.evt";
  UseTheFolder(w.file);
  RulesFile rulesFile;
  LogSourceChoice sources(w.logs.empty);
  std::optional<Monitor> m;
  auto cycle = [&] {
    const std::size_t before = w.sender.sent.size();
    w.clock.now = DateTime::FromSeconds(w.clock.now.ToSeconds() + 60);
    m->Tick();
    return w.sender.sent.size() == before ? std::u16string() : w.sender.sent.back().body;
  };
  auto line = [](const char* type, int n) {
    char text[96];
    std::snprintf(text, sizeof text, "%s 2026/12/08 10:%02d:00 Source なし 1116 N/A COMPUTER\r\n",
                  type, n);
    return FromUtf8(text);
  };
  const std::u16string defender = u"［Microsoft-Windows-Windows Defender/Operational］\r\n";
  const std::u16string unread = u"［ForwardedEvents］\r\n※ ログを読めませんでした: ";

  writeLog("System.evt", 0, 1);
  writeLog(kDefender, 1, 2);
  w.clock.now = {2026, 12, 8, 10, 1, 30};
  StartOver(w, sources, rulesFile, m);
  EXPECT_EQ(w.file.ReadIniString(u"Bookmarks", u"Microsoft-Windows-Windows Defender/Operational"),
            FromUtf8("1:" + std::to_string(nine + 3660)));
  writeLog("System.evt", 2, 1);
  writeLog(kDefender, 3, 2);
  std::u16string mail = cycle();
  ASSERT_TRUE(mail.starts_with(u"［システム］\r\n" + line("エラー   ", 2) + line("エラー   ", 1) +
                               defender + line("警告    ", 3) + line("警告    ", 2) + unread))
      << ToUtf8(mail);
  ASSERT_EQ(w.boxes.shown.size(), 1u);
  EXPECT_NE(w.boxes.shown[0].text.find(u"イベントログ: ForwardedEvents"), std::u16string::npos);
  EXPECT_EQ(w.file.ReadIniString(u"Bookmarks", u"Microsoft-Windows-Windows Defender/Operational"),
            FromUtf8("3:" + std::to_string(nine + 3780)));

  // Nothing new, the channel still unread: told before, so no mail, yet no all-clear.
  EXPECT_EQ(cycle(), u"");
  EXPECT_NE(w.view.statuses.back().find(u"監視処理でイベントログを読み込めませんでした。"),
            std::u16string::npos)
      << ToUtf8(w.view.statuses.back());
  EXPECT_EQ(w.boxes.shown.size(), 1u);

  // Written while the program was stopped: mailed once after the start.
  m->Stop();
  writeLog(kDefender, 4, 2);
  StartOver(w, sources, rulesFile, m);
  // The channel readable again: what was written since the start is alerted.
  writeLog("ForwardedEvents.evt", 4, 1);
  mail = cycle();
  EXPECT_EQ(mail, defender + line("警告    ", 4) + u"［ForwardedEvents］\r\n" + line("エラー   ", 4))
      << ToUtf8(mail);
  EXPECT_EQ(cycle(), u"");
  EXPECT_TRUE(Shown(w.view.statuses.back()).starts_with(u"監視処理を実行しましたが異常はありません。"));
}

// A log with more new records than the window lists: every one is matched
// and alerted, the window shows the newest.
TEST(Monitor, EveryRecordIsMatchedWhateverTheWindowLists) {
  World w;
  w.services.stopped = false;
  AlertEveryError(w.folder.Path());
  UseTheFolder(w.file);
  const std::int64_t ten = DateTime{2026, 12, 8, 10, 0, 0}.ToSeconds() - 9 * 3600;
  EvtRecipe recipe;
  const std::uint32_t count = kShownReadRows + 5;
  for (std::uint32_t n = 1; n <= count; ++n) {
    RecordRecipe r;
    r.number = n;
    r.type = n % 2 == 0 ? 1 : 4;  // every other one an error
    r.timeGenerated = r.timeWritten = static_cast<std::uint32_t>(ten + 60);
    recipe.records.push_back(BuildRecord(r));
  }
  WriteSystemLog(w.folder.Path(), recipe);
  RulesFile rulesFile;
  LogSourceChoice sources(w.logs.empty);
  std::optional<Monitor> m;
  std::int16_t countdown = 0;
  m.emplace(MonitorPorts{w.clock, w.boxes, w.file, sources, rulesFile, w.accounts, w.zone, w.tables,
                         w.sender, w.services, w.outbox},
            w.view, w.folder.Path(), LoadSettings(w.file, countdown), std::int16_t{0});
  m->LoadRules(w.boxes);
  m->Start();
  w.clock.now = {2026, 12, 8, 10, 5, 0};
  m->Tick();
  ASSERT_EQ(w.sender.sent.size(), 1u);
  const std::u16string& body = w.sender.sent[0].body;
  std::size_t lines = 0;
  for (std::size_t at = body.find(u"エラー"); at != std::u16string::npos; at = body.find(u"エラー", at + 1))
    ++lines;
  EXPECT_EQ(lines, count / 2);
  ASSERT_EQ(w.view.readLists.size(), 1u);
  EXPECT_EQ(w.view.readLists[0], std::make_pair(kShownReadRows, std::uint64_t{count}));
}

// A machine where the Service Control Manager registered its messages.
class SpoolerMessages : public NoMessageTables {
 public:
  std::optional<std::u16string> SourceValue(std::u16string_view, std::u16string_view source,
                                            std::u16string_view name) override {
    ++reads;
    if (source != u"Service Control Manager" || name != u"EventMessageFile") return std::nullopt;
    return u"netevent.dll";
  }
  std::optional<std::u16string> ModuleMessage(std::u16string_view, std::uint32_t id) override {
    if (id != 0x40001B7C) return std::nullopt;
    return u"The %1 service entered the %2 state.\r\n";
  }
  void ReleaseModules() override { ++releases; }
  int reads = 0, releases = 0;
};

// AlertDetail=0 mails what the alert always held; by default each record's
// message (or its strings) follows its line, and the modules go with the cycle.
TEST(Monitor, AlertDetailPutsEachEventsMessageUnderItsLine) {
  World w;
  w.services.stopped = false;
  AlertEveryError(w.folder.Path());
  const std::int64_t nine = DateTime{2026, 12, 8, 9, 0, 0}.ToSeconds() - 9 * 3600;
  EvtRecipe recipe;
  for (std::uint32_t n = 1; n <= 3; ++n) {
    RecordRecipe r;
    r.number = n;
    r.type = 1;
    r.timeGenerated = r.timeWritten = static_cast<std::uint32_t>(nine + 60 * n);
    r.source = n == 2 ? u"Service Control Manager" : u"Disk";
    r.eventId = n == 2 ? 0x40001B7C : 11;
    if (n != 1) r.strings = {u"Print Spooler", u"stopped"};
    recipe.records.push_back(BuildRecord(r));
  }
  WriteSystemLog(w.folder.Path(), recipe);

  SpoolerMessages tables;
  RulesFile rulesFile;
  LogSourceChoice sources(w.logs.empty);
  const auto mail = [&](const char16_t* alertDetail) {
    for (const auto& [key, value] : std::vector<std::pair<const char16_t*, const char16_t*>>{
             {u"Interval", u"1"}, {u"Rules", u"rules.txt"}, {u"EventLogDir", u"logs"},
             {u"DateStamp", u""}, {u"TimeStamp", u""}, {u"SystemBookmark", u""},
             {u"AlertDetail", alertDetail}}) {
      w.file.WriteIniString(kSettingsSection, key, value);
    }
    std::int16_t countdown = 0;
    Monitor m(MonitorPorts{w.clock, w.boxes, w.file, sources, rulesFile, w.accounts, w.zone,
                           tables, w.sender, w.services, w.outbox},
              w.view, w.folder.Path(), LoadSettings(w.file, countdown), std::int16_t{0});
    m.LoadRules(w.boxes);
    m.Start();
    m.Tick();
    return w.sender.sent.empty() ? std::u16string() : w.sender.sent.back().body;
  };
  const std::u16string plain =
      u"［システム］\r\n"
      u"エラー    2026/12/08 09:03:00 Disk なし 11 N/A COMPUTER\r\n"
      u"エラー    2026/12/08 09:02:00 Service Control Manager なし 7036 N/A COMPUTER\r\n"
      u"エラー    2026/12/08 09:01:00 Disk なし 11 N/A COMPUTER\r\n";
  EXPECT_EQ(mail(u"0"), plain);
  EXPECT_EQ(tables.reads + tables.releases, 0);
  EXPECT_EQ(mail(u""),
            u"［システム］\r\n"
            u"エラー    2026/12/08 09:03:00 Disk なし 11 N/A COMPUTER\r\n"
            u"    Print Spooler / stopped\r\n"
            u"エラー    2026/12/08 09:02:00 Service Control Manager なし 7036 N/A COMPUTER\r\n"
            u"    The Print Spooler service entered the stopped state.\r\n"
            u"エラー    2026/12/08 09:01:00 Disk なし 11 N/A COMPUTER\r\n");
  EXPECT_EQ(tables.reads, 2);  // one per source
  EXPECT_EQ(tables.releases, 1);
  EXPECT_TRUE(w.boxes.shown.empty());
}

}  // namespace
}  // namespace zkq

namespace zkq {
namespace {

// However a cycle's alert fails to be kept or sent, or the program dies in
// between, the records it examined are alerted after the next start, and the
// faults that remain are never an all-clear.
TEST(Monitor, AnAlertThatIsNotSafeIsExaminedAgainAfterARestart) {
  const struct {
    const char* name;
    std::function<void(World&)> fail, mend;
  } cases[] = {
      {"neither kept nor sent",
       [](World& w) {
         std::ofstream(w.folder.Path() / "outbox") << "a file where the folder should be";
         w.sender.result = SendResult::ConnectFailed;
       },
       [](World& w) {
         fs::remove(w.folder.Path() / "outbox");
         w.sender.result = SendResult::Sent;
       }},
      {"not composed", [](World& w) { w.view.to = u""; },
       [](World& w) { w.view.to = u"to@example.jp"; }},
      {"ended during the send", [](World& w) { w.sender.during = [] { throw 1; }; },
       [](World& w) { w.sender.during = nullptr; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    World w;
    w.services.stopped = false;
    AlertEveryError(w.folder.Path());
    UseTheFolder(w.file);
    RulesFile rulesFile;
    LogSourceChoice sources(w.logs.empty);
    std::optional<Monitor> m;
    auto start = [&] {
      StartOver(w, sources, rulesFile, m);
    };
    WriteSystemLog(w.folder.Path(), EvtRecipe{});  // empty at the start
    start();
    RecordRecipe r;
    r.type = 1;
    r.eventId = 77;
    r.timeGenerated = r.timeWritten =
        static_cast<std::uint32_t>(w.clock.now.ToSeconds() - 9 * 3600 + 30);
    EvtRecipe recipe;
    recipe.records.push_back(BuildRecord(r));
    WriteSystemLog(w.folder.Path(), recipe);
    c.fail(w);
    w.clock.now = DateTime::FromSeconds(w.clock.now.ToSeconds() + 60);
    m->Tick();
    EXPECT_EQ(Shown(w.view.statuses.back()).find(u"異常はありません"), std::u16string::npos);
    c.mend(w);
    w.clock.now = DateTime::FromSeconds(w.clock.now.ToSeconds() + 3600);
    start();  // the stamp moves to now; the bookmark holds
    w.sender.sent.clear();
    m->Tick();
    ASSERT_FALSE(w.sender.sent.empty());
    EXPECT_NE(w.sender.sent.back().body.find(u" 77 N/A"), std::u16string::npos);
    EXPECT_TRUE(w.outbox.List().empty());
  }
}

// A recipient refused for good is told once and holds back no mail; a kept
// mail refused for good twice is set aside in outbox\failed\ and no longer
// tried; rules that do not load and services that cannot be checked are no
// all-clear; the daily report goes once, with the counts.
TEST(Monitor, RefusalsFailuresAndTheDailyReport) {
  World w;
  w.settings.Heartbeat = u"10:05";
  w.Restart();
  w.monitor->Start();
  SendOutcome refusedOne(SendResult::Sent);
  refusedOne.refused = {{u"gone@example.jp", u"550 5.1.1 gone"}};
  SendOutcome refusedForGood(SendResult::MailRefused);
  refusedForGood.permanent = true;
  w.sender.script = {refusedOne, refusedForGood, refusedForGood};
  w.Cycle();  // 10:01: the service alert goes, gone@ refused
  EXPECT_NE(w.view.statuses.back().find(u"※ 宛先に届きませんでした: gone@example.jp (550 5.1.1 gone)"),
            std::u16string::npos);
  w.Cycle();  // 10:02: refused for good, kept
  EXPECT_TRUE(w.sender.sent[1].body.starts_with(u"※ 宛先に届きませんでした: gone@example.jp"));
  EXPECT_EQ(w.outbox.List().size(), 1u);
  const std::size_t boxesBefore = w.boxes.shown.size();
  w.Cycle();  // 10:03: refused for good again: set aside; the new alert goes
  EXPECT_EQ(w.outbox.List().size(), 0u);
  EXPECT_EQ(w.outbox.FailedCount(), 1u);
  ASSERT_EQ(w.boxes.shown.size(), boxesBefore + 1);
  EXPECT_TRUE(w.boxes.shown.back().text.find(u"outbox\\failed\\") != std::u16string::npos);
  EXPECT_EQ(w.sender.sent[3].body.find(u"宛先に届きませんでした"), std::u16string::npos)
      << "a refused recipient is told once";

  w.services.failure = u"OpenSCManager failed; error = 5";
  w.rules.fails = true;
  w.monitor->LoadRules(w.boxes);
  w.Cycle();  // 10:04
  EXPECT_EQ(Shown(w.view.statuses.back()), u"監視ルールを読み込めません。[2026/12/08 10:04:00]");
  w.rules.fails = false;
  const std::size_t sentBefore = w.sender.sent.size();
  w.Cycle();  // 10:05: rules load again; the services cannot be checked; the report is due
  ASSERT_EQ(w.sender.sent.size(), sentBefore + 2);
  EXPECT_NE(w.sender.sent[sentBefore].body.find(u"OpenSCManager failed; error = 5"),
            std::u16string::npos);
  const AlertMail& report = w.sender.sent.back();
  EXPECT_EQ(report.subject, u"監視警告 稼動報告 - HOST");
  for (const char16_t* wanted :
       {u"監視処理の実行: 5 回", u"未送信のメール: 0 件 (outbox\\failed\\: 1 件)",
        u"監視ルールの読み込みの失敗: 1 回", u"サービスの状態の確認の失敗: 1 回",
        u"gone@example.jp (550 5.1.1 gone)", u"バージョン: "}) {
    EXPECT_NE(report.body.find(wanted), std::u16string::npos) << ToUtf8(wanted);
  }
  w.Cycle();  // 10:06: the same service failure mails nothing more, the report is not sent again
  EXPECT_EQ(w.sender.sent.size(), sentBefore + 2);
  EXPECT_EQ(Shown(w.view.statuses.back()).find(u"異常はありません"), std::u16string::npos);
}

// A box of a cycle waits for its click only once the cycle has ended: the
// next cycles run while it is open, and the same box is not stacked on it.
TEST(Monitor, ABoxOfACycleHoldsBackNoCycle) {
  World w;
  std::ofstream(w.folder.Path() / "outbox") << "a file where the folder should be";
  int cyclesWhileOpen = 0;
  bool busyWhileOpen = false;
  class ClickLater : public MessageBoxes {
   public:
    std::function<void()> whileOpen;
    int shown = 0;
    void Show(const std::u16string&, MessageIcon) override {
      ++shown;
      if (whileOpen) whileOpen();
    }
  } screen;
  Monitor m(MonitorPorts{w.clock, screen, w.file, w.logs, w.rules, w.accounts, w.zone, w.tables,
                         w.sender, w.services, w.outbox},
            w.view, w.folder.Path(), w.settings, std::int16_t{0});
  m.LoadRules(w.boxes);
  m.Start();
  screen.whileOpen = [&] {
    busyWhileOpen = m.CycleInProgress();
    for (int i = 0; i < 2; ++i) {
      const std::size_t before = w.view.statuses.size();
      w.clock.now = DateTime::FromSeconds(w.clock.now.ToSeconds() + 60);
      while (m.Countdown() > 0) m.Tick();
      m.Tick();
      if (w.view.statuses.size() > before) ++cyclesWhileOpen;
    }
  };
  while (m.Countdown() > 0) m.Tick();
  m.Tick();  // the alert cannot be kept: its box comes after the cycle
  EXPECT_FALSE(busyWhileOpen);
  EXPECT_EQ(cyclesWhileOpen, 2);
  EXPECT_EQ(screen.shown, 1) << "the same box again while it is open";
}

}  // namespace
}  // namespace zkq
