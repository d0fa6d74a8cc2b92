#pragma once
// The main window's behaviour: start-up of the window, its controls, menus
// and notification icon, the commands that start, stop and send, and every
// way the program ends. The monitoring itself is a Monitor, which this
// presenter shows. The Win32 window forwards its messages to these handlers
// and implements MainWindowView; tests drive it with fakes.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/main_window_view.h"
#include "app/monitor.h"
#include "base/ports.h"
#include "config/settings.h"
#include "eventlog/event_row.h"
#include "eventlog/ports.h"
#include "rules/rules_file.h"

namespace zkq {

inline constexpr char16_t kServiceNotMonitoring[] =
    u"サービスとして起動しましたが、監視は開始していません（ServiceStart=0）。";

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
  MessageBoxes& boxes;
  SystemInfo& system;
  ServiceControl& service;
  MainWindowDialogs& dialogs;
  MonitorPorts monitor;
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

class MainWindow final : private MonitorView {
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

  // The monitoring this window shows (the service-mode handlers drive it too).
  Monitor& Monitoring() { return monitor_; }

  // State, for the window and for tests.
  bool Running() const { return monitor_.Running(); }
  bool Ended() const { return ended_; }
  bool CycleInProgress() const { return monitor_.CycleInProgress(); }
  bool Iconised() const { return iconised_; }
  std::int16_t Countdown() const { return monitor_.Countdown(); }
  const std::u16string& AlertText() const { return monitor_.AlertText(); }
  const Settings& CurrentSettings() const { return monitor_.CurrentSettings(); }
  const RuleSet& Rules() const { return monitor_.Rules(); }
  const std::u16string& ComputerNameText() const { return computerName_; }
  const std::u16string& UserNameText() const { return userName_; }
  const std::u16string& HelpPath() const { return helpPath_; }
  const EventList& Log1() const { return monitor_.Log1(); }
  const EventList& Log2() const { return monitor_.Log2(); }

 private:
  // What the monitoring shows, on this window.
  void ShowStatus(const std::u16string& text) override;
  void ShowRunState(bool running) override;
  void EnableCheckTimer(bool enabled) override;
  void ShowStamp(const std::u16string& dateAndTime) override;
  void ShowReadRows(const EventList& rows) override;
  void ShowMatchedRows(const EventList& rows) override;
  MailFields CurrentMailFields() override;
  void ShowKeptMails(std::size_t count) override;

  void End();
  void LoadRules();
  void ShowRules();
  void ShowSettingsValues();
  void OpenSettingsDialog();
  void MinimiseToTray();
  void ShowApplicationError(const std::u16string& description);
  // Runs a button's action; a failure is shown as the application error.
  template <class Action>
  void ShowingApplicationErrors(Action&& action);

  MainWindowPorts ports_;
  std::u16string rawCommandLine_, commandLine_, helpPath_;
  Monitor monitor_;
  std::u16string computerName_, userName_;
  bool iconised_ = false;
  bool ended_ = false;
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
