#include "app/monitor.h"

#include "app/startup.h"
#include "base/convert.h"
#include "base/failure.h"
#include "base/text.h"
#include "eventlog/reader.h"
#include "rules/matching.h"

namespace zkq {

namespace {

constexpr char16_t kCrLf[] = u"\r\n";
constexpr char16_t kStarted[] = u"稼動開始。[";
constexpr char16_t kStopped[] = u"稼動停止。[";
constexpr char16_t kNoFindings[] = u"監視処理を実行しましたが異常はありません。[";
constexpr char16_t kLogsUnreadable[] = u"監視処理でイベントログを読み込めませんでした。[";
constexpr char16_t kMailSent[] = u"メール送信を完了しました。[";
constexpr char16_t kMailFailed[] = u"メール送信に失敗しました。[";

// Sets a busy flag for as long as it lives, so that no way out of a handler
// (an exception of any kind included) can leave the flag set for good.
class BusyFlag {
 public:
  explicit BusyFlag(bool& flag) : flag_(flag) { flag_ = true; }
  BusyFlag(const BusyFlag&) = delete;
  BusyFlag& operator=(const BusyFlag&) = delete;
  ~BusyFlag() { flag_ = false; }

 private:
  bool& flag_;
};

// The reader's read-failure messages of one cycle, each shown once: the same
// fault would come back every minute. A log that reads again clears its fault.
class ReadFailureBoxes : public MessageBoxes {
 public:
  ReadFailureBoxes(MessageBoxes& boxes, std::u16string& shownBefore)
      : boxes_(boxes), shownBefore_(shownBefore) {}
  void Show(const std::u16string& text, MessageIcon icon) override {
    failed_ = true;
    if (text == shownBefore_) return;
    shownBefore_ = text;
    boxes_.Show(text, icon);
  }
  bool Failed() const { return failed_; }

