#include "config/settings_dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "config/testing/fake_protector.h"

namespace zkq {
namespace {

using test_support::RecordingBoxes;
using F = SettingsField;

class FakeView : public SettingsDialogView {
 public:
  void SetCaption(const std::u16string& text) override { caption = text; }
  std::u16string FieldText(F field) override { return fields[field]; }
  void SetFieldText(F field, const std::u16string& text) override { fields[field] = text; }
  void SelectAll(F field) override { selected = field; }
  void Focus(F field) override { focused = field; }
  bool Checked(SettingsCheck check) override { return checks[check]; }
  void SetChecked(SettingsCheck check, bool on) override { checks[check] = on; }
  int SecurityChoice() override { return security; }
  void SetSecurityChoice(int choice) override { security = choice; }
  int AuthChoice() override { return auth; }
  void SetAuthChoice(int choice) override { auth = choice; }
  void StartClock() override { clock = true; }
  void StopClock() override { clock = false; }
  void Close() override { ++closes; }

  std::u16string caption;
  std::map<F, std::u16string> fields;
  std::map<SettingsCheck, bool> checks;
  std::optional<F> selected, focused;
  bool clock = false;
  int closes = 0;
  int security = -1, auth = -1;
};

using test_support::FakeProtector;

class FakeTestMail : public TestMailSender {
 public:
  TestMailOutcome Send(const TestMail& mail) override {
    sent.push_back(mail);
    return outcome;
  }
  std::vector<TestMail> sent;
  TestMailOutcome outcome;
};

class StepClock : public Clock {
 public:
  DateTime Now() override { return now; }
  std::u16string ShortDate(const DateTime&) override { return u""; }
  std::u16string LongTime(const DateTime&) override { return u""; }
  DateTime now{2026, 12, 8, 9, 5, 7};
};

class FakeService : public ServiceRegistration {
 public:
  RegistrationOutcome Install() override {
    ++installs;
    return works;
  }
  RegistrationOutcome Uninstall() override {
    ++uninstalls;
    return works;
  }
  RegistrationOutcome works = RegistrationOutcome::Done;
  int installs = 0, uninstalls = 0;
};

class SettingsDialogTest : public testing::Test {
 protected:
  void Open(SettingsDialog* dialog = nullptr) {
    (dialog != nullptr ? *dialog : dialog_).FormLoad();
    // Valid entries for every field, which each case then changes.
    const std::map<F, std::u16string> valid = {
        {F::SmtpServer, u"mail.example.jp"}, {F::SmtpPort, u"25"},  {F::From, u"a@example.jp"},
        {F::To, u"b@example.jp;c@example.jp"}, {F::Subject, u"警告"}, {F::Interval, u"5"}};
    for (const auto& [field, text] : valid) view_.fields[field] = text;
  }
  std::u16string Stored(const char16_t* key) {
    return file_.ReadIniString(kSettingsSection, key, kPasswordReadSize);
  }

