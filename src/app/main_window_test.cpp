#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "app/main_window_ids.h"
#include "app/startup.h"
#include "base/failure.h"
#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "eventlog/evt_builder.h"
#include "eventlog/no_lookups.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;
using Journal = std::vector<std::string>;

class FakeView : public MainWindowView {
 public:
  explicit FakeView(Journal& journal) : journal_(journal) {}
  void SetCaption(const std::u16string& text) override {
    caption = text;
    journal_.push_back("caption");
  }
  void CenterOnScreen() override { journal_.push_back("center"); }
  void SetBusyCursor(bool b) override {
    busy = b;
    journal_.push_back(b ? "busy" : "idle");
  }
  void SetControlText(int id, const std::u16string& text) override {
    texts[id] = text;
    journal_.push_back("text " + std::to_string(id));
  }
  std::u16string ControlText(int id) override { return texts[id]; }
  void SetChecked(int id, bool c) override {
    checked[id] = c;
    journal_.push_back("check " + std::to_string(id));
  }
  void EnableControl(int id, bool e) override { enabled[id] = e; }
  void EnableMenuItem(int id, bool e) override { menus[id] = e; }
  void SetStatus(const std::u16string& text) override {
    statuses.push_back(text);
    journal_.push_back("status");
  }
  void SetupListColumns(int id, const std::vector<ListColumn>& c) override {
    columns[id] = c;
    journal_.push_back("columns " + std::to_string(id));
  }
  void SetListRows(int id, const std::vector<ListRow>& r) override {
    rows[id] = r;
    journal_.push_back("rows " + std::to_string(id));
  }
  void SetListSections(int id, const std::vector<ListSection>& s) override {
    sections[id] = s;
    journal_.push_back("sections " + std::to_string(id));
  }
  void ShowChannelRules(bool shown) override {
    channelRulesShown = shown;
    journal_.push_back(shown ? "channel rules shown" : "channel rules hidden");
  }
  void SetEventRows(int id, const EventList& events) override {
    rows[id].clear();
    for (const auto& e : events) {
      rows[id].push_back(
          {e.type, e.date, e.time, e.source, e.category, e.eventId, e.user, e.computer});
    }
    journal_.push_back("rows " + std::to_string(id));
  }
  void SetWindowState(WindowState s) override {
    state = s;
    journal_.push_back(s == WindowState::Minimized ? "minimise" : "normal");
  }
  void EnableCheckTimer(bool e) override {
    timer = e;
    journal_.push_back(e ? "timer on" : "timer off");
  }
  void AddTrayIcon() override { ++trayAdds; }
  void RemoveTrayIconAndRestore() override { ++trayRemoves; }
  void SetTrayTip(const std::u16string& tip) override { trayTip = tip; }
  std::u16string trayTip = kAppTitle;
  void ShowFileMenuPopup() override {
    ++popups;
    popupStates = {menus[IDM_FILE0], menus[IDM_FILE1]};
  }
  void SetFocusTo(int id) override {
    if (IsControlEnabled(id)) focus = id;
  }
  bool IsControlEnabled(int id) override { return !enabled.count(id) || enabled[id]; }
  void OpenHelp(const std::u16string& file, unsigned command) override {
    help.push_back({file, command});
  }
  void EndProgram() override {
    ++ends;
    journal_.push_back("end");
  }

  std::u16string caption;
  bool busy = false;
  std::map<int, std::u16string> texts;
  std::map<int, bool> checked, enabled, menus;
  std::vector<std::u16string> statuses;
  std::map<int, std::vector<ListColumn>> columns;
  std::map<int, std::vector<ListRow>> rows;
  std::map<int, std::vector<ListSection>> sections;
  bool channelRulesShown = true;  // the window shows them until told otherwise
  WindowState state = WindowState::Normal;
  bool timer = false;
  int trayAdds = 0, trayRemoves = 0, popups = 0, ends = 0, focus = 0;
  std::pair<bool, bool> popupStates;
  std::vector<std::pair<std::u16string, unsigned>> help;

 private:
  Journal& journal_;
};

// A clock whose locale forms differ from the fixed ones, as a Japanese Wine
// shows them ("2026/12/8", "4:14:53").
class FakeClock : public Clock {
 public:
  DateTime Now() override { return now; }
  std::u16string ShortDate(const DateTime& t) override {
    return FromUtf8(std::to_string(t.year) + "/" + std::to_string(t.month) + "/" +
                    std::to_string(t.day));
  }
  std::u16string LongTime(const DateTime& t) override {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", t.hour, t.minute, t.second);
    return FromUtf8(buf);
  }
  void Advance(int seconds) { now = DateTime::FromSeconds(now.ToSeconds() + seconds); }
  DateTime now{2026, 12, 8, 10, 0, 0};
};

// The shared recorder, which also notes each box in the journal and runs what
// the message loop would deliver while the box waits for its OK.
class RecordingBoxes : public test_support::RecordingBoxes {
 public:
  explicit RecordingBoxes(Journal& journal) : journal_(journal) {}
  void Show(const std::u16string& text, MessageIcon icon) override {
    test_support::RecordingBoxes::Show(text, icon);
    journal_.push_back("box");
    if (during) during();
  }
  std::function<void()> during;

 private:
  Journal& journal_;
};

class FakeSystem : public SystemInfo {
 public:
  std::u16string ComputerName() override { return computer; }
  std::u16string UserName() override { return user; }
  std::u16string computer = u"HOST", user = u"admin";
};

class FakeService : public ServiceControl {
 public:
  explicit FakeService(Journal& journal) : journal_(journal) {}
  RegistrationOutcome Install() override {
    journal_.push_back("install");
    return installResult;
  }
  RegistrationOutcome Uninstall() override {
    journal_.push_back("uninstall");
    return uninstallResult;
  }
  void Connect() override { journal_.push_back("connect"); }
  bool RunsAsService() override { return asService; }
  bool asService = false;
  RegistrationOutcome installResult = RegistrationOutcome::Done;
  RegistrationOutcome uninstallResult = RegistrationOutcome::Done;

 private:
  Journal& journal_;
};

class FakeLog : public EventLog {
 public:
  explicit FakeLog(std::vector<Bytes> records) : records_(std::move(records)) {}
  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    if (next_ >= records_.size()) return kErrorHandleEof;
    record = records_[next_++];
    return 0;
  }

 private:
  std::vector<Bytes> records_;
  std::size_t next_ = 0;
};

class FakeLogs : public EventLogSource {
 public:
  std::unique_ptr<EventLog> Open(std::u16string_view, std::u16string_view logName,
                                 std::uint32_t&) override {
    opened.emplace_back(logName);
    return std::make_unique<FakeLog>(records[std::u16string(logName)]);
  }
  std::map<std::u16string, std::vector<Bytes>> records;  // newest first
  std::vector<std::u16string> opened;
};

class FakeSender : public AlertSender {
 public:
  MessageStamp Stamp() override { return {{2026, 12, 8, 10, 0, 0}, 540, u"HOST", ++stamps}; }
  SendOutcome Send(const AlertMail& mail, const KeptMail&) override {
    sent.push_back(mail);
    if (during) during();
    return result ? SendResult::Sent : SendResult::ConnectFailed;
  }
  std::uint64_t stamps = 0;
  std::vector<AlertMail> sent;
  bool result = true;
  std::function<void()> during;
};

class FakeServiceCheck : public ServiceCheck {
 public:
  std::u16string Check(const std::vector<MonitoringRule>& rules, std::u16string_view computer,
                       std::u16string& alertText) override {
    ++calls;
    seenRules = rules;
    seenComputer = computer;
    alertText += append;
    if (during) during();
    return u"";
  }
  std::function<void()> during;
  int calls = 0;
  std::vector<MonitoringRule> seenRules;
  std::u16string seenComputer, append;
};

