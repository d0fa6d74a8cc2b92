#include <gtest/gtest.h>
#include <windows.h>
#include <winsvc.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/testing/recording_boxes.h"
#include "base/win32/handles.h"
#include "base/win32/wide.h"
#include "services/win32/service_control.h"
#include "services/win32/service_manager.h"

namespace zkq::win32 {
namespace {

using test_support::RecordingBoxes;

constexpr wchar_t kApplicationSources[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

std::u16string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  EXPECT_TRUE(GetComputerNameW(name, &size));
  return FromWide(name, size);
}

std::wstring ExeFolder() {
  const std::wstring path = ExecutablePath();
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Removes a test service and its event source however the test ended: an
// automatic-start service left behind would start with every wineserver.
void Remove(const std::wstring& name) {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const UniqueServiceHandle service(
      OpenServiceW(manager.Get(), name.c_str(), DELETE | SERVICE_STOP));
  if (service) {
    SERVICE_STATUS status;
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    DeleteService(service.Get());
  }
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kApplicationSources + name).c_str());
}

TEST(WindowsServiceManager, ChecksRulesAgainstWinesServices) {
  WindowsServiceManager manager;
  RecordingBoxes boxes;
  const std::vector<ServiceRow> rows = {{u"PlugPlay", u"停止"},
                                        {u"spooler", u"開始"},
                                        {u"RpcSs", u"開始"},
                                        {u"Eventlog", u"開始"},
                                        {u"zkqNoSuchService", u"開始"}};
  std::u16string alert;
  ListServiceRows(rows, ComputerName(), kServiceStateAll, manager, true, boxes, alert);
  EXPECT_TRUE(boxes.shown.empty());
  const std::u16string header = u"［サービス］\r\n";
  ASSERT_EQ(alert.substr(0, header.size()), header);
  // Wrong-state lines come in the manager's order; check each on its own.
  EXPECT_NE(alert.find(u"\r\nPlugPlay 開始 "), std::u16string::npos);
  EXPECT_NE(alert.find(u"\r\nSpooler  停止 "), std::u16string::npos);
  EXPECT_EQ(alert.find(u"RpcSs"), std::u16string::npos);
  EXPECT_EQ(alert.find(u"Eventlog"), std::u16string::npos);
  const std::u16string last = u"zkqNoSuchService <--- Not found!\r\n";
  ASSERT_GE(alert.size(), last.size());
  EXPECT_EQ(alert.substr(alert.size() - last.size()), last);
  EXPECT_EQ(std::count(alert.begin(), alert.end(), u'\n'), 4);
}

// Wine's manager with a service registered right after the size probe, as
// an installer running at that moment would.
class AddingAfterProbe : public ServiceManager {
 public:
  static constexpr wchar_t kName[] = L"zkqTestAddedLate";
  OpenedServiceDatabase Open(std::u16string_view computerName) override {
    OpenedServiceDatabase opened = real_.Open(computerName);
    if (opened.database) opened.database = std::make_unique<Database>(std::move(opened.database));
    return opened;
  }

