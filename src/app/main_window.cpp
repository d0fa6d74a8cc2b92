#include "app/main_window.h"

#include <charconv>
#include <exception>
#include <optional>

#include "app/main_window_ids.h"
#include "rules/matching.h"
#include "app/startup.h"
#include "base/convert.h"
#include "base/failure.h"
#include "base/text.h"
#include "eventlog/evt_file.h"
#include "eventlog/reader.h"

namespace zkq {

namespace {

constexpr char16_t kCrLf[] = u"\r\n";
constexpr char16_t kStartFailed[] = u"起動に失敗しました！";
constexpr char16_t kInvalidOption[] = u"Invalid command option";
constexpr char16_t kInstalled[] = u"はサービスとして登録されました！";
constexpr char16_t kNotInstalled[] = u"はサービスとして登録されませんでした！";
constexpr char16_t kUninstalled[] = u"はサービスから削除されました！";
constexpr char16_t kNotUninstalled[] = u"はサービスから削除されませんでした！";
constexpr char16_t kStarted[] = u"稼動開始。[";
constexpr char16_t kStopped[] = u"稼動停止。[";
constexpr char16_t kNoFindings[] = u"監視処理を実行しましたが異常はありません。[";
constexpr char16_t kLogsUnreadable[] = u"監視処理でイベントログを読み込めませんでした。[";
constexpr char16_t kMailSent[] = u"メール送信を完了しました。[";
constexpr char16_t kMailFailed[] = u"メール送信に失敗しました。[";

constexpr unsigned kHelpContents = 3;
constexpr unsigned kHelpPartialKey = 0x105;
constexpr unsigned kHelpQuit = 2;

constexpr int kRuleListIds[] = {IDC_LSTSYSTEM, IDC_LSTSECURITY, IDC_LSTAPPLICATION};

ListColumn Column(const char16_t* header, std::size_t blanks) {
  std::u16string sample(header);
  sample.append(blanks, u' ');
  return {header, sample};
}

std::vector<ListRow> RowsOf(const EventList& events) {
  std::vector<ListRow> rows;
  rows.reserve(events.size());
  for (const auto& e : events) {
    rows.push_back({e.type, e.date, e.time, e.source, e.category, e.eventId, e.user, e.computer});
  }
  return rows;
}

// Sets a busy flag for as long as it lives, so that no way out of a handler
// (an exception of any kind included) can leave the flag set for good.
class BusyFlag {
 public:
  explicit BusyFlag(bool& flag) : flag_(flag) { flag_ = true; }
  BusyFlag(const BusyFlag&) = delete;
  BusyFlag& operator=(const BusyFlag&) = delete;
  ~BusyFlag() { flag_ = false; }

 private:
  bool& flag_;
};

// The reader's read-failure messages of one cycle, each shown once: the same
// fault would come back every minute. A log that reads again clears its fault.
class ReadFailureBoxes : public MessageBoxes {
 public:
  ReadFailureBoxes(MessageBoxes& boxes, std::u16string& shownBefore)
      : boxes_(boxes), shownBefore_(shownBefore) {}
  void Show(const std::u16string& text, MessageIcon icon) override {
    failed_ = true;
    if (text == shownBefore_) return;
    shownBefore_ = text;
    boxes_.Show(text, icon);
  }
  bool Failed() const { return failed_; }

 private:
  MessageBoxes& boxes_;
  std::u16string& shownBefore_;
  bool failed_ = false;
};

// The messages of the rules loader: the hourglass gives way to the normal
// pointer before any of them shows.
class NormalPointerBoxes : public MessageBoxes {
 public:
  NormalPointerBoxes(MainWindowView& view, MessageBoxes& boxes) : view_(view), boxes_(boxes) {}
  void Show(const std::u16string& text, MessageIcon icon) override {
    view_.SetBusyCursor(false);
    boxes_.Show(text, icon);
  }

