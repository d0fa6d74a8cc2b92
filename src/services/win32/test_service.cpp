// A small service for the dispatch test. Its user-interface thread answers
// the controller's requests through the same forwarding the program uses and
// appends one line per request to zkq_test_service.log beside it. Started with
// "refuse", it answers pause and continue as failed; with "busy", its
// user-interface thread is held up for 30 seconds soon after the start, as by
// a long monitoring cycle.
#include <windows.h>

#include <cwchar>
#include <fstream>
#include <string>

#include "services/win32/service_control.h"

namespace {

using zkq::ServiceRequest;

constexpr UINT kRequestMessage = WM_APP + 1;
constexpr UINT_PTR kGiveUpTimer = 1;
constexpr UINT_PTR kBusyTimer = 2;

class AnsweringHandler : public zkq::ServiceRequestHandler {
 public:
  AnsweringHandler(bool refuse, std::wstring logPath) : refuse_(refuse), logPath_(logPath) {}

  bool Handle(ServiceRequest request, std::uint32_t code) override {
    switch (request) {
      case ServiceRequest::Start:
        return Note("asked to start");
      case ServiceRequest::Pause:
        Note(log_.Write(zkq::EventEntryType::Information, 1, zkq::kPausedEventId, u"Service paused")
                 ? "pause entry written"
                 : "pause entry failed");
        return Note("pause") && !refuse_;
      case ServiceRequest::Continue:
        return Note("continue") && !refuse_;
      case ServiceRequest::Control:
        return Note("control " + std::to_string(code));
      case ServiceRequest::Stop:
        // Slow enough that a STOPPED reported before the loop has ended shows.
        Sleep(300);
        PostQuitMessage(0);
        return Note("stop " + std::to_string(code));
    }
    return false;
  }

  bool Note(const std::string& line) {
    std::ofstream(logPath_.c_str(), std::ios::app) << line << "\n";
    return true;
  }

 private:
  bool refuse_;
  std::wstring logPath_;
  zkq::win32::WindowsEventLog log_{L"zkqTestService"};
};

AnsweringHandler* gHandler = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRequestMessage && gHandler != nullptr) {
    return zkq::win32::AnswerServiceRequest(wParam, lParam, *gHandler);
  }
  if (message == WM_TIMER && wParam == kGiveUpTimer) PostQuitMessage(1);
  if (message == WM_TIMER && wParam == kBusyTimer && gHandler != nullptr) {
    KillTimer(window, kBusyTimer);
    gHandler->Note("busy");
    Sleep(30000);
    gHandler->Note("idle");
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool refuse = argc > 1 && std::wcscmp(argv[1], L"refuse") == 0;
  const bool busy = argc > 1 && std::wcscmp(argv[1], L"busy") == 0;
  std::wstring logPath = zkq::win32::ExecutablePath();
  logPath = logPath.substr(0, logPath.find_last_of(L'\\') + 1) + L"zkq_test_service.log";
  AnsweringHandler handler(refuse, logPath);
  gHandler = &handler;
  handler.Note(zkq::win32::StartedAsService(L"zkqTestDispatch") ? "as service" : "as program");

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"zkqTestService";
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                    nullptr, windowClass.hInstance, nullptr);
  // A service that is never stopped must not linger after the test.
  SetTimer(window, kGiveUpTimer, 60000, nullptr);
  if (busy) SetTimer(window, kBusyTimer, 100, nullptr);

  int exitCode = 0;
  {
    zkq::win32::ServiceDispatcher dispatcher(L"zkqTestService");
    if (!dispatcher.Start(true)) return 2;
    dispatcher.Forward(window, kRequestMessage);
    dispatcher.ReportRunning();
    handler.Note("start");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    exitCode = static_cast<int>(message.wParam);
    handler.Note("loop ended");
  }
  handler.Note("ended");
  DestroyWindow(window);
  return exitCode;
}
