#include "services/service_handlers.h"

#include <exception>
#include <new>
#include <string>

#include "base/failure.h"
#include "base/text.h"

namespace zkq {
namespace {

// The runtime's numbers for the failures the program knows; 0 for any other.
int FailureNumber() noexcept {
  try {
    throw;
  } catch (const Failure& failure) {
    if (failure.Description() == kTypeMismatch) return 13;
    if (failure.Description() == kOverflow) return 6;
  } catch (const std::bad_alloc&) {
    return 7;
  } catch (...) {
  }
  return 0;
}

}  // namespace

bool ServiceHandlers::Handle(ServiceRequest request, std::uint32_t) {
  bool success = false;
  try {
    switch (request) {
      case ServiceRequest::Start:
        success = true;
        break;
      case ServiceRequest::Pause:
        log_.Write(EventEntryType::Information, kPausedCategory, kPausedEventId,
                   kServicePausedText);
        success = true;
        break;
      case ServiceRequest::Continue:
        success = true;
        log_.Write(EventEntryType::Information, kContinuedCategory, kContinuedEventId,
                   kServiceContinuedText);
        break;
      case ServiceRequest::Stop:
        monitor_.EndProgram();
        break;
      case ServiceRequest::Control:
        break;
    }
  } catch (...) {
    try {
      std::u16string text(u"[");
      text += FromUtf8(std::to_string(FailureNumber()));
      text += u"] ";
      text += CurrentFailureDescription();
      log_.Write(EventEntryType::Error, kFailureCategory, kFailureEventId, text);
    } catch (...) {
      // Not even the entry could be made; the answer stands.
    }
  }
  return success;
}

}  // namespace zkq
