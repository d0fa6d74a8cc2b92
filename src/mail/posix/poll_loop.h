#pragma once
// Runs a session over a PosixSocket: waits with poll() for the armed event or
// the end of the time-out, whichever comes first, and hands it on.
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

  // Returns when the session has ended. The socket's events go to events (the
  // session, or a TlsSocket over this socket). The time-out is checked before
  // every wait, so a server that keeps the socket busy cannot hold the send
  // past it.
  void Run(SmtpSession& session, PosixSocket& socket, SocketEvents& events);
  void Run(SmtpSession& session, PosixSocket& socket) { Run(session, socket, session); }

 private:
  std::optional<Clock::time_point> deadline_;
};

// Waits up to waitMilliseconds (-1: without end) for the event the socket has
// armed and hands it to events. False when nothing is armed.
bool PollOnce(PosixSocket& socket, SocketEvents& events, int waitMilliseconds);

}  // namespace zkq::posix
