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

bool MailAlertSender::Send(const AlertMail& mail) {
  const MailRequest request{.server = mail.server,
                            .port = mail.port,
                            .fromAddress = mail.fromAddress,
                            .fromName = mail.fromName,
                            .toList = mail.toList,
                            .subjectText = mail.subject,
                            .body = mail.body,
                            .attachmentList = mail.attachmentList,
                            .showMessages = mail.showMessages,
                            .autoSend = mail.autoSend,
                            .autoClose = mail.autoClose,
                            .timeoutSeconds = mail.timeoutSeconds,
                            .security = mail.security,
                            .user = mail.user,
                            .password = mail.password};
  const HWND owner = owner_ ? owner_() : nullptr;
  return SendEmailWindow(instance_, owner, request, computerName_, boxes_) == SendResult::Sent;
}

}  // namespace zkq::win32