 private:
  class Database : public ServiceDatabase {
   public:
    explicit Database(std::unique_ptr<ServiceDatabase> real) : real_(std::move(real)) {}
    ServiceEnumeration Enumerate(std::uint32_t stateFilter, std::size_t bufferBytes) override {
      ServiceEnumeration result = real_->Enumerate(stateFilter, bufferBytes);
      if (calls_++ == 0) {
        const UniqueServiceHandle manager(
            OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
        const UniqueServiceHandle added(CreateServiceW(
            manager.Get(), kName, L"A service added late with a long display name",
            SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
            SERVICE_ERROR_NORMAL, L"C:\\nothing.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_TRUE(added) << GetLastError();
      }
      return result;
    }

   private:
    std::unique_ptr<ServiceDatabase> real_;
    int calls_ = 0;
  };
  WindowsServiceManager real_;
};

TEST(WindowsServiceManager, ChecksAServiceAddedBetweenTheProbeAndTheEnumeration) {
  Remove(AddingAfterProbe::kName);
  AddingAfterProbe manager;
  RecordingBoxes boxes;
  std::u16string alert;
  ListServiceRows(std::vector<ServiceRow>{{u"zkqTestAddedLate", u"開始"}}, ComputerName(),
                  kServiceStateAll, manager, true, boxes, alert);
  Remove(AddingAfterProbe::kName);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(alert,
            u"［サービス］\r\nzkqTestA 停止 A service added late with a long display name\r\n");
}

class RegistrationTest : public testing::Test {
 protected:
  static constexpr wchar_t kName[] = L"zkqTestRegistration";
  void TearDown() override { Remove(kName); }
};

TEST_F(RegistrationTest, InstallRegistersTheServiceAndItsEventSourceAndUninstallRemovesThem) {
  // The program's file and folder must be there: the install reads who may change them.
  const std::wstring folder = L"C:\\Program Files\\zk Quorvane";
  const std::wstring exe = folder + L"\\zkQuorvane.exe";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::ofstream(std::filesystem::path(exe)) << "MZ";
  struct Cleanup {
    std::wstring folder, exe;
    ~Cleanup() {
      DeleteFileW(exe.c_str());
      RemoveDirectoryW(folder.c_str());
    }
  } cleanup{folder, exe};
  WindowsServiceRegistration registration(kName, exe);
  ASSERT_EQ(registration.Install(), RegistrationOutcome::Done);
  EXPECT_EQ(registration.Install(), RegistrationOutcome::Failed)
      << "a second install of the same service";

  {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(OpenServiceW(manager.Get(), kName, SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service);
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service.Get(), config, sizeof(buffer), &needed));
    EXPECT_EQ(config->dwServiceType,
              DWORD{SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS});
    EXPECT_EQ(config->dwStartType, DWORD{SERVICE_AUTO_START});
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"\"" + exe + L"\"");
    EXPECT_EQ(std::wstring(config->lpDisplayName), kName);

    // The description, the delayed start and the restarts after a failure.
    // Wine's manager knows only the description (the others answer
    // ERROR_INVALID_LEVEL there); Windows must show all three.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    auto query = [&](DWORD level) {
      const bool ok = QueryServiceConfig2W(service.Get(), level, buffer, sizeof(buffer), &needed);
      const DWORD error = ok ? 0 : GetLastError();
      EXPECT_TRUE(ok || (wine && error == ERROR_INVALID_LEVEL)) << level << ": " << error;
      return ok;
    };
    if (query(SERVICE_CONFIG_DESCRIPTION)) {
      EXPECT_EQ(std::wstring(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer)->lpDescription),
                kServiceDescription);
    }
    if (query(SERVICE_CONFIG_DELAYED_AUTO_START_INFO)) {
      EXPECT_TRUE(reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(buffer)->fDelayedAutostart);
    }
    if (query(SERVICE_CONFIG_FAILURE_ACTIONS)) {
      const auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
      EXPECT_EQ(failure->dwResetPeriod, 86400u);
      ASSERT_EQ(failure->cActions, 3u);
      EXPECT_EQ(failure->lpsaActions[0].Type, SC_ACTION_RESTART);
      EXPECT_EQ(failure->lpsaActions[1].Delay, 60000u);
      EXPECT_EQ(failure->lpsaActions[2].Type, SC_ACTION_NONE);
    }
  }
  {
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kApplicationSources + std::wstring(kName)).c_str(),
                            0, KEY_QUERY_VALUE, &opened),
              ERROR_SUCCESS);
    const UniqueKey key(opened);
    wchar_t file[MAX_PATH] = {};
    DWORD size = sizeof(file), type = 0;
    ASSERT_EQ(RegQueryValueExW(key.Get(), L"EventMessageFile", nullptr, &type,
                               reinterpret_cast<BYTE*>(file), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(file), exe);
    DWORD types = 0;
    size = sizeof(types);
    ASSERT_EQ(RegQueryValueExW(key.Get(), L"TypesSupported", nullptr, &type,
                               reinterpret_cast<BYTE*>(&types), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(types, 7u);
  }

  ASSERT_EQ(registration.Uninstall(), RegistrationOutcome::Done);
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  EXPECT_FALSE(UniqueServiceHandle(OpenServiceW(manager.Get(), kName, SERVICE_QUERY_CONFIG)));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SERVICE_DOES_NOT_EXIST});
  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kApplicationSources + std::wstring(kName)).c_str(),
                          0, KEY_QUERY_VALUE, &opened),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registration.Uninstall(), RegistrationOutcome::Failed) << "nothing left to remove";
}

