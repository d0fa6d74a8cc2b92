#include "tool/zkq.h"

#include <array>
#include <filesystem>
#include <optional>

#include "base/files.h"
#include "base/system_time_zone.h"
#include "base/text.h"
#include "config/settings.h"
#include "eventlog/event_message.h"
#include "eventlog/evt_file.h"
#include "eventlog/evtx_file.h"
#include "eventlog/no_lookups.h"
#include "eventlog/reader.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"
#include "rules/matching.h"
#include "rules/rules_file.h"

namespace zkq {
namespace {

// Rows go out through one buffer, written in large pieces.
constexpr std::size_t kFlushAt = 1 << 20;

struct Args {
  std::vector<std::u16string> positional;
  std::optional<std::u16string> since, rules, dir, state;
  bool messages = false, noMessages = false, xml = false;
};

int Usage(Output& err, std::u16string_view problem) {
  Tell(err, problem);
  err.Write(kZkqUsage);
  return 2;
}

std::optional<Args> Parse(const std::vector<std::u16string>& args, std::size_t from, Output& err) {
  Args parsed;
  for (std::size_t i = from; i < args.size(); ++i) {
    std::optional<std::u16string>* option = nullptr;
    if (args[i] == u"--since") option = &parsed.since;
    if (args[i] == u"--rules") option = &parsed.rules;
    if (args[i] == u"--dir") option = &parsed.dir;
    if (args[i] == u"--state") option = &parsed.state;
    if (args[i] == u"--xml") {
      parsed.xml = true;
      continue;
    }
    if (args[i] == u"--messages" || args[i] == u"--no-messages") {
      (args[i] == u"--messages" ? parsed.messages : parsed.noMessages) = true;
      continue;
    }
    if (option == nullptr) {
      if (args[i].starts_with(u"--")) {
        Usage(err, u"unknown option " + args[i]);
        return std::nullopt;
      }
      parsed.positional.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size()) {
      Usage(err, args[i] + u" needs a value");
      return std::nullopt;
    }
    *option = args[++i];
  }
  return parsed;
}

// The stamp given with --since, split as DateStamp and TimeStamp; no --since
// gives an empty stamp, which lists every record.
bool SplitSince(const std::optional<std::u16string>& since, std::u16string& date,
                std::u16string& time, TimeZone& zone, Output& err) {
  if (!since) return true;
  const std::u16string text = Trim(*since);
  const std::size_t blank = text.find(u' ');
  date = text.substr(0, blank);
  time = blank == std::u16string::npos ? u"" : Trim(text.substr(blank));
  if (!StampUtcSeconds(date, time, zone)) {
    Usage(err, u"--since \"" + *since + u"\" is no date and time (yyyy/mm/dd hh:mm:ss)");
    return false;
  }
  return true;
}

std::u16string OpenErrorText(EvtOpenError error) {
  switch (error) {
    case EvtOpenError::Missing:
      return u": no such file";
    case EvtOpenError::NotRegularFile:
      return u": not a regular file";
    case EvtOpenError::Unreadable:
      return u": cannot be read";
    case EvtOpenError::NotEventLog:
      return u": not an event log file (.evt, .evtx)";
    case EvtOpenError::None:
      break;
  }
  return u"";
}

void AppendColumn(std::string& out, std::u16string_view text, char end) {
  AppendUtf8(out, text);
  out += end;
}

// Every record of an .evtx file as its XML, newest first.
int RowsXml(const std::u16string& file, Output& out, Output& err, MessageTables& tables) {
  std::unique_ptr<EvtxFile> evtx = OpenEvtxFile(std::filesystem::path(file));
  if (!evtx) {
    Tell(err, file, u": not an .evtx file, or it cannot be read");
    return 1;
  }
  std::string buffer;
  const std::size_t damaged = ForEachEvtxXml(*evtx, [&](std::u16string_view xml) {
    AppendUtf8(buffer, xml);
    buffer += '\n';
    if (buffer.size() >= kFlushAt) {
      out.Write(buffer);
      buffer.clear();
    }
  });
  out.Write(buffer);
  if (damaged != 0) {
    Tell(err, file + u": ",
        ReplaceAll(ReadFailureText(kErrorEventlogFileCorrupt, tables), u"\r\n", u" "));
    return 1;
  }
  return 0;
}

int Rows(const Args& args, Output& out, Output& err, AccountNames& accounts, MessageTables& tables,
         TimeZone& zone) {
  if (args.positional.size() != 1 || args.rules || args.dir || args.state || args.noMessages ||
      (args.xml && (args.since || args.messages))) {
    return Usage(err, u"rows takes one log file, --since and --messages, or --xml alone");
  }
  if (args.xml) return RowsXml(args.positional[0], out, err, tables);
  std::u16string date, time;
  if (!SplitSince(args.since, date, time, zone, err)) return 2;
  const std::u16string& file = args.positional[0];
  EvtOpenResult opened = OpenEvtFile(std::filesystem::path(file));
  if (opened.error != EvtOpenError::None) {
    Tell(err, file, OpenErrorText(opened.error));
    return 1;
  }

  const std::u16string logName = std::filesystem::path(file).stem().u16string();
  EventRowDecoder decoder(logName, accounts, tables);
  std::optional<EventMessages> messages;
  if (args.messages) {
    messages.emplace(tables);
  } else {
    decoder.LeaveStringsOut();
  }
  std::u16string detail;
  std::string buffer;
  buffer.reserve(kFlushAt + 4096);
  const std::uint32_t code = ForEachEventRow(
      *opened.log, decoder, StampUtcSeconds(date, time, zone), [&](const EventRowView& row) {
        AppendColumn(buffer, row.type, '\t');
        AppendColumn(buffer, row.date, '\t');
        AppendColumn(buffer, row.time, '\t');
        AppendColumn(buffer, row.source, '\t');
        AppendColumn(buffer, row.category, '\t');
        AppendColumn(buffer, row.eventId, '\t');
        AppendColumn(buffer, row.user, '\t');
        AppendColumn(buffer, row.computer, '\n');
        if (messages) {
          detail.clear();
          messages->AppendDetail(detail, logName, row);
          // The rows' own line ends: the detail's CR are its line ends alone.
          std::erase(detail, u'\r');
          AppendUtf8(buffer, detail);
        }
        if (buffer.size() >= kFlushAt) {
          out.Write(buffer);
          buffer.clear();
        }
      });
  out.Write(buffer);
  if (code != 0) {
    Tell(err, file + u": ", ReplaceAll(ReadFailureText(code, tables), u"\r\n", u" "));
    return 1;
  }
  return 0;
}

// The folder's logs, remembering whether any file was no event log.
class CheckedSource : public EventLogSource {
 public:
  CheckedSource(const std::filesystem::path& dir, Output& err) : files_(dir), err_(err) {}
  std::unique_ptr<EventLog> Open(std::u16string_view, std::u16string_view logName,
                                 std::uint32_t&) override {
    const std::filesystem::path path = files_.PathOf(logName);
    EvtOpenResult opened = OpenEvtFile(path);
    if (opened.error == EvtOpenError::Missing) return EmptyEventLog();
    if (opened.error != EvtOpenError::None) {
      Tell(err_, path.u16string(), OpenErrorText(opened.error));
      failed_ = true;
      return EmptyEventLog();  // already told; the other logs are still checked
    }
    return std::move(opened.log);
  }
  bool Failed() const { return failed_; }

