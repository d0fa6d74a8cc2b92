#include "mail/send_window.h"

#include <utility>

#include "base/convert.h"
#include "base/failure.h"
#include "mail/socket_errors.h"

namespace zkq {
namespace {

// What the timer keeps when the request's period cannot be used.
constexpr std::int32_t kInitialTimeoutSeconds = 10;

bool CountsAsYes(const std::u16string& flag) {
  try {
    return ToInt16(flag) == 1;
  } catch (const Failure&) {
    return false;
  }
}

}  // namespace

std::optional<std::int32_t> TimeoutSecondsOf(std::u16string_view text) {
  const std::int16_t seconds = ToInt16(text);  // throws for text that is no number
  if (seconds < 0) return std::nullopt;
  return seconds;
}

SendWindow::SendWindow(MailRequest request, SendWindowPorts ports,
                       std::optional<ComposedMessage> composed)
    : request_(std::move(request)), ports_(std::move(ports)), composed_(std::move(composed)) {}

SendWindow::~SendWindow() {
  if (ports_.attach) ports_.attach(nullptr);
}

SmtpRequest SendWindow::SessionRequest() {
  SmtpRequest request;
  request.server = request_.server;
  request.port = request_.port;
  request.heloName = ports_.dnsName;
  request.fromAddress = request_.fromAddress;
  request.toList = request_.toList;
  request.timeoutSeconds = timeoutSeconds_;
  request.showMessages = CountsAsYes(request_.showMessages);
  // An unknown security name never falls back to sending in the clear.
  request.security = ParseSmtpSecurity(request_.security).value_or(SmtpSecurity::Tls);
  request.user = request_.user;
  request.password = request_.password;
  const OAuthLogin& oauth = request_.oauth;
  if (ParseSmtpAuth(oauth.auth) == SmtpAuth::OAuth2) {
    request.password.clear();
    request.tokens = &noTokens_;
    if (ports_.tokens != nullptr) {
      ports_.tokens->Use(OAuthClientOf(oauth.tenant, oauth.clientId, oauth.clientSecret,
                                       oauth.scope, oauth.tokenUrl));
      request.tokens = ports_.tokens;
    }
  }
  return request;
}

void SendWindow::Replace(std::unique_ptr<SmtpSession> session) {
  // The socket must never hand an event to a session that is gone.
  if (ports_.attach) ports_.attach(session.get());
  session_ = std::move(session);
}

void SendWindow::FormLoad() {
  SendWindowView& view = ports_.view;
  view.SetBusyCursor(true);
  view.SetProgress(0);
  // A session without a message yet: it only starts the socket library, with
  // the statuses a send shows; Send builds the real one.
  Replace(std::make_unique<SmtpSession>(SessionRequest(), ports_.socket, ports_.timer, *this,
                                        ports_.boxes));
  if (!session_->StartSockets()) {
    view.SetBusyCursor(false);
    CloseOnce();
    return;
  }
  view.SetTitleText(kSendingTitle);
  try {
    timeoutSeconds_ = TimeoutSecondsOf(request_.timeoutSeconds).value_or(kInitialTimeoutSeconds);
  } catch (const Failure& failure) {
    timeoutSeconds_ = kInitialTimeoutSeconds;
    if (CountsAsYes(request_.showMessages)) ShowAppError(ports_.boxes, failure.Description());
  }
  view.SetBusyCursor(false);
}

void SendWindow::FormActivate() {
  if (activated_ || closed_) return;
  activated_ = true;
  if (request_.autoSend == u"1") SendClicked();
}

void SendWindow::SendClicked() {
  if (closed_ || (session_ && session_->Running())) return;
  SendWindowView& view = ports_.view;
  view.SetBusyCursor(true);
  ComposedMessage composed = composed_ ? *composed_ : ComposeMessage(request_, ports_.stamp());
  if (composed.result != SendResult::Sent) {
    Status(composed.statusText);
    if (CountsAsYes(request_.showMessages)) ShowAppError(ports_.boxes, composed.statusText);
    Ended(composed.result, false);
    return;
  }
  SmtpRequest request = SessionRequest();
  request.fromAddress = std::move(composed.senderAddress);
  request.toList = std::move(composed.recipients);
  request.messageText = std::move(composed.messageText);
  Replace(std::make_unique<SmtpSession>(std::move(request), ports_.socket, ports_.timer, *this,
                                        ports_.boxes));
  view.EnableSend(false);
  session_->Send();
  view.SetBusyCursor(false);
}

void SendWindow::ExitClicked() {
  if (session_) session_->Cancel();
  CloseOnce();
}

void SendWindow::CloseBoxClicked() { ExitClicked(); }

void SendWindow::Status(const std::u16string& text) {
  lastStatus_ = text;
  ports_.view.SetStatus(text);
}

void SendWindow::Progress(int value) { ports_.view.SetProgress(value); }

void SendWindow::Title(const std::u16string& text) { ports_.view.SetTitleText(text); }

void SendWindow::Ended(SendResult result, bool timedOut) {
  result_ = result;
  ports_.view.SetBusyCursor(false);
  ports_.view.EnableSend(true);
  if (timedOut || request_.autoClose == u"1") CloseOnce();
}

void SendWindow::CloseOnce() {
  if (closed_) return;
  closed_ = true;
  ports_.view.Close();
}

SendOutcome SendWindow::Outcome() const {
  SendOutcome outcome = session_ ? session_->Outcome() : SendOutcome(result_);
  outcome.result = result_;
  outcome.permanent = outcome.permanent && result_ != SendResult::Sent;
  return outcome;
}

SendResult SendEmail(const MailRequest& request, SendWindowPorts ports, const ShowSendWindow& show,
                     std::optional<ComposedMessage> composed, SendOutcome* outcome) {
  SendWindow window(request, std::move(ports), std::move(composed));
  show(window);
  if (outcome != nullptr) *outcome = window.Outcome();
  return window.Result();
}

}  // namespace zkq