  test_support::ScratchFolder folder_{"zkq-settings-dialog-"};
  RecordingBoxes boxes_;
  SettingsFile file_{SettingsPath(folder_.Path()), boxes_};
  FakeView view_;
  StepClock clock_;
  FakeService service_;
  FakeTestMail testMail_;
  FakeProtector protector_;
  Settings settings_ = [] {
    // GCC 12 warns falsely on assignments of one-character literals here.
    Settings s;
    s.AutoStart.assign(1, u'0');
    s.IconStart.assign(1, u'1');
    s.ServiceStart.assign(1, u'0');
    return s;
  }();
  SettingsDialog dialog_{{view_, file_, clock_, boxes_, service_, testMail_}, settings_};
};

TEST_F(SettingsDialogTest, OpensWithTheFileTheProgramsOptionsAndATickingClock) {
  file_.WriteIniString(kSettingsSection, u"SmtpServer", u"smtp.hand.jp");
  file_.WriteIniString(kSettingsSection, u"AutoStart", u"1");  // the file's flag is not shown
  file_.WriteIniString(kSettingsSection, u"DateStamp", u"2001/01/01");
  dialog_.FormLoad();
  EXPECT_EQ(view_.caption, u"設定 - zkQuorvane");
  EXPECT_EQ(view_.fields[F::SmtpServer], u"smtp.hand.jp");
  EXPECT_EQ(view_.fields[F::DateStamp], u"2026/12/08");
  EXPECT_EQ(view_.fields[F::TimeStamp], u"09:05:07");
  EXPECT_FALSE(view_.checks[SettingsCheck::AutoStart]);
  EXPECT_TRUE(view_.checks[SettingsCheck::IconStart]);
  EXPECT_TRUE(view_.clock);

  clock_.now.second = 8;
  dialog_.ClockTicked();
  EXPECT_EQ(view_.fields[F::TimeStamp], u"09:05:08");
}

TEST_F(SettingsDialogTest, EitherStampFieldStopsTheClockAndEveryFieldSelectsAll) {
  for (const F stamp : {F::DateStamp, F::TimeStamp}) {
    SettingsDialog dialog({view_, file_, clock_, boxes_, service_, testMail_}, settings_);
    dialog.FormLoad();
    dialog.FieldFocused(F::Subject);
    EXPECT_EQ(view_.selected, F::Subject);
    EXPECT_TRUE(view_.clock);
    dialog.FieldFocused(stamp);
    EXPECT_EQ(view_.selected, stamp);
    EXPECT_FALSE(view_.clock);
    view_.fields[F::DateStamp] = u"2004/1/5";
    clock_.now.second += 1;
    dialog.ClockTicked();
    EXPECT_EQ(view_.fields[F::DateStamp], u"2004/1/5");
  }
}

struct SaveCase {
  const char* name;
  std::map<F, std::u16string> typed;
  // Refused: the message and the field that gets the focus.
  std::u16string message = u"";
  F focus = F::SmtpServer;
  // Saved: the stored key and its value.
  const char16_t* key = u"Interval";
  std::u16string stored = u"5";
  int security = 0;
};

const SaveCase kSaveCases[] = {
    // The clock the stamp fields show is no stamp: saved untouched, the file
    // keeps its own (none here), and with it the bookmarks.
    {"StampUntouched", {}, u"", {}, u"TimeStamp", u""},
    {"ServerEmpty", {{F::SmtpServer, u"  "}}, kNoSmtpServer, F::SmtpServer},
    {"PortEmpty", {{F::SmtpPort, u""}}, kNoSmtpPort, F::SmtpPort},
    {"PortWord", {{F::SmtpPort, u"abc"}}, kBadPort, F::SmtpPort},
    {"Port0", {{F::SmtpPort, u"0"}}, kBadPort, F::SmtpPort},
    {"Port65536", {{F::SmtpPort, u"65536"}, {F::From, u""}}, kBadPort, F::SmtpPort},
    {"UserWithoutTls", {{F::SmtpUser, u"alice"}, {F::DateStamp, u"x"}}, kUserNeedsTls, F::SmtpUser},
    {"FromEmpty", {{F::From, u" "}}, kNoFrom, F::From},
    {"ToEmpty", {{F::To, u""}}, kNoTo, F::To},
    {"SubjectEmpty", {{F::Subject, u""}}, kNoSubject, F::Subject},
    // The first failing check wins.
    {"SubjectBeforeDate", {{F::Subject, u""}, {F::DateStamp, u"abc"}}, kNoSubject, F::Subject},
    {"DateWord", {{F::DateStamp, u"abc"}}, kBadDate, F::DateStamp},
    {"DateNotInCalendar", {{F::DateStamp, u"2004/02/30"}}, kBadDate, F::DateStamp},
    {"HourOneDigit", {{F::TimeStamp, u"9:05:00"}}, kBadTime, F::TimeStamp},
    {"Hour24", {{F::TimeStamp, u"24:00:00"}}, kBadTime, F::TimeStamp},
    {"Minute60", {{F::TimeStamp, u"12:60:00"}}, kBadTime, F::TimeStamp},
    {"IntervalWord", {{F::Interval, u"abc"}}, kBadInterval, F::Interval},
    {"IntervalBeyond16Bits", {{F::Interval, u"99999"}}, kBadInterval, F::Interval},
    {"IntervalHuge", {{F::Interval, u"1e10"}}, kBadInterval, F::Interval},
    {"DateShortForm", {{F::DateStamp, u"2004/1/5"}}, u"", {}, u"DateStamp", u"2004/01/05"},
    {"Midnight", {{F::TimeStamp, u"00:00:00"}}, u"", {}, u"TimeStamp", u"00:00:00"},
    {"LastSecond", {{F::TimeStamp, u"23:59:59"}}, u"", {}, u"TimeStamp", u"23:59:59"},
    {"IntervalBlanks", {{F::Interval, u" 15 "}}, u"", {}, u"Interval", u"15"},
    {"IntervalFraction", {{F::Interval, u"1.5"}}, u"", {}, u"Interval", u"1.5"},
    {"PortBlanks", {{F::SmtpPort, u" 587 "}}, u"", {}, u"SmtpPort", u"587"},
    {"UserWithStartTls", {{F::SmtpUser, u" alice "}}, u"", {}, u"SmtpUser", u"alice", 1},
    {"SecurityStored", {}, u"", {}, u"SmtpSecurity", u"Tls", 2},
    {"HeartbeatTime", {{F::Heartbeat, u" 8:30 "}}, u"", {}, u"Heartbeat", u"8:30"},
    {"HeartbeatOff", {{F::Heartbeat, u""}}, u"", {}, u"Heartbeat", u""},
    {"HeartbeatHour24", {{F::Heartbeat, u"24:00"}}, kBadHeartbeat, F::Heartbeat},
    {"HeartbeatWord", {{F::Heartbeat, u"morning"}}, kBadHeartbeat, F::Heartbeat},
    {"ServerTrimmed", {{F::SmtpServer, u" mx "}}, u"", {}, u"SmtpServer", u"mx"},
};

TEST_F(SettingsDialogTest, SaveChecksInOrderOrStoresTheEntries) {
  for (const SaveCase& c : kSaveCases) {
    SCOPED_TRACE(c.name);
    boxes_.shown.clear();
    view_ = FakeView();
    SettingsDialog dialog({view_, file_, clock_, boxes_, service_, testMail_}, settings_);
    Open(&dialog);
    view_.fields[F::SmtpUser] = u"";  // an earlier case may have stored one
    for (const auto& [field, text] : c.typed) view_.fields[field] = text;
    view_.security = c.security;
    dialog.SaveClicked();
    ASSERT_EQ(boxes_.shown.size(), 1u);
    if (!c.message.empty()) {
      EXPECT_EQ(boxes_.shown[0].text, c.message);
      EXPECT_EQ(boxes_.shown[0].icon, MessageIcon::Exclamation);
      EXPECT_EQ(view_.focused, c.focus);
      EXPECT_EQ(view_.closes, 0);
      EXPECT_FALSE(dialog.ValuesTaken());
      continue;
    }
    EXPECT_EQ(boxes_.shown[0].text, kSettingsChanged);
    EXPECT_EQ(boxes_.shown[0].icon, MessageIcon::Information);
    EXPECT_EQ(Stored(c.key), c.stored);
    EXPECT_EQ(view_.closes, 1);
    EXPECT_TRUE(dialog.ValuesTaken());
  }
  // What the last save passes back, and that the countdown can be derived from it.
  EXPECT_EQ(settings_.SmtpServer, u"mx");
  EXPECT_EQ(settings_.DateStamp, u"2026/12/08");
  EXPECT_EQ(settings_.IconStart, u"1");
  EXPECT_EQ(Stored(u"AutoStart"), u"0");
  EXPECT_EQ(CountdownFor(settings_), 4);
}

// The events' message texts are in the alert until the user unticks them.
TEST_F(SettingsDialogTest, AlertDetailIsOnUntilUnticked) {
  Open();
  EXPECT_TRUE(view_.checks[SettingsCheck::AlertDetail]);
  view_.checks[SettingsCheck::AlertDetail] = false;
  dialog_.SaveClicked();
  EXPECT_EQ(Stored(u"AlertDetail"), u"0");
  EXPECT_FALSE(AlertDetailOn(settings_));
  SettingsDialog again({view_, file_, clock_, boxes_, service_, testMail_}, settings_);
  view_.checks[SettingsCheck::AlertDetail] = true;
  again.FormLoad();
  EXPECT_FALSE(view_.checks[SettingsCheck::AlertDetail]);
}

TEST_F(SettingsDialogTest, ServiceIsInstalledOnceAndRemovedWhenTheOptionGoesOff) {
  constexpr auto ok = RegistrationOutcome::Done, no = RegistrationOutcome::Failed,
                 notAdmin = RegistrationOutcome::NeedsAdministrator;
  struct Step {
    bool ticked;
    RegistrationOutcome works;
    int installs, uninstalls;
    std::u16string message;
    MessageIcon icon;
  };
  const Step steps[] = {
      {true, no, 1, 0, u"zkQuorvaneはサービスとして登録されませんでした！",
       MessageIcon::Exclamation},
      {true, ok, 1, 0, u"", MessageIcon::None},  // stored as on: not asked again
      {false, ok, 1, 1, u"zkQuorvaneはサービスから削除されました！", MessageIcon::Information},
      {true, ok, 2, 1, u"zkQuorvaneはサービスとして登録されました！", MessageIcon::Information},
      {false, no, 2, 2, u"zkQuorvaneはサービスから削除されませんでした！",
       MessageIcon::Exclamation},
      {true, notAdmin, 3, 2,
       u"zkQuorvaneはサービスとして登録されませんでした！\r\nサービスの登録と削除には管理者の権限が"
       u"必要です。管理者として実行してください。",
       MessageIcon::Exclamation},
  };
  for (const Step& s : steps) {
    boxes_.shown.clear();
    SettingsDialog dialog({view_, file_, clock_, boxes_, service_, testMail_}, settings_);
    Open();
    view_.checks[SettingsCheck::ServiceStart] = s.ticked;
    service_.works = s.works;
    dialog.SaveClicked();
    EXPECT_EQ(service_.installs, s.installs);
    EXPECT_EQ(service_.uninstalls, s.uninstalls);
    ASSERT_EQ(boxes_.shown.size(), s.message.empty() ? 1u : 2u);
    if (!s.message.empty()) {
      EXPECT_EQ(boxes_.shown[0].text, s.message);
      EXPECT_EQ(boxes_.shown[0].icon, s.icon);
    }
    EXPECT_EQ(Stored(u"ServiceStart"), s.ticked ? u"1" : u"0");
  }
}

TEST_F(SettingsDialogTest, FailedWriteWarnsAndKeepsTheDialogOpen) {
  file_.SetPath(folder_.Path() / "missing-folder" / "zkQuorvane.ini");
  Open();
  dialog_.SaveClicked();
  ASSERT_EQ(boxes_.shown.size(), 16u);  // one warning per key but the unedited stamp's, no success
  EXPECT_EQ(boxes_.shown[0].text, PathText(file_.Path()) + kSettingsWriteFailed);
  EXPECT_EQ(boxes_.shown[15].icon, MessageIcon::Exclamation);
  EXPECT_EQ(view_.closes, 0);
  EXPECT_TRUE(dialog_.ValuesTaken());
  EXPECT_EQ(settings_.SmtpServer, u"mail.example.jp");
  dialog_.CancelClicked();
  EXPECT_EQ(view_.closes, 1);
}

// A password typed into the file by hand is used and protected at the next
// start; the dialog shows none, keeps it unless a new one is typed, writes only
// the protected form, and its test button mails with what the dialog shows.
TEST_F(SettingsDialogTest, PasswordStaysProtectedAndTheTestMailUsesTheDialog) {
  file_.SetProtector(&protector_);
  file_.WriteIniString(kSettingsSection, u"Interval", u"5");
  file_.WriteIniString(kSettingsSection, u"SmtpSecurity", u"starttls");
  file_.WriteIniString(kSettingsSection, u"SmtpUser", u"alice");
  file_.WriteIniString(kSettingsSection, u"SmtpPassword", u"hand typed");
  std::int16_t countdown = 0;
  const Settings loaded = LoadSettings(file_, countdown);
  EXPECT_EQ(loaded.SmtpPassword, u"hand typed");
  const std::u16string rewritten = Stored(u"SmtpPassword");
  EXPECT_TRUE(rewritten.starts_with(kProtectedPasswordPrefix)) << ToUtf8(rewritten);
  EXPECT_EQ(rewritten.find(u"hand"), std::u16string::npos);

  Open();
  EXPECT_EQ(view_.security, 1);
  for (const auto& [value, choice] : {std::pair<const char16_t*, int>{u"", 0}, {u" none ", 0},
                                      {u"TLS", 2}, {u"ssl", 2}}) {
    EXPECT_EQ(SecurityChoiceOf(value), choice) << ToUtf8(value);
  }
  EXPECT_EQ(view_.fields[F::SmtpUser], u"alice");
  EXPECT_EQ(view_.fields[F::SmtpPassword], u"");
  testMail_.outcome = {13, u"SMTPエラー: 535 5.7.8 no\r\n", false, true};
  view_.fields[F::SmtpServer] = u" test.example.jp ";
  dialog_.TestClicked();
  ASSERT_EQ(testMail_.sent.size(), 1u);
  EXPECT_EQ(testMail_.sent[0].server, u"test.example.jp");
  EXPECT_EQ(testMail_.sent[0].security, u"StartTls");
  EXPECT_EQ(testMail_.sent[0].password, u"hand typed");
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, std::u16string(kTestMailFailed) +
                                      u"13）\r\nSMTPエラー: 535 5.7.8 no\r\n\r\n○ TLSによる保護"
                                      u"\r\n× 認証\r\n－ サーバーによる受け付け");
  EXPECT_EQ(Stored(u"SmtpServer"), u"");  // nothing saved

