#include "rules/matching.h"

#include <new>

namespace zkq {

void MatchEvents(const std::vector<MonitoringRule>& rules, const EventList& events,
                 EventList& matches) {
  matches.clear();
  for (const auto& row : events) {
    if (RowPasses(rules, row)) AddEventRow(matches, row);
  }
}

void AddEventRow(EventList& list, const EventRow& row) {
  try {
    list.push_back(row);
  } catch (const std::bad_alloc&) {
    // A row that cannot be held is left out; the cycle still mails the others.
  }
}

void AppendAlertSection(std::u16string& alertText, std::u16string_view displayName,
                        const EventList& matches) {
  AppendAlertSection(alertText, displayName, u"", matches);
}

void AppendAlertSection(std::u16string& alertText, std::u16string_view displayName,
                        std::u16string_view notice, const EventList& matches) {
  AppendAlertSection(alertText, AlertLog{u"", RuleLog::System, displayName}, notice, matches,
                     nullptr);
}

void AppendAlertSection(std::u16string& alertText, const AlertLog& log,
                        std::u16string_view notice, const EventList& matches,
                        EventMessages* messages) {
  if (matches.empty() && notice.empty()) return;
  try {
    alertText += u"［";
    alertText += log.displayName;
    alertText += u"］\r\n";
    alertText += notice;
    for (const auto& row : matches) {
      if (messages != nullptr) {
        const std::u16string_view category = messages->AlertCategory(log.logName, row);
        if (category.data() != row.category.data()) {
          EventRow shown = row;
          shown.category = category;
          AppendAlertLine(alertText, shown);
        } else {
          AppendAlertLine(alertText, row);
        }
        messages->AppendDetail(alertText, log.logName, row);
      } else {
        AppendAlertLine(alertText, row);
      }
    }
  } catch (const std::bad_alloc&) {
    // Out of memory part-way: what is already in the alert text still goes out.
  }
}

}  // namespace zkq
