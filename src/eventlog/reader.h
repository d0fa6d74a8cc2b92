#pragma once
// ReadEventLogRows: one log into event rows, newest first, from the stamp on.
#include <cstdint>
#include <string_view>

#include "base/ports.h"
#include "eventlog/event_row.h"
#include "eventlog/ports.h"

namespace zkq {

struct EventLogContext {
  EventLogSource& logs;
  AccountNames& accounts;
  MessageTables& tables;
  MessageBoxes& boxes;
};

// Clears list and appends a row for every record of logName written at or
// after "dateStamp timeStamp" (every record when the stamp is no date and time).
// Returns 0 when it ran, -1 when the list could not be cleared.
std::int32_t ReadEventLogRows(EventList& list, std::u16string_view logName,
                              std::u16string_view computerName, std::u16string_view dateStamp,
                              std::u16string_view timeStamp, EventLogContext& context);

}  // namespace zkq
