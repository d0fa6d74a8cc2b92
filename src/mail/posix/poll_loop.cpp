#include "mail/posix/poll_loop.h"

#include <poll.h>

#include <cerrno>

namespace zkq::posix {

void PollLoop::Start(std::int32_t milliseconds) {
  deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds);
}

void PollLoop::Run(SmtpSession& session, PosixSocket& socket) {
  while (session.Running()) {
    int wait = -1;
    if (deadline_) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now());
      if (left.count() <= 0) {
        deadline_.reset();
        session.OnTimeout();
        continue;
      }
      wait = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
    }
    const std::optional<SocketEvent> armed = socket.Armed();
    if (!armed || socket.Descriptor() < 0) {
      // Nothing to wait for but the time-out; without one the send could never end.
      if (wait < 0) {
        session.Cancel();
        return;
      }
      ::poll(nullptr, 0, wait);
      continue;
    }
    pollfd entry{socket.Descriptor(),
                 static_cast<short>(*armed == SocketEvent::Read ? POLLIN : POLLOUT), 0};
    const int ready = ::poll(&entry, 1, wait);
    if (ready < 0 && errno != EINTR) {
      session.OnSocketEvent(*armed, WsaCodeOfErrno(errno));
      continue;
    }
    if (ready <= 0) continue;
    // Errors and hang-ups come out of the next call on the socket itself.
    const std::int32_t error = *armed == SocketEvent::Connect ? socket.ConnectError() : 0;
    session.OnSocketEvent(*armed, error);
  }
}

}  // namespace zkq::posix

namespace zkq {

SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes) {
  posix::PosixSocket socket;
  posix::PollLoop loop;
  SmtpSession session(request, socket, loop, observer, boxes);
  if (!session.StartSockets()) return session.Result();
  session.Send();
  loop.Run(session, socket);
  return session.Result();
}

}  // namespace zkq
