#pragma once
// The monitoring itself, apart from any window: start and stop, the cycle
// every Interval minutes (read the three logs from the examination stamp on,
// match them with the rules, check the services, mail the findings through
// the outbox), the send on demand, the countdown, the stamp kept in the settings file, and the
// guards that keep two cycles, or a cycle and a send, apart. The main window
// presents it; the service-mode handlers drive the same object.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "app/outbox.h"
#include "base/ports.h"
#include "config/settings.h"
#include "eventlog/event_row.h"
#include "eventlog/evt_file.h"
#include "eventlog/ports.h"
#include "mail/composition.h"
#include "mail/send_result.h"
#include "rules/matching.h"
#include "rules/rules_file.h"

namespace zkq {

// The most rows of a log read in a cycle that the window lists (the newest).
inline constexpr std::size_t kShownReadRows = 10000;

// One alert mail as the send command hands it to mail delivery. The fixed
// values are those of an unattended send: no sender name, no attachment, no
// message boxes, sent and closed by itself, 60 seconds at most.
struct AlertMail {
  std::u16string server, port, fromAddress;
  std::u16string fromName;
  std::u16string toList, subject, body;
  std::u16string attachmentList;
  std::u16string showMessages = u"0";
  std::u16string autoSend = u"1";
  std::u16string autoClose = u"1";
  std::u16string timeoutSeconds = u"60";
  // From the settings (the main window does not show them).
  std::u16string security, user, password;
  OAuthLogin oauth;
  friend bool operator==(const AlertMail&, const AlertMail&) = default;
};

// The mail entry's request of one alert mail (composition and the sending
// window take it).
MailRequest MailRequestOf(const AlertMail& mail);

// " 未送信 N 件" after the status and the notification icon's tip while N
// alert mails wait in the outbox; "" while none do.
std::u16string KeptMailsText(std::size_t count);

// Mail delivery.
class AlertSender {
 public:
  virtual ~AlertSender() = default;
  // The Date and Message-ID of a mail composed now.
  virtual MessageStamp Stamp() = 0;
  // Runs the (modal) sending window over a mail composed beforehand, and
  // returns once it has closed: the server, the flags and the time-out are
  // those of mail now, what goes out is message as it was composed, to its
  // envelope.
  virtual SendOutcome Send(const AlertMail& mail, const KeptMail& message) = 0;
};

// The service check: compares the service rules with the services of the
// computer and appends its own section to alertText when a rule is violated,
// or when the services could not be read. Returns why they could not be
// read, "" when they were.
class ServiceCheck {
 public:
  virtual ~ServiceCheck() = default;
  virtual std::u16string Check(const std::vector<MonitoringRule>& serviceRules,
                               std::u16string_view computerName, std::u16string& alertText) = 0;
};

// Where a cycle reads the logs: the live event log, or the exported
// System.evt, Security.evt and Application.evt of a folder. The source
// returned stays valid until the next call.
class LogSources {
 public:
  virtual ~LogSources() = default;
  virtual EventLogSource& For(const std::filesystem::path& folder) = 0;  // empty: the live log
  // The same for the channels the rules name: the Windows Event Log API, or
  // the folder's .evtx files named as Windows names them.
  virtual EventLogSource& ChannelsFor(const std::filesystem::path& folder) { return For(folder); }
};

// Loads the rules file into rules (what could be read, after a message of
// its own on boxes when the file cannot be read); false when it could not.
class RulesSource {
 public:
  virtual ~RulesSource() = default;
  virtual bool Load(const std::filesystem::path& rulesFile, RuleSet& rules,
                    MessageBoxes& boxes) = 0;
};

// Message boxes that wait while a cycle runs, so that no box keeps the next
// cycles from running: they are shown once the cycle has ended. A box whose
// text is open already is not shown a second time over it.
class HeldBoxes final : public MessageBoxes {
 public:
  explicit HeldBoxes(MessageBoxes& screen) : screen_(screen) {}
  void Show(const std::u16string& text, MessageIcon icon) override;
  void Hold() { holding_ = true; }
  // Shows what waited, unless dropped (the program ended meanwhile).
  void Release(bool drop);

