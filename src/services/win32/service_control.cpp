#include "services/win32/service_control.h"

#include <winsvc.h>

#include <memory>

#include "base/win32/wide.h"

namespace zkq::win32 {
namespace {

constexpr wchar_t kApplicationSources[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
constexpr DWORD kPendingWaitHint = 10000;
constexpr DWORD kStopWaitMs = 5000;

// The controller's callbacks carry no context of ours until the control
// handler is registered, so ServiceMain finds the dispatcher here.
std::atomic<ServiceDispatcher*> gDispatcher = nullptr;

bool AddEventSource(const std::wstring& name, const std::wstring& executable) {
  HKEY created = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kApplicationSources + name).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &created, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueKey key(created);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  return RegSetValueExW(key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                        reinterpret_cast<const BYTE*>(executable.c_str()),
                        static_cast<DWORD>((executable.size() + 1) * sizeof(wchar_t))) ==
             ERROR_SUCCESS &&
         RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&types), sizeof(types)) == ERROR_SUCCESS;
}

bool IsPending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
}

}  // namespace

std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool StartedAsService(const std::wstring& serviceName) {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  const UniqueServiceHandle service(
      OpenServiceW(manager.Get(), serviceName.c_str(), SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  return service &&
         QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed) &&
         status.dwCurrentState != SERVICE_STOPPED && status.dwProcessId == GetCurrentProcessId();
}

bool WindowsServiceRegistration::Install() {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return false;
  const std::wstring command = L"\"" + executable_ + L"\"";
  // No account: the service runs as LocalSystem, the only account that may be
  // interactive.
  const UniqueServiceHandle service(CreateServiceW(
      manager.Get(), serviceName_.c_str(), serviceName_.c_str(), SERVICE_QUERY_STATUS,
      SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) return false;
  // The service is registered even if its entries end up without their texts.
  AddEventSource(serviceName_, executable_);
  return true;
}

bool WindowsServiceRegistration::Uninstall() {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  const UniqueServiceHandle service(OpenServiceW(manager.Get(), serviceName_.c_str(), DELETE));
  if (!service || !DeleteService(service.Get())) return false;
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kApplicationSources + serviceName_).c_str());
  return true;
}

WindowsEventLog::WindowsEventLog(const std::wstring& sourceName)
    : source_(RegisterEventSourceW(nullptr, sourceName.c_str())) {}

bool WindowsEventLog::Write(EventEntryType type, std::uint16_t category, std::uint32_t eventId,
                            std::u16string_view text) {
  if (!source_) return false;
  const WORD eventType = type == EventEntryType::Error     ? EVENTLOG_ERROR_TYPE
                         : type == EventEntryType::Warning ? EVENTLOG_WARNING_TYPE
                                                           : EVENTLOG_INFORMATION_TYPE;
  const std::wstring wide = ToWide(text);
  const wchar_t* strings[] = {wide.c_str()};
  return ReportEventW(source_.Get(), eventType, category, eventId, nullptr, 1, 0, strings,
                      nullptr) != FALSE;
}

bool UiThreadRequests::Handle(ServiceRequest request, std::uint32_t controlCode) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window_, message_, static_cast<WPARAM>(request),
                           static_cast<LPARAM>(controlCode), SMTO_NORMAL,
                           static_cast<UINT>(timeout_.count()), &answer)) {
    return false;
  }
  return answer != 0;
}

LRESULT AnswerServiceRequest(WPARAM wParam, LPARAM lParam, ServiceRequestHandler& handler) {
  if (wParam > static_cast<WPARAM>(ServiceRequest::Control)) return 0;
  return handler.Handle(static_cast<ServiceRequest>(wParam), static_cast<std::uint32_t>(lParam))
             ? 1
             : 0;
}

ServiceDispatcher::~ServiceDispatcher() {
  // Ending without the controller's stop: the service main stops waiting.
  ending_ = true;
  if (stopRequested_) SetEvent(stopRequested_.Get());
  // A stop under way is reported by the service main once the stop handler has
  // returned; this report only covers the other endings.
  if (serviceMainDone_ && startedByController_) WaitForSingleObject(serviceMainDone_.Get(), kStopWaitMs);
  ReportStopped();
  // Only a dispatch that the controller runs ends soon after the stop; outside
  // the controller the call is still waiting to fail, and the process's end
  // takes the thread with it.
  if (thread_ && startedByController_) WaitForSingleObject(thread_.Get(), kStopWaitMs);
  ServiceDispatcher* self = this;
  gDispatcher.compare_exchange_strong(self, nullptr);
}

