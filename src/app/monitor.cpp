#include "app/monitor.h"

#include <algorithm>
#include <climits>

#include "app/startup.h"
#include "base/convert.h"
#include "base/failure.h"
#include "base/text.h"
#include "eventlog/reader.h"
#include "rules/matching.h"

namespace zkq {

namespace {

constexpr char16_t kCrLf[] = u"\r\n";
// The channels' bookmarks, one key a channel.
constexpr char16_t kBookmarksSection[] = u"Bookmarks";
#ifndef ZKQ_VERSION
#define ZKQ_VERSION "0"
#endif
constexpr char16_t kVersionText[] = u"" ZKQ_VERSION;
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
constexpr char16_t kServicesUnchecked[] = u"監視処理でサービスの状態を確認できませんでした。[";
constexpr char16_t kRulesUnloaded[] = u"監視ルールを読み込めません。[";
constexpr char16_t kNotComposed[] = u"警告メールを作成できませんでした: ";
constexpr char16_t kRefusedRecipient[] = u"※ 宛先に届きませんでした: ";
constexpr char16_t kMovedToFailed[] =
    u"サーバーが受け付けない警告メールを outbox\\failed\\ に移しました"
    u"（続けて2回拒否されました）。作成日時: ";
constexpr char16_t kFilesSuffix[] = u" (ファイル: ";
constexpr char16_t kNotKept[] =
    u"警告メールを未送信フォルダ（outbox）に保存できませんでした。"
    u"この警告メールは送信に失敗すると失われます。";

std::u16string Number(std::uint64_t n) { return FromUtf8(std::to_string(n)); }

// Adds name to a ", "-separated list unless it is there already.
void AddToList(std::u16string& list, std::u16string_view name) {
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t end = std::min(list.find(u", ", at), list.size());
    if (std::u16string_view(list).substr(at, end - at) == name) return;
    at = end + 2;
  }
  if (!list.empty()) list += u", ";
  list += name;
}

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

// The failure messages of one cycle (a log's read, the rules file), each shown
// once: the same fault would come back every minute. What works again clears
// its fault.
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

EventLogSource& LogSourceChoice::ChannelsFor(const std::filesystem::path& folder) {
  if (folder.empty()) return liveChannels_;
  return For(folder);
}

bool RulesFile::Load(const std::filesystem::path& rulesFile, RuleSet& rules, MessageBoxes& boxes) {
  return LoadRuleLists(rulesFile, rules, boxes);
}

void HeldBoxes::Show(const std::u16string& text, MessageIcon icon) {
  if (holding_) {
    held_.emplace_back(text, icon);
    return;
  }
  Present(text, icon);
}

void HeldBoxes::Release(bool drop) {
  holding_ = false;
  // A box shown here lets the next cycles run (its message loop delivers the
  // timer): what they hold is theirs, shown by them.
  std::vector<std::pair<std::u16string, MessageIcon>> held;
  held.swap(held_);
  if (drop) return;
  for (const auto& [text, icon] : held) Present(text, icon);
}

void HeldBoxes::Present(const std::u16string& text, MessageIcon icon) {
  if (std::find(open_.begin(), open_.end(), text) != open_.end()) return;
  open_.push_back(text);
  try {
    screen_.Show(text, icon);
  } catch (...) {
    open_.erase(std::find(open_.begin(), open_.end(), text));
    throw;
  }
  open_.erase(std::find(open_.begin(), open_.end(), text));
}

std::u16string HeartbeatBody(const HeartbeatCounts& counts, const std::u16string& now,
                             std::size_t waiting, std::size_t failed,
                             const std::u16string& logPlace, std::u16string_view version) {
  std::u16string text = u"zkQuorvane は稼動しています。\r\n";
  text += u"期間: " + (counts.since.empty() ? now : counts.since) + u" ～ " + now + kCrLf;
  text += u"監視処理の実行: " + Number(counts.cycles) + u" 回\r\n";
  text += u"読み込んだ記録: ";
  for (std::size_t i = 0; i < kAlertLogs.size(); ++i) {
    if (i != 0) text += u" / ";
    text += std::u16string(kAlertLogs[i].logName) + u" " + Number(counts.records[i]) + u" 件";
  }
  if (counts.channelRecords != 0) text += u" / チャンネル " + Number(counts.channelRecords) + u" 件";
  text += kCrLf;
  text += u"送信したメール: " + Number(counts.alerts) + u" 件\r\n";
  text += u"未送信のメール: " + Number(waiting) + u" 件 (outbox\\failed\\: " + Number(failed) +
          u" 件)\r\n";
  text += u"読めなかったログ: " + (counts.unreadLogs.empty() ? u"なし" : counts.unreadLogs) + kCrLf;
  text += u"監視ルールの読み込みの失敗: " + Number(counts.rulesFailures) + u" 回\r\n";
  text += u"サービスの状態の確認の失敗: " + Number(counts.serviceFailures) + u" 回\r\n";
  text += u"届かなかった宛先: ";
  text += counts.refused.empty() ? std::u16string(u"なし\r\n") : kCrLf + counts.refused;
  text += u"ログの読み込み元: " + logPlace + kCrLf;
  text += u"バージョン: " + std::u16string(version) + kCrLf;
  return text;
}

Monitor::Monitor(MonitorPorts ports, MonitorView& view, std::filesystem::path programDir,
                 Settings settings, std::int16_t countdown)
    : ports_(ports),
      boxes_(ports.boxes),
      view_(view),
      programDir_(std::move(programDir)),
      settings_(std::move(settings)),
      countdown_(countdown),
      writtenDate_(settings_.DateStamp),
      writtenTime_(settings_.TimeStamp) {
  ReadHeartbeat();
}

std::u16string& Monitor::Bookmark(std::size_t log) {
  std::u16string* const bookmarks[] = {&settings_.SystemBookmark, &settings_.SecurityBookmark,
                                       &settings_.ApplicationBookmark};
  return *bookmarks[log];
}

const std::u16string& Monitor::ChannelBookmark(const std::u16string& channel) {
  auto it = channelBookmarks_.find(channel);
  if (it == channelBookmarks_.end()) {
    std::u16string stored;
    if (!channelBookmarksReset_) stored = ports_.settingsFile.ReadIniString(kBookmarksSection, channel);
    it = channelBookmarks_.emplace(channel, std::move(stored)).first;
  }
  return it->second;
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
  std::vector<std::array<std::u16string_view, 3>> entries;
  for (const auto& [key, value] : keys) entries.push_back({kSettingsSection, key, value});
  for (const auto& [channel, bookmark] : channelBookmarks_)
    entries.push_back({kBookmarksSection, channel, bookmark});
  if (!ports_.settingsFile.WriteIniEntries(entries, false)) {
    if (showFailure) boxes_.Show(ports_.settingsFile.WriteFailureText(), MessageIcon::Exclamation);
    return false;
  }
  writtenDate_ = date;
  writtenTime_ = time;
  return true;
}

void Monitor::StampNow() {
  const DateTime now = ports_.clock.Now();
  settings_.DateStamp = FormatDate(now);
  settings_.TimeStamp = FormatTime(now);
  view_.ShowStamp(settings_.DateStamp + u" " + settings_.TimeStamp);
  if (const std::optional<std::int64_t> utc = ports_.zone.LocalToUtc(now)) {
    EventLogSource& logs = ports_.logs.For(InProgramDir(settings_.EventLogDir));
    for (std::size_t i = 0; i < kAlertLogs.size(); ++i) {
      if (ParseBookmark(Bookmark(i))) continue;
      if (const auto bookmark = NewestBookmarkBefore(logs, kAlertLogs[i].logName, computerName_, *utc))
        Bookmark(i) = BookmarkText(*bookmark);
    }
    if (!rules_.channels.empty()) {
      EventLogSource& channels = ports_.logs.ChannelsFor(InProgramDir(settings_.EventLogDir));
      for (const ChannelRules& channel : rules_.channels) {
        if (ParseBookmark(ChannelBookmark(channel.channel))) continue;
        if (const auto bookmark = NewestBookmarkBefore(channels, channel.channel, computerName_, *utc))
          channelBookmarks_[channel.channel] = BookmarkText(*bookmark);
      }
    }
  }
  StampWritten(now, WriteStamp(now, true));
}

void Monitor::LoadRules(MessageBoxes& boxes) {
  // Asked for, the failure is always shown; the cycles then tell it no more.
  rulesFailureShown_.clear();
  LoadRulesTellingOnce(boxes);
}

void Monitor::LoadRulesTellingOnce(MessageBoxes& boxes) {
  ReadFailureBoxes told(boxes, rulesFailureShown_);
  rulesLoaded_ = ports_.rules.Load(InProgramDir(settings_.Rules), rules_, told);
  if (rulesLoaded_) rulesFailureShown_.clear();
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
  {
    const BusyFlag busy(cycleInProgress_);
    boxes_.Hold();
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
        boxes_.Show(std::u16string(kApplicationErrorText) + kCrLf + CurrentFailureDescription(),
                    MessageIcon::Exclamation);
      }
    }
  }
  // The cycle is over: its boxes may wait for a click now without holding
  // back the next one.
  boxes_.Release(ended_);
}

