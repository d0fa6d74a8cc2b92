#pragma once
// The service subsystem's Windows side handed to the main window: the
// registration and the dispatch behind ServiceControl, the service check
// behind ServiceCheck, the controller's requests answered by the main window,
// and message boxes that go to the event log when nobody can see them.
#include <windows.h>

#include <optional>

#include "app/main_window.h"
#include "app/main_window_view.h"
#include "base/ports.h"
#include "main_window_win32.h"
#include "services/service_handlers.h"
#include "services/win32/service_control.h"
#include "services/win32/service_manager.h"
#include "win32_adapters.h"

namespace zkq::win32 {

// Every message box of the program. Started by the service controller the
// program runs on a desktop nobody sees, where a box would wait for ever:
// then each message becomes an entry of the event log and the program goes
// on as if OK had been pressed. Decided once, before anything is shown.
class ProgramBoxes final : public MessageBoxes {
 public:
  ProgramBoxes();
  void Show(const std::u16string& text, MessageIcon icon) override;
  ServiceEventLog& EventLog() { return log_; }
  // The window that owns boxes shown while none of the program's is active.
  void SetOwner(HWND owner) { screen_.SetOwner(owner); }
  // The service controller started this process.
  bool AsService() const { return logged_.has_value(); }

 private:
  Win32MessageBoxes screen_;
  WindowsEventLog log_;
  std::optional<EventLogBoxes> logged_;
};

inline constexpr wchar_t kServiceName[] = L"zkQuorvane";

// Install and uninstall through the service controller (the main window
// tells the user the outcome); Connect hands the dispatch's requests to the
// main window (kServiceRequestMessage) and starts the dispatch unless the
// start procedure did so already.
class WindowsServiceControl final : public ServiceControl {
 public:
  WindowsServiceControl(HWND mainWindow, ServiceDispatcher& dispatcher,
                        const std::wstring& stateFolder)
      : registration_(kServiceName, ExecutablePath(), stateFolder),
        mainWindow_(mainWindow),
        dispatcher_(dispatcher) {}
  RegistrationOutcome Install() override { return registration_.Install(); }
  RegistrationOutcome Uninstall() override { return registration_.Uninstall(); }
  void Connect() override;
  bool RunsAsService() override { return dispatcher_.StartedByController(); }

 private:
  WindowsServiceRegistration registration_;
  HWND mainWindow_;
  ServiceDispatcher& dispatcher_;
};

// The check of the monitoring cycle on this machine's service control
// manager. The monitor never asks for its failure boxes: a failure is said in
// the alert's service section instead.
class WindowsServiceCheck final : public ServiceCheck {
 public:
  explicit WindowsServiceCheck(MessageBoxes& boxes) : check_(manager_, boxes) {}
  std::u16string Check(const std::vector<MonitoringRule>& serviceRules,
                       std::u16string_view computerName, std::u16string& alertText) override {
    return check_.Check(serviceRules, computerName, false, alertText);
  }

 private:
  WindowsServiceManager manager_;
  ServiceStatusCheck check_;
};

// The service stop: unloads the main window, which ends the message loops of
// any mail or dialog open on top of it. Should a window's loop keep the
// program alive all the same, the process ends a few seconds later anyway.
class ServiceStop final : public MonitorControl {
 public:
  explicit ServiceStop(MainWindow& presenter) : presenter_(presenter) {}
  void EndProgram() override;

 private:
  MainWindow& presenter_;
};

// Lets window answer the dispatcher's requests with handlers, on its thread.
void AnswerServiceRequests(MainWindowWin32& window, ServiceRequestHandler& handlers);

}  // namespace zkq::win32
