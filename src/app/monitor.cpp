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
constexpr char16_t kDroppedOld[] = u"7日を過ぎても送信できなかった警告メール ";
constexpr char16_t kDroppedBeyond[] = u"未送信の警告メールが500件を超えたため、古い警告メール ";
constexpr char16_t kDroppedEnd[] = u" 件を破棄しました。";
constexpr char16_t kDroppedCreated[] = u"作成日時: ";
constexpr char16_t kNotKept[] =
    u"警告メールを未送信フォルダ（outbox）に保存できませんでした。"
    u"この警告メールは送信に失敗すると失われます。";

std::u16string Number(std::size_t n) { return FromUtf8(std::to_string(n)); }

std::u16string Moment(const DateTime& t) { return FormatDate(t) + u" " + FormatTime(t); }

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

std::u16string KeptMailsText(std::size_t count) {
  return count == 0 ? u"" : u" 未送信 " + Number(count) + u" 件";
}

MailRequest MailRequestOf(const AlertMail& mail) {
  return MailRequest{.server = mail.server,
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
                     .password = mail.password,
                     .oauth = mail.oauth};
}

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
      countdown_(countdown),
      writtenDate_(settings_.DateStamp),
      writtenTime_(settings_.TimeStamp) {}

std::u16string& Monitor::Bookmark(std::size_t log) {
  std::u16string* const bookmarks[] = {&settings_.SystemBookmark, &settings_.SecurityBookmark,
                                       &settings_.ApplicationBookmark};
  return *bookmarks[log];
}