std::u16string Monitor::ExamineLog(const AlertLog& log, EventLogSource& logs,
                                   const std::vector<MonitoringRule>& rules,
                                   const std::u16string& bookmark, std::u16string& shownBefore,
                                   std::uint64_t& recordCount, EventMessages* messages,
                                   CycleFindings& found) {
  const std::u16string failureBefore = shownBefore;
  ReadFailureBoxes boxes(boxes_, shownBefore);
  EventLogContext context{logs, ports_.accounts, ports_.tables, boxes, ports_.zone};
  // The rows are matched as they are read; the window shows the newest of
  // them, so that a collector's million new records cost no million rows.
  log1_.clear();
  log2_.clear();
  const LogReading reading = ReadNewEventLogRows(
      [&](const EventRowView& row) {
        if (log1_.size() < kShownReadRows) log1_.push_back(row.ToRow());
        if (RowPasses(rules, row)) log2_.push_back(row.ToRow());
      },
      log.logName, computerName_, settings_.DateStamp, settings_.TimeStamp,
      ParseBookmark(bookmark), context);
  if (ended_) return bookmark;
  recordCount += reading.rows;
  const std::u16string notice = LogNoticeText(reading);
  if (!notice.empty()) {
    found.notices +=
        u"［" + std::u16string(log.displayName) + u"］" + ReplaceAll(notice, kCrLf, u" ");
  }
  if (boxes.Failed()) {
    found.readFailed = true;
    // Without a bookmark, the stamp is what holds this log's unread records.
    if (!reading.bookmark) found.keepStamp = true;
    if (shownBefore != failureBefore) found.newsworthy = true;
    AddToList(heartbeat_.unreadLogs, log.logName);
  } else {
    shownBefore.clear();
  }
  if (reading.cleared || reading.overwritten != 0) found.newsworthy = true;
  view_.ShowReadRows(log1_);
  if (!log2_.empty()) found.newsworthy = true;
  view_.ShowMatchedRows(log2_);
  AppendAlertSection(alertText_, log, notice, log2_, messages);
  return reading.bookmark ? BookmarkText(*reading.bookmark) : bookmark;
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
    for (auto& [channel, bookmark] : channelBookmarks_) bookmark.clear();
    channelBookmarksReset_ = true;
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
  ++heartbeat_.cycles;

  // Rules that could not be loaded are loaded again each cycle; without them
  // nothing is examined, nothing is called clean, and no bookmark moves.
  if (!rulesLoaded_) LoadRulesTellingOnce(boxes_);
  if (!rulesLoaded_) {
    ++heartbeat_.rulesFailures;
    Deliver(NewMail::None);
    if (ended_) return;
    ShowStatus(kRulesUnloaded + StampNowLocale() + u"]");
    CycleEnded();
    return;
  }

  EventLogSource& logs = ports_.logs.For(InProgramDir(settings_.EventLogDir));
  // The message modules stay loaded for the cycle's logs and channels, no longer.
  std::optional<EventMessages> messages;
  if (AlertDetailOn(settings_)) messages.emplace(ports_.tables);
  CycleFindings found;
  std::u16string bookmarks[3];
  for (std::size_t i = 0; i < kAlertLogs.size(); ++i) {
    const AlertLog& log = kAlertLogs[i];
    bookmarks[i] = ExamineLog(log, logs, rules_[log.rules], Bookmark(i),
                              readFailureShown_[static_cast<int>(log.rules)],
                              heartbeat_.records[i], messages ? &*messages : nullptr, found);
    if (ended_) return;
  }
  // The channels the rules name, in the order of their first rule.
  std::vector<std::pair<std::u16string, std::u16string>> channelBookmarks;
  if (!rules_.channels.empty()) {
    EventLogSource& channels = ports_.logs.ChannelsFor(InProgramDir(settings_.EventLogDir));
    for (const ChannelRules& channel : rules_.channels) {
      const AlertLog log{channel.channel, RuleLog::Channel, channel.channel};
      channelBookmarks.emplace_back(
          channel.channel,
          ExamineLog(log, channels, channel.rules, ChannelBookmark(channel.channel),
                     channelFailureShown_[channel.channel], heartbeat_.channelRecords,
                     messages ? &*messages : nullptr, found));
      if (ended_) return;
    }
  }
  const bool readFailed = found.readFailed;
  const bool keepStamp = found.keepStamp;
  bool newsworthy = found.newsworthy;
  const std::u16string& notices = found.notices;
  messages.reset();
  if (ended_) return;
  statusNotice_ = notices;

  std::u16string services;
  const std::u16string serviceFailure =
      ports_.serviceCheck.Check(rules_[RuleLog::Service], computerName_, services);
  if (ended_) return;
  if (!serviceFailure.empty()) ++heartbeat_.serviceFailures;
  if (!services.empty() && (serviceFailure.empty() || serviceFailure != serviceFailureShown_))
    newsworthy = true;
  serviceFailureShown_ = serviceFailure;
  alertText_ += services;
  if (!newsworthy) alertText_.clear();

  // The bookmarks and the stamp move only once the alert is safe: kept in
  // the outbox, or sent. Otherwise the next cycle examines the same records.
  bool safe = true;
  if (!alertText_.empty()) {
    const Delivery delivery = Deliver(NewMail::Alert);
    if (ended_) return;
    safe = delivery.safe;
    if (!delivery.composeFailure.empty()) {
      ShowStatus(kNotComposed + delivery.composeFailure + u" [" + StampNowLocale() + u"]");
    } else {
      ShowStatus((delivery.sent ? kMailSent : kMailFailed) + StampNowLocale() + u"]");
    }
  } else {
    Deliver(NewMail::None);
    if (ended_) return;
    // A log that could not be read, or services that could not be checked,
    // make no clean cycle.
    const char16_t* said = readFailed                ? kLogsUnreadable
                           : !serviceFailure.empty() ? kServicesUnchecked
                                                     : kNoFindings;
    ShowStatus(said + StampNowLocale() + u"]");
  }
  if (safe) {
    for (std::size_t i = 0; i < kAlertLogs.size(); ++i) Bookmark(i) = bookmarks[i];
    for (auto& [channel, bookmark] : channelBookmarks) channelBookmarks_[channel] = bookmark;
    const std::optional<DateTime> held = ParseStamp(settings_.DateStamp, settings_.TimeStamp);
    const DateTime stamp = keepStamp && held ? *held : now;
    // The write warning once, until a write succeeds again.
    const bool written = WriteStamp(stamp, false);
    if (!written && !stampWarningShown_) {
      boxes_.Show(file.WriteFailureText(), MessageIcon::Exclamation);
    }
    stampWarningShown_ = !written;
    StampWritten(stamp, written);
    if (written) {
      // The dialog then shows, and saves back unchanged, the stamp the file holds.
      settings_.DateStamp = writtenDate_;
      settings_.TimeStamp = writtenTime_;
    }
  }
  CycleEnded();
}