bool ServiceDispatcher::Start() {
  ServiceDispatcher* none = nullptr;
  if (thread_ || !gDispatcher.compare_exchange_strong(none, this)) return false;
  stopRequested_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  serviceMainDone_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stopRequested_ || !serviceMainDone_) {
    gDispatcher = nullptr;
    return false;
  }
  // The thread owns its copy of the name: it may outlive this object.
  auto name = std::make_unique<std::wstring>(serviceName_);
  thread_.Reset(CreateThread(nullptr, 0, DispatchThread, name.get(), 0, nullptr));
  if (!thread_) {
    gDispatcher = nullptr;
    return false;
  }
  name.release();
  return true;
}

DWORD WINAPI ServiceDispatcher::DispatchThread(LPVOID name) {
  const std::unique_ptr<std::wstring> serviceName(static_cast<std::wstring*>(name));
  const SERVICE_TABLE_ENTRYW table[] = {{serviceName->data(), ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : GetLastError();
}

void WINAPI ServiceDispatcher::ServiceMain(DWORD, LPWSTR*) {
  if (ServiceDispatcher* self = gDispatcher.load()) self->RunService();
}

DWORD WINAPI ServiceDispatcher::ControlHandler(DWORD control, DWORD, LPVOID, LPVOID self) {
  return static_cast<ServiceDispatcher*>(self)->Control(control);
}

void ServiceDispatcher::RunService() {
  const SERVICE_STATUS_HANDLE handle =
      RegisterServiceCtrlHandlerExW(serviceName_.c_str(), ControlHandler, this);
  if (handle == nullptr) return;
  {
    const std::lock_guard lock(statusMutex_);
    statusHandle_ = handle;
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  }
  startedByController_ = true;
  SetState(SERVICE_START_PENDING);
  if (handler_.Handle(ServiceRequest::Start, 0)) {
    SetState(SERVICE_RUNNING);
    // The stop request has been answered by now; the stop handler runs here,
    // and the controller hears STOPPED only after it has returned.
    WaitForSingleObject(stopRequested_.Get(), INFINITE);
    if (!ending_) handler_.Handle(ServiceRequest::Stop, SERVICE_CONTROL_STOP);
    SetState(SERVICE_STOPPED);
  } else {
    SetState(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
  }
  SetEvent(serviceMainDone_.Get());
}

DWORD ServiceDispatcher::Control(DWORD control) {
  DWORD before = 0;
  {
    const std::lock_guard lock(statusMutex_);
    before = status_.dwCurrentState;
  }
  switch (control) {
    case SERVICE_CONTROL_STOP:
      // Reporting STOPPED before this returns would fail the controller's
      // request (Wine answers it with 1053): the service main does the stop.
      SetState(SERVICE_STOP_PENDING);
      SetEvent(stopRequested_.Get());
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      SetState(SERVICE_PAUSE_PENDING);
      SetState(handler_.Handle(ServiceRequest::Pause, control) ? SERVICE_PAUSED : before);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      SetState(SERVICE_CONTINUE_PENDING);
      SetState(handler_.Handle(ServiceRequest::Continue, control) ? SERVICE_RUNNING : before);
      return NO_ERROR;
    default:
      handler_.Handle(ServiceRequest::Control, control);
      return NO_ERROR;
  }
}

void ServiceDispatcher::ReportStopped() { SetState(SERVICE_STOPPED); }

void ServiceDispatcher::SetState(DWORD state, DWORD exitCode) {
  const std::lock_guard lock(statusMutex_);
  if (statusHandle_ == nullptr) return;
  status_.dwCurrentState = state;
  status_.dwWin32ExitCode = exitCode;
  status_.dwServiceSpecificExitCode = exitCode == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
  status_.dwControlsAccepted =
      state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED
          ? 0
          : kAcceptedControls;
  status_.dwCheckPoint = IsPending(state) ? status_.dwCheckPoint + 1 : 0;
  status_.dwWaitHint = IsPending(state) ? kPendingWaitHint : 0;
  SetServiceStatus(statusHandle_, &status_);
  // After the stop the handle is no longer valid.
  if (state == SERVICE_STOPPED) statusHandle_ = nullptr;
}

}  // namespace zkq::win32
