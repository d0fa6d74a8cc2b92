#pragma once
// The monitor's way to mail delivery: one composed alert mail handed to the
// sending window, shown modally over the main window.
#include <windows.h>

#include <functional>
#include <string>

#include "app/main_window.h"
#include "base/ports.h"
#include "mail/oauth_token.h"

namespace zkq::win32 {

class MailAlertSender : public AlertSender {
 public:
  // owner gives the main window at the moment of a send; computerName names
  // this machine in HELO and the Message-ID.
  MailAlertSender(HINSTANCE instance, std::function<HWND()> owner, std::u16string computerName,
                  MessageBoxes& boxes);
  MessageStamp Stamp() override;
  SendOutcome Send(const AlertMail& mail, const KeptMail& message) override;

 private:
  HINSTANCE instance_;
  std::function<HWND()> owner_;
  std::u16string computerName_;
  MessageBoxes& boxes_;
  // The token lives as long as the program: the cycles within its life ask
  // the endpoint once.
  std::unique_ptr<HttpsPoster> https_;
  ClientCredentialsTokens tokens_;
};

}  // namespace zkq::win32
