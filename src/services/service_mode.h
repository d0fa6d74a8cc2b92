#pragma once
// What running as a Windows service asks of the platform: the registration,
// the program's entries in the application event log, and the requests of the
// service controller. The Windows side is in services/win32.
#include <cstdint>
#include <string_view>

#include "base/ports.h"

namespace zkq {

// Registration with the service controller under the program's name.
class ServiceRegistration {
 public:
  virtual ~ServiceRegistration() = default;
  // Whether the service (and its event source) was registered or removed;
  // the caller tells the user.
  virtual RegistrationOutcome Install() = 0;
  virtual RegistrationOutcome Uninstall() = 0;
};

enum class EventEntryType { Error, Warning, Information };

// The event IDs of the executable's message table; each shows the entry's text.
inline constexpr std::uint32_t kFailureEventId = 1;
inline constexpr std::uint32_t kMessageEventId = 100;  // a message that would have been a box
inline constexpr std::uint32_t kPausedEventId = 109;
inline constexpr std::uint32_t kContinuedEventId = 110;

// The application event log under the program's event source.
class ServiceEventLog {
 public:
  virtual ~ServiceEventLog() = default;
  // One entry with its category and event ID; false when it was not written.
  virtual bool Write(EventEntryType type, std::uint16_t category, std::uint32_t eventId,
                     std::u16string_view text) = 0;
};

// Under the service controller nobody sees a message box, and one left open
// would stop the program for good: the message goes to the event log instead
// and the program carries on as if OK had been pressed.
class EventLogBoxes : public MessageBoxes {
 public:
  explicit EventLogBoxes(ServiceEventLog& log) : log_(log) {}
  void Show(const std::u16string& text, MessageIcon icon) override;

 private:
  ServiceEventLog& log_;
};

// The service controller's requests, as the dispatcher hands them on.
enum class ServiceRequest { Start, Stop, Pause, Continue, Control };

class ServiceRequestHandler {
 public:
  virtual ~ServiceRequestHandler() = default;
  // The handler's success flag: for Start, Pause and Continue whether the
  // service now is in the state asked for. controlCode is the controller's
  // code (Control carries custom codes and interrogations).
  virtual bool Handle(ServiceRequest request, std::uint32_t controlCode) = 0;
};

}  // namespace zkq
