#pragma once
// Runs a session over a PosixSocket: waits with poll() for the armed event or
// the end of the time-out, whichever comes first, and hands it to the session.
#include <chrono>
#include <optional>

#include "mail/posix/posix_socket.h"
#include "mail/smtp_session.h"

namespace zkq::posix {

class PollLoop : public SessionTimer {
 public:
  using Clock = std::chrono::steady_clock;

  void Start(std::int32_t milliseconds) override;
  void Stop() override { deadline_.reset(); }

  // Returns when the session has ended. The time-out is checked before every
  // wait, so a server that keeps the socket busy cannot hold the send past it.
  void Run(SmtpSession& session, PosixSocket& socket);

 private:
  std::optional<Clock::time_point> deadline_;
};

}  // namespace zkq::posix