 private:
  void Present(const std::u16string& text, MessageIcon icon);
  MessageBoxes& screen_;
  bool holding_ = false;
  std::vector<std::pair<std::u16string, MessageIcon>> held_;
  std::vector<std::u16string> open_;
};

// What the daily report tells, counted since the report before. Kept in the
// settings file (section [Heartbeat]) so that a restart loses none of it.
struct HeartbeatCounts {
  std::u16string since;  // "yyyy/mm/dd hh:mm:ss" of the report before, or the first count
  std::u16string lastDay;  // "yyyy/mm/dd" of the last report
  std::uint64_t cycles = 0;
  std::uint64_t records[3] = {0, 0, 0};  // System, Security, Application
  std::uint64_t channelRecords = 0;      // the channels the rules name, together
  std::uint64_t alerts = 0;              // mails a server accepted
  std::uint64_t rulesFailures = 0, serviceFailures = 0;
  std::u16string unreadLogs;  // "System, Security"
  std::u16string refused;     // "address (reply)" lines
};
inline constexpr char16_t kHeartbeatSection[] = u"Heartbeat";
// The daily report's subject after the Subject setting.
inline constexpr char16_t kHeartbeatSubject[] = u" 稼動報告 - ";
// The report's body for counts at now.
std::u16string HeartbeatBody(const HeartbeatCounts& counts, const std::u16string& now,
                             std::size_t waiting, std::size_t failed,
                             const std::u16string& logPlace, std::u16string_view version);

// The mail fields as the user sees them now (they may have been edited since
// the settings were read), trimmed.
struct MailFields {
  std::u16string server, port, fromAddress, toList, subject;
};

// What the monitoring shows: the main window implements it.
class MonitorView {
 public:
  virtual ~MonitorView() = default;
  virtual void ShowStatus(const std::u16string& text) = 0;
  virtual void ShowRunState(bool running) = 0;      // commands and menus
  virtual void EnableCheckTimer(bool enabled) = 0;  // one tick a minute
  virtual void ShowStamp(const std::u16string& dateAndTime) = 0;
  virtual void ShowReadRows(const EventList& rows) = 0;     // the log just read
  virtual void ShowMatchedRows(const EventList& rows) = 0;  // what its rules picked out
  virtual MailFields CurrentMailFields() = 0;
  // How many alert mails wait in the outbox (the notification icon's tip).
  virtual void ShowKeptMails(std::size_t count) = 0;
};

struct MonitorPorts {
  Clock& clock;
  MessageBoxes& boxes;
  SettingsFile& settingsFile;
  LogSources& logs;
  RulesSource& rules;
  AccountNames& accounts;
  TimeZone& zone;
  MessageTables& tables;
  AlertSender& sender;
  ServiceCheck& serviceCheck;
  Outbox& outbox;
};

class Monitor {
 public:
  // Relative names in the settings (rules file, log folder) are taken from programDir.
  Monitor(MonitorPorts ports, MonitorView& view, std::filesystem::path programDir,
          Settings settings, std::int16_t countdown);

  void SetComputerName(std::u16string name) { computerName_ = std::move(name); }
  // The examination begins now: the stamp becomes the current moment, in the
  // settings file as well. A log without a bookmark gets one here, its newest
  // record before now, so that the records after it are examined even when
  // the first cycles fail and the program starts again.
  void StampNow();
  void LoadRules(MessageBoxes& boxes);
  bool RulesLoaded() const { return rulesLoaded_; }
  std::filesystem::path RulesFilePath() const { return InProgramDir(settings_.Rules); }

  // Throws Failure when Interval cannot be converted; nothing has changed then.
  void Start();
  // Always stops; a failure to convert Interval is thrown afterwards.
  void Stop();
  // tmrCheck: counts down, then runs the cycle. A failure is shown once (as
  // the application error) until a cycle succeeds again.
  void Tick();
  // The send command: mails the current alert text (empty for a send by
  // hand) unless a mail is open, after the alerts kept in the outbox.
  void Send();
  // Takes settings the user has just saved: they hold from now on, an
  // earlier stamp included.
  void SettingsSaved();
  // The program ends: nothing that is still on the stack does anything more.
  void End() { ended_ = true; }

  bool Running() const { return running_; }
  bool Ended() const { return ended_; }
  bool Busy() const { return cycleInProgress_ || mailOpen_; }
  bool CycleInProgress() const { return cycleInProgress_; }
  std::int16_t Countdown() const { return countdown_; }
  const std::u16string& AlertText() const { return alertText_; }
  Settings& CurrentSettings() { return settings_; }
  const Settings& CurrentSettings() const { return settings_; }
  const RuleSet& Rules() const { return rules_; }
  const EventList& Log1() const { return log1_; }
  const EventList& Log2() const { return log2_; }