bool Monitor::WriteStamp(const DateTime& stamp, bool showFailure) {
  // The stamp and the bookmarks in one write: a file that took one without
  // the others would alert records again, or skip them, after a restart.
  const std::u16string date = FormatDate(stamp);
  const std::u16string time = FormatTime(stamp);
  std::vector<std::pair<std::u16string, std::u16string>> keys = {{u"DateStamp", date},
                                                                 {u"TimeStamp", time}};
  for (std::size_t i = 0; i < kAlertLogs.size(); ++i) {
    keys.emplace_back(std::u16string(kAlertLogs[i].logName) + u"Bookmark", Bookmark(i));
  }
  std::vector<std::pair<std::u16string_view, std::u16string_view>> views(keys.begin(), keys.end());
  if (!ports_.settingsFile.WriteIniStrings(kSettingsSection, views, showFailure)) return false;
  writtenDate_ = date;
  writtenTime_ = time;
  return true;
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
  CountKept();
  ShowStatus(kStarted + StampNowFixed() + u"]");
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
  ShowStatus(kStopped + FormatDate(now) + u" " + FormatTime(now) + u"]");
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
    statusNotice_.clear();
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
  // A stamp that is not the one this program wrote last was set by the user
  // (the settings dialog, or the file by hand) to have the logs examined again
  // from it: the bookmarks give way to it.
  if (settings_.DateStamp != writtenDate_ || settings_.TimeStamp != writtenTime_) {
    for (std::size_t i = 0; i < kAlertLogs.size(); ++i) Bookmark(i).clear();
  }
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

  EventLogSource& logs = ports_.logs.For(InProgramDir(settings_.EventLogDir));
  // The message modules stay loaded for the cycle's three logs, no longer.
  std::optional<EventMessages> messages;
  if (AlertDetailOn(settings_)) messages.emplace(ports_.tables);
  bool readFailed = false;
  std::u16string notices;
  for (std::size_t i = 0; i < kAlertLogs.size(); ++i) {
    const AlertLog& log = kAlertLogs[i];
    std::u16string& shownBefore = readFailureShown_[static_cast<int>(log.rules)];
    ReadFailureBoxes boxes(ports_.boxes, shownBefore);
    EventLogContext context{logs, ports_.accounts, ports_.tables, boxes, ports_.zone};
    const LogReading reading =
        ReadNewEventLogRows(log1_, log.logName, computerName_, settings_.DateStamp,
                            settings_.TimeStamp, ParseBookmark(Bookmark(i)), context);
    if (ended_) return;
    if (reading.bookmark) Bookmark(i) = BookmarkText(*reading.bookmark);
    const std::u16string notice = LogNoticeText(reading);
    if (!notice.empty()) {
      notices += u"［" + std::u16string(log.displayName) + u"］" + ReplaceAll(notice, kCrLf, u" ");
    }
    if (boxes.Failed()) {
      readFailed = true;
    } else {
      shownBefore.clear();
    }
    view_.ShowReadRows(log1_);
    MatchEvents(rules_[log.rules], log1_, log2_);
    view_.ShowMatchedRows(log2_);
    AppendAlertSection(alertText_, log, notice, log2_, messages ? &*messages : nullptr);
  }
  messages.reset();

  // The write warning once, until a write succeeds again.
  const bool written = WriteStamp(now, false);
  if (!written && !stampWarningShown_) file.ShowWriteFailure();
  stampWarningShown_ = !written;
  StampWritten(now, written);
  if (written) {
    // The dialog then shows, and saves back unchanged, the stamp the file holds.
    settings_.DateStamp = writtenDate_;
    settings_.TimeStamp = writtenTime_;
  }
  if (ended_) return;
  statusNotice_ = notices;

  ports_.serviceCheck.Check(rules_[RuleLog::Service], computerName_, alertText_);
  if (ended_) return;

  if (!alertText_.empty()) {
    Send(NewMail::Alert);
    if (ended_) return;
  } else {
    Deliver(NewMail::None);
    if (ended_) return;
    // A log that could not be read is no clean cycle.
    ShowStatus((readFailed ? kLogsUnreadable : kNoFindings) + StampNowLocale() + u"]");
  }
  statusNotice_.clear();
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

void Monitor::Send() { Send(NewMail::ByHand); }

void Monitor::Send(NewMail kind) {
  if (ended_ || mailOpen_) return;
  const bool sent = Deliver(kind);
  if (ended_) return;
  ShowStatus((sent ? kMailSent : kMailFailed) + StampNowLocale() + u"]");
}

bool Monitor::Deliver(NewMail kind) {
  const BusyFlag open(mailOpen_);
  Outbox& outbox = ports_.outbox;
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
  mail.oauth =
      OAuthLogin{settings_.SmtpAuth,          settings_.OAuthTenant, settings_.OAuthClientId,
                 settings_.OAuthClientSecret, settings_.OAuthScope,  settings_.OAuthTokenUrl};

  // An alert is on disk before the network is touched; a mail sent by hand
  // carries no alert and is not kept.
  std::optional<KeptMail> fresh;
  std::optional<OutboxEntry> freshEntry;
  if (kind != NewMail::None) {
    const MessageStamp stamp = ports_.sender.Stamp();
    ComposedMessage composed = ComposeMessage(MailRequestOf(mail), stamp);
    if (composed.result == SendResult::Sent) {
      fresh = KeptMail{std::move(composed.messageText), std::move(composed.senderAddress),
                       std::move(composed.recipients)};
    }
    if (fresh && kind == NewMail::Alert) {
      freshEntry = outbox.Add(*fresh, stamp.localTime);
      if (!freshEntry && !storeFailureShown_) ports_.boxes.Show(kNotKept, MessageIcon::Exclamation);
      storeFailureShown_ = !freshEntry;
    }
  }
  TellDrops(outbox.DropOld(ports_.clock.Now()));
  if (ended_) return false;

  // Oldest first; a failure ends the retries, and what is kept then waits
  // for the next cycle rather than overtake an older alert.
  bool sent = false;
  bool failed = false;
  bool refusedBefore = false;
  for (const OutboxEntry& entry : outbox.List()) {
    const std::optional<KeptMail> kept = outbox.Read(entry);
    // A mail that can never be read must not hold back every alert after it;
    // the age limit removes it in the end.
    if (!kept) continue;
    const SendResult result = ports_.sender.Send(mail, *kept);
    const bool accepted = result == SendResult::Sent;
    if (accepted) {
      outbox.Remove(entry);
      if (freshEntry && entry.name == freshEntry->name) sent = true;
    }
    if (ended_) return false;
    if (accepted) {
      refusedBefore = false;
      continue;
    }
    failed = true;
    // A server that took everything but this mail's data may take the next
    // one: a mail it will never take (too large, say) must not hold back
    // every alert after it. It stays kept until it goes or ages out. A
    // second refusal in a row says the server takes none now.
    if (result != SendResult::MailRefused || refusedBefore) break;
    refusedBefore = true;
  }
  // A mail sent by hand follows the kept ones only when they went out; an
  // alert that could not be kept has no later try, so it goes now in any case.
  if (fresh && !freshEntry && (!failed || kind == NewMail::Alert)) {
    sent = ports_.sender.Send(mail, *fresh) == SendResult::Sent;
    if (ended_) return false;
  }
  CountKept();
  return sent;
}

void Monitor::TellDrops(const DroppedMails& dropped) {
  const auto tell = [this](const std::vector<OutboxEntry>& entries, const char16_t* reason) {
    if (entries.empty() || ended_) return;
    std::u16string text = reason + Number(entries.size()) + kDroppedEnd + kCrLf + kDroppedCreated;
    text += Moment(entries.front().created);
    if (entries.size() > 1) text += u" ～ " + Moment(entries.back().created);
    ports_.boxes.Show(text, MessageIcon::Exclamation);
  };
  tell(dropped.tooOld, kDroppedOld);
  tell(dropped.beyondLimit, kDroppedBeyond);
}

void Monitor::CountKept() {
  keptCount_ = ports_.outbox.List().size();
  view_.ShowKeptMails(keptCount_);
}

void Monitor::ShowStatus(const std::u16string& text) {
  view_.ShowStatus(statusNotice_ + text + KeptMailsText(keptCount_));
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
