#include "mail/posix/posix_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "mail/socket_errors.h"

namespace zkq::posix {
namespace {

struct ErrnoCode {
  int error;
  std::int32_t code;
};

constexpr ErrnoCode kCodes[] = {
    {EINTR, 10004},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EAGAIN, kWsaWouldBlock},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, kWsaConnectionReset},
    // Writing to a connection the server has closed.
    {EPIPE, kWsaConnectionReset},
    {ENOBUFS, 10055},
    {ENOMEM, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
};

std::int32_t LastError() { return WsaCodeOfErrno(errno); }

std::int32_t ResolveFailure(int gaiError) {
  switch (gaiError) {
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return 11004;
#endif
    default:
      return kWsaHostNotFound;
  }
}

}  // namespace

std::int32_t WsaCodeOfErrno(int error) {
  if (error == EWOULDBLOCK) return kWsaWouldBlock;
  for (const ErrnoCode& row : kCodes) {
    if (row.error == error) return row.code;
  }
  return error;
}

std::int32_t PosixSocket::Open() {
  Close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  return fd_ < 0 ? LastError() : 0;
}

std::int32_t PosixSocket::Connect(std::u16string_view host, std::uint16_t port) {
  if (fd_ < 0) return 10038;
  // An empty name is nothing to look up.
  if (host.empty()) return kWsaHostNotFound;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(ToUtf8(host).c_str(), nullptr, &hints, &found); error != 0) {
    return ResolveFailure(error);
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  address.sin_port = htons(port);

  armed_ = SocketEvent::Connect;
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
  return errno == EINPROGRESS ? 0 : LastError();
}

Transfer PosixSocket::Send(std::span<const char> bytes) {
  const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (sent < 0) return {0, LastError()};
  return {static_cast<std::size_t>(sent), 0};
}

Transfer PosixSocket::Receive(std::span<char> buffer) {
  const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
  if (got < 0) return {0, LastError()};
  return {static_cast<std::size_t>(got), 0};
}

std::int32_t PosixSocket::Arm(SocketEvent event) {
  if (fd_ < 0) return 10038;
  armed_ = event;
  return 0;
}

void PosixSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  armed_.reset();
}

std::int32_t PosixSocket::ConnectError() const {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return LastError();
  return error == 0 ? 0 : WsaCodeOfErrno(error);
}

std::u16string PosixSocket::LocalAddress() {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  char text[INET6_ADDRSTRLEN] = {};
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
    return u"";
  }
  return FromUtf8(text);
}

}  // namespace zkq::posix
