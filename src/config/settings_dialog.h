#pragma once
// The settings dialog frmSetting: the mail connection, the examination stamp
// with its live clock, the monitoring interval and the three start-up options.
// It checks the entries, registers or removes the service when the service
// option changes, writes the keys and fills the caller's Settings. The Win32
// dialog forwards its events here and implements SettingsDialogView.
#include <array>
#include <optional>
#include <string>

#include "base/ports.h"
#include "config/settings.h"

namespace zkq {

// The text fields: the eight of the original dialog in the order the save
// checks them, then the login (the password field shows no text).
enum class SettingsField {
  SmtpServer,
  SmtpPort,
  From,
  To,
  Subject,
  DateStamp,
  TimeStamp,
  Interval,
  SmtpUser,
  SmtpPassword,
  // The time of day of the daily report, "hh:mm"; empty for none.
  Heartbeat,
  // OAuth 2.0's (the secret field shows no text either).
  OAuthTenant,
  OAuthClientId,
  OAuthClientSecret,
};
// The security chooser's entries, in order: なし / STARTTLS / SSL/TLS.
inline constexpr const char16_t* kSecurityNames[] = {u"None", u"StartTls", u"Tls"};
inline constexpr const char16_t* kSecurityChoices[] = {u"なし", u"STARTTLS", u"SSL/TLS"};
// The chooser entry of a SmtpSecurity value (letter case aside): 0 (なし) for an
// empty one, 2 (SSL/TLS) for one it does not know, as the send takes it: an
// unknown value never means the clear.
int SecurityChoiceOf(std::u16string_view value);
// The authentication chooser's entries, in order: パスワード / OAuth 2.0.
inline constexpr const char16_t* kAuthNames[] = {u"Password", u"OAuth2"};
inline constexpr const char16_t* kAuthChoices[] = {u"パスワード", u"OAuth 2.0"};
// The chooser entry of a SmtpAuth value (letter case and blanks aside): 1 for
// "OAuth2", 0 for any other.
int AuthChoiceOf(std::u16string_view value);
// chkSetting 0, 1 and 2, then whether alerts carry the events' message texts.
enum class SettingsCheck { AutoStart, IconStart, ServiceStart, AlertDetail };

inline constexpr char16_t kSettingsDialogCaption[] = u"設定 - zkQuorvane";
inline constexpr char16_t kSettingsChanged[] = u"設定が変更されました！";
inline constexpr char16_t kNoSmtpServer[] = u"SMTPサーバを指定してください。";
inline constexpr char16_t kNoSmtpPort[] = u"サーバのポートを指定してください。";
inline constexpr char16_t kNoFrom[] = u"送信者アドレスを指定してください。";
inline constexpr char16_t kNoTo[] = u"宛先アドレスを指定してください。";
inline constexpr char16_t kBadHeartbeat[] =
    u"稼動報告の時刻は 08:30 のように時:分で指定してください（空欄で送りません）。";
inline constexpr char16_t kNoSubject[] = u"件名を指定してください。";
inline constexpr char16_t kBadDate[] =
    u"日付のフォーマットが正しくありません！\r\nYYYY/MM/DDで指定してください。";
inline constexpr char16_t kBadTime[] =
    u"時刻のフォーマットが正しくありません！\r\nhh:mm:ssで指定してください。";
inline constexpr char16_t kBadInterval[] = u"イベントログの監視間隔（数字）を指定してください。";
inline constexpr char16_t kBadPort[] = u"ポート番号は1～65535の数字で指定してください。";
inline constexpr char16_t kUserNeedsTls[] =
    u"ユーザーを指定する場合は、暗号化にSTARTTLSかSSL/TLSを選んでください。";
inline constexpr char16_t kPasswordNotProtected[] = u"パスワードを保護できませんでした。";
inline constexpr char16_t kOAuthNeedsTls[] =
    u"OAuth 2.0を使う場合は、暗号化にSTARTTLSかSSL/TLSを選んでください。";
inline constexpr char16_t kNoMailbox[] =
    u"OAuth 2.0では、送信に使うメールボックスのアドレスをユーザー名に指定してください。";
inline constexpr char16_t kNoTenant[] = u"テナント（IDまたはドメイン）を指定してください。";
inline constexpr char16_t kNoClientId[] = u"クライアントIDを指定してください。";
inline constexpr char16_t kNoClientSecret[] = u"クライアントシークレットを指定してください。";
// The steps a test mail's box reports, each after its mark.
inline constexpr char16_t kStepToken[] = u"アクセストークンの取得";
inline constexpr char16_t kStepTls[] = u"TLSによる保護";
inline constexpr char16_t kStepAuth[] = u"認証";
inline constexpr char16_t kStepAccepted[] = u"サーバーによる受け付け";
// Done; where the send stopped; not reached.
inline constexpr char16_t kStepDone[] = u"○ ";
inline constexpr char16_t kStepFailed[] = u"× ";
inline constexpr char16_t kStepNotReached[] = u"－ ";
inline constexpr char16_t kTestMailSent[] = u"テストメールを送信しました。";
// Followed by the send result, "）", CR LF and the sending window's last status.
inline constexpr char16_t kTestMailFailed[] = u"テストメールを送信できませんでした。（結果 ";

class SettingsDialogView {
 public:
  virtual ~SettingsDialogView() = default;
  virtual void SetCaption(const std::u16string& text) = 0;
  virtual std::u16string FieldText(SettingsField field) = 0;
  virtual void SetFieldText(SettingsField field, const std::u16string& text) = 0;
  // Selects the whole text of the field.
  virtual void SelectAll(SettingsField field) = 0;
  virtual void Focus(SettingsField field) = 0;
  virtual bool Checked(SettingsCheck check) = 0;
  virtual void SetChecked(SettingsCheck check, bool checked) = 0;
  // The security chooser: an index into kSecurityChoices.
  virtual int SecurityChoice() = 0;
  virtual void SetSecurityChoice(int choice) = 0;
  // The authentication chooser: an index into kAuthChoices.
  virtual int AuthChoice() = 0;
  virtual void SetAuthChoice(int choice) = 0;
  // tmrWatch, once a second until stopped.
  virtual void StartClock() = 0;
  virtual void StopClock() = 0;
  // Ends the modal dialog.
  virtual void Close() = 0;
};

// Registers the program as a Windows service (interactive) or removes it.
class ServiceRegistration {
 public:
  virtual ~ServiceRegistration() = default;
  virtual RegistrationOutcome Install() = 0;
  virtual RegistrationOutcome Uninstall() = 0;
};

// One mail with the dialog's values, for the test button.
struct TestMail {
  std::u16string server, port, from, to, subject;
  // As the settings key has it ("None", "StartTls", "Tls").
  std::u16string security;
  std::u16string user, password;
  // As the settings keys have them; auth "OAuth2" logs in with these.
  std::u16string auth = u"";
  std::u16string oauthTenant = u"", oauthClientId = u"", oauthClientSecret = u"";
  std::u16string oauthScope = u"", oauthTokenUrl = u"";
};

struct TestMailOutcome {
  int result = 1;  // the send result, 0 sent
  std::u16string lastStatus;
  // How far the send got.
  bool tokenObtained = false, tlsStarted = false, authenticated = false, accepted = false;
};

// Sends a short test mail through the sending window and returns once it has closed.
class TestMailSender {
 public:
  virtual ~TestMailSender() = default;
  virtual TestMailOutcome Send(const TestMail& mail) = 0;
};

struct SettingsDialogPorts {
  SettingsDialogView& view;
  const SettingsFile& file;
  Clock& clock;
  MessageBoxes& boxes;
  ServiceRegistration& service;
  TestMailSender& testMail;
};

// "yyyy/mm/dd" of a date the Japanese locale accepts ("2004/1/5"), else "".
std::u16string CheckDateText(std::u16string_view text);
// The text when it is exactly "hh:mm:ss" with a real time of day, else "".
std::u16string CheckTimeText(std::u16string_view text);

class SettingsDialog {
 public:
  // settings is the program's in-memory copy; a save fills it.
  SettingsDialog(SettingsDialogPorts ports, Settings& settings);