 private:
  MainWindowView& view_;
  MessageBoxes& boxes_;
};

}  // namespace

std::vector<ListColumn> EventRuleColumns() {
  return {Column(u"指定", 4), Column(u"種類", 6), Column(u"ソース", 12), Column(u"分類", 6),
          Column(u"イベント", 4)};
}

std::vector<ListColumn> ServiceRuleColumns() {
  return {Column(u"サービス名", 26), Column(u"状態", 6)};
}

std::vector<ListColumn> EventRowColumns() {
  return {Column(u"種類", 4),     Column(u"日付", 4),        Column(u"時刻", 4),
          Column(u"ソース", 8),   Column(u"分類", 4),        Column(u"イベント", 4),
          Column(u"ユーザー", 4), Column(u"コンピュータ", 0)};
}

bool IsFlagSet(std::u16string_view text) {
  if (!IsNumeric(text)) throw Failure(kTypeMismatch);
  return NumericValueIsOne(text);
}

MainWindow::MainWindow(MainWindowPorts ports, StartupValues values)
    : ports_(ports),
      programDir_(std::move(values.programDir)),
      rawCommandLine_(std::move(values.rawCommandLine)),
      commandLine_(std::move(values.commandLine)),
      helpPath_(std::move(values.helpPath)),
      settings_(std::move(values.settings)),
      countdown_(values.countdown) {}

void MainWindow::FormLoad() {
  MainWindowView& view = ports_.view;
  // The window as designed: stopped.
  ShowRunState(false);
  try {
    view.SetBusyCursor(true);
    view.SetCaption(kAppTitle);
    view.CenterOnScreen();
    view.SetControlText(IDC_TXTSMTPSERVER, settings_.SmtpServer);
    view.SetControlText(IDC_TXTSMTPPORT, settings_.SmtpPort);
    view.SetControlText(IDC_TXTSMTPFROM, settings_.From);
    view.SetControlText(IDC_TXTSMTPTO, settings_.To);
    view.SetControlText(IDC_TXTSMTPSUBJECT, settings_.Subject);

    // Examination begins at the moment of start-up, whatever the file held.
    const DateTime now = ports_.clock.Now();
    settings_.DateStamp = FormatDate(now);
    settings_.TimeStamp = FormatTime(now);
    view.SetControlText(IDC_TXTSTARTDATETIME, settings_.DateStamp + u" " + settings_.TimeStamp);
    StampWritten(now, ports_.settingsFile.WriteIniString(kSettingsSection, u"DateStamp",
                                                         settings_.DateStamp) &
                          ports_.settingsFile.WriteIniString(kSettingsSection, u"TimeStamp",
                                                             settings_.TimeStamp));

    view.SetControlText(IDC_TXTINTERVAL, settings_.Interval);
    const bool autoStart = IsFlagSet(settings_.AutoStart);
    view.SetChecked(IDC_CHKSETTING0, autoStart);
    const bool iconStart = IsFlagSet(settings_.IconStart);
    view.SetChecked(IDC_CHKSETTING1, iconStart);
    const bool serviceStart = IsFlagSet(settings_.ServiceStart);
    view.SetChecked(IDC_CHKSETTING2, serviceStart);

    computerName_ = ports_.system.ComputerName();
    view.SetControlText(IDC_LBLCOMPUTERNAME, computerName_);
    userName_ = ports_.system.UserName();
    view.SetControlText(IDC_LBLUSERNAME, userName_);
    view.SetCaption(kAppTitle);

    for (int id : kRuleListIds) view.SetupListColumns(id, EventRuleColumns());
    view.SetupListColumns(IDC_LSTSERVICES, ServiceRuleColumns());
    view.SetupListColumns(IDC_LSTLOG1, EventRowColumns());
    view.SetupListColumns(IDC_LSTLOG2, EventRowColumns());

    LoadRules();

    if (autoStart) {
      DoStart();
    } else {
      view.EnableCheckTimer(false);
    }

    if (iconStart) {
      MinimiseToTray();
    } else {
      view.SetWindowState(WindowState::Normal);
    }

    // Only the install option may carry blanks around it; the other tests
    // read the command line as it came. The program counts as ended before
    // its last message: while the box waits, the message loop still delivers
    // timer ticks and tray clicks, and none of them may run anything.
    const std::u16string title(kAppTitle);
    if (commandLine_ == u"-install") {
      view.SetBusyCursor(false);
      ended_ = true;
      if (ports_.service.Install()) {
        ports_.boxes.Show(title + kInstalled, MessageIcon::Information);
      } else {
        ports_.boxes.Show(title + kNotInstalled, MessageIcon::Exclamation);
      }
      view.EndProgram();
      return;
    }
    if (rawCommandLine_ == u"-uninstall") {
      view.SetBusyCursor(false);
      ended_ = true;
      if (ports_.service.Uninstall()) {
        ports_.boxes.Show(title + kUninstalled, MessageIcon::Information);
      } else {
        ports_.boxes.Show(title + kNotUninstalled, MessageIcon::Exclamation);
      }
      view.EndProgram();
      return;
    }
    if (!rawCommandLine_.empty()) {
      view.SetBusyCursor(false);
      ended_ = true;
      ports_.boxes.Show(kInvalidOption, MessageIcon::None);
      view.EndProgram();
      return;
    }

    ports_.service.Connect();
    if (serviceStart) {
      MinimiseToTray();
      DoStart();
    }
    view.SetBusyCursor(false);
  } catch (...) {
    view.SetBusyCursor(false);
    ports_.boxes.Show(std::u16string(kStartFailed) + kCrLf + CurrentFailureDescription(),
                      MessageIcon::Exclamation);
  }
}

void MainWindow::ShowRunState(bool running) {
  MainWindowView& view = ports_.view;
  view.EnableControl(IDC_CMDSTART, !running);
  view.EnableMenuItem(IDM_FILE0, !running);
  view.EnableControl(IDC_CMDSTOP, running);
  view.EnableMenuItem(IDM_FILE1, running);
  view.EnableMenuItem(IDM_SETTING0, !running);
}

void MainWindow::DoStart() {
  // Converted first, so that an Interval that is no number leaves every
  // control as it was instead of a half-started monitor.
  const std::int16_t countdown = CountdownFor(settings_);
  ports_.view.SetStatus(kStarted + StampNowFixed() + u"]");
  ShowRunState(true);
  countdown_ = countdown;
  ports_.view.EnableCheckTimer(true);
  running_ = true;
  cycleFailureShown_ = false;
}

void MainWindow::DoStop() {
  // Stopping must work even when Interval cannot be converted; the failure is
  // reported after the monitor has stopped.
  std::optional<Failure> failure;
  try {
    countdown_ = CountdownFor(settings_);
  } catch (const Failure& f) {
    failure = f;
  }
  MainWindowView& view = ports_.view;
  view.EnableCheckTimer(false);
  running_ = false;
  cycleFailureShown_ = false;
  const DateTime now = ports_.clock.Now();
  view.SetStatus(kStopped + FormatDate(now) + u" " + FormatTime(now) + u"]");
  ShowRunState(false);
  settings_.DateStamp = FormatDate(now);
  settings_.TimeStamp = FormatTime(now);
  view.SetControlText(IDC_TXTSTARTDATETIME, settings_.DateStamp + u" " + settings_.TimeStamp);
  StampWritten(
      now,
      ports_.settingsFile.WriteIniString(kSettingsSection, u"DateStamp", settings_.DateStamp) &
          ports_.settingsFile.WriteIniString(kSettingsSection, u"TimeStamp", settings_.TimeStamp));
  if (failure) throw *failure;
}

template <class Action>
void MainWindow::ShowingApplicationErrors(Action&& action) {
  try {
    action();
  } catch (...) {
    ShowApplicationError(CurrentFailureDescription());
  }
}

void MainWindow::StartClicked() {
  if (ended_) return;
  ShowingApplicationErrors([&] { DoStart(); });
}

void MainWindow::StopClicked() {
  if (ended_) return;
  ShowingApplicationErrors([&] { DoStop(); });
}

void MainWindow::ExitClicked() { Unload(); }

void MainWindow::Unload() {
  if (ended_) return;
  ended_ = true;
  ports_.view.OpenHelp(helpPath_, kHelpQuit);
  ports_.view.EndProgram();
}

void MainWindow::SendClicked() {
  if (ended_ || cycleInProgress_ || mailOpen_) return;
  ShowingApplicationErrors([&] { Send(); });
}

void MainWindow::SettingsClicked() {
  if (ended_) return;
  ShowingApplicationErrors([&] {
    if (ports_.dialogs.OpenSettingsDialog(settings_)) ShowSettingsValues();
  });
}

void MainWindow::ShowSettingsValues() {
  MainWindowView& view = ports_.view;
  view.SetControlText(IDC_TXTSMTPSERVER, settings_.SmtpServer);
  view.SetControlText(IDC_TXTSMTPPORT, settings_.SmtpPort);
  view.SetControlText(IDC_TXTSMTPFROM, settings_.From);
  view.SetControlText(IDC_TXTSMTPTO, settings_.To);
  view.SetControlText(IDC_TXTSMTPSUBJECT, settings_.Subject);
  view.SetControlText(IDC_TXTSTARTDATETIME, settings_.DateStamp + u" " + settings_.TimeStamp);
  view.SetControlText(IDC_TXTINTERVAL, settings_.Interval);
  countdown_ = CountdownFor(settings_);
  view.SetChecked(IDC_CHKSETTING0, IsFlagSet(settings_.AutoStart));
  view.SetChecked(IDC_CHKSETTING1, IsFlagSet(settings_.IconStart));
  view.SetChecked(IDC_CHKSETTING2, IsFlagSet(settings_.ServiceStart));
}

void MainWindow::MenuCommand(int id) {
  if (ended_) return;
  // A menu action that fails shows nothing; the window stays as it is.
  try {
    switch (id) {
      case IDM_FILE0:
        DoStart();
        break;
      case IDM_FILE1:
        DoStop();
        break;
      case IDM_FILE2:
        ExitClicked();
        break;
      case IDM_SETTING0:
        // The editor and the cycle must not use the rules file at once.
        if (running_) break;
        ports_.dialogs.OpenRulesEditor(InProgramDir(settings_.Rules));
        if (!ended_) LoadRules();
        break;
      case IDM_SETTING1:
        if (ports_.dialogs.OpenSettingsDialog(settings_) && !ended_) {
          // A stamp the user set in the dialog is the bound from now on, even an earlier one.
          unwrittenStamp_.reset();
          ShowSettingsValues();
        }
        break;
      case IDM_HELP0:
        ports_.view.OpenHelp(helpPath_, kHelpContents);
        break;
      case IDM_HELP1:
        ports_.view.OpenHelp(helpPath_, kHelpPartialKey);
        break;
      case IDM_HELP3:
        ports_.dialogs.OpenAboutBox();
        break;
      default:
        break;
    }
  } catch (...) {
  }
}

void MainWindow::OnCheckTimer() {
  if (ended_ || !running_ || cycleInProgress_) return;
  if (countdown_ >= 1) {
    --countdown_;
    return;
  }
  // A mail sent by hand is still open: the cycle runs at the next tick.
  if (mailOpen_) return;
  const BusyFlag busy(cycleInProgress_);
  try {
    RunCycle();
    cycleFailureShown_ = false;
  } catch (...) {
    alertText_.clear();
    // Shown as the application error, like any failure at the window's
    // boundary. The same fault would come back every minute: one message is
    // enough until a cycle succeeds again. Monitoring stays as it was.
    if (!cycleFailureShown_ && !ended_) {
      cycleFailureShown_ = true;
      ShowApplicationError(CurrentFailureDescription());
    }
  }
}

void MainWindow::RunCycle() {
  SettingsFile& file = ports_.settingsFile;
  MainWindowView& view = ports_.view;
  // The bound comes from the file, so that a stamp stored by the settings
  // dialog since the last cycle takes effect now.
  settings_.DateStamp = file.ReadIniString(kSettingsSection, u"DateStamp");
  settings_.TimeStamp = file.ReadIniString(kSettingsSection, u"TimeStamp");
  // A file that did not take the last stamp (read-only, say) gives back an
  // older one: the bound then never goes back before the stamp this program
  // set, or the same records would be alerted every minute. A stamp set back
  // in a file that took ours was set back on purpose and counts.
  const std::optional<DateTime> bound = ParseStamp(settings_.DateStamp, settings_.TimeStamp);
  if (unwrittenStamp_ && (!bound || bound->ToSeconds() < unwrittenStamp_->ToSeconds())) {
    settings_.DateStamp = FormatDate(*unwrittenStamp_);
    settings_.TimeStamp = FormatTime(*unwrittenStamp_);
  }
  const DateTime now = ports_.clock.Now();
  // The write warning once, until a write succeeds again.
  const bool written = file.WriteIniString(kSettingsSection, u"DateStamp", FormatDate(now), false) &
                       file.WriteIniString(kSettingsSection, u"TimeStamp", FormatTime(now), false);
  if (!written && !stampWarningShown_) file.ShowWriteFailure();
  stampWarningShown_ = !written;
  StampWritten(now, written);
  if (ended_) return;

  std::optional<EvtFileSource> evtFiles;
  EventLogSource* logs = &ports_.liveLogs;
  if (!settings_.EventLogDir.empty()) {
    evtFiles.emplace(InProgramDir(settings_.EventLogDir));
    logs = &*evtFiles;
  }
  bool readFailed = false;
  for (const AlertLog& log : kAlertLogs) {
    std::u16string& shownBefore = readFailureShown_[static_cast<int>(log.rules)];
    ReadFailureBoxes boxes(ports_.boxes, shownBefore);
    EventLogContext context{*logs, ports_.accounts, ports_.tables, boxes, ports_.zone};
    ReadEventLogRows(log1_, log.logName, computerName_, settings_.DateStamp, settings_.TimeStamp,
                     context);
    if (ended_) return;
    if (boxes.Failed()) {
      readFailed = true;
    } else {
      shownBefore.clear();
    }
    view.SetListRows(IDC_LSTLOG1, RowsOf(log1_));
    MatchEvents(rules_[log.rules], log1_, log2_);
    view.SetListRows(IDC_LSTLOG2, RowsOf(log2_));
    AppendAlertSection(alertText_, log.displayName, log2_);
  }

  ports_.serviceCheck.Check(rules_[RuleLog::Service], computerName_, alertText_);
  if (ended_) return;

  if (!alertText_.empty()) {
    Send();
    if (ended_) return;
  } else {
    // A log that could not be read is no clean cycle.
    view.SetStatus((readFailed ? kLogsUnreadable : kNoFindings) + StampNowLocale() + u"]");
  }
  alertText_.clear();
  countdown_ = CountdownFor(settings_);
}

void MainWindow::StampWritten(const DateTime& stamp, bool written) {
  if (written) {
    unwrittenStamp_.reset();
  } else {
    unwrittenStamp_ = stamp;
  }
}

void MainWindow::Send() {
  if (mailOpen_) return;
  MainWindowView& view = ports_.view;
  AlertMail mail;
  mail.server = Trim(view.ControlText(IDC_TXTSMTPSERVER));
  mail.port = Trim(view.ControlText(IDC_TXTSMTPPORT));
  mail.fromAddress = Trim(view.ControlText(IDC_TXTSMTPFROM));
  mail.toList = Trim(view.ControlText(IDC_TXTSMTPTO));
  mail.subject = Trim(view.ControlText(IDC_TXTSMTPSUBJECT)) + u" - " + computerName_;
  mail.body = alertText_;

  bool sent = false;
  {
    const BusyFlag open(mailOpen_);
    sent = ports_.sender.Send(mail);
  }
  if (ended_) return;
  view.SetStatus((sent ? kMailSent : kMailFailed) + StampNowLocale() + u"]");
}

void MainWindow::LoadRules() {
  ports_.view.SetBusyCursor(true);
  NormalPointerBoxes boxes(ports_.view, ports_.boxes);
  LoadRuleLists(InProgramDir(settings_.Rules), rules_, boxes);
  ShowRules();
  ports_.view.SetBusyCursor(false);
}

void MainWindow::ShowRules() {
  const RuleLog eventLogs[] = {RuleLog::System, RuleLog::Security, RuleLog::Application};
  for (int i = 0; i < 3; ++i) {
    std::vector<ListRow> rows;
    for (const auto& r : rules_[eventLogs[i]]) {
      rows.push_back({r.target, r.eventType, r.source, r.category, r.eventId});
    }
    ports_.view.SetListRows(kRuleListIds[i], rows);
  }
  std::vector<ListRow> rows;
  for (const auto& r : rules_[RuleLog::Service]) rows.push_back({r.serviceName, r.state});
  ports_.view.SetListRows(IDC_LSTSERVICES, rows);
}

void MainWindow::MinimiseToTray() {
  ports_.view.SetWindowState(WindowState::Minimized);
  Resized(WindowState::Minimized);
}

void MainWindow::Resized(WindowState state) {
  if (ended_ || state != WindowState::Minimized || iconised_) return;
  ports_.view.AddTrayIcon();
  iconised_ = true;
}

void MainWindow::TrayDoubleClicked() {
  if (ended_ || !iconised_) return;
  ports_.view.RemoveTrayIconAndRestore();
  iconised_ = false;
}

void MainWindow::TrayRightClicked() {
  if (ended_) return;
  ports_.view.ShowFileMenuPopup();
}

void MainWindow::RuleListFocused(int listId) {
  if (ended_) return;
  if (listId != IDC_LSTSYSTEM && listId != IDC_LSTSECURITY && listId != IDC_LSTAPPLICATION &&
      listId != IDC_LSTSERVICES) {
    return;
  }
  // The lists never keep the focus: it goes to whichever command is available.
  MainWindowView& view = ports_.view;
  if (view.IsControlEnabled(IDC_CMDSTART)) view.SetFocusTo(IDC_CMDSTART);
  if (view.IsControlEnabled(IDC_CMDSTOP)) view.SetFocusTo(IDC_CMDSTOP);
}

void MainWindow::ShowApplicationError(const std::u16string& description) {
  ports_.boxes.Show(std::u16string(kApplicationErrorText) + kCrLf + description,
                    MessageIcon::Exclamation);
}

std::u16string MainWindow::StampNowFixed() {
  const DateTime now = ports_.clock.Now();
  return FormatDate(now) + u" " + FormatTime(now);
}

std::u16string MainWindow::StampNowLocale() {
  const DateTime now = ports_.clock.Now();
  return ports_.clock.ShortDate(now) + u" " + ports_.clock.LongTime(now);
}

std::filesystem::path MainWindow::InProgramDir(const std::u16string& name) const {
  if (name.empty()) return {};
  return programDir_ / PathFromText(name);
}

}  // namespace zkq
