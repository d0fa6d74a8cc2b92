#include "services/win32/service_control.h"

#include <winsvc.h>

#include <memory>
#include <vector>

#include "base/win32/folder_security.h"
#include "base/win32/wide.h"

namespace zkq::win32 {
namespace {

constexpr wchar_t kApplicationSources[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                                    SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
constexpr DWORD kFirstCustomControl = 128, kLastCustomControl = 255;
// A pending state is reported again, with a higher checkpoint, this often;
// the hint leaves room for a few missed reports.
constexpr DWORD kProgressMs = 1000;
constexpr DWORD kPendingWaitHint = 5000;
constexpr DWORD kStopWaitMs = 5000;
constexpr DWORD kRestartDelayMs = 60000;
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

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

// What services.msc shows, a start that leaves the boot to the system's own
// services first, and a restart after a crash (twice, a minute apart; the
// count starts afresh after a day), so that monitoring does not end unseen.
void Describe(SC_HANDLE service) {
  std::wstring description(kServiceDescription);
  SERVICE_DESCRIPTIONW text = {description.data()};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &text);
  SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed);
  SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs},
                         {SC_ACTION_RESTART, kRestartDelayMs},
                         {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure = {};
  failure.dwResetPeriod = kFailureResetSeconds;
  failure.cActions = static_cast<DWORD>(std::size(actions));
  failure.lpsaActions = actions;
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
  // Not only a crash: an end with an error (someone else holding the
  // one-monitor name, a start-up that failed) restarts it too.
  SERVICE_FAILURE_ACTIONS_FLAG onError = {TRUE};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onError);
}

// A service registered by an installer's own tables gets the same settings
// once it runs (what those tables cannot say: the delayed start, the restarts).
void DescribeRunningService(const std::wstring& name) {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return;
  const UniqueServiceHandle service(
      OpenServiceW(manager.Get(), name.c_str(), SERVICE_CHANGE_CONFIG));
  if (service) Describe(service.Get());
}

// Why the service manager refused, from its last error: without elevation
// (UAC) it denies access.
RegistrationOutcome Refused() {
  return GetLastError() == ERROR_ACCESS_DENIED ? RegistrationOutcome::NeedsAdministrator
                                               : RegistrationOutcome::Failed;
}

constexpr char16_t kChangeableBy[] = u" は ";
constexpr char16_t kChangeableRemedy[] =
    u" が書き換えられるため、SYSTEM として実行できません。"
    u"管理者だけが書き換えられるフォルダー (Program Files など) に置くか、MSI "
    u"でインストールしてください。";
constexpr char16_t kSecurityUnreadable[] = u" のアクセス許可を確かめられません。";

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

std::u16string UnsafeServiceReason(const std::wstring& executable,
                                   const std::wstring& stateFolder) {
  const std::string installer = AdministratorRunningThis();
  std::vector<std::wstring> paths{executable};
  const auto last = executable.find_last_of(L"\\/");
  if (last != std::wstring::npos) paths.push_back(executable.substr(0, last));
  if (!stateFolder.empty()) paths.push_back(stateFolder);
  for (const std::wstring& path : paths) {
    const auto security = ReadObjectSecurity(path);
    if (!security) return FromWide(path) + kSecurityUnreadable;
    if (const auto writer = UntrustedWriter(*security, installer)) {
      return FromWide(path) + kChangeableBy + AccountOfSid(*writer) + kChangeableRemedy;
    }
  }
  return {};
}

