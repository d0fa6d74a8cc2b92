#include "mail_alert_sender.h"

#include <utility>

#include "mail/composition.h"
#include "mail/win32/send_window_win32.h"

namespace zkq::win32 {
namespace {

// The token endpoint's time limit within a send; the send's own limit is 60
// seconds a step.
constexpr std::int32_t kTokenTimeoutSeconds = 30;

}  // namespace

MailAlertSender::MailAlertSender(HINSTANCE instance, std::function<HWND()> owner,
                                 std::u16string computerName, MessageBoxes& boxes)
    : instance_(instance),
      owner_(std::move(owner)),
      computerName_(std::move(computerName)),
      boxes_(boxes),
      https_(MakeSystemHttps(u"", kTokenTimeoutSeconds)),
      tokens_(*https_) {}

MessageStamp MailAlertSender::Stamp() { return CurrentMessageStamp(computerName_); }

SendOutcome MailAlertSender::Send(const AlertMail& mail, const KeptMail& message) {
  ComposedMessage composed;
  composed.messageText = message.messageText;
  composed.senderAddress = message.sender;
  composed.recipients = message.recipients;
  const HWND owner = owner_ ? owner_() : nullptr;
  SendOutcome outcome;
  SendEmailWindow(instance_, owner, MailRequestOf(mail), computerName_, boxes_, nullptr,
                  std::move(composed), &tokens_, &outcome);
  return outcome;
}

}  // namespace zkq::win32
