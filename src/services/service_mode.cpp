#include "services/service_mode.h"

namespace zkq {

void EventLogBoxes::Show(const std::u16string& text, MessageIcon icon) {
  const EventEntryType type = icon == MessageIcon::Exclamation ? EventEntryType::Warning
                              : icon == MessageIcon::Critical  ? EventEntryType::Error
                                                               : EventEntryType::Information;
  log_.Write(type, 0, kMessageEventId, text);
}

}  // namespace zkq
