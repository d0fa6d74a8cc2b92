#pragma once
// The main window's behaviour: start-up of the window, the monitoring cycle,
// the start and stop commands, the send command, menus, the notification icon
// and every way the program ends. The Win32 window forwards its messages to
// these handlers and implements MainWindowView; tests drive it with fakes.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/main_window_view.h"
#include "base/ports.h"
#include "config/settings.h"
#include "eventlog/event_row.h"
#include "eventlog/ports.h"
#include "rules/rules_file.h"

namespace zkq {

// One alert mail as the send command hands it to mail delivery. The fixed
// values are those of an unattended send: no sender name, no attachment, no
// message boxes, sent and closed by itself, 60 seconds at most.
struct AlertMail {
  std::u16string server, port, fromAddress;
  std::u16string fromName;
  std::u16string toList, subject, body;
  std::u16string attachmentList;
  std::u16string showMessages = u"0";
  std::u16string autoSend = u"1";
  std::u16string autoClose = u"1";
  std::u16string timeoutSeconds = u"60";
  friend bool operator==(const AlertMail&, const AlertMail&) = default;
};

// Mail delivery: runs the (modal) sending window and returns once it has
// closed; true when the mail was sent.
class AlertSender {
 public:
  virtual ~AlertSender() = default;
  virtual bool Send(const AlertMail& mail) = 0;
};

// The service check: compares the service rules with the services of the
// computer and appends its own section to alertText when a rule is violated.
class ServiceCheck {
 public:
  virtual ~ServiceCheck() = default;
  virtual void Check(const std::vector<MonitoringRule>& serviceRules,
                     std::u16string_view computerName, std::u16string& alertText) = 0;
};

// The modal windows that the main window opens.
class MainWindowDialogs {
 public:
  virtual ~MainWindowDialogs() = default;
  // The settings dialog. It edits settings (and the file) itself; true when it
  // saved, so that the main window shows the new values.
  virtual bool OpenSettingsDialog(Settings& settings) = 0;
  // The rules editor over rulesFile; the main window reloads the rules file
  // afterwards in any case.
  virtual void OpenRulesEditor(const std::filesystem::path& rulesFile) = 0;
  // The about box.
  virtual void OpenAboutBox() = 0;
};

struct MainWindowPorts {
  MainWindowView& view;
  Clock& clock;
  MessageBoxes& boxes;
  SettingsFile& settingsFile;
  SystemInfo& system;
  ServiceControl& service;
  EventLogSource& liveLogs;  // used when Settings.EventLogDir is empty
  AccountNames& accounts;
  TimeZone& zone;
  MessageTables& tables;
  AlertSender& sender;
  ServiceCheck& serviceCheck;
  MainWindowDialogs& dialogs;
};

// What the start procedure established before the window exists.
struct StartupValues {
  std::filesystem::path programDir;  // relative names (rules, .evt folder) are taken from here
  std::u16string rawCommandLine;     // as the process got it
  std::u16string commandLine;        // trimmed
  std::u16string helpPath;
  Settings settings;
  std::int16_t countdown = 0;
};

class MainWindow {
 public:
  MainWindow(MainWindowPorts ports, StartupValues values);

  // Form_Load. Afterwards either the window runs, or Ended() is true (a
  // command-line option was carried out or rejected) and nothing else runs.
  void FormLoad();

  void StartClicked();
  void StopClicked();
  void ExitClicked();
  void SendClicked();        // cmdButton(0)
  void SettingsClicked();    // cmdButton(1)
  void MenuCommand(int id);  // IDM_* of the File, Options and Help menus
  void OnCheckTimer();       // tmrCheck, once a minute while enabled
  void Resized(WindowState state);
  void TrayDoubleClicked();
  void TrayRightClicked();
  void RuleListFocused(int listId);
  // Form_Unload: the close box, the exit command, the service stop. Ends the program.
  void Unload();

  // State, for the window and for tests.
  bool Running() const { return running_; }
  bool Ended() const { return ended_; }
  bool CycleInProgress() const { return cycleInProgress_; }
  bool Iconised() const { return iconised_; }
  std::int16_t Countdown() const { return countdown_; }
  const std::u16string& AlertText() const { return alertText_; }
  const Settings& CurrentSettings() const { return settings_; }
  const RuleSet& Rules() const { return rules_; }
  const std::u16string& ComputerNameText() const { return computerName_; }
  const std::u16string& UserNameText() const { return userName_; }
  const std::u16string& HelpPath() const { return helpPath_; }
  const EventList& Log1() const { return log1_; }
  const EventList& Log2() const { return log2_; }

 private:
  void DoStart();
  void DoStop();
  void RunCycle();
  void Send();
  void LoadRules();
  void ShowRules();
  void ShowSettingsValues();
  void MinimiseToTray();
  void ShowRunState(bool running);
  void ShowApplicationError(const std::u16string& description);
  void StampWritten(const DateTime& stamp, bool written);
  // Runs a button's action; a failure is shown as the application error.
  template <class Action>
  void ShowingApplicationErrors(Action&& action);
  std::u16string StampNowFixed();
  std::u16string StampNowLocale();
  std::filesystem::path InProgramDir(const std::u16string& name) const;

  MainWindowPorts ports_;
  std::filesystem::path programDir_;
  std::u16string rawCommandLine_, commandLine_, helpPath_;
  Settings settings_;
  std::int16_t countdown_ = 0;
  RuleSet rules_;
  EventList log1_, log2_;
  std::u16string alertText_;
  std::u16string computerName_, userName_;
  bool running_ = false;
  bool cycleInProgress_ = false;
  bool mailOpen_ = false;
  bool iconised_ = false;
  bool ended_ = false;
  bool cycleFailureShown_ = false;
  // The stamp this program last set (start-up, stop, each cycle) when the
  // settings file did not take it.
  std::optional<DateTime> unwrittenStamp_;
  bool stampWarningShown_ = false;
  // The read-failure message last shown for System, Security and Application.
  std::u16string readFailureShown_[3];
};

// The column headers and width samples of the rule lists, the services list
// and the two working lists.
std::vector<ListColumn> EventRuleColumns();
std::vector<ListColumn> ServiceRuleColumns();
std::vector<ListColumn> EventRowColumns();

// A flag of the settings counts as set when its text, taken as a number,
// equals 1. Throws Failure(kTypeMismatch) for empty or non-numeric text.
bool IsFlagSet(std::u16string_view text);

}  // namespace zkq