TEST(MessageTable, ShowsEachEntrysOwnText) {
  for (const std::uint32_t id :
       {kFailureEventId, kMessageEventId, kPausedEventId, kContinuedEventId}) {
    SCOPED_TRACE(id);
    DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(L"Service paused")};
    wchar_t text[256] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                        GetModuleHandleW(nullptr), id, 0, text, 256,
                                        reinterpret_cast<va_list*>(inserts));
    EXPECT_EQ(std::wstring(text, length), L"Service paused\r\n") << GetLastError();
  }
}

// The test service under Wine's service manager, with the dispatcher and the
// forwarding to a user-interface thread that the program uses.
class DispatchTest : public testing::Test {
 protected:
  static constexpr wchar_t kName[] = L"zkqTestDispatch";
  void SetUp() override {
    DeleteFileW(LogPath().c_str());
    manager_.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_);
  }
  void TearDown() override {
    Remove(kName);
    DeleteFileW(LogPath().c_str());
  }
  static std::wstring LogPath() { return ExeFolder() + L"zkq_test_service.log"; }
  // The service's log once its process has written its last line, or as it
  // stands after a few seconds.
  static std::string FinalLog() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      std::ifstream in(LogPath().c_str());
      std::stringstream text;
      text << in.rdbuf();
      if (text.str().ends_with("\nended\n") || std::chrono::steady_clock::now() > until) {
        return text.str();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  UniqueServiceHandle Started(const std::wstring& arguments) {
    const std::wstring exe = ExeFolder() + L"zkq_test_service.exe";
    const std::wstring command = L"\"" + exe + L"\"" + arguments;
    UniqueServiceHandle service(CreateServiceW(manager_.Get(), kName, kName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_NORMAL, command.c_str(), nullptr,
                                               nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(service) << GetLastError();
    if (!service) return service;
    EXPECT_TRUE(StartServiceW(service.Get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(WaitFor(service, SERVICE_RUNNING), DWORD{SERVICE_RUNNING});
    return service;
  }

  // Waits for state; the checkpoints seen on the way are added to checkpoints.
  static DWORD WaitFor(const UniqueServiceHandle& service, DWORD state,
                       std::chrono::seconds limit = std::chrono::seconds(20),
                       std::vector<DWORD>* checkpoints = nullptr) {
    SERVICE_STATUS status = {};
    const auto until = std::chrono::steady_clock::now() + limit;
    while (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != state &&
           std::chrono::steady_clock::now() < until) {
      if (checkpoints && (checkpoints->empty() || checkpoints->back() != status.dwCheckPoint)) {
        checkpoints->push_back(status.dwCheckPoint);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return status.dwCurrentState;
  }

  // The control's answer: 0, or the error ControlService failed with.
  static DWORD Send(const UniqueServiceHandle& service, DWORD control) {
    SERVICE_STATUS status = {};
    return ControlService(service.Get(), control, &status) ? 0 : GetLastError();
  }

  static std::string LogNow() {
    std::stringstream text;
    text << std::ifstream(LogPath().c_str()).rdbuf();
    return text.str();
  }

  UniqueServiceHandle manager_;
};

TEST_F(DispatchTest, PauseContinueCustomCodeAndStopReachTheUserInterfaceThread) {
  const UniqueServiceHandle service = Started(L"");
  ASSERT_TRUE(service);
  EXPECT_EQ(Send(service, SERVICE_CONTROL_PAUSE), 0u);
  EXPECT_EQ(WaitFor(service, SERVICE_PAUSED), DWORD{SERVICE_PAUSED});
  EXPECT_EQ(Send(service, SERVICE_CONTROL_CONTINUE), 0u);
  EXPECT_EQ(WaitFor(service, SERVICE_RUNNING), DWORD{SERVICE_RUNNING});
  EXPECT_EQ(Send(service, 200), 0u);
  // Answered by the dispatcher alone: the window never hears of it.
  EXPECT_EQ(Send(service, SERVICE_CONTROL_INTERROGATE), 0u);
  Send(service, SERVICE_CONTROL_STOP);
  const auto stopAsked = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitFor(service, SERVICE_STOPPED), DWORD{SERVICE_STOPPED});
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::seconds(5));
  // Stopped only once the program has left its message loop.
  const std::string atStop = LogNow();
  EXPECT_TRUE(atStop.ends_with("loop ended\n") || atStop.ends_with("\nended\n")) << atStop;
  EXPECT_EQ(FinalLog(),
            "as service\nstart\npause entry written\npause\ncontinue\ncontrol 200\nstop 1\n"
            "loop ended\nended\n");
}

TEST_F(DispatchTest, ARefusedPauseLeavesTheServiceRunning) {
  const UniqueServiceHandle service = Started(L" refuse");
  ASSERT_TRUE(service);
  EXPECT_EQ(Send(service, SERVICE_CONTROL_PAUSE), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(WaitFor(service, SERVICE_RUNNING), DWORD{SERVICE_RUNNING});
  Send(service, SERVICE_CONTROL_STOP);
  EXPECT_EQ(WaitFor(service, SERVICE_STOPPED), DWORD{SERVICE_STOPPED});
  EXPECT_EQ(FinalLog(),
            "as service\nstart\npause entry written\npause\nstop 1\nloop ended\nended\n");
}

// A stop that arrives while the user-interface thread is held up for 30
// seconds waits for it: the service stays STOP_PENDING with a rising
// checkpoint, and is STOPPED only when the program has ended its loop.
TEST_F(DispatchTest, AStopWhileTheUserInterfaceThreadIsBusyIsNotLost) {
  const UniqueServiceHandle service = Started(L" busy");
  ASSERT_TRUE(service);
  SERVICE_STATUS_PROCESS process = {};
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                   reinterpret_cast<BYTE*>(&process), sizeof(process), &needed));
  const UniqueKernelHandle program(OpenProcess(SYNCHRONIZE, FALSE, process.dwProcessId));
  ASSERT_TRUE(program);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!LogNow().ends_with("busy\n") && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(Send(service, SERVICE_CONTROL_STOP), 0u);
  std::vector<DWORD> checkpoints;
  EXPECT_EQ(WaitFor(service, SERVICE_STOPPED, std::chrono::seconds(45), &checkpoints),
            DWORD{SERVICE_STOPPED});
  const std::string atStop = LogNow();
  EXPECT_TRUE(atStop.ends_with("loop ended\n") || atStop.ends_with("\nended\n")) << atStop;
  EXPECT_GE(checkpoints.size(), 10u) << "the pending stop shows progress";
  EXPECT_TRUE(std::is_sorted(checkpoints.begin(), checkpoints.end()));
  EXPECT_EQ(WaitForSingleObject(program.Get(), 5000), WAIT_OBJECT_0) << "the process ends";
  EXPECT_EQ(FinalLog(), "as service\nstart\nbusy\nidle\nstop 1\nloop ended\nended\n");
}

TEST(ServiceDispatcher, OutsideTheControllerStartsAtOnceAndNeverClaimsToBeAService) {
  const auto before = std::chrono::steady_clock::now();
  {
    ServiceDispatcher dispatcher(L"zkqTestDesktop");
    ASSERT_TRUE(dispatcher.Start());
    ServiceDispatcher second(L"zkqTestDesktop");
    EXPECT_FALSE(second.Start()) << "one dispatcher per process";
    EXPECT_FALSE(dispatcher.StartedByController());
    EXPECT_FALSE(StartedAsService(L"PlugPlay"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

}  // namespace
}  // namespace zkq::win32
