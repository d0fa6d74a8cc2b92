#pragma once
// frmSendEmail on Windows: the modal dialog that shows one send (lblTitle,
// StatusBar1, ProgressBar1, Send and Exit in Frame1) and carries its
// inactivity timer tmrUnload. Its behaviour is the SendWindow presenter's.
#include "base/win32/window_base.h"
#include "mail/send_window.h"

namespace zkq::win32 {

struct SendReport {
  std::u16string lastStatus;
  SendProgress reached;
};

class SendWindowWin32 final : public SendWindowView,
                              public SessionTimer,
                              public DialogBase<SendWindowWin32> {
 public:
  explicit SendWindowWin32(MessageBoxes& errorBoxes) : errorBoxes_(errorBoxes) {}
  SendWindowWin32(const SendWindowWin32&) = delete;
  SendWindowWin32& operator=(const SendWindowWin32&) = delete;

  // Shows the dialog modally over owner until the presenter closes it.
  void Run(HINSTANCE instance, HWND owner, SendWindow& presenter);
  // The session that tmrUnload's end reaches.
  void Attach(SmtpSession* session) { session_ = session; }

  // SendWindowView
  void SetTitleText(const std::u16string& text) override;
  void SetStatus(const std::u16string& text) override;
  void SetProgress(int value) override;
  void EnableSend(bool enabled) override;
  void SetBusyCursor(bool busy) override;
  void Close() override;

  // SessionTimer: tmrUnload.
  void Start(std::int32_t milliseconds) override;
  void Stop() override;

  // For the dialog base.
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowFailure(const std::u16string& description) noexcept;

 private:
  void Place();

  MessageBoxes& errorBoxes_;
  SendWindow* presenter_ = nullptr;
  SmtpSession* session_ = nullptr;
  bool closeRequested_ = false;
  // The status the line shows next: a send sets it for every message line,
  // far faster than a status bar repaints, so the bar takes the newest one
  // each time the dialog gets back to its messages.
  std::wstring pendingStatus_;
  bool statusPosted_ = false;
};

// The mail entry on Windows: the sending window over owner, its socket on
// Winsock; returns the send's result once the window has closed, and the
// status line it ended with and how far it got in report when given. composed: a message
// composed beforehand, as SendWindow takes it. tokens: for a request with
// OAuth 2.0, kept by the caller between sends.
SendResult SendEmailWindow(HINSTANCE instance, HWND owner, const MailRequest& request,
                           const std::u16string& computerName, MessageBoxes& boxes,
                           SendReport* report = nullptr,
                           std::optional<ComposedMessage> composed = std::nullopt,
                           ClientCredentialsTokens* tokens = nullptr,
                           SendOutcome* outcome = nullptr);

}  // namespace zkq::win32