 private:
  void RunCycle();
  // What the logs and channels of a cycle found beside their sections.
  struct CycleFindings {
    bool readFailed = false;
    bool keepStamp = false;  // a log without a bookmark could not be read
    // Whether the alert tells anything new: a failure told before (in the
    // alert of its first cycle, and the daily report) mails nothing by itself.
    bool newsworthy = false;
    std::u16string notices;  // cleared or overwritten logs, for the status
  };
  // Reads one log or channel from its bookmark, shows its rows, matches them
  // with rules and appends its section to the alert. Returns the bookmark it
  // gets once the alert is safe.
  std::u16string ExamineLog(const AlertLog& log, EventLogSource& logs,
                            const std::vector<MonitoringRule>& rules,
                            const std::u16string& bookmark, std::u16string& shownBefore,
                            std::uint64_t& recordCount, EventMessages* messages,
                            CycleFindings& found);
  // A channel's bookmark, from the settings file's [Bookmarks] the first time.
  const std::u16string& ChannelBookmark(const std::u16string& channel);
  // Loads the rules file; its failure is shown once, until it loads again.
  void LoadRulesTellingOnce(MessageBoxes& boxes);
  // What a delivery adds to the kept mails: nothing (a cycle without
  // findings), the cycle's alert or the daily report (kept), or the send
  // command's mail (not kept).
  enum class NewMail { None, Alert, Report, ByHand };
  struct Delivery {
    bool sent = false;          // the new mail went out
    bool safe = false;          // the new mail is kept or went out
    std::u16string composeFailure;  // why it could not be composed
  };
  bool Send(NewMail kind);
  // Retries the kept mails, then tries the new one.
  Delivery Deliver(NewMail kind, std::u16string subject = u"");
  void RetryKept(const AlertMail& mail, const std::optional<OutboxEntry>& fresh, bool& sent,
                 bool& failed);
  void NoteRefused(const std::vector<RefusedRecipient>& refused);
  void CycleEnded();
  bool HeartbeatOn() const { return HeartbeatMinutes(settings_.Heartbeat).has_value(); }
  void ReadHeartbeat();
  void WriteHeartbeat();
  void SendHeartbeatWhenDue(const DateTime& now);
  std::u16string LogPlace() const;
  void TellDrops(const DroppedMails& dropped);
  void CountKept();
  // Every status the monitor shows: followed by the count of kept mails while any wait.
  void ShowStatus(const std::u16string& text);
  void StampWritten(const DateTime& stamp, bool written);
  // The stamp with the bookmarks; true when the file took them.
  bool WriteStamp(const DateTime& stamp, bool showFailure);
  // The bookmark text of kAlertLogs[log] in the settings.
  std::u16string& Bookmark(std::size_t log);
  std::u16string StampNowFixed();
  std::u16string StampNowLocale();
  std::filesystem::path InProgramDir(const std::u16string& name) const;

  MonitorPorts ports_;
  HeldBoxes boxes_;
  MonitorView& view_;
  std::filesystem::path programDir_;
  Settings settings_;
  std::int16_t countdown_ = 0;
  // The stamp as this program last put it in the file (or found it there).
  std::u16string writtenDate_, writtenTime_;
  // What the cycle found about cleared or overwritten logs, before its status.
  std::u16string statusNotice_;
  RuleSet rules_;
  EventList log1_, log2_;
  std::u16string alertText_;
  std::u16string computerName_;
  bool running_ = false;
  bool cycleInProgress_ = false;
  bool mailOpen_ = false;
  bool ended_ = false;
  bool cycleFailureShown_ = false;
  // The stamp this program last set (start-up, stop, each cycle) when the
  // settings file did not take it.
  std::optional<DateTime> unwrittenStamp_;
  bool stampWarningShown_ = false;
  std::size_t keptCount_ = 0;
  bool storeFailureShown_ = false;
  // The read-failure message last shown for System, Security and Application,
  // and for each channel.
  std::u16string readFailureShown_[3];
  std::map<std::u16string, std::u16string> channelFailureShown_;
  // The channels' bookmarks as the monitor holds them; while this is false a
  // channel's first one is read from the file.
  std::map<std::u16string, std::u16string> channelBookmarks_;
  bool channelBookmarksReset_ = false;
  bool rulesLoaded_ = false;
  std::u16string rulesFailureShown_;
  std::u16string serviceFailureShown_;
  // Refused recipients already told, and those still to tell in the next mail.
  std::vector<std::u16string> refusedTold_;
  std::u16string refusedToMail_;
  // How often in a row each kept mail was refused for good.
  std::vector<std::pair<std::string, int>> refusals_;
  HeartbeatCounts heartbeat_;
};

// The production sources: exported logs through the program's own reader
// (opened afresh for each cycle), the rules file through the rules loader.
class LogSourceChoice final : public LogSources {
 public:
  explicit LogSourceChoice(EventLogSource& live) : live_(live), liveChannels_(live) {}
  LogSourceChoice(EventLogSource& live, EventLogSource& liveChannels)
      : live_(live), liveChannels_(liveChannels) {}
  EventLogSource& For(const std::filesystem::path& folder) override;
  EventLogSource& ChannelsFor(const std::filesystem::path& folder) override;

 private:
  EventLogSource& live_;
  EventLogSource& liveChannels_;
  std::optional<EvtFileSource> files_;
};

class RulesFile final : public RulesSource {
 public:
  bool Load(const std::filesystem::path& rulesFile, RuleSet& rules, MessageBoxes& boxes) override;
};

}  // namespace zkq