void Monitor::CycleEnded() {
  statusNotice_.clear();
  alertText_.clear();
  SendHeartbeatWhenDue(ports_.clock.Now());
  if (ended_) return;
  WriteHeartbeat();
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

bool Monitor::Send(NewMail kind) {
  if (ended_ || mailOpen_) return false;
  const Delivery delivery = Deliver(kind);
  if (ended_) return false;
  ShowStatus((delivery.sent ? kMailSent : kMailFailed) + StampNowLocale() + u"]");
  return delivery.sent;
}

Monitor::Delivery Monitor::Deliver(NewMail kind, std::u16string subject) {
  const BusyFlag open(mailOpen_);
  Delivery delivery;
  Outbox& outbox = ports_.outbox;
  const MailFields fields = view_.CurrentMailFields();
  AlertMail mail;
  mail.server = fields.server;
  mail.port = fields.port;
  mail.fromAddress = fields.fromAddress;
  mail.toList = fields.toList;
  mail.subject = subject.empty() ? fields.subject + u" - " + computerName_ : std::move(subject);
  mail.body = alertText_;
  mail.security = settings_.SmtpSecurity;
  mail.user = settings_.SmtpUser;
  mail.password = settings_.SmtpPassword;
  mail.oauth =
      OAuthLogin{settings_.SmtpAuth,          settings_.OAuthTenant, settings_.OAuthClientId,
                 settings_.OAuthClientSecret, settings_.OAuthScope,  settings_.OAuthTokenUrl};
  const bool keeps = kind == NewMail::Alert || kind == NewMail::Report;
  // Refused recipients are told in the next mail that is kept.
  if (keeps && !refusedToMail_.empty()) mail.body = refusedToMail_ + kCrLf + mail.body;

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
    } else {
      // Nothing to keep or send: the cycle fails like a failed send, and the
      // alert is composed again next time with the settings of that time.
      delivery.composeFailure = composed.statusText;
    }
    if (fresh && keeps) {
      freshEntry = outbox.Add(*fresh, stamp.localTime);
      if (!freshEntry && !storeFailureShown_) boxes_.Show(kNotKept, MessageIcon::Exclamation);
      storeFailureShown_ = !freshEntry;
      if (freshEntry) {
        delivery.safe = true;
        refusedToMail_.clear();
      }
    }
  }
  TellDrops(outbox.DropOld(ports_.clock.Now()));
  if (ended_) return delivery;

  bool failed = false;
  RetryKept(mail, freshEntry, delivery.sent, failed);
  if (ended_) return delivery;
  // A mail sent by hand follows the kept ones only when they went out; an
  // alert that could not be kept has no later try, so it goes now in any case.
  if (fresh && !freshEntry && (!failed || keeps)) {
    const SendOutcome outcome = ports_.sender.Send(mail, *fresh);
    if (ended_) return delivery;
    NoteRefused(outcome.refused);
    delivery.sent = outcome.result == SendResult::Sent;
    if (delivery.sent) {
      ++heartbeat_.alerts;
      delivery.safe = true;
      if (keeps) refusedToMail_.clear();
    }
  }
  CountKept();
  return delivery;
}