 private:
  EvtFileSource files_;
  Output& err_;
  bool failed_ = false;
};

int Check(const Args& args, Output& out, Output& err, AccountNames& accounts, MessageTables& tables,
          TimeZone& zone) {
  if (!args.positional.empty() || !args.rules || !args.dir || args.messages || args.xml) {
    return Usage(err, u"check takes --rules RULES and --dir DIR");
  }
  std::u16string date, time;
  if (!SplitSince(args.since, date, time, zone, err)) return 2;
  const std::filesystem::path dir(*args.dir);
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    Tell(err, *args.dir, u": no such folder");
    return 1;
  }

  BoxesAsLines boxes(err);
  RuleSet rules;
  if (!LoadRuleLists(std::filesystem::path(*args.rules), rules, boxes)) return 1;
  // The monitor skips lines of a kind it does not know without a word; an
  // administrator testing a rules file wants to hear of them.
  std::vector<SkippedRuleLine> skipped;
  if (const std::optional<std::string> bytes = ReadWholeFile(std::filesystem::path(*args.rules))) {
    RuleSet again;
    ParseRuleLists(*bytes, again, &skipped);
  }
  for (const SkippedRuleLine& line : skipped) {
    std::u16string where = *args.rules + u":";
    AppendDecimal(where, static_cast<std::uint32_t>(line.number));
    Tell(err, where + u": skipped, ", line.Reason());
  }

