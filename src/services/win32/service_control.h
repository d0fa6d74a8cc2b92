#pragma once
// Running as a Windows service: the registration with the service controller
// and the event source, the program's event-log entries, and the service
// dispatch on a thread of its own.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/win32/handles.h"
#include "services/service_mode.h"

namespace zkq::win32 {

// The full path of the running executable.
std::wstring ExecutablePath();

// True when the service controller started this process as the service
// serviceName. Known at once, before the dispatch has begun, so that start-up
// can choose where its messages go.
bool StartedAsService(const std::wstring& serviceName = L"zkQuorvane");

inline constexpr wchar_t kServiceDescription[] =
    L"イベントログとサービスの状態を監視し、異常をメールで通知します。";

// The service as its own process that may use the desktop, started
// automatically (delayed), restarted after a failure, running the executable
// (its path in quotes) under the registration's default account, with
// kServiceDescription; and the event source of the same name in the
// application log, whose texts come from the executable's message table.
// Refused (Unsafe) when anyone but SYSTEM, Administrators, TrustedInstaller
// or the registering administrator could change the executable, its folder or
// stateFolder (where its settings and rules are), as all of them would run
// as SYSTEM.
class WindowsServiceRegistration : public ServiceRegistration {
 public:
  explicit WindowsServiceRegistration(std::wstring serviceName = L"zkQuorvane",
                                      std::wstring executable = ExecutablePath(),
                                      std::wstring stateFolder = {})
      : serviceName_(std::move(serviceName)),
        executable_(std::move(executable)),
        stateFolder_(std::move(stateFolder)) {}
  RegistrationOutcome Install() override;
  RegistrationOutcome Uninstall() override;

 private:
  std::wstring serviceName_, executable_, stateFolder_;
};

// Why the service would be unsafe to run as SYSTEM from executable and
// stateFolder: the first file or folder that another account may change, and
// that account; "" when there is none.
std::u16string UnsafeServiceReason(const std::wstring& executable, const std::wstring& stateFolder);

// ReportEventW under the event source named sourceName.
class WindowsEventLog : public ServiceEventLog {
 public:
  explicit WindowsEventLog(const std::wstring& sourceName = L"zkQuorvane");
  bool Write(EventEntryType type, std::uint16_t category, std::uint32_t eventId,
             std::u16string_view text) override;

 private:
  UniqueEventSource source_;
};

// The window procedure's side of the dispatch: answers one request that the
// dispatcher posted (wParam the request, lParam the control code) with handler
// on the user-interface thread, and tells the controller the outcome.
LRESULT AnswerServiceRequest(WPARAM wParam, LPARAM lParam, ServiceRequestHandler& handler) noexcept;

// StartServiceCtrlDispatcherW on a thread of its own, so that a program that
// was not started by the controller never waits for it (the call fails there,
// under Wine only after about ten seconds). One dispatcher per process.
//
// The controller's requests are posted to the user-interface thread's window
// (Forward): a posted message waits however busy that thread is, where a sent
// one with a time-out can be given up and lose a stop. The control handler
// therefore only reports the pending state and returns; the outcome is
// reported once the window has answered. Stop, shutdown and pre-shutdown all
// ask the program to end; the service is reported STOPPED only when the
// dispatcher's owner ends (the program has left its message loop), with a
// rising checkpoint while it waits.
class ServiceDispatcher {
 public:
  explicit ServiceDispatcher(std::wstring serviceName) : serviceName_(std::move(serviceName)) {}
  // Reports the service stopped with the exit code given to End (0 by
  // default) and lets the dispatch end.
  ~ServiceDispatcher();
  ServiceDispatcher(const ServiceDispatcher&) = delete;
  ServiceDispatcher& operator=(const ServiceDispatcher&) = delete;

  // Starts the dispatch and returns at once; false when it could not be
  // started. byController: the controller started this process, so the end
  // waits until the controller has been told.
  bool Start(bool byController = false);
  bool Started() const { return static_cast<bool>(thread_); }
  // True once the controller has started the service in this process.
  bool StartedByController() const { return startedByController_; }
  // From now on the requests go to window as message.
  void Forward(HWND window, UINT message);
  // Start-up is complete: the service runs and accepts requests.
  void ReportRunning();
  // The exit code the service ends with: 0, or a service-specific code for a
  // program that could not start or failed.
  void End(std::uint32_t exitCode) { exitCode_ = exitCode; }

  // The user-interface thread's answer to a request the dispatcher posted.
  static void Answered(ServiceRequest request, bool success) noexcept;
  // The process is about to end without leaving its loop: the controller
  // hears STOPPED first, so that an asked-for stop never counts as a crash
  // (which the restart-on-failure actions would answer with a restart).
  static void ReportStoppedAtExit() noexcept;

 private:
  static DWORD WINAPI DispatchThread(LPVOID self) noexcept;
  static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) noexcept;
  static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                     LPVOID self) noexcept;
  void RunService();
  DWORD Control(DWORD control);
  // Both with statusMutex_ held.
  bool Post(ServiceRequest request, DWORD control);
  void SetState(DWORD state);

  std::wstring serviceName_;
  UniqueKernelHandle thread_;
  std::atomic<bool> startedByController_ = false;
  bool byController_ = false;
  std::atomic<std::uint32_t> exitCode_ = 0;
  std::atomic<HWND> window_ = nullptr;
  std::atomic<UINT> message_ = 0;
  // Set when the program ends: the service main then reports STOPPED and
  // sets serviceMainDone_.
  UniqueKernelHandle ended_, serviceMainDone_;
  std::mutex statusMutex_;
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  SERVICE_STATUS status_ = {};
  bool running_ = false;     // start-up has completed
  bool stopAsked_ = false;   // a stop is pending
  bool stopPosted_ = false;  // and has reached the window's queue
};

}  // namespace zkq::win32
