#include "mail/win32/send_window_win32.h"

#include <commctrl.h>

#include <algorithm>

#include "base/win32/wide.h"
#include "mail/socket_errors.h"
#include "mail/tls_socket.h"
#include "mail/win32/send_window_ids.h"
#include "mail/win32/winsock_socket.h"

namespace zkq::win32 {
namespace {

constexpr UINT_PTR kUnloadTimer = 1;
// Activation can be missed when another program holds the foreground; the
// dialog then reaches the same handler through this message.
constexpr UINT kActivateMessage = WM_APP + 20;
constexpr UINT kStatusMessage = WM_APP + 21;

}  // namespace

void SendWindowWin32::Run(HINSTANCE instance, HWND owner, SendWindow& presenter) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  presenter_ = &presenter;
  closeRequested_ = false;
  // Without a window nothing is sent, and the result stays 1.
  RunModal(instance, owner, IDD_SENDEMAIL);
  presenter_ = nullptr;
}

void SendWindowWin32::Place() {
  RECT rect{};
  GetWindowRect(window_, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  // A little above the middle of the screen.
  const int top = screenHeight * 85 / 100 / 2 - height / 2;
  const int left = screenWidth / 2 - width / 2;
  SetWindowPos(window_, nullptr, left, std::max(top, 0), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR SendWindowWin32::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Place();
      SetWindowTextW(window_, ToWide(kAppTitle).c_str());
      SendDlgItemMessageW(window_, IDC_SEND_PROGRESSBAR1, PBM_SETRANGE32, 0, 100);
      if (presenter_ != nullptr) presenter_->FormLoad();
      PostMessageW(window_, kActivateMessage, 0, 0);
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && presenter_ != nullptr) presenter_->FormActivate();
      return FALSE;
    case kActivateMessage:
      if (presenter_ != nullptr) presenter_->FormActivate();
      return TRUE;
    case WM_COMMAND:
      if (presenter_ == nullptr) return FALSE;
      switch (LOWORD(wParam)) {
        case IDC_SEND_CMDBUTTON0:
          presenter_->SendClicked();
          return TRUE;
        case IDC_SEND_CMDBUTTON1:
          presenter_->ExitClicked();
          return TRUE;
        case IDCANCEL:  // Escape, like the close box
          presenter_->CloseBoxClicked();
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      if (presenter_ != nullptr) presenter_->CloseBoxClicked();
      return TRUE;
    case kStatusMessage:
      statusPosted_ = false;
      SendDlgItemMessageW(window_, IDC_SEND_STATUSBAR1, SB_SETTEXTW, 0,
                          reinterpret_cast<LPARAM>(pendingStatus_.c_str()));
      return TRUE;
    case WM_TIMER:
      if (wParam != kUnloadTimer) return FALSE;
      KillTimer(window_, kUnloadTimer);
      if (session_ != nullptr) session_->OnTimeout();
      return TRUE;
    default:
      return FALSE;
  }
}

void SendWindowWin32::SetTitleText(const std::u16string& text) {
  SetDlgItemTextW(window_, IDC_SEND_LBLTITLE, ToWide(text).c_str());
}

void SendWindowWin32::SetStatus(const std::u16string& text) {
  // Setting the bar for each of a mail's thousands of lines cost seconds
  // under load; one update per pass of the message loop shows the same end.
  pendingStatus_ = ToWide(text);
  if (!statusPosted_) statusPosted_ = PostMessageW(window_, kStatusMessage, 0, 0) != FALSE;
}

void SendWindowWin32::SetProgress(int value) {
  SendDlgItemMessageW(window_, IDC_SEND_PROGRESSBAR1, PBM_SETPOS, std::clamp(value, 0, 100), 0);
}

void SendWindowWin32::EnableSend(bool enabled) {
  EnableWindow(GetDlgItem(window_, IDC_SEND_CMDBUTTON0), enabled);
}

void SendWindowWin32::SetBusyCursor(bool busy) {
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void SendWindowWin32::Close() {
  if (closeRequested_ || window_ == nullptr) return;
  closeRequested_ = true;
  KillTimer(window_, kUnloadTimer);
  EndDialog(window_, 0);
}

void SendWindowWin32::Start(std::int32_t milliseconds) {
  if (window_ == nullptr) return;
  SetTimer(window_, kUnloadTimer, static_cast<UINT>(std::max(milliseconds, 1)), nullptr);
}

void SendWindowWin32::Stop() {
  if (window_ != nullptr) KillTimer(window_, kUnloadTimer);
}

void SendWindowWin32::ShowFailure(const std::u16string& description) noexcept {
  try {
    SetBusyCursor(false);
    ShowAppError(errorBoxes_, description);
  } catch (...) {
  }
}

SendResult SendEmailWindow(HINSTANCE instance, HWND owner, const MailRequest& request,
                           const std::u16string& computerName, MessageBoxes& boxes,
                           SendReport* report, std::optional<ComposedMessage> composed,
                           ClientCredentialsTokens* tokens, SendOutcome* outcome) {
  // TLS when the session asks for it, trusting the machine's roots.
  WinsockSocket raw;
  TlsSocket socket(raw, MakeSystemTlsEngine(u""));
  raw.Route(&socket);
  SendWindowWin32 dialog(boxes);
  SendWindowPorts ports{dialog,
                        socket,
                        dialog,
                        boxes,
                        computerName,
                        [&computerName] { return CurrentMessageStamp(computerName); },
                        [&](SmtpSession* session) {
                          raw.Attach(session);
                          socket.Attach(session);
                          dialog.Attach(session);
                        },
                        LocalDnsName(),
                        tokens};
  return SendEmail(
      request, std::move(ports),
      [&](SendWindow& presenter) {
        dialog.Run(instance, owner, presenter);
        if (report != nullptr) *report = SendReport{presenter.LastStatus(), presenter.Reached()};
      },
      std::move(composed), outcome);
}

}  // namespace zkq::win32