void Monitor::RetryKept(const AlertMail& mail, const std::optional<OutboxEntry>& fresh,
                        bool& sent, bool& failed) {
  Outbox& outbox = ports_.outbox;
  // Kept mails go to the recipients of the settings now, so that a mended To
  // reaches them; they keep their own Date and text.
  std::u16string recipients;
  for (const std::u16string& r : RecipientsOf(mail.toList)) {
    if (!recipients.empty()) recipients += u';';
    recipients += r;
  }
  // Oldest first; a failure ends the retries, and what is kept then waits
  // for the next cycle rather than overtake an older alert.
  bool refusedBefore = false;
  for (const OutboxEntry& entry : outbox.List()) {
    std::optional<KeptMail> kept = outbox.Read(entry);
    // A mail that can never be read must not hold back every alert after it;
    // the age limit removes it in the end.
    if (!kept) continue;
    if (!recipients.empty()) kept->recipients = recipients;
    const SendOutcome outcome = ports_.sender.Send(mail, *kept);
    if (ended_) return;
    NoteRefused(outcome.refused);
    auto count = std::find_if(refusals_.begin(), refusals_.end(),
                              [&](const auto& r) { return r.first == entry.name; });
    if (outcome.result == SendResult::Sent) {
      outbox.Remove(entry);
      ++heartbeat_.alerts;
      if (fresh && entry.name == fresh->name) sent = true;
      if (count != refusals_.end()) refusals_.erase(count);
      refusedBefore = false;
      continue;
    }
    failed = true;
    if (!outcome.permanent) {
      if (count != refusals_.end()) refusals_.erase(count);
    } else {
      if (count == refusals_.end()) count = refusals_.insert(refusals_.end(), {entry.name, 0});
      // Refused for good twice in a row: set aside where it holds back nothing.
      if (++count->second >= 2 && outbox.MoveToFailed(entry)) {
        refusals_.erase(count);
        boxes_.Show(kMovedToFailed + Moment(entry.created), MessageIcon::Exclamation);
        if (ended_) return;
      }
    }
    // A server that took everything but this mail's data may take the next
    // one: a mail it will never take (too large, say) must not hold back
    // every alert after it. It stays kept until it goes or ages out. A
    // second refusal in a row says the server takes none now.
    if (outcome.result != SendResult::MailRefused || refusedBefore) break;
    refusedBefore = true;
  }
}

