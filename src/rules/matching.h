#pragma once
// Which event rows are worth an alert, and the alert text they make.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "eventlog/event_message.h"
#include "eventlog/event_row.h"
#include "rules/rules_file.h"

namespace zkq {

// The three event logs in the order a cycle examines them and the alert text
// lists them: the name the reader opens, the rule list, the section's display name.
struct AlertLog {
  std::u16string_view logName;
  RuleLog rules;
  std::u16string_view displayName;
};
inline constexpr std::array<AlertLog, 3> kAlertLogs = {{
    {u"System", RuleLog::System, u"システム"},
    {u"Security", RuleLog::Security, u"セキュリティ"},
    {u"Application", RuleLog::Application, u"アプリケーション"},
}};

// The width the event type is padded (or cut) to at the start of an alert line.
inline constexpr std::size_t kAlertTypeWidth = 6;

// True when rule covers an event with these fields. The type must be equal; a
// "*" stands for any value in its own field and in every field after it.
// Comparisons are exact and case-sensitive.
inline bool RuleCovers(const MonitoringRule& rule, std::u16string_view type,
                       std::u16string_view source, std::u16string_view category,
                       std::u16string_view eventId) {
  constexpr std::u16string_view kAny = u"*";
  if (rule.eventType != type) return false;
  if (rule.source == kAny) return true;
  if (rule.source != source) return false;
  if (rule.category == kAny) return true;
  if (rule.category != category) return false;
  return rule.eventId == kAny || rule.eventId == eventId;
}

// True when at least one include rule covers the row and no exclude rule does,
// whatever the order of the rules; rules with another target take no part.
// Row is EventRow or any row with the same members as texts or views, so a
// reader streaming its rows can filter without building them.
template <class Row>
bool RowPasses(const std::vector<MonitoringRule>& rules, const Row& row) {
  constexpr std::u16string_view kInclude = kIncludeTarget;
  constexpr std::u16string_view kExclude = kExcludeTarget;
  bool matched = false;
  for (const auto& rule : rules) {
    const bool include = rule.target == kInclude;
    if (!include && rule.target != kExclude) continue;
    if (!RuleCovers(rule, row.type, row.source, row.category, row.eventId)) continue;
    if (!include) return false;
    matched = true;
  }
  return matched;
}

// Empties matches, then appends every row of events that passes rules, in order.
void MatchEvents(const std::vector<MonitoringRule>& rules, const EventList& events,
                 EventList& matches);

// Appends one row to list.
void AddEventRow(EventList& list, const EventRow& row);

// Appends one alert line for row: the type padded with blanks or cut to six
// characters (UTF-16 code units), then date, time, source, category, event ID,
// user and computer, each after one blank, and CR LF.
template <class Row>
void AppendAlertLine(std::u16string& alertText, const Row& row) {
  const std::u16string_view type = row.type;
  const auto shown = type.substr(0, kAlertTypeWidth);
  alertText += shown;
  alertText.append(kAlertTypeWidth - shown.size(), u' ');
  for (const std::u16string_view field :
       {std::u16string_view(row.date), std::u16string_view(row.time),
        std::u16string_view(row.source), std::u16string_view(row.category),
        std::u16string_view(row.eventId), std::u16string_view(row.user),
        std::u16string_view(row.computer)}) {
    alertText += u' ';
    alertText += field;
  }
  alertText += u"\r\n";
}

// Appends the header line "［" display name "］" and one line per row of
// matches; appends nothing when matches is empty.
void AppendAlertSection(std::u16string& alertText, std::u16string_view displayName,
                        const EventList& matches);
// The same with notice (whole lines, each ending in CR LF) right under the
// header; a notice makes a section of its own even without matches.
void AppendAlertSection(std::u16string& alertText, std::u16string_view displayName,
                        std::u16string_view notice, const EventList& matches);
// The same for log, with each record's detail lines (EventMessages) under
// its line; without messages, exactly the section above.
void AppendAlertSection(std::u16string& alertText, const AlertLog& log,
                        std::u16string_view notice, const EventList& matches,
                        EventMessages* messages);

}  // namespace zkq
