#include "app/main_window.h"

#include <charconv>
#include <exception>
#include <optional>

#include "app/main_window_ids.h"
#include "app/startup.h"
#include "base/convert.h"
#include "base/failure.h"
#include "base/text.h"

namespace zkq {

namespace {

constexpr char16_t kCrLf[] = u"\r\n";
constexpr char16_t kStartFailed[] = u"起動に失敗しました！";
constexpr char16_t kInvalidOption[] = u"Invalid command option";

constexpr unsigned kHelpContents = 3;
constexpr unsigned kHelpPartialKey = 0x105;
constexpr unsigned kHelpQuit = 2;

constexpr int kRuleListIds[] = {IDC_LSTSYSTEM, IDC_LSTSECURITY, IDC_LSTAPPLICATION};

ListRow EventRuleRow(const MonitoringRule& r) {
  return {r.target, r.eventType, r.source, r.category, r.eventId};
}

ListColumn Column(const char16_t* header, std::size_t blanks) {
  std::u16string sample(header);
  sample.append(blanks, u' ');
  return {header, sample};
}

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
  if (!IsNumeric(text)) throw Failure(kTypeMismatch, kTypeMismatchNumber);
  return NumericValueIsOne(text);
}

MainWindow::MainWindow(MainWindowPorts ports, StartupValues values)
    : ports_(ports),
      rawCommandLine_(std::move(values.rawCommandLine)),
      commandLine_(std::move(values.commandLine)),
      helpPath_(std::move(values.helpPath)),
      monitor_(ports.monitor, *this, std::move(values.programDir), std::move(values.settings),
               values.countdown) {}

void MainWindow::FormLoad() {
  MainWindowView& view = ports_.view;
  const Settings& settings = monitor_.CurrentSettings();
  // The window as designed: stopped.
  ShowRunState(false);
  try {
    view.SetBusyCursor(true);
    view.SetCaption(kAppTitle);
    view.CenterOnScreen();
    view.SetControlText(IDC_TXTSMTPSERVER, settings.SmtpServer);
    view.SetControlText(IDC_TXTSMTPPORT, settings.SmtpPort);
    view.SetControlText(IDC_TXTSMTPFROM, settings.From);
    view.SetControlText(IDC_TXTSMTPTO, settings.To);
    view.SetControlText(IDC_TXTSMTPSUBJECT, settings.Subject);

    // Examination begins at the moment of start-up, whatever the file held.
    monitor_.StampNow();

    view.SetControlText(IDC_TXTINTERVAL, settings.Interval);
    const bool autoStart = IsFlagSet(settings.AutoStart);
    view.SetChecked(IDC_CHKSETTING0, autoStart);
    const bool iconStart = IsFlagSet(settings.IconStart);
    view.SetChecked(IDC_CHKSETTING1, iconStart);
    const bool serviceStart = IsFlagSet(settings.ServiceStart);
    view.SetChecked(IDC_CHKSETTING2, serviceStart);

    computerName_ = ports_.system.ComputerName();
    monitor_.SetComputerName(computerName_);
    view.SetControlText(IDC_LBLCOMPUTERNAME, computerName_);
    userName_ = ports_.system.UserName();
    view.SetControlText(IDC_LBLUSERNAME, userName_);
    view.SetCaption(kAppTitle);

    for (int id : kRuleListIds) view.SetupListColumns(id, EventRuleColumns());
    view.SetupListColumns(IDC_LSTCHANNELS, EventRuleColumns());
    view.SetupListColumns(IDC_LSTSERVICES, ServiceRuleColumns());
    view.SetupListColumns(IDC_LSTLOG1, EventRowColumns());
    view.SetupListColumns(IDC_LSTLOG2, EventRowColumns());

    LoadRules();

    if (autoStart) {
      monitor_.Start();
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
    if (commandLine_ == u"-install") {
      view.SetBusyCursor(false);
      End();
      const RegistrationOutcome outcome = ports_.service.Install();
      // A service that is registered but never monitors would look like a
      // quiet machine: the service starts the monitoring.
      if (outcome == RegistrationOutcome::Done)
        ports_.monitor.settingsFile.WriteIniString(kSettingsSection, u"ServiceStart", u"1");
      ShowRegistrationOutcome(ports_.boxes, true, outcome);
      view.EndProgram();
      return;
    }
    if (rawCommandLine_ == u"-uninstall") {
      view.SetBusyCursor(false);
      End();
      ShowRegistrationOutcome(ports_.boxes, false, ports_.service.Uninstall());
      view.EndProgram();
      return;
    }
    if (!rawCommandLine_.empty()) {
      view.SetBusyCursor(false);
      End();
      ports_.boxes.Show(kInvalidOption, MessageIcon::None);
      view.EndProgram();
      return;
    }

    ports_.service.Connect();
    if (serviceStart) {
      MinimiseToTray();
      monitor_.Start();
    } else if (ports_.service.RunsAsService()) {
      // Running as the service, the program shows nothing: the event log says it.
      ports_.boxes.Show(kServiceNotMonitoring, MessageIcon::Exclamation);
    }
    view.SetBusyCursor(false);
  } catch (...) {
    view.SetBusyCursor(false);
    ports_.boxes.Show(std::u16string(kStartFailed) + kCrLf + CurrentFailureDescription(),
                      MessageIcon::Exclamation);
  }
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
  ShowingApplicationErrors([&] { monitor_.Start(); });
}

void MainWindow::StopClicked() {
  if (ended_) return;
  ShowingApplicationErrors([&] { monitor_.Stop(); });
}

void MainWindow::ExitClicked() { Unload(); }

void MainWindow::End() {
  ended_ = true;
  monitor_.End();
}

void MainWindow::Unload() {
  if (ended_) return;
  End();
  ports_.view.OpenHelp(helpPath_, kHelpQuit);
  ports_.view.EndProgram();
}

void MainWindow::SendClicked() {
  if (ended_ || monitor_.Busy()) return;
  ShowingApplicationErrors([&] { monitor_.Send(); });
}

void MainWindow::SettingsClicked() {
  if (ended_) return;
  ShowingApplicationErrors([&] { OpenSettingsDialog(); });
}

void MainWindow::OpenSettingsDialog() {
  if (ports_.dialogs.OpenSettingsDialog(monitor_.CurrentSettings()) && !ended_) {
    monitor_.SettingsSaved();
    ShowSettingsValues();
  }
}

void MainWindow::ShowSettingsValues() {
  MainWindowView& view = ports_.view;
  const Settings& settings = monitor_.CurrentSettings();
  view.SetControlText(IDC_TXTSMTPSERVER, settings.SmtpServer);
  view.SetControlText(IDC_TXTSMTPPORT, settings.SmtpPort);
  view.SetControlText(IDC_TXTSMTPFROM, settings.From);
  view.SetControlText(IDC_TXTSMTPTO, settings.To);
  view.SetControlText(IDC_TXTSMTPSUBJECT, settings.Subject);
  view.SetControlText(IDC_TXTSTARTDATETIME, settings.DateStamp + u" " + settings.TimeStamp);
  view.SetControlText(IDC_TXTINTERVAL, settings.Interval);
  view.SetChecked(IDC_CHKSETTING0, IsFlagSet(settings.AutoStart));
  view.SetChecked(IDC_CHKSETTING1, IsFlagSet(settings.IconStart));
  view.SetChecked(IDC_CHKSETTING2, IsFlagSet(settings.ServiceStart));
}

void MainWindow::MenuCommand(int id) {
  if (ended_) return;
  // A menu action that fails shows nothing; the window stays as it is.
  try {
    switch (id) {
      case IDM_FILE0:
        monitor_.Start();
        break;
      case IDM_FILE1:
        monitor_.Stop();
        break;
      case IDM_FILE2:
        ExitClicked();
        break;
      case IDM_SETTING0:
        // The editor and the cycle must not use the rules file at once.
        if (monitor_.Running()) break;
        ports_.dialogs.OpenRulesEditor(monitor_.RulesFilePath());
        if (!ended_) LoadRules();
        break;
      case IDM_SETTING1:
        OpenSettingsDialog();
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
  if (ended_) return;
  monitor_.Tick();
}

void MainWindow::ShowStatus(const std::u16string& text) { ports_.view.SetStatus(text); }

void MainWindow::ShowKeptMails(std::size_t count) {
  ports_.view.SetTrayTip(kAppTitle + KeptMailsText(count));
}

void MainWindow::ShowRunState(bool running) {
  MainWindowView& view = ports_.view;
  view.EnableControl(IDC_CMDSTART, !running);
  view.EnableMenuItem(IDM_FILE0, !running);
  view.EnableControl(IDC_CMDSTOP, running);
  view.EnableMenuItem(IDM_FILE1, running);
  view.EnableMenuItem(IDM_SETTING0, !running);
}

void MainWindow::EnableCheckTimer(bool enabled) { ports_.view.EnableCheckTimer(enabled); }

void MainWindow::ShowStamp(const std::u16string& dateAndTime) {
  ports_.view.SetControlText(IDC_TXTSTARTDATETIME, dateAndTime);
}

void MainWindow::ShowReadRows(const EventList& rows) {
  ports_.view.SetEventRows(IDC_LSTLOG1, rows);
}

void MainWindow::ShowMatchedRows(const EventList& rows) {
  ports_.view.SetEventRows(IDC_LSTLOG2, rows);
}

MailFields MainWindow::CurrentMailFields() {
  MainWindowView& view = ports_.view;
  return {Trim(view.ControlText(IDC_TXTSMTPSERVER)), Trim(view.ControlText(IDC_TXTSMTPPORT)),
          Trim(view.ControlText(IDC_TXTSMTPFROM)), Trim(view.ControlText(IDC_TXTSMTPTO)),
          Trim(view.ControlText(IDC_TXTSMTPSUBJECT))};
}

void MainWindow::LoadRules() {
  ports_.view.SetBusyCursor(true);
  NormalPointerBoxes boxes(ports_.view, ports_.boxes);
  monitor_.LoadRules(boxes);
  ShowRules();
  ports_.view.SetBusyCursor(false);
}

void MainWindow::ShowRules() {
  const RuleLog eventLogs[] = {RuleLog::System, RuleLog::Security, RuleLog::Application};
  for (int i = 0; i < 3; ++i) {
    std::vector<ListRow> rows;
    for (const auto& r : monitor_.Rules()[eventLogs[i]]) rows.push_back(EventRuleRow(r));
    ports_.view.SetListRows(kRuleListIds[i], rows);
  }
  // Each channel's rules under its name, in the order the rules file has them.
  std::vector<ListSection> channels;
  for (const ChannelRules& channel : monitor_.Rules().channels) {
    if (channel.rules.empty()) continue;
    ListSection& section = channels.emplace_back(ListSection{channel.channel, {}});
    for (const auto& r : channel.rules) section.rows.push_back(EventRuleRow(r));
  }
  ports_.view.SetListSections(IDC_LSTCHANNELS, channels);
  ports_.view.ShowChannelRules(!channels.empty());
  std::vector<ListRow> rows;
  for (const auto& r : monitor_.Rules()[RuleLog::Service]) rows.push_back({r.serviceName, r.state});
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
      listId != IDC_LSTCHANNELS && listId != IDC_LSTSERVICES) {
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

}  // namespace zkq
