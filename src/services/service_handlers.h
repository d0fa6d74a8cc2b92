#pragma once
// What the program does on each request of the service controller. The
// dispatcher hands the requests over on the user-interface thread; the
// handlers drive the monitor through MonitorControl and leave their entries in
// the application event log.
#include <cstdint>

#include "services/service_mode.h"

namespace zkq {

// The part of the monitor that a service request reaches.
class MonitorControl {
 public:
  virtual ~MonitorControl() = default;
  // Ends the program at once, whatever it is doing: a cycle in progress, a
  // mail being sent or a window left open is not waited for.
  virtual void EndProgram() = 0;
};

// The categories the entries carry, so that an administrator can tell them apart.
inline constexpr std::uint16_t kPausedCategory = 1;
inline constexpr std::uint16_t kContinuedCategory = 4;
inline constexpr std::uint16_t kFailureCategory = 109;

inline constexpr char16_t kServicePausedText[] = u"Service paused";
inline constexpr char16_t kServiceContinuedText[] = u"Service continued";

// Start, pause and continue only answer yes (pause and continue with their
// entries): monitoring goes on as it was, a paused service keeps its cycles.
// Stop ends the program; custom codes are ignored. A failure inside a handler
// becomes an error entry "[number] description", and the request is answered
// with whatever the handler had decided before it failed.
class ServiceHandlers : public ServiceRequestHandler {
 public:
  ServiceHandlers(ServiceEventLog& log, MonitorControl& monitor) : log_(log), monitor_(monitor) {}
  bool Handle(ServiceRequest request, std::uint32_t controlCode) override;

 private:
  ServiceEventLog& log_;
  MonitorControl& monitor_;
};

}  // namespace zkq