void Monitor::NoteRefused(const std::vector<RefusedRecipient>& refused) {
  for (const RefusedRecipient& r : refused) {
    if (std::find(refusedTold_.begin(), refusedTold_.end(), r.address) != refusedTold_.end())
      continue;
    refusedTold_.push_back(r.address);
    const std::u16string line = r.address + u" (" + r.reply + u")";
    refusedToMail_ += kRefusedRecipient + line + kCrLf;
    heartbeat_.refused += line + kCrLf;
    statusNotice_ += kRefusedRecipient + line + u" ";
  }
}

void Monitor::ReadHeartbeat() {
  const SettingsFile& file = ports_.settingsFile;
  const auto number = [&](std::u16string_view key) -> std::uint64_t {
    const std::string text = ToUtf8(file.ReadIniString(kHeartbeatSection, key));
    std::uint64_t value = 0;
    for (const char c : text) {
      if (c < '0' || c > '9' || value > UINT64_MAX / 10 - 10) return 0;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
  };
  heartbeat_.since = file.ReadIniString(kHeartbeatSection, u"Since");
  heartbeat_.lastDay = file.ReadIniString(kHeartbeatSection, u"LastDay");
  heartbeat_.cycles = number(u"Cycles");
  for (std::size_t i = 0; i < kAlertLogs.size(); ++i)
    heartbeat_.records[i] = number(std::u16string(kAlertLogs[i].logName) + u"Records");
  heartbeat_.channelRecords = number(u"ChannelRecords");
  heartbeat_.alerts = number(u"Sent");
  heartbeat_.rulesFailures = number(u"RulesFailures");
  heartbeat_.serviceFailures = number(u"ServiceFailures");
  heartbeat_.unreadLogs = file.ReadIniString(kHeartbeatSection, u"UnreadLogs");
  heartbeat_.refused = ReplaceAll(file.ReadIniString(kHeartbeatSection, u"Refused", 4096), u" | ",
                                  kCrLf);
}

void Monitor::WriteHeartbeat() {
  if (!HeartbeatOn()) return;
  if (heartbeat_.since.empty()) heartbeat_.since = StampNowFixed();
  std::vector<std::pair<std::u16string, std::u16string>> keys = {
      {u"Since", heartbeat_.since},
      {u"LastDay", heartbeat_.lastDay},
      {u"Cycles", Number(heartbeat_.cycles)},
      {u"ChannelRecords", Number(heartbeat_.channelRecords)},
      {u"Sent", Number(heartbeat_.alerts)},
      {u"RulesFailures", Number(heartbeat_.rulesFailures)},
      {u"ServiceFailures", Number(heartbeat_.serviceFailures)},
      {u"UnreadLogs", heartbeat_.unreadLogs},
      {u"Refused", ReplaceAll(heartbeat_.refused, kCrLf, u" | ")}};
  for (std::size_t i = 0; i < kAlertLogs.size(); ++i)
    keys.emplace_back(std::u16string(kAlertLogs[i].logName) + u"Records",
                      Number(heartbeat_.records[i]));
  std::vector<std::pair<std::u16string_view, std::u16string_view>> views(keys.begin(), keys.end());
  // A file that takes nothing is told by the stamp's warning already.
  ports_.settingsFile.WriteIniStrings(kHeartbeatSection, views, false);
}

void Monitor::SendHeartbeatWhenDue(const DateTime& now) {
  const std::optional<int> minutes = HeartbeatMinutes(settings_.Heartbeat);
  if (!minutes || now.hour * 60 + now.minute < *minutes) return;
  const std::u16string today = FormatDate(now);
  if (heartbeat_.lastDay == today) return;
  const std::u16string body = HeartbeatBody(heartbeat_, StampNowFixed(), ports_.outbox.List().size(),
                                            ports_.outbox.FailedCount(), LogPlace(), kVersionText);
  const std::u16string saved = std::exchange(alertText_, body);
  const MailFields fields = view_.CurrentMailFields();
  const Delivery delivery = Deliver(NewMail::Report, fields.subject + kHeartbeatSubject + computerName_);
  alertText_ = saved;
  if (ended_ || !delivery.safe) return;  // tried again next cycle, with the counts
  heartbeat_ = HeartbeatCounts{};
  heartbeat_.lastDay = today;
  heartbeat_.since = StampNowFixed();
}

std::u16string Monitor::LogPlace() const {
  if (settings_.EventLogDir.empty()) return u"イベントログ";
  return u"フォルダ " + PathText(InProgramDir(settings_.EventLogDir));
}

void Monitor::TellDrops(const DroppedMails& dropped) {
  const auto tell = [this](const std::vector<OutboxEntry>& entries, const char16_t* reason) {
    if (entries.empty() || ended_) return;
    std::u16string text = reason + Number(entries.size()) + kDroppedEnd + kCrLf + kDroppedCreated;
    text += Moment(entries.front().created);
    if (entries.size() > 1) text += u" ～ " + Moment(entries.back().created);
    boxes_.Show(text, MessageIcon::Exclamation);
  };
  tell(dropped.tooOld, kDroppedOld);
  tell(dropped.beyondLimit, kDroppedBeyond);
}

void Monitor::CountKept() {
  keptCount_ = ports_.outbox.List().size();
  view_.ShowKeptMails(keptCount_);
}

void Monitor::ShowStatus(const std::u16string& text) {
  std::u16string shown = statusNotice_ + text;
  // The logs read from a folder are no live log: every status says so.
  if (!settings_.EventLogDir.empty())
    shown += kFilesSuffix + PathText(InProgramDir(settings_.EventLogDir)) + u")";
  view_.ShowStatus(shown + KeptMailsText(keptCount_));
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