  view_.fields[F::SmtpPassword] = u"new one";
  view_.security = 0;  // a user without TLS: no test mail
  dialog_.TestClicked();
  EXPECT_EQ(testMail_.sent.size(), 1u);
  EXPECT_EQ(boxes_.shown.back().text, kUserNeedsTls);
  view_.security = 2;
  testMail_.outcome = {0, u"", false, true, true, true};
  dialog_.TestClicked();
  ASSERT_EQ(testMail_.sent.size(), 2u);
  EXPECT_EQ(testMail_.sent[1].password, u"new one");
  EXPECT_EQ(
      boxes_.shown.back().text,
      std::u16string(kTestMailSent) + u"\r\n○ TLSによる保護\r\n○ 認証\r\n○ サーバーによる受け付け");

  // Saved: the new password only in its protected form.
  dialog_.SaveClicked();
  EXPECT_EQ(boxes_.shown.back().text, kSettingsChanged);
  EXPECT_EQ(settings_.SmtpPassword, u"new one");
  EXPECT_EQ(settings_.SmtpSecurity, u"Tls");
  const std::u16string saved = Stored(u"SmtpPassword");
  EXPECT_EQ(saved.find(u"new"), std::u16string::npos);
  EXPECT_EQ(PasswordOfStoredText(saved, &protector_), u"new one");

