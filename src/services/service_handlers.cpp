#include "services/service_handlers.h"

#include <exception>
#include <new>
#include <string>
#include <system_error>

#include "base/failure.h"
#include "base/text.h"

namespace zkq {
namespace {

// The failure's own number: a Failure's, the system's code of a system
// error, the runtime's for running out of memory; 0 for anything else.
int FailureNumber() noexcept {
  try {
    throw;
  } catch (const Failure& failure) {
    return failure.Number();
  } catch (const std::system_error& error) {
    return error.code().value();
  } catch (const std::bad_alloc&) {
    return kOutOfMemoryNumber;
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
