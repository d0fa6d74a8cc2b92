#include "config/settings_dialog.h"

#include "base/convert.h"
#include "base/datetime.h"
#include "base/failure.h"
#include "base/text.h"

#include <algorithm>
#include <utility>

namespace zkq {
namespace {

// A stored flag that reads as exactly 1; anything else counts as off.
bool FlagIsOn(std::u16string_view text) {
  try {
    return IsNumeric(text) && NumericValueIsOne(text);
  } catch (const Failure&) {
    return false;
  }
}

// Whether the interval converts to the countdown, as the next start-up load
// converts it: a numeric text beyond 16 bits would make that start fail.
bool IntervalConverts(std::u16string_view text) {
  if (!IsNumeric(text)) return false;
  try {
    ToInt16(text);
    return true;
  } catch (const Failure&) {
    return false;
  }
}

// A port as the socket takes it: digits only, 1 to 65535.
bool IsPortNumber(std::u16string_view text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  return value >= 1 && value <= 65535;
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

}  // namespace

int SecurityChoiceOf(std::u16string_view value) {
  const std::u16string_view trimmed = TrimView(value);
  for (int i = 0; i < 3; ++i) {
    const std::u16string_view name = kSecurityNames[i];
    if (name.size() == trimmed.size() &&
        std::equal(name.begin(), name.end(), trimmed.begin(),
                   [](char16_t a, char16_t b) { return Upper(a) == Upper(b); })) {
      return i;
    }
  }
  return trimmed.empty() ? 0 : 2;
}

int AuthChoiceOf(std::u16string_view value) {
  std::u16string name;
  for (const char16_t c : TrimView(value)) name += Upper(c);
  return name == u"OAUTH2" ? 1 : 0;
}

std::u16string CheckDateText(std::u16string_view text) {
  return RecognizeDate(text).value_or(u"");
}

std::u16string CheckTimeText(std::u16string_view text) {
  return RecognizeTime(text).value_or(u"");
}

SettingsDialog::SettingsDialog(SettingsDialogPorts ports, Settings& settings)
    : ports_(ports), settings_(settings) {}

void SettingsDialog::FormLoad() {
  SettingsDialogView& view = ports_.view;
  view.SetCaption(kSettingsDialogCaption);
  // The file as it is now, which may have been edited by hand.
  const auto read = [&](std::u16string_view key) {
    return ports_.file.ReadIniString(kSettingsSection, key);
  };
  view.SetFieldText(SettingsField::SmtpServer, read(u"SmtpServer"));
  view.SetFieldText(SettingsField::SmtpPort, read(u"SmtpPort"));
  view.SetFieldText(SettingsField::From, read(u"From"));
  view.SetFieldText(SettingsField::To, read(u"To"));
  view.SetFieldText(SettingsField::Subject, read(u"Subject"));
  view.SetFieldText(SettingsField::Interval, read(u"Interval"));
  view.SetSecurityChoice(SecurityChoiceOf(read(u"SmtpSecurity")));
  view.SetFieldText(SettingsField::SmtpUser, read(u"SmtpUser"));
  view.SetFieldText(SettingsField::Heartbeat, read(u"Heartbeat"));
  // The password and the secret never show; an empty field keeps the stored one.
  const auto stored = [&](std::u16string_view key, SettingsField field) {
    view.SetFieldText(field, u"");
    return PasswordOfStoredText(ports_.file.ReadIniString(kSettingsSection, key, kPasswordReadSize),
                                ports_.file.Protector());
  };
  storedPassword_ = stored(u"SmtpPassword", SettingsField::SmtpPassword);
  view.SetAuthChoice(AuthChoiceOf(read(u"SmtpAuth")));
  view.SetFieldText(SettingsField::OAuthTenant, read(u"OAuthTenant"));
  view.SetFieldText(SettingsField::OAuthClientId, read(u"OAuthClientId"));
  storedSecret_ = stored(u"OAuthClientSecret", SettingsField::OAuthClientSecret);
  storedScope_ = read(u"OAuthScope");
  storedTokenUrl_ = read(u"OAuthTokenUrl");
  ShowNow();
  // The options as the program holds them, not as the file has them.
  view.SetChecked(SettingsCheck::AutoStart, FlagIsOn(settings_.AutoStart));
  view.SetChecked(SettingsCheck::IconStart, FlagIsOn(settings_.IconStart));
  view.SetChecked(SettingsCheck::ServiceStart, FlagIsOn(settings_.ServiceStart));
  view.SetChecked(SettingsCheck::AlertDetail, AlertDetailOn(settings_));
  clockRunning_ = true;
  view.StartClock();
}

void SettingsDialog::ShowNow() {
  const DateTime now = ports_.clock.Now();
  shownDate_ = FormatDate(now);
  shownTime_ = FormatTime(now);
  ports_.view.SetFieldText(SettingsField::DateStamp, shownDate_);
  ports_.view.SetFieldText(SettingsField::TimeStamp, shownTime_);
}

void SettingsDialog::ClockTicked() {
  if (clockRunning_) ShowNow();
}

void SettingsDialog::FieldFocused(SettingsField field) {
  // Either stamp field stops the clock for good, so that what the user types
  // there is not overwritten at the next second.
  if (clockRunning_ && (field == SettingsField::DateStamp || field == SettingsField::TimeStamp)) {
    clockRunning_ = false;
    ports_.view.StopClock();
  }
  ports_.view.SelectAll(field);
}

bool SettingsDialog::Refuse(const char16_t* message, SettingsField field) {
  ports_.boxes.Show(message, MessageIcon::Exclamation);
  ports_.view.Focus(field);
  return false;
}

bool SettingsDialog::MailEntriesAccepted() {
  SettingsDialogView& view = ports_.view;
  const auto trimmed = [&](SettingsField field) { return Trim(view.FieldText(field)); };
  struct Required {
    SettingsField field;
    const char16_t* message;
  };
  static constexpr Required kRequired[] = {
      {SettingsField::SmtpServer, kNoSmtpServer}, {SettingsField::SmtpPort, kNoSmtpPort},
      {SettingsField::From, kNoFrom},             {SettingsField::To, kNoTo},
      {SettingsField::Subject, kNoSubject},
  };
  for (const Required& required : kRequired) {
    if (trimmed(required.field).empty()) return Refuse(required.message, required.field);
    if (required.field == SettingsField::SmtpPort && !IsPortNumber(trimmed(required.field))) {
      return Refuse(kBadPort, SettingsField::SmtpPort);
    }
  }
  if (!OAuthEntriesAccepted()) return false;
  // The session never sends a password in the clear.
  if (!trimmed(SettingsField::SmtpUser).empty() && view.SecurityChoice() == 0) {
    return Refuse(kUserNeedsTls, SettingsField::SmtpUser);
  }
  return true;
}

bool SettingsDialog::OAuthEntriesAccepted() {
  SettingsDialogView& view = ports_.view;
  if (view.AuthChoice() != 1) return true;
  const auto missing = [&](SettingsField field) { return Trim(view.FieldText(field)).empty(); };
  if (view.SecurityChoice() == 0) return Refuse(kOAuthNeedsTls, SettingsField::SmtpUser);
  if (missing(SettingsField::SmtpUser)) return Refuse(kNoMailbox, SettingsField::SmtpUser);
  // A token URL of the file's own may name no tenant.
  if (missing(SettingsField::OAuthTenant) && TrimView(storedTokenUrl_).empty()) {
    return Refuse(kNoTenant, SettingsField::OAuthTenant);
  }
  if (missing(SettingsField::OAuthClientId)) {
    return Refuse(kNoClientId, SettingsField::OAuthClientId);
  }
  if (ClientSecret().empty()) return Refuse(kNoClientSecret, SettingsField::OAuthClientSecret);
  return true;
}

std::u16string SettingsDialog::ClientSecret() {
  std::u16string typed = ports_.view.FieldText(SettingsField::OAuthClientSecret);
  return typed.empty() ? storedSecret_ : typed;
}

std::u16string SettingsDialog::StepLines(const TestMail& mail,
                                         const TestMailOutcome& outcome) const {
  const bool oauth = AuthChoiceOf(mail.auth) == 1;
  const bool tls = mail.security != kSecurityNames[0];
  const bool login = oauth || !mail.user.empty();
  // A plain send has only the one step its first line tells.
  if (!tls && !login) return u"";
  const std::pair<bool, std::pair<const char16_t*, bool>> steps[] = {
      {tls, {kStepTls, outcome.tlsStarted}},
      {oauth, {kStepToken, outcome.tokenObtained}},
      {login, {kStepAuth, outcome.authenticated}},
      {true, {kStepAccepted, outcome.accepted}},
  };
  std::u16string lines;
  bool stopped = false;
  for (const auto& [applies, step] : steps) {
    if (!applies) continue;
    const auto& [name, done] = step;
    lines += u"\r\n";
    lines += done ? kStepDone : stopped ? kStepNotReached : kStepFailed;
    lines += name;
    stopped = stopped || !done;
  }
  return lines;
}

bool SettingsDialog::ProtectTyped(SettingsField field, std::optional<std::u16string>& stored) {
  const std::u16string typed = ports_.view.FieldText(field);
  if (typed.empty()) return true;
  if (ports_.file.Protector() != nullptr) {
    stored = ProtectedPasswordText(typed, *ports_.file.Protector());
  }
  if (!stored) return Refuse(kPasswordNotProtected, field);
  return true;
}

std::u16string SettingsDialog::Password() {
  std::u16string typed = ports_.view.FieldText(SettingsField::SmtpPassword);
  return typed.empty() ? storedPassword_ : typed;
}

void SettingsDialog::TestClicked() {
  if (closed_ || !MailEntriesAccepted()) return;
  SettingsDialogView& view = ports_.view;
  const auto trimmed = [&](SettingsField field) { return Trim(view.FieldText(field)); };
  const TestMail mail{
      .server = trimmed(SettingsField::SmtpServer),
      .port = trimmed(SettingsField::SmtpPort),
      .from = trimmed(SettingsField::From),
      .to = trimmed(SettingsField::To),
      .subject = trimmed(SettingsField::Subject),
      .security = kSecurityNames[std::clamp(view.SecurityChoice(), 0, 2)],
      .user = trimmed(SettingsField::SmtpUser),
      .password = Password(),
      .auth = kAuthNames[std::clamp(view.AuthChoice(), 0, 1)],
      .oauthTenant = trimmed(SettingsField::OAuthTenant),
      .oauthClientId = trimmed(SettingsField::OAuthClientId),
      .oauthClientSecret = ClientSecret(),
      .oauthScope = storedScope_,
      .oauthTokenUrl = storedTokenUrl_,
  };
  const TestMailOutcome outcome = ports_.testMail.Send(mail);
  if (outcome.result == 0) {
    ports_.boxes.Show(kTestMailSent + StepLines(mail, outcome), MessageIcon::Information);
  } else {
    ports_.boxes.Show(kTestMailFailed + FromUtf8(std::to_string(outcome.result)) + u"）\r\n" +
                          outcome.lastStatus + StepLines(mail, outcome),
                      MessageIcon::Exclamation);
  }
}

void SettingsDialog::SaveClicked() {
  if (closed_) return;
  SettingsDialogView& view = ports_.view;
  const auto trimmed = [&](SettingsField field) { return Trim(view.FieldText(field)); };
  if (!MailEntriesAccepted()) return;
  // The stamp fields show a running clock: saved as they are, they would set
  // the examination to the moment of the save and drop every bookmark, so
  // that records written since the last cycle went unexamined. Only a stamp
  // the user typed is saved; otherwise the file keeps its own.
  const bool stampEdited = view.FieldText(SettingsField::DateStamp) != shownDate_ ||
                           view.FieldText(SettingsField::TimeStamp) != shownTime_;
  const std::u16string date = CheckDateText(view.FieldText(SettingsField::DateStamp));
  if (stampEdited && date.empty()) {
    Refuse(kBadDate, SettingsField::DateStamp);
    return;
  }
  const std::u16string time = CheckTimeText(view.FieldText(SettingsField::TimeStamp));
  if (stampEdited && time.empty()) {
    Refuse(kBadTime, SettingsField::TimeStamp);
    return;
  }
  const std::u16string interval = trimmed(SettingsField::Interval);
  if (!IntervalConverts(interval)) {
    Refuse(kBadInterval, SettingsField::Interval);
    return;
  }
  const std::u16string heartbeat = trimmed(SettingsField::Heartbeat);
  if (!heartbeat.empty() && !HeartbeatMinutes(heartbeat)) {
    Refuse(kBadHeartbeat, SettingsField::Heartbeat);
    return;
  }
  // The file gets only the protected form of a new password or secret.
  std::optional<std::u16string> protectedPassword, protectedSecret;
  if (!ProtectTyped(SettingsField::SmtpPassword, protectedPassword) ||
      !ProtectTyped(SettingsField::OAuthClientSecret, protectedSecret)) {
    return;
  }

  settings_.SmtpServer = trimmed(SettingsField::SmtpServer);
  settings_.SmtpPort = trimmed(SettingsField::SmtpPort);
  settings_.From = trimmed(SettingsField::From);
  settings_.To = trimmed(SettingsField::To);
  settings_.Subject = trimmed(SettingsField::Subject);
  settings_.Interval = interval;
  if (stampEdited) {
    settings_.DateStamp = date;
    settings_.TimeStamp = time;
  }
  settings_.Heartbeat = heartbeat;
  settings_.AutoStart = view.Checked(SettingsCheck::AutoStart) ? u"1" : u"0";
  settings_.IconStart = view.Checked(SettingsCheck::IconStart) ? u"1" : u"0";
  settings_.AlertDetail = view.Checked(SettingsCheck::AlertDetail) ? u"1" : u"0";
  settings_.SmtpSecurity = kSecurityNames[std::clamp(view.SecurityChoice(), 0, 2)];
  settings_.SmtpUser = trimmed(SettingsField::SmtpUser);
  settings_.SmtpPassword = Password();
  settings_.SmtpAuth = kAuthNames[std::clamp(view.AuthChoice(), 0, 1)];
  settings_.OAuthTenant = trimmed(SettingsField::OAuthTenant);
  settings_.OAuthClientId = trimmed(SettingsField::OAuthClientId);
  settings_.OAuthClientSecret = ClientSecret();
  settings_.OAuthScope = storedScope_;
  settings_.OAuthTokenUrl = storedTokenUrl_;
  ApplyServiceOption();
  taken_ = true;

  const std::pair<const char16_t*, const std::u16string*> keys[] = {
      {u"SmtpServer", &settings_.SmtpServer}, {u"SmtpPort", &settings_.SmtpPort},
      {u"From", &settings_.From},             {u"To", &settings_.To},
      {u"Subject", &settings_.Subject},
      {u"DateStamp", stampEdited ? &settings_.DateStamp : nullptr},
      {u"TimeStamp", stampEdited ? &settings_.TimeStamp : nullptr},
      {u"Interval", &settings_.Interval},     {u"Heartbeat", &settings_.Heartbeat},
      {u"AutoStart", &settings_.AutoStart},   {u"IconStart", &settings_.IconStart},
      {u"ServiceStart", &settings_.ServiceStart}, {u"SmtpSecurity", &settings_.SmtpSecurity},
      {u"SmtpUser", &settings_.SmtpUser},         {u"AlertDetail", &settings_.AlertDetail},
      {u"SmtpPassword", protectedPassword ? &*protectedPassword : nullptr},
      {u"SmtpAuth", &settings_.SmtpAuth},
      {u"OAuthTenant", &settings_.OAuthTenant},
      {u"OAuthClientId", &settings_.OAuthClientId},
      {u"OAuthClientSecret", protectedSecret ? &*protectedSecret : nullptr},
  };
  bool allWritten = true;
  for (const auto& [key, value] : keys) {
    // An empty password or secret field keeps the stored one as it is, and
    // an unedited stamp the stamp.
    if (value == nullptr) continue;
    // Each failed key shows its warning; the others are still written.
    if (!ports_.file.WriteIniString(kSettingsSection, key, *value)) allWritten = false;
  }
  // After a failed write the dialog stays open, so the user can save again
  // or cancel; it does not claim that the settings were changed.
  if (!allWritten) return;
  ports_.boxes.Show(kSettingsChanged, MessageIcon::Information);
  closed_ = true;
  view.StopClock();
  view.Close();
}

void SettingsDialog::ApplyServiceOption() {
  const bool wasOn = FlagIsOn(settings_.ServiceStart);
  if (ports_.view.Checked(SettingsCheck::ServiceStart)) {
    // Installed once, when the option goes on; a failed registration is not
    // retried while the option stays on.
    if (!wasOn) ShowRegistrationOutcome(ports_.boxes, true, ports_.service.Install());
    settings_.ServiceStart.assign(1, u'1');  // GCC 12 warns falsely on "= u\"1\""
  } else {
    if (wasOn) ShowRegistrationOutcome(ports_.boxes, false, ports_.service.Uninstall());
    settings_.ServiceStart.assign(1, u'0');  // GCC 12 warns falsely on "= u\"1\""
  }
}

void SettingsDialog::CancelClicked() {
  if (closed_) return;
  closed_ = true;
  ports_.view.StopClock();
  ports_.view.Close();
}

}  // namespace zkq