RegistrationOutcome WindowsServiceRegistration::Install() {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return Refused();
  std::u16string unsafe = UnsafeServiceReason(executable_, stateFolder_);
  if (!unsafe.empty()) return {RegistrationOutcome::Unsafe, std::move(unsafe)};
  const std::wstring command = L"\"" + executable_ + L"\"";
  // No account: the service runs as LocalSystem, the only account that may be
  // interactive.
  const UniqueServiceHandle service(CreateServiceW(
      manager.Get(), serviceName_.c_str(), serviceName_.c_str(),
      SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG | SERVICE_START,
      SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) return Refused();
  // The service is registered even if these extras or its entries' texts are
  // missing: each only makes it nicer to run.
  Describe(service.Get());
  AddEventSource(serviceName_, executable_);
  return RegistrationOutcome::Done;
}

RegistrationOutcome WindowsServiceRegistration::Uninstall() {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return Refused();
  const UniqueServiceHandle service(OpenServiceW(manager.Get(), serviceName_.c_str(), DELETE));
  if (!service || !DeleteService(service.Get())) return Refused();
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kApplicationSources + serviceName_).c_str());
  return RegistrationOutcome::Done;
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

LRESULT AnswerServiceRequest(WPARAM wParam, LPARAM lParam,
                             ServiceRequestHandler& handler) noexcept {
  if (wParam > static_cast<WPARAM>(ServiceRequest::Control)) return 0;
  const auto request = static_cast<ServiceRequest>(wParam);
  bool success = false;
  try {
    success = handler.Handle(request, static_cast<std::uint32_t>(lParam));
  } catch (...) {
    // The handlers keep their failures to themselves; anything else is a refusal.
  }
  ServiceDispatcher::Answered(request, success);
  return success ? 1 : 0;
}

ServiceDispatcher::~ServiceDispatcher() {
  if (ended_) SetEvent(ended_.Get());
  // The service main reports STOPPED, with the exit code, and lets the
  // dispatch end; outside the controller the call is still waiting to fail,
  // and the process's end takes the thread with it.
  if (byController_ || startedByController_) {
    if (serviceMainDone_) WaitForSingleObject(serviceMainDone_.Get(), kStopWaitMs);
    if (thread_) WaitForSingleObject(thread_.Get(), kStopWaitMs);
  }
  ServiceDispatcher* self = this;
  gDispatcher.compare_exchange_strong(self, nullptr);
}

