#pragma once
// The sending window's behaviour: it holds the MailRequest of one send,
// composes the message when Send is pressed (by the user, or at once on
// activation with AutoSend), drives the SMTP session as its observer, and
// closes when the send has ended (AutoClose), after a time-out, on Exit and on
// its close box. The Win32 dialog forwards its events here and implements
// SendWindowView; SendEmail is the mail entry that shows it modally.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/ports.h"
#include "mail/composition.h"
#include "mail/oauth_token.h"
#include "mail/send_result.h"
#include "mail/smtp_session.h"
#include "mail/socket_port.h"

namespace zkq {

class SendWindowView {
 public:
  virtual ~SendWindowView() = default;
  // lblTitle.
  virtual void SetTitleText(const std::u16string& text) = 0;
  // The first panel of StatusBar1.
  virtual void SetStatus(const std::u16string& text) = 0;
  // ProgressBar1, 0 to 100.
  virtual void SetProgress(int value) = 0;
  // cmdButton(0), the Send button; Exit stays usable throughout.
  virtual void EnableSend(bool enabled) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // Ends the modal window; called at most once.
  virtual void Close() = 0;
};

struct SendWindowPorts {
  SendWindowView& view;
  SocketPort& socket;
  SessionTimer& timer;
  MessageBoxes& boxes;
  // ComputerNameText, as the sending window's owner knows it.
  std::u16string computerName;
  // The Date and Message-ID of a message composed now.
  std::function<MessageStamp()> stamp;
  // Told of every session before it receives any event, and of nullptr before
  // it goes away, so that the socket's notifications reach the live one.
  std::function<void(SmtpSession*)> attach;
  // LocalDnsName: what EHLO names this machine by.
  std::u16string dnsName = u"";
  // The tokens of a request with auth "OAuth2", kept by the owner between
  // sends; none: such a request fails with TokenFailed.
  ClientCredentialsTokens* tokens = nullptr;
};

class SendWindow : public SendObserver {
 public:
  // With composed, Send sends that message (composed beforehand, and kept
  // with its Date) to its envelope instead of composing one from request.
  SendWindow(MailRequest request, SendWindowPorts ports,
             std::optional<ComposedMessage> composed = std::nullopt);
  SendWindow(const SendWindow&) = delete;
  SendWindow& operator=(const SendWindow&) = delete;
  ~SendWindow() override;

  // Form_Load: starts the socket library and sets the time-out.
  void FormLoad();
  // Form_Activate: sends at once with AutoSend "1" (only on the first activation).
  void FormActivate();
  void SendClicked();
  // The Exit button and the close box both end the send; the result stays as
  // recorded (1 when nothing else was).
  void ExitClicked();
  void CloseBoxClicked();

  SendResult Result() const { return result_; }
  // The result with what the session learnt of the recipients.
  SendOutcome Outcome() const;
  // The status line as the send left it.
  const std::u16string& LastStatus() const { return lastStatus_; }
  // How far the last send got.
  SendProgress Reached() const { return session_ ? session_->Reached() : SendProgress{}; }
  bool Closed() const { return closed_; }

  // SendObserver
  void Status(const std::u16string& text) override;
  void Progress(int value) override;
  void Title(const std::u16string& text) override;
  void Ended(SendResult result, bool timedOut) override;

 private:
  void Replace(std::unique_ptr<SmtpSession> session);
  void CloseOnce();
  SmtpRequest SessionRequest();

  MailRequest request_;
  SendWindowPorts ports_;
  std::optional<ComposedMessage> composed_;
  std::unique_ptr<SmtpSession> session_;
  // Stands in for the tokens an OAuth 2.0 request was given none of.
  NoTokens noTokens_;
  SendResult result_ = SendResult::NoOutcome;
  std::u16string lastStatus_;
  std::int32_t timeoutSeconds_ = 10;
  bool activated_ = false;
  bool closed_ = false;
};

// Shows the sending window of one request modally: the function given builds
// and runs the window with this presenter, and returns once it has closed.
using ShowSendWindow = std::function<void(SendWindow&)>;

// The mail entry: the twelve texts of one send, the window shown modally until
// it closes, and the result it recorded (1 when it recorded none). outcome,
// when given, receives the whole outcome.
SendResult SendEmail(const MailRequest& request, SendWindowPorts ports, const ShowSendWindow& show,
                     std::optional<ComposedMessage> composed = std::nullopt,
                     SendOutcome* outcome = nullptr);

// The inactivity time-out in seconds of a TimeoutSeconds text, 0 for none;
// nothing for text that is no whole number of seconds the timer can take.
std::optional<std::int32_t> TimeoutSecondsOf(std::u16string_view text);

}  // namespace zkq
