// zkQuorvane.exe: the start procedure, the main window and its message loop.
// clang-format off
#include "app/main_window.h"
#include "app/startup.h"
#include "eventlog/channel_log.h"
#include "eventlog/win32/adapters.h"
#include "eventlog/win32/evt_api.h"

#include <windows.h>
// clang-format on

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/text.h"
#include "base/win32/time_zone.h"
#include "config/settings.h"
#include "config/win32/dpapi_protector.h"
#include "dialog_wiring.h"
#include "mail_alert_sender.h"
#include "main_window_win32.h"
#include "presenter_events.h"
#include "service_wiring.h"
#include "services/service_handlers.h"
#include "win32_adapters.h"
#include "win_util.h"

namespace {

// The full path of the executable, however long.
std::u16string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return zkq::win32::FromWide(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

constexpr char16_t kAlreadyRunning[] = u"zkQuorvaneは既に起動しています！";
constexpr int kStartupFailedExit = 1;
constexpr int kAlreadyRunningExit = 2;

// One monitor per machine: two would move the one stamp and split or double
// the alerts. The name is in the global namespace, so that the service and a
// start on a user's desktop meet; the service's object refuses a user's
// process, which says just as well that it runs.
constexpr wchar_t kMonitorMutexName[] = L"Global\\zkQuorvane.Monitor";

void ShowApplicationError(zkq::MessageBoxes& boxes, const std::u16string& description) {
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  boxes.Show(std::u16string(zkq::kApplicationErrorText) + u"\r\n" + description,
             zkq::MessageIcon::Exclamation);
}

int RunProgram(HINSTANCE instance, zkq::win32::ProgramBoxes& boxes,
               zkq::win32::ServiceDispatcher& dispatcher) {
  using namespace zkq;
  using namespace zkq::win32;

  SettingsFile settingsFile({}, boxes);
  DpapiProtector passwordProtector;
  settingsFile.SetProtector(&passwordProtector);
  ProcessCurrentDirectory currentDirectory;
  WindowsStateFolder stateFolder;
  const wchar_t* fullCommandLine = GetCommandLineW();
  std::optional<StartupValues> values =
      RunMain(ExecutablePath(), ArgumentsOf(FromWide(fullCommandLine, wcslen(fullCommandLine))),
              settingsFile, boxes, currentDirectory, &stateFolder);
  if (!values) return kStartupFailedExit;  // RunMain has said why

  MainWindowWin32 window(instance, boxes);
  if (!window.Create()) {
    ShowApplicationError(boxes, u"");
    return kStartupFailedExit;
  }
  boxes.SetOwner(window.Handle());

  Win32Clock clock;
  Win32SystemInfo system;
  WindowsServiceControl service(window.Handle(), dispatcher, values->programDir.wstring());
  WindowsEventLogSource liveLogs;
  // Every other channel, and the manifests' messages, through the Windows
  // Event Log API; where it is missing (Wine) a channel reads as unreadable.
  WindowsEvtApi evtApi;
  ChannelLogSource liveChannels(evtApi);
  WindowsAccountNames accounts;
  WindowsTimeZone zone;
  WindowsMessageTables registryTables;
  PublisherMessageTables tables(registryTables, liveChannels);
  MailAlertSender sender(
      instance, [&window] { return window.Handle(); }, system.ComputerName(), boxes);
  WindowsServiceCheck serviceCheck(boxes);
  WindowsDialogs dialogs(DialogContext{instance, [&window] { return window.Handle(); }, boxes,
                                       clock, settingsFile, service, system.ComputerName(),
                                       [&liveChannels] { return liveChannels.ListChannels(); }});
  LogSourceChoice logs(liveLogs, liveChannels);
  RulesFile rulesFile;
  FileOutbox outbox(values->programDir / "outbox");
  MainWindow presenter(
      MainWindowPorts{window, boxes, system, service, dialogs,
                      MonitorPorts{clock, boxes, settingsFile, logs, rulesFile, accounts, zone,
                                   tables, sender, serviceCheck, outbox}},
      std::move(*values));
  PresenterEvents events(presenter);
  window.SetEvents(&events);
  ServiceStop serviceStop(presenter);
  ServiceHandlers serviceHandlers(boxes.EventLog(), serviceStop);
  AnswerServiceRequests(window, serviceHandlers);

  presenter.FormLoad();
  if (presenter.Ended() || window.Ended()) {
    window.SetServiceRequests(nullptr);
    boxes.SetOwner(nullptr);
    return 0;
  }
  window.ShowFirstTime();
  dispatcher.ReportRunning();

  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.TranslateDialogKeys(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // Everything after the window's end is teardown: the events must not reach
  // the presenter any more.
  window.SetEvents(nullptr);
  window.SetServiceRequests(nullptr);
  boxes.SetOwner(nullptr);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  zkq::win32::ProgramBoxes boxes;
  // Under the controller the dispatch is connected before anything else, so
  // that a start-up failure ends the service with its own exit code (and its
  // message as an event-log entry) instead of the controller's time-out.
  zkq::win32::ServiceDispatcher dispatcher(zkq::win32::kServiceName);
  if (boxes.AsService()) dispatcher.Start(true);
  int exitCode = kStartupFailedExit;
  try {
    zkq::win32::UniqueKernelHandle oneMonitor;
    if (zkq::win32::AnotherMonitorRuns(kMonitorMutexName, oneMonitor)) {
      boxes.Show(kAlreadyRunning, zkq::MessageIcon::Exclamation);
      exitCode = kAlreadyRunningExit;
    } else {
      exitCode = RunProgram(instance, boxes, dispatcher);
    }
  } catch (const zkq::Failure& failure) {
    ShowApplicationError(boxes, failure.Description());
  } catch (const std::exception& error) {
    ShowApplicationError(boxes, zkq::FromUtf8(error.what()));
  } catch (...) {
    ShowApplicationError(boxes, u"");
  }
  dispatcher.End(static_cast<std::uint32_t>(exitCode));
  return exitCode;
}