bool ServiceDispatcher::Start(bool byController) {
  ServiceDispatcher* none = nullptr;
  if (thread_ || !gDispatcher.compare_exchange_strong(none, this)) return false;
  byController_ = byController;
  ended_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  serviceMainDone_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ended_ || !serviceMainDone_) {
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

void ServiceDispatcher::Forward(HWND window, UINT message) {
  const std::lock_guard lock(statusMutex_);
  message_ = message;
  window_ = window;
}

void ServiceDispatcher::ReportRunning() {
  const std::lock_guard lock(statusMutex_);
  running_ = true;
  if (!stopAsked_) SetState(SERVICE_RUNNING);
}

void ServiceDispatcher::Answered(ServiceRequest request, bool success) noexcept {
  ServiceDispatcher* self = gDispatcher.load();
  if (self == nullptr) return;
  try {
    const std::lock_guard lock(self->statusMutex_);
    // A stop under way outranks what pause or continue would report.
    if (self->stopAsked_) return;
    if (request == ServiceRequest::Pause) {
      self->SetState(success ? SERVICE_PAUSED : SERVICE_RUNNING);
    } else if (request == ServiceRequest::Continue) {
      self->SetState(success ? SERVICE_RUNNING : SERVICE_PAUSED);
    }
  } catch (...) {
    // The controller keeps the pending state; nothing else can be done here.
  }
}

void ServiceDispatcher::ReportStoppedAtExit() noexcept {
  ServiceDispatcher* self = gDispatcher.load();
  if (self == nullptr) return;
  try {
    const std::lock_guard lock(self->statusMutex_);
    self->SetState(SERVICE_STOPPED);
  } catch (...) {
    // The process ends all the same.
  }
}

DWORD WINAPI ServiceDispatcher::DispatchThread(LPVOID name) noexcept {
  const std::unique_ptr<std::wstring> serviceName(static_cast<std::wstring*>(name));
  const SERVICE_TABLE_ENTRYW table[] = {{serviceName->data(), ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : GetLastError();
}

void WINAPI ServiceDispatcher::ServiceMain(DWORD, LPWSTR*) noexcept {
  ServiceDispatcher* self = gDispatcher.load();
  if (self == nullptr) return;
  try {
    self->RunService();
  } catch (...) {
    // Only the lock can throw; the program's end still ends the process.
  }
  SetEvent(self->serviceMainDone_.Get());
}

DWORD WINAPI ServiceDispatcher::ControlHandler(DWORD control, DWORD, LPVOID, LPVOID self) noexcept {
  try {
    return static_cast<ServiceDispatcher*>(self)->Control(control);
  } catch (...) {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void ServiceDispatcher::RunService() {
  const SERVICE_STATUS_HANDLE handle =
      RegisterServiceCtrlHandlerExW(serviceName_.c_str(), ControlHandler, this);
  if (handle == nullptr) return;
  {
    const std::lock_guard lock(statusMutex_);
    statusHandle_ = handle;
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    SetState(running_ ? SERVICE_RUNNING : SERVICE_START_PENDING);
  }
  startedByController_ = true;
  DescribeRunningService(serviceName_);
  // Until the program ends: a start or a stop under way shows progress, and a
  // stop the window's queue refused is posted again.
  while (WaitForSingleObject(ended_.Get(), kProgressMs) == WAIT_TIMEOUT) {
    const std::lock_guard lock(statusMutex_);
    if (stopAsked_) {
      if (!stopPosted_) stopPosted_ = Post(ServiceRequest::Stop, SERVICE_CONTROL_STOP);
      SetState(SERVICE_STOP_PENDING);
    } else if (!running_) {
      SetState(SERVICE_START_PENDING);
    }
  }
  const std::lock_guard lock(statusMutex_);
  SetState(SERVICE_STOPPED);
}

bool ServiceDispatcher::Post(ServiceRequest request, DWORD control) {
  const HWND window = window_;
  return window != nullptr &&
         PostMessageW(window, message_, static_cast<WPARAM>(request), static_cast<LPARAM>(control));
}

DWORD ServiceDispatcher::Control(DWORD control) {
  const std::lock_guard lock(statusMutex_);
  const DWORD before = status_.dwCurrentState;
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      // Reporting STOPPED before this returns would fail the controller's
      // request (Wine answers it with 1053); it comes when the program has ended.
      if (!stopAsked_) {
        stopAsked_ = true;
        stopPosted_ = Post(ServiceRequest::Stop, control);
      }
      SetState(SERVICE_STOP_PENDING);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      SetState(SERVICE_PAUSE_PENDING);
      if (!Post(ServiceRequest::Pause, control)) SetState(before);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      SetState(SERVICE_CONTINUE_PENDING);
      if (!Post(ServiceRequest::Continue, control)) SetState(before);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      SetState(before);
      return NO_ERROR;
    default:
      // The user-defined codes are the program's to ignore; the system's
      // other notifications are none of its business.
      if (control < kFirstCustomControl || control > kLastCustomControl) {
        return ERROR_CALL_NOT_IMPLEMENTED;
      }
      Post(ServiceRequest::Control, control);
      return NO_ERROR;
  }
}

void ServiceDispatcher::SetState(DWORD state) {
  if (statusHandle_ == nullptr) return;
  const std::uint32_t exitCode = exitCode_;
  status_.dwCurrentState = state;
  status_.dwWin32ExitCode =
      state == SERVICE_STOPPED && exitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status_.dwServiceSpecificExitCode = state == SERVICE_STOPPED ? exitCode : 0;
  status_.dwControlsAccepted = IsPending(state) || state == SERVICE_STOPPED ? 0 : kAcceptedControls;
  status_.dwCheckPoint = IsPending(state) ? status_.dwCheckPoint + 1 : 0;
  status_.dwWaitHint = IsPending(state) ? kPendingWaitHint : 0;
  SetServiceStatus(statusHandle_, &status_);
  // After the stop the handle is no longer valid.
  if (state == SERVICE_STOPPED) statusHandle_ = nullptr;
}

}  // namespace zkq::win32