class FakeDialogs : public MainWindowDialogs {
 public:
  bool OpenSettingsDialog(Settings& settings) override {
    ++settingsCalls;
    if (edit) edit(settings);
    return saved;
  }
  void OpenRulesEditor(const std::filesystem::path& rulesFile) override {
    ++rulesCalls;
    seenRulesFile = rulesFile;
    if (duringRules) duringRules();
  }
  void OpenAboutBox() override { ++aboutCalls; }
  int settingsCalls = 0, rulesCalls = 0, aboutCalls = 0;
  std::filesystem::path seenRulesFile;
  bool saved = false;
  std::function<void(Settings&)> edit;
  std::function<void()> duringRules;
};

class NoChangeDirectory : public CurrentDirectory {
 public:
  bool Set(const fs::path&) override { return true; }
};

using Ini = std::vector<std::pair<std::string, std::string>>;

Ini BaseIni() {
  return {{"SmtpServer", "\" mail.example.jp \""},
          {"SmtpPort", "25"},
          {"From", "monitor@example.jp"},
          {"To", "admin@example.jp; ops@example.jp"},
          {"Subject", "Alert"},
          {"DateStamp", "2026/12/07"},
          {"TimeStamp", "08:00:00"},
          {"Rules", "rules.txt"},
          {"Interval", "5"},
          {"AutoStart", "0"},
          {"IconStart", "0"},
          {"ServiceStart", "0"}};
}

Ini With(Ini ini, const std::string& key, const std::string& value) {
  for (auto& [k, v] : ini) {
    if (k == key) {
      v = value;
      return ini;
    }
  }
  ini.push_back({key, value});
  return ini;
}

Ini Without(Ini ini, const std::string& key) {
  std::erase_if(ini, [&](const auto& kv) { return kv.first == key; });
  return ini;
}

const char16_t kDefaultRules[] =
    u"System;対象;エラー;*;*;*\r\n"
    u"Application;対象;警告;App;*;*\r\n"
    u"Service;Spooler;開始;;;\r\n";

// A record written at a local time, as the reader shows it.
Bytes RecordAt(const DateTime& local, std::uint16_t type, std::u16string source,
               std::uint32_t eventId, std::uint32_t number = 1) {
  RecordRecipe recipe;
  recipe.number = number;
  const auto seconds = static_cast<std::uint32_t>(local.ToSeconds() - 9 * 3600);
  recipe.timeGenerated = recipe.timeWritten = seconds;
  recipe.type = type;
  recipe.source = std::move(source);
  recipe.computer = u"HOST";
  recipe.eventId = eventId;
  return BuildRecord(recipe);
}