  // With --state, the bookmarks are kept there as the monitor keeps them in
  // its settings file, so that each run alerts only what is new.
  std::optional<SettingsFile> state;
  if (args.state) state.emplace(std::filesystem::path(*args.state), boxes);
  CheckedSource logs(dir, err);
  EventLogContext context{logs, accounts, tables, boxes, zone};
  std::u16string alertText;
  EventList matches;
  std::optional<EventMessages> messages;
  if (!args.noMessages) messages.emplace(tables);
  // section, key, bookmark
  std::vector<std::array<std::u16string, 3>> bookmarks;
  auto check = [&](const AlertLog& log, const std::vector<MonitoringRule>& logRules,
                   std::u16string_view section, std::u16string key) {
    std::optional<LogBookmark> bookmark;
    if (state) bookmark = ParseBookmark(state->ReadIniString(section, key));
    matches.clear();
    const LogReading reading = ReadNewEventLogRows(
        [&](const EventRowView& row) {
          if (RowPasses(logRules, row)) matches.push_back(row.ToRow());
        },
        log.logName, u"", date, time, bookmark, context);
    if (reading.bookmark)
      bookmarks.push_back({std::u16string(section), std::move(key), BookmarkText(*reading.bookmark)});
    AppendAlertSection(alertText, log, LogNoticeText(reading), matches,
                       messages ? &*messages : nullptr);
  };
  for (const AlertLog& log : kAlertLogs)
    check(log, rules[log.rules], kSettingsSection, std::u16string(log.logName) + u"Bookmark");
  // The channels from their .evtx files, named as Windows names them.
  for (const ChannelRules& channel : rules.channels) {
    check(AlertLog{channel.channel, RuleLog::Channel, channel.channel}, channel.rules,
          u"Bookmarks", channel.channel);
  }
  if (state) {
    std::vector<std::array<std::u16string_view, 3>> entries;
    for (const auto& [section, key, value] : bookmarks) entries.push_back({section, key, value});
    // A state that cannot be kept would alert the same records next time.
    if (!entries.empty() && !state->WriteIniEntries(entries)) return 1;
  }
  // The text is what the cycle would have made of the logs it could read; a
  // log it could not read still makes the command fail.
  std::string text;
  AppendUtf8(text, alertText);
  out.Write(text);
  return logs.Failed() || boxes.Shown() != 0 ? 1 : 0;
}

}  // namespace

void Tell(Output& output, std::u16string_view a, std::u16string_view b) {
  std::string line = "zkq: ";
  AppendUtf8(line, a);
  AppendUtf8(line, b);
  line += '\n';
  output.Write(line);
}

void BoxesAsLines::Show(const std::u16string& text, MessageIcon) {
  Tell(output_, ReplaceAll(text, u"\r\n", u" "));
  ++shown_;
}

int RunZkq(const std::vector<std::u16string>& args, Output& out, Output& err) {
  NoAccountNames accounts;
  NoMessageTables tables;
  SystemTimeZone zone;
  return RunZkq(args, out, err, accounts, tables, zone);
}

int RunZkq(const std::vector<std::u16string>& args, Output& out, Output& err,
           AccountNames& accounts, MessageTables& tables, TimeZone& zone) {
  if (args.empty()) return Usage(err, u"which command?");
  if (args[0] == u"-h" || args[0] == u"--help" || args[0] == u"help") {
    out.Write(kZkqUsage);
    return 0;
  }
  const std::optional<Args> parsed = Parse(args, 1, err);
  if (!parsed) return 2;
  if (args[0] == u"rows") return Rows(*parsed, out, err, accounts, tables, zone);
  if (args[0] == u"check") return Check(*parsed, out, err, accounts, tables, zone);
  return Usage(err, u"unknown command " + args[0]);
}

}  // namespace zkq
