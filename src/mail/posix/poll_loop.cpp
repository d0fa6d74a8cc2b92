#include "mail/posix/poll_loop.h"

#include <poll.h>

#include <cerrno>

#include "mail/tls_socket.h"

namespace zkq::posix {

void PollLoop::Start(std::int32_t milliseconds) {
  deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds);
}

bool PollOnce(PosixSocket& socket, SocketEvents& events, int waitMilliseconds) {
  const std::optional<SocketEvent> armed = socket.Armed();
  if (!armed || socket.Descriptor() < 0) return false;
  pollfd entry{socket.Descriptor(),
               static_cast<short>(*armed == SocketEvent::Read ? POLLIN : POLLOUT), 0};
  const int ready = ::poll(&entry, 1, waitMilliseconds);
  if (ready < 0 && errno != EINTR) {
    events.OnSocketEvent(*armed, WsaCodeOfErrno(errno));
    return true;
  }
  if (ready <= 0) return true;
  if (*armed == SocketEvent::Connect) {
    // A failed address gives way to the next one of the name.
    const std::optional<std::int32_t> outcome = socket.FinishConnect();
    if (outcome) events.OnSocketEvent(SocketEvent::Connect, *outcome);
    return true;
  }
  // Errors and hang-ups come out of the next call on the socket itself.
  events.OnSocketEvent(*armed, 0);
  return true;
}

void PollLoop::Run(SmtpSession& session, PosixSocket& socket, SocketEvents& events) {
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
    if (!PollOnce(socket, events, wait)) {
      // Nothing to wait for but the time-out; without one the send could never end.
      if (wait < 0) {
        session.Cancel();
        return;
      }
      ::poll(nullptr, 0, wait);
    }
  }
}

}  // namespace zkq::posix

namespace zkq {

SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes, std::u16string_view caFile) {
  posix::PosixSocket raw;
  TlsSocket socket(raw, MakeSystemTlsEngine(caFile));
  posix::PollLoop loop;
  SmtpSession session(request, socket, loop, observer, boxes);
  socket.Attach(&session);
  if (!session.StartSockets()) return session.Result();
  session.Send();
  loop.Run(session, raw, socket);
  return session.Result();
}

SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes) {
  return SendOverSystemSockets(request, observer, boxes, u"");
}

}  // namespace zkq
