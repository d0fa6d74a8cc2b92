#include "mail_alert_sender.h"

#include <utility>

#include "mail/composition.h"
#include "mail/win32/send_window_win32.h"

namespace zkq::win32 {

MailAlertSender::MailAlertSender(HINSTANCE instance, std::function<HWND()> owner,
                                 std::u16string computerName, MessageBoxes& boxes)
    : instance_(instance),
      owner_(std::move(owner)),
      computerName_(std::move(computerName)),
      boxes_(boxes) {}

MessageStamp MailAlertSender::Stamp() { return CurrentMessageStamp(computerName_); }

SendOutcome MailAlertSender::Send(const AlertMail& mail, const KeptMail& message) {
  ComposedMessage composed;
  composed.messageText = message.messageText;
  composed.senderAddress = message.sender;
  composed.recipients = message.recipients;
  const HWND owner = owner_ ? owner_() : nullptr;
  SendOutcome outcome;
  SendEmailWindow(instance_, owner, MailRequestOf(mail), computerName_, boxes_, nullptr,
                  std::move(composed), &outcome);
  return outcome;
}

}  // namespace zkq::win32