class Harness {
 public:
  explicit Harness(const Ini& ini, std::u16string commandLine = u"",
                   std::u16string rules = kDefaultRules)
      : view(journal), boxes(journal), service(journal), file({}, boxes) {
    dir = folder.Path();
    std::ofstream out(dir / "zkQuorvane.ini", std::ios::binary);
    out << "[zkQuorvane]\r\n";
    for (const auto& [k, v] : ini) out << k << "=" << EncodeCp932(FromUtf8(v)) << "\r\n";
    out.close();
    WriteRules(rules);
    NoChangeDirectory cwd;
    auto values = RunMain((dir / "zkQuorvane.exe").u16string(), commandLine, file, boxes, cwd);
    if (!values) throw std::runtime_error("start procedure failed");
    window = std::make_unique<MainWindow>(
        MainWindowPorts{view, boxes, system, service, dialogs,
                        MonitorPorts{clock, boxes, file, logChoice, rulesFile, accounts, zone,
                                     tables, sender, serviceCheck, outbox}},
        std::move(*values));
  }
  // An exported log in the EventLogDir folder "logs".
  void PutLog(const char* name, const Bytes& bytes) {
    fs::create_directories(dir / "logs");
    std::ofstream(dir / "logs" / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  void WriteRules(const std::u16string& rules) {
    std::ofstream out(dir / "rules.txt", std::ios::binary);
    out << EncodeCp932(rules);
  }
  std::u16string FileValue(std::u16string_view key) {
    return file.ReadIniString(kSettingsSection, key);
  }
  std::u16string LastStatus() { return view.statuses.empty() ? u"" : view.statuses.back(); }
  // One tick a minute, as tmrCheck delivers them.
  void Tick() {
    clock.Advance(60);
    window->OnCheckTimer();
  }
  // Each cycle ends with the service check (the start-up reads the logs too, for their bookmarks).
  int Cycles() const { return serviceCheck.calls; }
  std::size_t Count(const std::string& entry) const {
    return static_cast<std::size_t>(std::count(journal.begin(), journal.end(), entry));
  }

  Journal journal;
  test_support::ScratchFolder folder{"zkq-app-"};
  fs::path dir;
  FakeView view;
  FakeClock clock;
  RecordingBoxes boxes;
  FakeSystem system;
  FakeService service;
  FakeLogs logs;
  LogSourceChoice logChoice{logs};
  RulesFile rulesFile;
  NoAccountNames accounts;
  FixedOffsetZone zone{9 * 3600};  // Japan time, as the record times are shown
  NoMessageTables tables;
  FakeSender sender;
  FileOutbox outbox{folder.Path() / "outbox"};
  FakeServiceCheck serviceCheck;
  FakeDialogs dialogs;
  SettingsFile file;
  std::unique_ptr<MainWindow> window;
};

const std::u16string kStartFailure = u"起動に失敗しました！\r\n型が一致しません。";

TEST(MainWindowFormLoad, FillsTheWindowInOrderAndResetsTheStamp) {
  Harness h(BaseIni());
  h.clock.now = {2026, 12, 8, 10, 0, 0};
  h.window->FormLoad();

  // The order of the start-up steps, as far as the window shows them.
  std::vector<std::string> expected = {"busy",
                                       "caption",
                                       "center",
                                       "text " + std::to_string(IDC_TXTSMTPSERVER),
                                       "text " + std::to_string(IDC_TXTSMTPPORT),
                                       "text " + std::to_string(IDC_TXTSMTPFROM),
                                       "text " + std::to_string(IDC_TXTSMTPTO),
                                       "text " + std::to_string(IDC_TXTSMTPSUBJECT),
                                       "text " + std::to_string(IDC_TXTSTARTDATETIME),
                                       "text " + std::to_string(IDC_TXTINTERVAL),
                                       "check " + std::to_string(IDC_CHKSETTING0),
                                       "check " + std::to_string(IDC_CHKSETTING1),
                                       "check " + std::to_string(IDC_CHKSETTING2),
                                       "text " + std::to_string(IDC_LBLCOMPUTERNAME),
                                       "text " + std::to_string(IDC_LBLUSERNAME),
                                       "caption",
                                       "columns " + std::to_string(IDC_LSTSYSTEM),
                                       "columns " + std::to_string(IDC_LSTSECURITY),
                                       "columns " + std::to_string(IDC_LSTAPPLICATION),
                                       "columns " + std::to_string(IDC_LSTCHANNELS),
                                       "columns " + std::to_string(IDC_LSTSERVICES),
                                       "columns " + std::to_string(IDC_LSTLOG1),
                                       "columns " + std::to_string(IDC_LSTLOG2),
                                       "busy",
                                       "rows " + std::to_string(IDC_LSTSYSTEM),
                                       "rows " + std::to_string(IDC_LSTSECURITY),
                                       "rows " + std::to_string(IDC_LSTAPPLICATION),
                                       "sections " + std::to_string(IDC_LSTCHANNELS),
                                       "channel rules hidden",
                                       "rows " + std::to_string(IDC_LSTSERVICES),
                                       "idle",
                                       "timer off",
                                       "normal",
                                       "connect",
                                       "idle"};
  EXPECT_EQ(h.journal, expected);
  EXPECT_TRUE(h.boxes.shown.empty());

  EXPECT_EQ(h.view.caption, u"zkQuorvane");
  EXPECT_EQ(h.view.texts[IDC_TXTSMTPSERVER], u" mail.example.jp ");  // as stored, untrimmed
  EXPECT_EQ(h.view.texts[IDC_TXTSMTPTO], u"admin@example.jp; ops@example.jp");
  EXPECT_EQ(h.view.texts[IDC_TXTINTERVAL], u"5");
  EXPECT_EQ(h.view.texts[IDC_LBLCOMPUTERNAME], u"HOST");
  EXPECT_EQ(h.view.texts[IDC_LBLUSERNAME], u"admin");
  // The day-old stamp of the file is replaced by the moment of start-up.
  EXPECT_EQ(h.view.texts[IDC_TXTSTARTDATETIME], u"2026/12/08 10:00:00");
  EXPECT_EQ(h.FileValue(u"DateStamp"), u"2026/12/08");
  EXPECT_EQ(h.FileValue(u"TimeStamp"), u"10:00:00");

  EXPECT_EQ(h.view.rows[IDC_LSTSYSTEM],
            (std::vector<ListRow>{{u"対象", u"エラー", u"*", u"*", u"*"}}));
  EXPECT_TRUE(h.view.rows[IDC_LSTSECURITY].empty());
  EXPECT_EQ(h.view.rows[IDC_LSTAPPLICATION],
            (std::vector<ListRow>{{u"対象", u"警告", u"App", u"*", u"*"}}));
  EXPECT_EQ(h.view.rows[IDC_LSTSERVICES], (std::vector<ListRow>{{u"Spooler", u"開始"}}));
  EXPECT_EQ(h.window->Rules()[RuleLog::Service].size(), 1u);

  EXPECT_FALSE(h.window->Running());
  EXPECT_FALSE(h.window->Ended());
  EXPECT_TRUE(h.view.enabled[IDC_CMDSTART]);
  EXPECT_FALSE(h.view.enabled[IDC_CMDSTOP]);
  EXPECT_EQ(h.view.menus.count(IDM_HELP3), 0u);  // the about box entry stays as designed: enabled
  EXPECT_EQ(h.window->HelpPath(), ProgramDirText((h.dir / "x").u16string()) + u"\\zkQuorvane.hlp");
}

TEST(MainWindowFormLoad, ColumnsOfTheSixLists) {
  Harness h(BaseIni());
  h.window->FormLoad();
  const auto headers = [&](int id) {
    std::vector<std::u16string> out;
    for (const auto& c : h.view.columns[id]) out.push_back(c.header);
    return out;
  };
  const std::vector<std::u16string> ruleHeaders = {u"指定", u"種類", u"ソース", u"分類",
                                                   u"イベント"};
  for (int id : {IDC_LSTSYSTEM, IDC_LSTSECURITY, IDC_LSTAPPLICATION, IDC_LSTCHANNELS}) {
    EXPECT_EQ(headers(id), ruleHeaders) << id;
    EXPECT_EQ(h.view.columns[id][2].widthSample, u"ソース            ");  // 12 blanks
  }
  EXPECT_EQ(headers(IDC_LSTSERVICES), (std::vector<std::u16string>{u"サービス名", u"状態"}));
  EXPECT_EQ(h.view.columns[IDC_LSTSERVICES][0].widthSample,
            u"サービス名" + std::u16string(26, u' '));
  const std::vector<std::u16string> eventHeaders = {
      u"種類", u"日付", u"時刻", u"ソース", u"分類", u"イベント", u"ユーザー", u"コンピュータ"};
  for (int id : {IDC_LSTLOG1, IDC_LSTLOG2}) {
    EXPECT_EQ(headers(id), eventHeaders) << id;
    EXPECT_EQ(h.view.columns[id][3].widthSample, u"ソース        ");
    EXPECT_EQ(h.view.columns[id][7].widthSample, u"コンピュータ");
  }
}

struct FlagCase {
  const char* name;
  Ini ini;
  bool failed;
  bool running;
  bool minimised;
  int starts;       // status lines of the start command
  bool namesShown;  // step 8 reached
  bool connected;
};

TEST(MainWindowFormLoad, StartOptions) {
  const FlagCase cases[] = {
      {"all off", BaseIni(), false, false, false, 0, true, true},
      {"auto start", With(BaseIni(), "AutoStart", "1"), false, true, false, 1, true, true},
      {"auto start with a blank", With(BaseIni(), "AutoStart", " 1"), false, true, false, 1, true,
       true},
      {"auto start 1.0", With(BaseIni(), "AutoStart", "1.0"), false, true, false, 1, true, true},
      {"auto start -1", With(BaseIni(), "AutoStart", "-1"), false, false, false, 0, true, true},
      {"icon start", With(BaseIni(), "IconStart", "1"), false, false, true, 0, true, true},
      {"service start", With(BaseIni(), "ServiceStart", "1"), false, true, true, 1, true, true},
      {"auto and service start", With(With(BaseIni(), "AutoStart", "1"), "ServiceStart", "1"),
       false, true, true, 2, true, true},
      {"auto start yes", With(BaseIni(), "AutoStart", "yes"), true, false, false, 0, false, false},
      {"icon start missing", Without(BaseIni(), "IconStart"), true, false, false, 0, false, false},
      {"service start empty", With(BaseIni(), "ServiceStart", ""), true, false, false, 0, false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(c.ini);
    h.window->FormLoad();
    if (c.failed) {
      ASSERT_EQ(h.boxes.shown.size(), 1u);
      EXPECT_EQ(h.boxes.shown[0].text, kStartFailure);
      EXPECT_EQ(h.boxes.shown[0].icon, MessageIcon::Exclamation);
      EXPECT_TRUE(h.view.columns.empty());
      EXPECT_TRUE(h.view.rows.empty());
      EXPECT_TRUE(h.window->Rules()[RuleLog::System].empty());
      EXPECT_FALSE(h.view.busy);
      EXPECT_FALSE(h.window->Ended());  // the window opens as far as it got
    } else {
      EXPECT_TRUE(h.boxes.shown.empty());
    }
    EXPECT_EQ(h.window->Running(), c.running);
    EXPECT_EQ(h.view.timer, c.running);
    EXPECT_EQ(h.window->Iconised(), c.minimised);
    EXPECT_EQ(h.view.trayAdds, c.minimised ? 1 : 0);  // one icon, however often it minimised
    EXPECT_EQ(h.view.state, c.minimised ? WindowState::Minimized : WindowState::Normal);
    EXPECT_EQ(static_cast<int>(
                  std::count_if(h.view.statuses.begin(), h.view.statuses.end(),
                                [](const auto& s) { return s.starts_with(u"稼動開始。["); })),
              c.starts);
    EXPECT_EQ(h.view.texts.count(IDC_LBLCOMPUTERNAME) == 1, c.namesShown);
    EXPECT_EQ(h.Count("connect"), c.connected ? 1u : 0u);
    EXPECT_EQ(h.view.enabled[IDC_CMDSTART], !c.running);
    EXPECT_EQ(h.view.enabled[IDC_CMDSTOP], c.running);
  }
}

TEST(MainWindowFormLoad, IconStartFailureKeepsTheAutoStartBox) {
  // The boxes are filled one by one: the one before the faulty flag shows.
  Harness h(With(With(BaseIni(), "AutoStart", "1"), "IconStart", "abc"));
  h.window->FormLoad();
  EXPECT_TRUE(h.view.checked[IDC_CHKSETTING0]);
  EXPECT_EQ(h.view.checked.count(IDC_CHKSETTING1), 0u);
  EXPECT_FALSE(h.window->Running());
  // No cycle ever runs in a window whose start failed.
  for (int i = 0; i < 10; ++i) h.Tick();
  EXPECT_EQ(h.Cycles(), 0);
}

struct CommandCase {
  const char16_t* commandLine;
  RegistrationOutcome installResult, uninstallResult;
  const char* serviceCall;  // "install", "uninstall" or ""
  std::u16string message;
  MessageIcon icon;
  bool ended;
};

TEST(MainWindowFormLoad, CommandLine) {
  const std::u16string t = u"zkQuorvane";
  const std::u16string admin =
      u"\r\nサービスの登録と削除には管理者の権限が必要です。管理者として実行してください。";
  constexpr auto ok = RegistrationOutcome::Done, no = RegistrationOutcome::Failed,
                 notAdmin = RegistrationOutcome::NeedsAdministrator;
  const CommandCase cases[] = {
      {u"", ok, ok, "", u"", MessageIcon::None, false},
      {u"   ", ok, ok, "", u"Invalid command option", MessageIcon::None, true},
      {u" -install ", ok, ok, "install", t + u"はサービスとして登録されました！",
       MessageIcon::Information, true},
      {u"-install", no, ok, "install", t + u"はサービスとして登録されませんでした！",
       MessageIcon::Exclamation, true},
      {u"-install", notAdmin, ok, "install", t + u"はサービスとして登録されませんでした！" + admin,
       MessageIcon::Exclamation, true},
      {u"-uninstall", ok, notAdmin, "uninstall",
       t + u"はサービスから削除されませんでした！" + admin, MessageIcon::Exclamation, true},
      {u"-uninstall", ok, ok, "uninstall", t + u"はサービスから削除されました！",
       MessageIcon::Information, true},
      {u"-uninstall", ok, no, "uninstall", t + u"はサービスから削除されませんでした！",
       MessageIcon::Exclamation, true},
      {u" -uninstall", ok, ok, "", u"Invalid command option", MessageIcon::None, true},
      {u"-uninstall ", ok, ok, "", u"Invalid command option", MessageIcon::None, true},
      {u"-Install", ok, ok, "", u"Invalid command option", MessageIcon::None, true},
      {u"-install -uninstall", ok, ok, "", u"Invalid command option", MessageIcon::None, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(std::u16string(u"[") + c.commandLine + u"]"));
    Harness h(BaseIni(), c.commandLine);
    h.service.installResult = c.installResult;
    h.service.uninstallResult = c.uninstallResult;
    h.window->FormLoad();
    EXPECT_EQ(h.Count("install"), std::string(c.serviceCall) == "install" ? 1u : 0u);
    EXPECT_EQ(h.Count("uninstall"), std::string(c.serviceCall) == "uninstall" ? 1u : 0u);
    if (c.message.empty()) {
      EXPECT_TRUE(h.boxes.shown.empty());
    } else {
      ASSERT_EQ(h.boxes.shown.size(), 1u);
      EXPECT_EQ(h.boxes.shown[0].text, c.message);
      EXPECT_EQ(h.boxes.shown[0].icon, c.icon);
    }
    EXPECT_EQ(h.window->Ended(), c.ended);
    EXPECT_EQ(h.view.ends, c.ended ? 1 : 0);
    // An ending command line stops before the service connection.
    EXPECT_EQ(h.Count("connect"), c.ended ? 0u : 1u);
    // A service registered here monitors when it starts.
    const bool installed = std::string(c.serviceCall) == "install" && c.installResult == ok;
    EXPECT_EQ(h.FileValue(u"ServiceStart"), installed ? u"1" : u"0");
  }
}

// Started by the controller with ServiceStart=0, the service says in the
// event log (its boxes) that it is not monitoring.
TEST(MainWindowFormLoad, AServiceThatDoesNotMonitorSaysSo) {
  for (const bool asService : {false, true}) {
    Harness h(BaseIni());
    h.service.asService = asService;
    h.window->FormLoad();
    EXPECT_EQ(h.boxes.shown.size(), asService ? 1u : 0u);
    if (asService) {
      EXPECT_EQ(h.boxes.shown[0].text, kServiceNotMonitoring);
    }
  }
}

TEST(MainWindowFormLoad, AutoStartThenInstallEndsBeforeAnyCycle) {
  Harness h(With(With(BaseIni(), "AutoStart", "1"), "Interval", "1"), u" -install ");
  h.window->FormLoad();
  const auto started = std::find(h.journal.begin(), h.journal.end(), "timer on");
  const auto installed = std::find(h.journal.begin(), h.journal.end(), "install");
  ASSERT_NE(started, h.journal.end());
  ASSERT_NE(installed, h.journal.end());
  EXPECT_LT(started, installed);
  EXPECT_TRUE(h.view.statuses.at(0).starts_with(u"稼動開始。["));
  EXPECT_TRUE(h.window->Ended());
  for (int i = 0; i < 5; ++i) h.Tick();
  h.window->StartClicked();
  h.window->SendClicked();
  EXPECT_EQ(h.Cycles(), 0);
  EXPECT_TRUE(h.sender.sent.empty());
  EXPECT_EQ(h.Count("connect"), 0u);
}

TEST(MainWindowFormLoad, NoCycleWhileTheEndingMessageWaits) {
  // A message box keeps the message loop running, and the one-minute timer
  // that the auto-start switched on goes on ticking while it waits for OK.
  for (const char16_t* commandLine : {u"-install", u"-uninstall", u"-bogus"}) {
    SCOPED_TRACE(ToUtf8(commandLine));
    Harness h(With(With(BaseIni(), "AutoStart", "1"), "Interval", "1"), commandLine);
    h.boxes.during = [&h] {
      h.boxes.during = nullptr;
      for (int i = 0; i < 3; ++i) h.Tick();
      h.window->TrayRightClicked();
      h.window->SendClicked();
    };
    h.window->FormLoad();
    EXPECT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.Cycles(), 0);
    EXPECT_TRUE(h.sender.sent.empty());
    EXPECT_EQ(h.view.popups, 0);
    EXPECT_TRUE(h.window->Ended());
    EXPECT_EQ(h.view.ends, 1);
  }
}

// Which of the first ticks after the start run a cycle.
std::vector<int> CycleTicks(const std::string& interval, int ticks) {
  Harness h(With(BaseIni(), "Interval", interval));
  h.window->FormLoad();
  h.window->StartClicked();
  std::vector<int> out;
  for (int i = 1; i <= ticks; ++i) {
    const int before = h.Cycles();
    h.Tick();
    if (h.Cycles() != before) out.push_back(i);
  }
  return out;
}

TEST(MainWindowCycle, TicksThatRunACycle) {
  const struct {
    const char* interval;
    std::vector<int> ticks;
  } cases[] = {
      {"5", {5, 10}},
      {"2", {2, 4, 6, 8, 10}},
      {"1", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"0", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"-3", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.interval);
    EXPECT_EQ(CycleTicks(c.interval, 10), c.ticks);
  }
}

TEST(MainWindowCycle, EachCycleExaminesFromThePreviousStamp) {
  Harness h(BaseIni());  // Interval 5
  h.clock.now = {2026, 12, 8, 10, 0, 0};
  h.window->FormLoad();
  h.window->StartClicked();
  const std::pair<std::u16string, std::u16string> expected[] = {
      {u"10:00:00", u"10:05:00"}, {u"10:05:00", u"10:10:00"}, {u"10:10:00", u"10:15:00"}};
  for (const auto& [bound, written] : expected) {
    for (int i = 0; i < 5; ++i) h.Tick();
    // The settings then hold the stamp the file holds, so that the dialog
    // saves it back unchanged.
    EXPECT_EQ(h.window->CurrentSettings().TimeStamp, written) << ToUtf8(bound);
    EXPECT_EQ(h.FileValue(u"TimeStamp"), written);
  }
  EXPECT_EQ(h.Cycles(), 3);
  // The start-up reads each log once, for its bookmark.
  EXPECT_EQ(h.logs.opened, (std::vector<std::u16string>{u"System", u"Security", u"Application",
                                                        u"System", u"Security", u"Application",
                                                        u"System", u"Security", u"Application",
                                                        u"System", u"Security", u"Application"}));
  // A cycle leaves the field with the start-up stamp alone.
  EXPECT_EQ(h.view.texts[IDC_TXTSTARTDATETIME], u"2026/12/08 10:00:00");
}

TEST(MainWindowCycle, StopThenStartExaminesFromTheStop) {
  Harness h(With(BaseIni(), "Interval", "10"));
  h.clock.now = {2026, 12, 8, 11, 0, 0};
  h.window->FormLoad();
  h.window->StartClicked();
  h.clock.now = {2026, 12, 8, 12, 0, 0};
  h.window->StopClicked();
  EXPECT_EQ(h.view.texts[IDC_TXTSTARTDATETIME], u"2026/12/08 12:00:00");
  EXPECT_EQ(h.FileValue(u"TimeStamp"), u"12:00:00");
  EXPECT_EQ(h.LastStatus(), u"稼動停止。[2026/12/08 12:00:00]");

  // A record of 12:10 (while stopped) is examined by the first cycle after the start.
  h.logs.records[u"System"] = {RecordAt({2026, 12, 8, 12, 10, 0}, 1, u"Disk", 7)};
  h.clock.now = {2026, 12, 8, 12, 30, 0};
  h.window->StartClicked();
  EXPECT_EQ(h.LastStatus(), u"稼動開始。[2026/12/08 12:30:00]");
  for (int i = 0; i < 9; ++i) h.Tick();
  EXPECT_EQ(h.Cycles(), 0);
  h.Tick();  // 12:40
  EXPECT_EQ(h.Cycles(), 1);
  EXPECT_EQ(h.window->CurrentSettings().DateStamp, u"2026/12/08");
  EXPECT_EQ(h.window->CurrentSettings().TimeStamp, u"12:40:00");
  ASSERT_EQ(h.sender.sent.size(), 1u);
  EXPECT_NE(h.sender.sent[0].body.find(u"2026/12/08 12:10:00 Disk"), std::u16string::npos);
}

TEST(MainWindowCycle, StampSetBackInTheFileTakesEffect) {
  Harness h(With(BaseIni(), "Interval", "1"));
  h.clock.now = {2026, 12, 8, 10, 0, 0};
  h.logs.records[u"Application"] = {RecordAt({2026, 12, 1, 9, 0, 0}, 2, u"App", 100)};
  h.window->FormLoad();
  h.window->StartClicked();
  h.Tick();
  EXPECT_TRUE(h.sender.sent.empty());  // older than the start-up
  // Someone stores a stamp far in the past.
  h.file.WriteIniString(kSettingsSection, u"DateStamp", u"2026/11/30");
  h.file.WriteIniString(kSettingsSection, u"TimeStamp", u"00:00:00");
  h.Tick();
  ASSERT_EQ(h.sender.sent.size(), 1u);
  EXPECT_TRUE(h.sender.sent[0].body.starts_with(u"［アプリケーション］\r\n"));
  EXPECT_EQ(h.FileValue(u"DateStamp"), u"2026/12/08");
  EXPECT_EQ(h.FileValue(u"TimeStamp"), u"10:02:00");
}

TEST(MainWindowCycle, NoFindingsMessageInTheLocaleForms) {
  Harness h(With(BaseIni(), "Interval", "1"));
  h.clock.now = {2026, 12, 8, 9, 4, 0};
  h.window->FormLoad();
  h.window->StartClicked();
  h.Tick();
  EXPECT_EQ(h.LastStatus(), u"監視処理を実行しましたが異常はありません。[2026/12/8 9:05:00]");
  EXPECT_TRUE(h.sender.sent.empty());
  EXPECT_TRUE(h.window->AlertText().empty());
  EXPECT_EQ(h.serviceCheck.calls, 1);
  EXPECT_EQ(h.serviceCheck.seenComputer, u"HOST");
  ASSERT_EQ(h.serviceCheck.seenRules.size(), 1u);
  EXPECT_EQ(h.serviceCheck.seenRules[0].serviceName, u"Spooler");
}

TEST(MainWindowCycle, OneMatchedRecordIsSentWithTheSystemSection) {
  for (const bool sent : {true, false}) {
    SCOPED_TRACE(sent);
    Harness h(With(BaseIni(), "Subject", "監視"));
    h.clock.now = {2026, 12, 8, 10, 0, 0};
    h.window->FormLoad();
    h.window->StartClicked();
    h.sender.result = sent;
    h.logs.records[u"System"] = {
        RecordAt({2026, 12, 8, 10, 3, 0}, 1, u"Service Control Manager", 7036),
        RecordAt({2026, 12, 8, 10, 2, 0}, 4, u"Disk", 1)};
    for (int i = 0; i < 5; ++i) h.Tick();
    ASSERT_EQ(h.sender.sent.size(), 1u);
    const AlertMail& mail = h.sender.sent[0];
    EXPECT_EQ(mail.server, u"mail.example.jp");
    EXPECT_EQ(mail.port, u"25");
    EXPECT_EQ(mail.fromAddress, u"monitor@example.jp");
    EXPECT_EQ(mail.fromName, u"");
    EXPECT_EQ(mail.toList, u"admin@example.jp; ops@example.jp");
    EXPECT_EQ(mail.subject, u"監視 - HOST");
    EXPECT_EQ(mail.body,
              u"［システム］\r\n"
              u"エラー    2026/12/08 10:03:00 Service Control Manager なし 7036 N/A HOST\r\n");
    EXPECT_EQ(mail.attachmentList, u"");
    EXPECT_EQ(mail.showMessages, u"0");
    EXPECT_EQ(mail.autoSend, u"1");
    EXPECT_EQ(mail.autoClose, u"1");
    EXPECT_EQ(mail.timeoutSeconds, u"60");
    // A mail that did not go out waits in the outbox, and says so.
    EXPECT_EQ(h.LastStatus(),
              (sent ? u"メール送信を完了しました。[" : u"メール送信に失敗しました。[") +
                  std::u16string(u"2026/12/8 10:05:00]") + (sent ? u"" : u" 未送信 1 件"));
    EXPECT_EQ(h.view.trayTip, sent ? u"zkQuorvane" : u"zkQuorvane 未送信 1 件");
    EXPECT_TRUE(h.window->AlertText().empty());
    EXPECT_EQ(h.window->Countdown(), 4);
  }
}

TEST(MainWindowCycle, SectionsInLogOrderThenTheServices) {
  Harness h(With(BaseIni(), "Interval", "1"));
  h.clock.now = {2026, 12, 8, 10, 0, 0};
  h.window->FormLoad();
  h.window->StartClicked();
  h.logs.records[u"Application"] = {RecordAt({2026, 12, 8, 10, 0, 30}, 2, u"App", 5)};
  h.logs.records[u"System"] = {RecordAt({2026, 12, 8, 10, 0, 10}, 1, u"Disk", 11)};
  h.serviceCheck.append = u"［サービス］\r\nSpooler <--- Not found!\r\n";
  h.Tick();
  ASSERT_EQ(h.sender.sent.size(), 1u);
  EXPECT_EQ(h.sender.sent[0].body,
            u"［システム］\r\n"
            u"エラー    2026/12/08 10:00:10 Disk なし 11 N/A HOST\r\n"
            u"［アプリケーション］\r\n"
            u"警告     2026/12/08 10:00:30 App なし 5 N/A HOST\r\n"
            u"［サービス］\r\nSpooler <--- Not found!\r\n");
  // The working lists hold the last log read, the Application log.
  EXPECT_EQ(h.view.rows[IDC_LSTLOG1].size(), 1u);
  EXPECT_EQ(h.view.rows[IDC_LSTLOG2].size(), 1u);
  EXPECT_EQ(h.window->Log2().at(0).source, u"App");
}

TEST(MainWindowCycle, TicksDuringTheMailAreSkipped) {
  Harness h(With(BaseIni(), "Interval", "1"));
  h.clock.now = {2026, 12, 8, 10, 0, 0};
  h.window->FormLoad();
  h.window->StartClicked();
  h.logs.records[u"System"] = {RecordAt({2026, 12, 8, 10, 0, 10}, 1, u"Disk", 11)};
  int cyclesSeenDuringMail = -1;
  h.sender.during = [&] {
    h.Tick();
    h.Tick();
    h.window->SendClicked();
    cyclesSeenDuringMail = h.Cycles();
    EXPECT_TRUE(h.window->CycleInProgress());
  };
  h.Tick();
  EXPECT_EQ(cyclesSeenDuringMail, 1);
  EXPECT_EQ(h.sender.sent.size(), 1u);
  EXPECT_FALSE(h.window->CycleInProgress());
  h.sender.during = nullptr;
  h.Tick();  // the next tick runs normally
  EXPECT_EQ(h.Cycles(), 2);
}

TEST(MainWindowCycle, TicksDuringAMessageOfTheCycleAreSkipped) {
  // Any modal box inside a cycle keeps the message loop, and so the timer, running.
  Harness h(With(BaseIni(), "Interval", "1"));
  h.window->FormLoad();
  h.window->StartClicked();
  bool nested = false;
  h.serviceCheck.during = [&] {
    if (nested) return;
    nested = true;
    h.Tick();
    h.Tick();
  };
  h.Tick();
  EXPECT_EQ(h.Cycles(), 1);
  EXPECT_EQ(h.serviceCheck.calls, 1);
}

TEST(MainWindowCycle, FailureInACycleIsShownOnceAndMonitoringGoesOn) {
  Harness h(With(BaseIni(), "Interval", "1"));
  h.window->FormLoad();
  h.window->StartClicked();
  // The settings dialog stores an interval that passes its check but not the conversion.
  h.dialogs.saved = true;
  h.dialogs.edit = [](Settings& s) { s.Interval = u"99999"; };
  h.window->SettingsClicked();
  ASSERT_EQ(h.boxes.shown.size(), 1u);
  EXPECT_EQ(h.boxes.shown[0].text, u"アプリケーションエラー！\r\nオーバーフローしました。");
  h.serviceCheck.append = u"［サービス］\r\nX <--- Not found!\r\n";
  h.Tick();
  h.Tick();
  EXPECT_EQ(h.Cycles(), 2);
  ASSERT_EQ(h.boxes.shown.size(), 2u);
  EXPECT_EQ(h.boxes.shown[1].text, u"アプリケーションエラー！\r\nオーバーフローしました。");
  EXPECT_EQ(h.boxes.shown[1].icon, MessageIcon::Exclamation);
  EXPECT_TRUE(h.window->AlertText().empty());
  EXPECT_FALSE(h.window->CycleInProgress());
  EXPECT_TRUE(h.window->Running());
  EXPECT_FALSE(h.view.enabled[IDC_CMDSTART]);
  // Stopping still works, and says why the countdown could not be reloaded.
  h.window->StopClicked();
  EXPECT_FALSE(h.window->Running());
  EXPECT_FALSE(h.view.timer);
  EXPECT_TRUE(h.view.enabled[IDC_CMDSTART]);
  EXPECT_EQ(h.boxes.shown.size(), 3u);
  // And starting with that interval changes nothing.
  h.window->StartClicked();
  EXPECT_FALSE(h.window->Running());
  EXPECT_FALSE(h.view.timer);
  EXPECT_TRUE(h.view.enabled[IDC_CMDSTART]);
  EXPECT_TRUE(h.LastStatus().starts_with(u"稼動停止。["));
}

TEST(MainWindowCycle, EvtFilesReplaceTheLiveLogs) {
  Harness h(With(With(BaseIni(), "Interval", "1"), "EventLogDir", "logs"));
  h.clock.now = {2026, 12, 8, 10, 0, 0};
  h.window->FormLoad();
  h.window->StartClicked();
  EvtRecipe recipe;
  recipe.records = {RecordAt({2026, 12, 8, 10, 0, 20}, 1, u"Disk", 9)};
  h.PutLog("System.evt", BuildEvtFile(recipe));
  h.PutLog("Security.evt", BuildEvtFile(EvtRecipe{}));
  h.PutLog("Application.evt", BuildEvtFile(EvtRecipe{}));
  h.logs.records[u"System"] = {RecordAt({2026, 12, 8, 10, 0, 30}, 1, u"Live", 1)};
  h.Tick();
  EXPECT_TRUE(h.logs.opened.empty());
  EXPECT_NE(h.LastStatus().find(u"] (ファイル: " + PathText(h.dir / "logs") + u")"),
            std::u16string::npos);
  ASSERT_EQ(h.sender.sent.size(), 1u);
  EXPECT_EQ(h.sender.sent[0].body,
            u"［システム］\r\nエラー    2026/12/08 10:00:20 Disk なし 9 N/A HOST\r\n");
}

// What can go wrong in a cycle never goes unnoticed, never floods the user with
// the same message every minute and never stops monitoring: a damaged log, a
// settings file that does not take the stamp, a failure of any kind.
TEST(MainWindowCycle, FaultsAreToldOnceAndMonitoringGoesOn) {
  Harness h(With(With(BaseIni(), "Interval", "1"), "EventLogDir", "logs"));
  h.clock.now = {2026, 12, 8, 10, 0, 0};
  h.window->FormLoad();
  h.window->StartClicked();
  EvtRecipe recipe;
  recipe.records = {RecordAt({2026, 12, 8, 10, 0, 20}, 1, u"Disk", 9, 1),
                    RecordAt({2026, 12, 8, 10, 0, 30}, 1, u"Disk", 10, 2)};
  Bytes cut = BuildEvtFile(recipe);
  cut.resize(cut.size() - 40 - 8);  // a copy cut inside its newest record
  h.PutLog("System.evt", cut);
  h.PutLog("Application.evt", BuildEvtFile(EvtRecipe{}));  // Security.evt is missing
  fs::permissions(h.dir / "zkQuorvane.ini", fs::perms::owner_read);

  h.Tick();
  ASSERT_EQ(h.sender.sent.size(), 1u) << "the complete record is still alerted";
  const std::u16string& body = h.sender.sent[0].body;
  // Each log that was not read whole says so in the alert.
  EXPECT_TRUE(body.starts_with(u"［システム］\r\n※ ログを読めませんでした: ReadEventLog function "
                               u"fails. ErrNumber = 0x000005DC"));
  EXPECT_NE(body.find(u"エラー    2026/12/08 10:00:20 Disk なし 9 N/A HOST\r\n"), std::u16string::npos);
  EXPECT_NE(body.find(u"［セキュリティ］\r\n※ ログを読めませんでした: ReadEventLog function fails. "
                      u"ErrNumber = 0x00000002"),
            std::u16string::npos);
  EXPECT_EQ(body.find(u"［アプリケーション］"), std::u16string::npos);
  ASSERT_EQ(h.boxes.shown.size(), 3u);
  EXPECT_TRUE(
      h.boxes.shown[0].text.starts_with(u"ReadEventLog function fails.\r\nErrNumber = 0x000005DC"));
  EXPECT_TRUE(h.boxes.shown[2].text.ends_with(u" ファイルの書き込み時にエラーが発生しました。"));

  // Damage reads the same every time: the bookmark moved over the record
  // read above it, which is not alerted again, and the faults are not told
  // again. The missing log stays unread: no all-clear.
  h.Tick();
  ASSERT_EQ(h.sender.sent.size(), 1u);
  EXPECT_EQ(h.boxes.shown.size(), 3u) << "the same faults are not told again";
  EXPECT_TRUE(h.LastStatus().starts_with(u"［セキュリティ］※ ログを読めませんでした: "));
  EXPECT_NE(h.LastStatus().find(u"監視処理でイベントログを読み込めませんでした。["),
            std::u16string::npos);

  h.serviceCheck.during = [] { throw 42; };  // no std::exception at all
  h.Tick();
  ASSERT_EQ(h.boxes.shown.size(), 4u);
  EXPECT_EQ(h.boxes.shown[3].text, u"アプリケーションエラー！\r\n予期しないエラーが発生しました。");
  EXPECT_FALSE(h.window->CycleInProgress());
  h.serviceCheck.during = nullptr;
  fs::permissions(h.dir / "zkQuorvane.ini", fs::perms::owner_read | fs::perms::owner_write);
  h.PutLog("System.evt", BuildEvtFile(recipe));
  h.PutLog("Security.evt", BuildEvtFile(EvtRecipe{}));
  h.Tick();
  EXPECT_EQ(h.serviceCheck.calls, 4) << "monitoring went on";
  // Whole now, the log gives the record that was cut off.
  ASSERT_EQ(h.sender.sent.size(), 2u);
  EXPECT_EQ(h.sender.sent[1].body,
            u"［システム］\r\nエラー    2026/12/08 10:00:30 Disk なし 10 N/A HOST\r\n");
  EXPECT_EQ(h.FileValue(u"TimeStamp"), u"10:04:00");
  h.Tick();
  EXPECT_TRUE(h.LastStatus().starts_with(u"監視処理を実行しましたが異常はありません。["));
}

struct StateCase {
  const char* name;
  std::function<void(MainWindow&)> act;
  bool running;
};

TEST(MainWindowCommands, ControlStatesOfStartAndStop) {
  const StateCase cases[] = {
      {"start", [](MainWindow& w) { w.StartClicked(); }, true},
      {"start twice",
       [](MainWindow& w) {
         w.StartClicked();
         w.StartClicked();
       },
       true},
      {"start then stop",
       [](MainWindow& w) {
         w.StartClicked();
         w.StopClicked();
       },
       false},
      {"stop while stopped", [](MainWindow& w) { w.StopClicked(); }, false},
      {"File menu start", [](MainWindow& w) { w.MenuCommand(IDM_FILE0); }, true},
      {"File menu stop",
       [](MainWindow& w) {
         w.MenuCommand(IDM_FILE0);
         w.MenuCommand(IDM_FILE1);
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(BaseIni());
    h.clock.now = {2026, 12, 8, 7, 8, 9};
    h.window->FormLoad();
    c.act(*h.window);
    EXPECT_EQ(h.window->Running(), c.running);
    EXPECT_EQ(h.view.timer, c.running);
    EXPECT_EQ(h.view.enabled[IDC_CMDSTART], !c.running);
    EXPECT_EQ(h.view.menus[IDM_FILE0], !c.running);
    EXPECT_EQ(h.view.enabled[IDC_CMDSTOP], c.running);
    EXPECT_EQ(h.view.menus[IDM_FILE1], c.running);
    EXPECT_EQ(h.view.menus[IDM_SETTING0], !c.running);
    EXPECT_EQ(h.view.menus.count(IDM_SETTING1), 0u);  // always enabled
    EXPECT_EQ(h.window->Countdown(), 4);
    EXPECT_EQ(h.LastStatus(),
              c.running ? u"稼動開始。[2026/12/08 07:08:09]" : u"稼動停止。[2026/12/08 07:08:09]");
  }
}

TEST(MainWindowCommands, SendButtonBetweenCycles) {
  const struct {
    const char* subject;
    std::u16string computer;
    std::u16string expected;
  } cases[] = {
      {"Alert", u"HOST", u"Alert - HOST"},
      {"   ", u"HOST", u" - HOST"},
      {"Alert", u"", u"Alert - "},
      {"", u"ABCDEFGHIJKLMNO", u" - ABCDEFGHIJKLMNO"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.subject);
    Harness h(With(BaseIni(), "Subject", c.subject));
    h.system.computer = c.computer;
    h.window->FormLoad();
    EXPECT_EQ(h.view.texts[IDC_LBLCOMPUTERNAME], c.computer);
    h.window->SendClicked();
    ASSERT_EQ(h.sender.sent.size(), 1u);
    EXPECT_EQ(h.sender.sent[0].subject, c.expected);
    EXPECT_EQ(h.sender.sent[0].body, u"");
  }
}

TEST(MainWindowCommands, SendUsesWhatTheFieldsShow) {
  Harness h(BaseIni());
  h.window->FormLoad();
  h.view.texts[IDC_TXTSMTPSERVER] = u"  other.example.jp";
  h.view.texts[IDC_TXTSMTPTO] = u"x@example.jp  ";
  h.window->SendClicked();
  ASSERT_EQ(h.sender.sent.size(), 1u);
  EXPECT_EQ(h.sender.sent[0].server, u"other.example.jp");
  EXPECT_EQ(h.sender.sent[0].toList, u"x@example.jp");
}

TEST(MainWindowMenus, OptionsAndHelp) {
  Harness h(BaseIni());
  h.window->FormLoad();

  // The rules are reloaded after the editor closes, saved or not.
  h.dialogs.duringRules = [&] { h.WriteRules(u"Security;除外;失敗;*;*;*\r\n"); };
  h.window->MenuCommand(IDM_SETTING0);
  EXPECT_EQ(h.dialogs.rulesCalls, 1);
  EXPECT_EQ(h.dialogs.seenRulesFile, h.dir / "rules.txt");
  EXPECT_TRUE(h.window->Rules()[RuleLog::System].empty());
  EXPECT_EQ(h.view.rows[IDC_LSTSECURITY],
            (std::vector<ListRow>{{u"除外", u"失敗", u"*", u"*", u"*"}}));

  // Not while monitoring runs.
  h.window->StartClicked();
  h.window->MenuCommand(IDM_SETTING0);
  EXPECT_EQ(h.dialogs.rulesCalls, 1);

  // The settings dialog: nothing changes on cancel, the fields follow a save.
  h.dialogs.edit = [](Settings& s) {
    s.SmtpServer = u"new.example.jp";
    s.Interval = u"3";
    s.DateStamp = u"2026/01/02";
    s.TimeStamp = u"03:04:05";
    s.AutoStart = u"1";
  };
  h.window->MenuCommand(IDM_SETTING1);
  EXPECT_EQ(h.view.texts[IDC_TXTSMTPSERVER], u" mail.example.jp ");
  h.dialogs.saved = true;
  h.window->SettingsClicked();
  EXPECT_EQ(h.dialogs.settingsCalls, 2);
  EXPECT_EQ(h.view.texts[IDC_TXTSMTPSERVER], u"new.example.jp");
  EXPECT_EQ(h.view.texts[IDC_TXTINTERVAL], u"3");
  EXPECT_EQ(h.view.texts[IDC_TXTSTARTDATETIME], u"2026/01/02 03:04:05");
  EXPECT_TRUE(h.view.checked[IDC_CHKSETTING0]);
  EXPECT_EQ(h.window->Countdown(), 2);

  h.window->MenuCommand(IDM_HELP0);
  h.window->MenuCommand(IDM_HELP1);
  h.window->MenuCommand(IDM_HELP3);
  EXPECT_EQ(h.dialogs.aboutCalls, 1);
  ASSERT_EQ(h.view.help.size(), 2u);
  EXPECT_EQ(h.view.help[0], std::make_pair(h.window->HelpPath(), 3u));
  EXPECT_EQ(h.view.help[1], std::make_pair(h.window->HelpPath(), 0x105u));
  EXPECT_TRUE(h.boxes.shown.empty());
}

TEST(MainWindowMenus, HourglassWhileTheRulesAreReloaded) {
  const struct {
    const char* name;
    const char16_t* rules;  // nullptr: the file is gone
    std::vector<std::string> journal;
  } cases[] = {
      {"good file",
       u"System;対象;エラー;*;*;*\r\n",
       {"busy", "rows", "sections", "channel", "rows", "idle"}},
      {"faulty line",
       u"System;対象;エラー\r\n",
       {"busy", "idle", "box", "rows", "sections", "channel", "rows", "idle"}},
      {"missing file",
       nullptr,
       {"busy", "idle", "box", "rows", "sections", "channel", "rows", "idle"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(BaseIni());
    h.window->FormLoad();
    h.dialogs.duringRules = [&] {
      if (c.rules != nullptr) {
        h.WriteRules(c.rules);
      } else {
        fs::remove(h.dir / "rules.txt");
      }
      h.journal.clear();
    };
    h.window->MenuCommand(IDM_SETTING0);
    // The pointer is back to normal before the failure message, and after a success.
    std::vector<std::string> seen;
    for (const auto& entry : h.journal) {
      const std::string kind = entry.substr(0, entry.find(' '));
      if (seen.empty() || seen.back() != kind) seen.push_back(kind);
    }
    EXPECT_EQ(seen, c.journal);
    EXPECT_FALSE(h.view.busy);
  }
}

TEST(MainWindowMenus, FailingMenuActionShowsNothing) {
  Harness h(BaseIni());
  h.window->FormLoad();
  h.dialogs.saved = true;
  h.dialogs.edit = [](Settings& s) { s.Interval = u"abc"; };
  h.window->MenuCommand(IDM_SETTING1);
  EXPECT_TRUE(h.boxes.shown.empty());
  h.window->MenuCommand(IDM_FILE0);  // the start cannot convert the interval
  EXPECT_TRUE(h.boxes.shown.empty());
  EXPECT_FALSE(h.window->Running());
  h.window->StartClicked();  // the button says why
  ASSERT_EQ(h.boxes.shown.size(), 1u);
  EXPECT_EQ(h.boxes.shown[0].text, u"アプリケーションエラー！\r\n型が一致しません。");
}

TEST(MainWindowEnding, EveryWayEndsOnceAndClosesTheHelp) {
  const struct {
    const char* name;
    std::function<void(MainWindow&)> act;
  } cases[] = {
      {"exit button", [](MainWindow& w) { w.ExitClicked(); }},
      {"File menu exit", [](MainWindow& w) { w.MenuCommand(IDM_FILE2); }},
      {"close box", [](MainWindow& w) { w.Unload(); }},
      {"twice",
       [](MainWindow& w) {
         w.Unload();
         w.ExitClicked();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(With(BaseIni(), "Interval", "1"));
    h.window->FormLoad();
    h.window->StartClicked();
    c.act(*h.window);
    EXPECT_TRUE(h.window->Ended());
    EXPECT_EQ(h.view.ends, 1);
    ASSERT_EQ(h.view.help.size(), 1u);
    EXPECT_EQ(h.view.help[0], std::make_pair(h.window->HelpPath(), 2u));
    h.Tick();
    EXPECT_EQ(h.Cycles(), 0);
  }
}

TEST(MainWindowEnding, UnloadDuringTheMailCompletesNoCycle) {
  Harness h(With(BaseIni(), "Interval", "1"));
  h.window->FormLoad();
  h.window->StartClicked();
  h.serviceCheck.append = u"［サービス］\r\nX <--- Not found!\r\n";
  const auto statuses = h.view.statuses.size();
  h.sender.during = [&] { h.window->Unload(); };
  h.Tick();
  EXPECT_EQ(h.view.statuses.size(), statuses);  // no mail outcome written after the end
  EXPECT_EQ(h.window->Countdown(), 0);          // not reloaded
}

TEST(MainWindowTray, MinimiseRestoreAndMenu) {
  Harness h(BaseIni());
  h.window->FormLoad();
  h.window->Resized(WindowState::Normal);
  EXPECT_EQ(h.view.trayAdds, 0);
  h.window->Resized(WindowState::Minimized);
  h.window->Resized(WindowState::Minimized);
  EXPECT_EQ(h.view.trayAdds, 1);
  EXPECT_TRUE(h.window->Iconised());

  h.window->StartClicked();
  h.window->TrayRightClicked();
  EXPECT_EQ(h.view.popups, 1);
  EXPECT_EQ(h.view.popupStates, std::make_pair(false, true));  // start disabled, stop enabled

  h.window->TrayDoubleClicked();
  EXPECT_EQ(h.view.trayRemoves, 1);
  EXPECT_FALSE(h.window->Iconised());
  h.window->TrayDoubleClicked();
  EXPECT_EQ(h.view.trayRemoves, 1);
  h.window->Resized(WindowState::Minimized);
  EXPECT_EQ(h.view.trayAdds, 2);
}

// The rules of each channel under its name, in a list of their own that the
// window shows only while there are any; the editor's save is shown at once.
TEST(MainWindowRules, ChannelRulesAreListedUnderTheirChannel) {
  const std::u16string logs = u"System;対象;エラー;*;*;*\r\nService;Spooler;開始;;;\r\n";
  const struct {
    const char* what;
    std::u16string channelLines;
    std::vector<ListSection> sections;
  } cases[] = {
      {"none", u"", {}},
      {"one",
       u"ForwardedEvents;除外;警告;Disk;*;7\r\n",
       {{u"ForwardedEvents", {{u"除外", u"警告", u"Disk", u"*", u"7"}}}}},
      {"two, the second interleaved and in another case",
       u"ForwardedEvents;対象;エラー;*;*;*\r\n"
       u"Microsoft-Windows-Windows Defender/Operational;対象;警告;*;*;1116\r\n"
       u"forwardedevents;除外;情報;A;B;1;2\r\n",
       {{u"ForwardedEvents",
         {{u"対象", u"エラー", u"*", u"*", u"*"}, {u"除外", u"情報", u"A", u"B", u"1;2"}}},
        {u"Microsoft-Windows-Windows Defender/Operational",
         {{u"対象", u"警告", u"*", u"*", u"1116"}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h(BaseIni(), u"", logs + c.channelLines);
    h.window->FormLoad();
    EXPECT_EQ(h.view.sections[IDC_LSTCHANNELS], c.sections);
    EXPECT_EQ(h.view.channelRulesShown, !c.sections.empty());
    // The logs' own lists do not take the channel rules.
    EXPECT_EQ(h.view.rows[IDC_LSTSYSTEM],
              (std::vector<ListRow>{{u"対象", u"エラー", u"*", u"*", u"*"}}));
    EXPECT_EQ(h.view.rows[IDC_LSTSERVICES], (std::vector<ListRow>{{u"Spooler", u"開始"}}));

    // The editor writes the other case's rules; the window follows on its return.
    const bool had = !c.sections.empty();
    h.dialogs.duringRules = [&] {
      h.WriteRules(had ? logs : logs + u"Setup;対象;エラー;*;*;*\r\n");
    };
    h.window->MenuCommand(IDM_SETTING0);
    EXPECT_EQ(h.view.channelRulesShown, !had);
    const std::vector<ListSection> setup{{u"Setup", {{u"対象", u"エラー", u"*", u"*", u"*"}}}};
    EXPECT_EQ(h.view.sections[IDC_LSTCHANNELS], had ? std::vector<ListSection>{} : setup);
  }
}

TEST(MainWindowFocus, RuleListsPassTheFocusOn) {
  const struct {
    int list;
    bool running;
    int expected;
  } cases[] = {
      {IDC_LSTSYSTEM, false, IDC_CMDSTART},
      {IDC_LSTSECURITY, false, IDC_CMDSTART},
      {IDC_LSTAPPLICATION, true, IDC_CMDSTOP},
      {IDC_LSTSERVICES, true, IDC_CMDSTOP},
      {IDC_LSTCHANNELS, false, IDC_CMDSTART},
      {IDC_LSTLOG1, false, 0},
      {IDC_TXTSMTPTO, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    Harness h(BaseIni());
    h.window->FormLoad();
    if (c.running) h.window->StartClicked();
    h.window->RuleListFocused(c.list);
    EXPECT_EQ(h.view.focus, c.expected);
  }
}

TEST(IsFlagSet, NumbersAndNonNumbers) {
  const struct {
    const char16_t* text;
    int expected;  // 1 set, 0 not set, -1 failure
  } cases[] = {
      {u"1", 1},   {u" 1", 1}, {u"1 ", 1},   {u"1.0", 1},   {u"+1", 1},
      {u"0", 0},   {u"-1", 0}, {u"2", 0},    {u"99999", 0}, {u"1.4", 0},
      {u"&H1", 1}, {u"", -1},  {u"yes", -1}, {u"1x", -1},   {u" ", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    if (c.expected < 0) {
      EXPECT_THROW(IsFlagSet(c.text), Failure);
    } else {
      EXPECT_EQ(IsFlagSet(c.text), c.expected == 1);
    }
  }
}

}  // namespace
}  // namespace zkq
