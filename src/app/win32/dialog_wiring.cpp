#include "dialog_wiring.h"

#include "about/about_box.h"
#include "about/win32/about_box_win32.h"
#include "app/main_window_ids.h"
#include "config/win32/settings_dialog_win32.h"
#include "mail/win32/send_window_win32.h"
#include "rules/win32/rules_editor_win32.h"

namespace zkq::win32 {

// The settings dialog.
namespace {

// The main window's service control, as the settings dialog registers and
// removes the service.
class ServiceControlRegistration final : public ServiceRegistration {
 public:
  explicit ServiceControlRegistration(ServiceControl& service) : service_(service) {}
  RegistrationOutcome Install() override { return service_.Install(); }
  RegistrationOutcome Uninstall() override { return service_.Uninstall(); }

 private:
  ServiceControl& service_;
};

// The test button's mail: the dialog's values through the sending window,
// shown over the dialog; the dialog tells the outcome itself.
class SendingWindowTestMail final : public TestMailSender {
 public:
  SendingWindowTestMail(HINSTANCE instance, std::u16string computerName, MessageBoxes& boxes)
      : instance_(instance), computerName_(std::move(computerName)), boxes_(boxes) {}

  TestMailOutcome Send(const TestMail& mail) override {
    const MailRequest request{.server = mail.server,
                              .port = mail.port,
                              .fromAddress = mail.from,
                              .fromName = u"",
                              .toList = mail.to,
                              .subjectText = mail.subject + u" - " + computerName_ + u" (テスト)",
                              .body = u"zkQuorvaneの設定画面から送信したテストメールです。\r\n",
                              .attachmentList = u"",
                              .showMessages = u"0",
                              .autoSend = u"1",
                              .autoClose = u"1",
                              .timeoutSeconds = u"60",
                              .security = mail.security,
                              .user = mail.user,
                              .password = mail.password,
                              .oauth = {mail.auth, mail.oauthTenant, mail.oauthClientId,
                                        mail.oauthClientSecret, mail.oauthScope,
                                        mail.oauthTokenUrl}};
    // A token of its own: the test proves that these values get one.
    const std::unique_ptr<HttpsPoster> https = MakeSystemHttps(u"", 60);
    ClientCredentialsTokens tokens(*https);
    SendReport report;
    TestMailOutcome outcome;
    outcome.result = ToInt(SendEmailWindow(instance_, GetActiveWindow(), request, computerName_,
                                           boxes_, &report, std::nullopt, &tokens));
    outcome.lastStatus = std::move(report.lastStatus);
    outcome.tlsStarted = report.reached.tlsStarted;
    outcome.tokenObtained = report.reached.tokenObtained;
    outcome.authenticated = report.reached.authenticated;
    outcome.accepted = report.reached.accepted;
    return outcome;
  }

 private:
  HINSTANCE instance_;
  std::u16string computerName_;
  MessageBoxes& boxes_;
};

}  // namespace

bool WindowsDialogs::OpenSettingsDialog(Settings& settings) {
  ServiceControlRegistration registration(context_.service);
  SendingWindowTestMail testMail(context_.instance, context_.computerName, context_.boxes);
  return OpenSettingsDialogWindow(context_.instance, context_.owner(), settings,
                                  context_.settingsFile, context_.clock, context_.boxes,
                                  registration, testMail);
}

// The rules editor: its channel box offers the machine's channels (none
// where the event log API is missing, as under Wine; a typed name serves).
void WindowsDialogs::OpenRulesEditor(const std::filesystem::path& rulesFile) {
  OpenRulesEditorWindow(context_.instance, context_.owner ? context_.owner() : nullptr, rulesFile,
                        context_.boxes, [this] {
                          return context_.listChannels ? context_.listChannels()
                                                       : std::vector<std::u16string>{};
                        });
}

// The about box.
void WindowsDialogs::OpenAboutBox() {
  WindowsAboutSystem system(nullptr);  // the running program's own resource
  AboutBoxWin32 view(context_.boxes, IDI_APP);
  AboutBox presenter(view, system, context_.boxes);
  view.Run(context_.instance, context_.owner(), presenter);
}

}  // namespace zkq::win32
