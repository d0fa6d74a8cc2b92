#pragma once
// Running as a Windows service: the registration with the service controller
// and the event source, the program's event-log entries, and the service
// dispatch on a thread of its own.
#include <windows.h>

#include <atomic>
#include <chrono>
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

// The service as its own process that may use the desktop, started
// automatically, running the executable (its path in quotes) under the
// registration's default account; and the event source of the same name in
// the application log, whose texts come from the executable's message table.
class WindowsServiceRegistration : public ServiceRegistration {
 public:
  explicit WindowsServiceRegistration(std::wstring serviceName = L"zkQuorvane",
                                      std::wstring executable = ExecutablePath())
      : serviceName_(std::move(serviceName)), executable_(std::move(executable)) {}
  bool Install() override;
  bool Uninstall() override;

 private:
  std::wstring serviceName_, executable_;
};

// ReportEventW under the event source named sourceName.
class WindowsEventLog : public ServiceEventLog {
 public:
  explicit WindowsEventLog(const std::wstring& sourceName = L"zkQuorvane");
  bool Write(EventEntryType type, std::uint16_t category, std::uint32_t eventId,
             std::u16string_view text) override;

 private:
  UniqueEventSource source_;
};

// Hands the controller's requests to the user-interface thread: each request
// is sent to window as message (wParam the request, lParam the control code)
// and its answer is the handler's success flag. An answer that does not come
// within timeout counts as a failure.
class UiThreadRequests : public ServiceRequestHandler {
 public:
  UiThreadRequests(HWND window, UINT message,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20))
      : window_(window), message_(message), timeout_(timeout) {}
  bool Handle(ServiceRequest request, std::uint32_t controlCode) override;

 private:
  HWND window_;
  UINT message_;
  std::chrono::milliseconds timeout_;
};

// The window procedure's side of UiThreadRequests: answers one such message
// with handler (on the user-interface thread) and gives what to return.
LRESULT AnswerServiceRequest(WPARAM wParam, LPARAM lParam, ServiceRequestHandler& handler);

// StartServiceCtrlDispatcherW on a thread of its own, so that a program that
// was not started by the controller never waits for it (the call fails there,
// under Wine only after about ten seconds). Accepts stop, pause and continue;
// every request goes to handler on the dispatcher's threads, and the state the
// controller sees follows the handler's answers. A stop is answered at once and
// handled afterwards on the service main's thread, which reports the service
// stopped when the handler has returned. One dispatcher per process.
class ServiceDispatcher {
 public:
  ServiceDispatcher(std::wstring serviceName, ServiceRequestHandler& handler)
      : serviceName_(std::move(serviceName)), handler_(handler) {}
  // Reports the service stopped and lets the dispatch end.
  ~ServiceDispatcher();
  ServiceDispatcher(const ServiceDispatcher&) = delete;
  ServiceDispatcher& operator=(const ServiceDispatcher&) = delete;

  // Starts the dispatch and returns at once; false when it could not be started.
  bool Start();
  // True once the controller has started the service in this process.
  bool StartedByController() const { return startedByController_; }
  // Tells the controller that the service has stopped, as the program ends.
  void ReportStopped();

 private:
  static DWORD WINAPI DispatchThread(LPVOID self);
  static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
  static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID self);
  void RunService();
  DWORD Control(DWORD control);
  void SetState(DWORD state, DWORD exitCode = NO_ERROR);

  std::wstring serviceName_;
  ServiceRequestHandler& handler_;
  UniqueKernelHandle thread_;
  std::atomic<bool> startedByController_ = false;
  // Set by the stop request (or the program's end); the service main then
  // runs the stop handler and reports STOPPED, and sets serviceMainDone_.
  UniqueKernelHandle stopRequested_, serviceMainDone_;
  std::atomic<bool> ending_ = false;
  std::mutex statusMutex_;
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  SERVICE_STATUS status_ = {};
};

}  // namespace zkq::win32