  // Form_Load.
  void FormLoad();
  // tmrWatch_Timer.
  void ClockTicked();
  void FieldFocused(SettingsField field);
  void SaveClicked();
  void CancelClicked();
  // テスト送信(&T): the mail entries checked as the save checks them, then a
  // test mail with them; nothing is saved.
  void TestClicked();

  // True once a save has taken the entries into Settings, so that the caller
  // shows them; also when a key could not be written and the user then
  // cancelled, since the program works with those values from now on.
  bool ValuesTaken() const { return taken_; }

 private:
  void ShowNow();
  bool Refuse(const char16_t* message, SettingsField field);
  // The checks of the mail entries; false after the refusal was shown.
  bool MailEntriesAccepted();
  // The password to use: the one typed now, else the one stored.
  std::u16string Password();
  std::u16string ClientSecret();
  // The OAuth 2.0 entries, when that is chosen; false after the refusal.
  bool OAuthEntriesAccepted();
  // The protected form of a secret typed into field, into stored; false after
  // the refusal when it cannot be protected.
  bool ProtectTyped(SettingsField field, std::optional<std::u16string>& stored);
  // The box line of each step that the test mail had.
  std::u16string StepLines(const TestMail& mail, const TestMailOutcome& outcome) const;
  void ApplyServiceOption();

  SettingsDialogPorts ports_;
  Settings& settings_;
  std::u16string storedPassword_;
  // Kept from the file: the dialog shows no field for the last two.
  std::u16string storedSecret_, storedScope_, storedTokenUrl_;
  bool clockRunning_ = false;
  // What the clock showed last: fields still holding it were not edited.
  std::u16string shownDate_, shownTime_;
  bool taken_ = false;
  bool closed_ = false;
};

}  // namespace zkq