 private:
  MessageBoxes& boxes_;
  std::u16string& shownBefore_;
  bool failed_ = false;
};

}  // namespace

EventLogSource& LogSourceChoice::For(const std::filesystem::path& folder) {
  if (folder.empty()) return live_;
  files_.emplace(folder);
  return *files_;
}

void RulesFile::Load(const std::filesystem::path& rulesFile, RuleSet& rules, MessageBoxes& boxes) {
  LoadRuleLists(rulesFile, rules, boxes);
}

Monitor::Monitor(MonitorPorts ports, MonitorView& view, std::filesystem::path programDir,
                 Settings settings, std::int16_t countdown)
    : ports_(ports),
      view_(view),
      programDir_(std::move(programDir)),
      settings_(std::move(settings)),
      countdown_(countdown) {}

bool Monitor::WriteStamp(const DateTime& stamp, bool showFailure) {
  SettingsFile& file = ports_.settingsFile;
  return file.WriteIniString(kSettingsSection, u"DateStamp", FormatDate(stamp), showFailure) &
         file.WriteIniString(kSettingsSection, u"TimeStamp", FormatTime(stamp), showFailure);
}

void Monitor::StampNow() {
  const DateTime now = ports_.clock.Now();
  settings_.DateStamp = FormatDate(now);
  settings_.TimeStamp = FormatTime(now);
  view_.ShowStamp(settings_.DateStamp + u" " + settings_.TimeStamp);
  StampWritten(now, WriteStamp(now, true));
}

void Monitor::LoadRules(MessageBoxes& boxes) {
  ports_.rules.Load(InProgramDir(settings_.Rules), rules_, boxes);
}

void Monitor::Start() {
  // Converted first, so that an Interval that is no number leaves every
  // control as it was instead of a half-started monitor.
  const std::int16_t countdown = CountdownFor(settings_);
  view_.ShowStatus(kStarted + StampNowFixed() + u"]");
  view_.ShowRunState(true);
  countdown_ = countdown;
  view_.EnableCheckTimer(true);
  running_ = true;
  cycleFailureShown_ = false;
}

void Monitor::Stop() {
  // Stopping must work even when Interval cannot be converted; the failure is
  // reported after the monitor has stopped.
  std::optional<Failure> failure;
  try {
    countdown_ = CountdownFor(settings_);
  } catch (const Failure& f) {
    failure = f;
  }
  view_.EnableCheckTimer(false);
  running_ = false;
  cycleFailureShown_ = false;
  const DateTime now = ports_.clock.Now();
  view_.ShowStatus(kStopped + FormatDate(now) + u" " + FormatTime(now) + u"]");
  view_.ShowRunState(false);
  settings_.DateStamp = FormatDate(now);
  settings_.TimeStamp = FormatTime(now);
  view_.ShowStamp(settings_.DateStamp + u" " + settings_.TimeStamp);
  StampWritten(now, WriteStamp(now, true));
  if (failure) throw *failure;
}

void Monitor::SettingsSaved() {
  // A stamp the user set in the dialog is the bound from now on, even an earlier one.
  unwrittenStamp_.reset();
  countdown_ = CountdownFor(settings_);
}

void Monitor::Tick() {
  if (ended_ || !running_ || cycleInProgress_) return;
  if (countdown_ >= 1) {
    --countdown_;
    return;
  }
  // A mail sent by hand is still open: the cycle runs at the next tick.
  if (mailOpen_) return;
  const BusyFlag busy(cycleInProgress_);
  try {
    RunCycle();
    cycleFailureShown_ = false;
  } catch (...) {
    alertText_.clear();
    // Shown as the application error, like any failure at the window's
    // boundary. The same fault would come back every minute: one message is
    // enough until a cycle succeeds again. Monitoring stays as it was.
    if (!cycleFailureShown_ && !ended_) {
      cycleFailureShown_ = true;
      ports_.boxes.Show(std::u16string(kApplicationErrorText) + kCrLf + CurrentFailureDescription(),
                        MessageIcon::Exclamation);
    }
  }
}

void Monitor::RunCycle() {
  SettingsFile& file = ports_.settingsFile;
  // The bound comes from the file, so that a stamp stored by the settings
  // dialog since the last cycle takes effect now.
  settings_.DateStamp = file.ReadIniString(kSettingsSection, u"DateStamp");
  settings_.TimeStamp = file.ReadIniString(kSettingsSection, u"TimeStamp");
  // A file that did not take the last stamp (read-only, say) gives back an
  // older one: the bound then never goes back before the stamp this program
  // set, or the same records would be alerted every minute. A stamp set back
  // in a file that took ours was set back on purpose and counts.
  const std::optional<DateTime> bound = ParseStamp(settings_.DateStamp, settings_.TimeStamp);
  if (unwrittenStamp_ && (!bound || bound->ToSeconds() < unwrittenStamp_->ToSeconds())) {
    settings_.DateStamp = FormatDate(*unwrittenStamp_);
    settings_.TimeStamp = FormatTime(*unwrittenStamp_);
  }
  const DateTime now = ports_.clock.Now();
  // The write warning once, until a write succeeds again.
  const bool written = WriteStamp(now, false);
  if (!written && !stampWarningShown_) file.ShowWriteFailure();
  stampWarningShown_ = !written;
  StampWritten(now, written);
  if (ended_) return;

  EventLogSource& logs = ports_.logs.For(InProgramDir(settings_.EventLogDir));
  bool readFailed = false;
  for (const AlertLog& log : kAlertLogs) {
    std::u16string& shownBefore = readFailureShown_[static_cast<int>(log.rules)];
    ReadFailureBoxes boxes(ports_.boxes, shownBefore);
    EventLogContext context{logs, ports_.accounts, ports_.tables, boxes, ports_.zone};
    ReadEventLogRows(log1_, log.logName, computerName_, settings_.DateStamp, settings_.TimeStamp,
                     context);
    if (ended_) return;
    if (boxes.Failed()) {
      readFailed = true;
    } else {
      shownBefore.clear();
    }
    view_.ShowReadRows(log1_);
    MatchEvents(rules_[log.rules], log1_, log2_);
    view_.ShowMatchedRows(log2_);
    AppendAlertSection(alertText_, log.displayName, log2_);
  }

  ports_.serviceCheck.Check(rules_[RuleLog::Service], computerName_, alertText_);
  if (ended_) return;

  if (!alertText_.empty()) {
    Send();
    if (ended_) return;
  } else {
    // A log that could not be read is no clean cycle.
    view_.ShowStatus((readFailed ? kLogsUnreadable : kNoFindings) + StampNowLocale() + u"]");
  }
  alertText_.clear();
  countdown_ = CountdownFor(settings_);
}

void Monitor::StampWritten(const DateTime& stamp, bool written) {
  if (written) {
    unwrittenStamp_.reset();
  } else {
    unwrittenStamp_ = stamp;
  }
}

void Monitor::Send() {
  if (ended_ || mailOpen_) return;
  const MailFields fields = view_.CurrentMailFields();
  AlertMail mail;
  mail.server = fields.server;
  mail.port = fields.port;
  mail.fromAddress = fields.fromAddress;
  mail.toList = fields.toList;
  mail.subject = fields.subject + u" - " + computerName_;
  mail.body = alertText_;
  mail.security = settings_.SmtpSecurity;
  mail.user = settings_.SmtpUser;
  mail.password = settings_.SmtpPassword;

  bool sent = false;
  {
    const BusyFlag open(mailOpen_);
    sent = ports_.sender.Send(mail);
  }
  if (ended_) return;
  view_.ShowStatus((sent ? kMailSent : kMailFailed) + StampNowLocale() + u"]");
}

std::u16string Monitor::StampNowFixed() {
  const DateTime now = ports_.clock.Now();
  return FormatDate(now) + u" " + FormatTime(now);
}

std::u16string Monitor::StampNowLocale() {
  const DateTime now = ports_.clock.Now();
  return ports_.clock.ShortDate(now) + u" " + ports_.clock.LongTime(now);
}

std::filesystem::path Monitor::InProgramDir(const std::u16string& name) const {
  if (name.empty()) return {};
  return programDir_ / PathFromText(name);
}

}  // namespace zkq
