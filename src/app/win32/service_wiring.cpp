#include "service_wiring.h"

#include <string>

#include "base/failure.h"
#include "base/text.h"

namespace zkq::win32 {
namespace {

constexpr DWORD kStopGraceMs = 5000;
constexpr char16_t kDispatchNotStarted[] = u"サービスの制御を開始できません。エラー ";

DWORD WINAPI EndProcessAfterGrace(LPVOID) noexcept {
  Sleep(kStopGraceMs);
  ServiceDispatcher::ReportStoppedAtExit();
  ExitProcess(0);
}

}  // namespace

ProgramBoxes::ProgramBoxes() : log_(kServiceName) {
  if (StartedAsService(kServiceName)) logged_.emplace(log_);
}

void ProgramBoxes::Show(const std::u16string& text, MessageIcon icon) {
  if (logged_) {
    logged_->Show(text, icon);
  } else {
    screen_.Show(text, icon);
  }
}

void WindowsServiceControl::Connect() {
  dispatcher_.Forward(mainWindow_, kServiceRequestMessage);
  if (dispatcher_.Started() || dispatcher_.Start()) return;
  const DWORD error = GetLastError();
  std::u16string description(kDispatchNotStarted);
  description += FromUtf8(std::to_string(error));
  throw Failure(description, static_cast<int>(error));
}

void ServiceStop::EndProgram() {
  // The controller hears of the stop once the program has left its message
  // loop (the dispatcher's owner reports it).
  presenter_.Unload();
  // The thread is never waited for: it ends with the process.
  const UniqueKernelHandle watch(
      CreateThread(nullptr, 0, EndProcessAfterGrace, nullptr, 0, nullptr));
}

void AnswerServiceRequests(MainWindowWin32& window, ServiceRequestHandler& handlers) {
  window.SetServiceRequests([&handlers](WPARAM wParam, LPARAM lParam) {
    return AnswerServiceRequest(wParam, lParam, handlers);
  });
}

}  // namespace zkq::win32
