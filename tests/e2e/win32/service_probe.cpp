// What Wine's service manager knows of one service, and the requests an
// administrator sends it, for the service tests: one command per run, one
// JSON line out.
//   service_probe query NAME               registration, description, state and exit codes
//   service_probe start NAME
//   service_probe control NAME pause|continue|stop
//   service_probe wait NAME STATE MS       until the state is STATE (a number)
//   service_probe delete NAME
//   service_probe inject PID DLL           loads DLL (a full path) into process PID
//   service_probe message FILE ID TEXT     the Japanese text of message ID in the message
//                                          file FILE, with TEXT as its %1, as Event Viewer
//                                          makes it
#include <windows.h>
#include <winsvc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Service {
  SC_HANDLE manager = nullptr, service = nullptr;
  ~Service() {
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
  }
};

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\r' || c == '\n') {
      out += c == '\r' ? "\\r" : "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

int Fail(const char* what) {
  std::printf("{\"ok\": false, \"error\": \"%s\", \"code\": %lu}\n", what, GetLastError());
  return 1;
}

DWORD State(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

// LoadLibraryW on a thread started in the process; kernel32 lies at the same
// address in every process of the session.
int Inject(DWORD pid, const std::wstring& dll) {
  const HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
  if (process == nullptr) return Fail("OpenProcess");
  const SIZE_T size = (dll.size() + 1) * sizeof(wchar_t);
  void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  DWORD loaded = 0;
  HANDLE thread = nullptr;
  if (remote != nullptr && WriteProcessMemory(process, remote, dll.c_str(), size, nullptr)) {
    const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    thread = CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr);
  }
  if (thread != nullptr) {
    WaitForSingleObject(thread, 10000);
    GetExitCodeThread(thread, &loaded);  // the module's low half, 0 when it failed
    CloseHandle(thread);
  }
  CloseHandle(process);
  if (loaded == 0) return Fail("LoadLibraryW in the process");
  std::printf("{\"ok\": true}\n");
  return 0;
}

int Message(const std::wstring& file, DWORD id, const std::wstring& text) {
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return Fail("LoadLibraryExW");
  const DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(text.c_str())};
  wchar_t* formatted = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      module, id, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&formatted), 0,
      reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
  FreeLibrary(module);
  if (length == 0) return Fail("FormatMessageW");
  std::printf("{\"ok\": true, \"value\": %s}\n", Json(std::wstring(formatted, length)).c_str());
  LocalFree(formatted);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Fail("usage: query|start|control|wait|delete NAME ...");
  const std::wstring command = argv[1];
  if (command == L"inject" && argc >= 4) return Inject(wcstoul(argv[2], nullptr, 10), argv[3]);
  if (command == L"message" && argc >= 5) {
    return Message(argv[2], wcstoul(argv[3], nullptr, 10), argv[4]);
  }
  Service s;
  s.manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (s.manager == nullptr) return Fail("OpenSCManagerW");
  s.service = OpenServiceW(s.manager, argv[2], SERVICE_ALL_ACCESS);
  if (s.service == nullptr) {
    if (command == L"query" && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::printf("{\"ok\": true, \"value\": {\"exists\": false}}\n");
      return 0;
    }
    return Fail("OpenServiceW");
  }

  if (command == L"query") {
    DWORD needed = 0;
    QueryServiceConfigW(s.service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(s.service, config, static_cast<DWORD>(buffer.size()), &needed)) {
      return Fail("QueryServiceConfigW");
    }
    SERVICE_STATUS_PROCESS status = {};
    if (!QueryServiceStatusEx(s.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed)) {
      return Fail("QueryServiceStatusEx");
    }
    // The description, where the manager keeps one ("" otherwise).
    std::wstring description;
    std::vector<BYTE> more(8192);
    if (QueryServiceConfig2W(s.service, SERVICE_CONFIG_DESCRIPTION, more.data(),
                             static_cast<DWORD>(more.size()), &needed)) {
      const auto* text = reinterpret_cast<SERVICE_DESCRIPTIONW*>(more.data());
      if (text->lpDescription != nullptr) description = text->lpDescription;
    }
    std::printf(
        "{\"ok\": true, \"value\": {\"exists\": true, \"type\": %lu, \"start\": %lu, \"path\": %s, "
        "\"display\": %s, \"description\": %s, \"state\": %lu, \"pid\": %lu, \"accepted\": %lu, "
        "\"exit\": %lu, \"specific_exit\": %lu}}\n",
        config->dwServiceType, config->dwStartType, Json(config->lpBinaryPathName).c_str(),
        Json(config->lpDisplayName).c_str(), Json(description).c_str(), status.dwCurrentState,
        status.dwProcessId, status.dwControlsAccepted, status.dwWin32ExitCode,
        status.dwServiceSpecificExitCode);
    return 0;
  }
  if (command == L"start") {
    if (!StartServiceW(s.service, 0, nullptr)) return Fail("StartServiceW");
  } else if (command == L"control" && argc >= 4) {
    const std::wstring what = argv[3];
    const DWORD control = what == L"pause"      ? SERVICE_CONTROL_PAUSE
                          : what == L"continue" ? SERVICE_CONTROL_CONTINUE
                                                : SERVICE_CONTROL_STOP;
    SERVICE_STATUS status = {};
    if (!ControlService(s.service, control, &status)) return Fail("ControlService");
  } else if (command == L"wait" && argc >= 5) {
    const DWORD want = wcstoul(argv[3], nullptr, 10);
    const ULONGLONG deadline = GetTickCount64() + wcstoul(argv[4], nullptr, 10);
    DWORD state = State(s.service);
    while (state != want && GetTickCount64() < deadline) {
      Sleep(50);
      state = State(s.service);
    }
    if (state != want) {
      std::printf("{\"ok\": false, \"error\": \"the state stayed %lu\"}\n", state);
      return 1;
    }
  } else if (command == L"delete") {
    if (!DeleteService(s.service)) return Fail("DeleteService");
  } else {
    return Fail("unknown command");
  }
  std::printf("{\"ok\": true}\n");
  return 0;
}