  // Opened again and saved with the field left empty: the password stays.
  SettingsDialog again({view_, file_, clock_, boxes_, service_, testMail_}, settings_);
  again.FormLoad();
  again.SaveClicked();
  EXPECT_EQ(Stored(u"SmtpPassword"), saved);
  EXPECT_EQ(settings_.SmtpPassword, u"new one");
}

TEST_F(SettingsDialogTest, OAuthIsCheckedTestedStepByStepAndItsSecretKeptProtected) {
  file_.SetProtector(&protector_);
  file_.WriteIniString(kSettingsSection, u"SmtpAuth", u"oauth2");
  file_.WriteIniString(kSettingsSection, u"OAuthClientSecret",
                       *ProtectedPasswordText(u"stored~secret", protector_));
  file_.WriteIniString(kSettingsSection, u"OAuthScope", u"https://mail.google.com/");
  Open();
  EXPECT_EQ(view_.auth, 1);
  EXPECT_EQ(view_.fields[F::OAuthClientSecret], u"");
  view_.security = 1;
  // Each missing entry in turn is refused with its field focused; no mail.
  const std::pair<F, const char16_t*> refusals[] = {
      {F::SmtpUser, kNoMailbox}, {F::OAuthTenant, kNoTenant}, {F::OAuthClientId, kNoClientId}};
  const std::map<F, std::u16string> entries = {{F::SmtpUser, u"watch@contoso.jp"},
                                               {F::OAuthTenant, u" contoso.jp "},
                                               {F::OAuthClientId, u"app-1"}};
  for (const auto& [field, message] : refusals) {
    dialog_.TestClicked();
    EXPECT_EQ(boxes_.shown.back().text, message);
    EXPECT_EQ(view_.focused, field);
    view_.fields[field] = entries.at(field);
  }
  view_.security = 0;
  dialog_.SaveClicked();
  EXPECT_EQ(boxes_.shown.back().text, kOAuthNeedsTls);
  EXPECT_TRUE(testMail_.sent.empty());

  view_.security = 1;
  testMail_.outcome = {15, u"トークンエンドポイントがトークンを拒否しました: invalid_client", false,
                       true};
  dialog_.TestClicked();
  ASSERT_EQ(testMail_.sent.size(), 1u);
  const TestMail& mail = testMail_.sent[0];
  EXPECT_EQ(mail.auth, u"OAuth2");
  EXPECT_EQ(mail.oauthTenant, u"contoso.jp");
  EXPECT_EQ(mail.oauthClientSecret, u"stored~secret");
  EXPECT_EQ(mail.oauthScope, u"https://mail.google.com/");
  EXPECT_EQ(
      boxes_.shown.back().text,
      std::u16string(kTestMailFailed) +
          u"15）\r\nトークンエンドポイントがトークンを拒否しました: invalid_client\r\n"
          u"○ TLSによる保護\r\n× アクセストークンの取得\r\n－ 認証\r\n－ サーバーによる受け付け");

  view_.fields[F::OAuthClientSecret] = u"new~secret";
  dialog_.SaveClicked();
  EXPECT_EQ(boxes_.shown.back().text, kSettingsChanged);
  EXPECT_EQ(Stored(u"SmtpAuth"), u"OAuth2");
  EXPECT_EQ(Stored(u"OAuthTenant"), u"contoso.jp");
  EXPECT_EQ(Stored(u"OAuthClientId"), u"app-1");
  EXPECT_EQ(Stored(u"OAuthScope"), u"https://mail.google.com/");  // kept as the file had it
  EXPECT_EQ(Stored(u"OAuthClientSecret").find(u"new"), std::u16string::npos);
  EXPECT_EQ(PasswordOfStoredText(Stored(u"OAuthClientSecret"), &protector_), u"new~secret");
  EXPECT_EQ(settings_.OAuthClientSecret, u"new~secret");
  EXPECT_EQ(settings_.OAuthScope, u"https://mail.google.com/");
}

}  // namespace
}  // namespace zkq
