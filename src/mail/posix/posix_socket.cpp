#include "mail/posix/posix_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

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

// The socket itself is made per address in Connect, of that address's family.
std::int32_t PosixSocket::Open() {
  Close();
  opened_ = true;
  return 0;
}

std::int32_t PosixSocket::Connect(std::u16string_view host, std::uint16_t port) {
  if (!opened_) return 10038;
  // An empty name is nothing to look up.
  if (host.empty()) return kWsaHostNotFound;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int error = ::getaddrinfo(ToUtf8(host).c_str(), service.c_str(), &hints, &found);
      error != 0) {
    return ResolveFailure(error);
  }
  addresses_.clear();
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    sockaddr_storage address{};
    std::memcpy(&address, entry->ai_addr, std::min<std::size_t>(entry->ai_addrlen, sizeof address));
    addresses_.push_back({address, static_cast<socklen_t>(entry->ai_addrlen)});
  }
  ::freeaddrinfo(found);
  next_ = 0;
  return ConnectNext();
}

// Starts connecting to the next address of the list; the error of the last
// one when none is left.
std::int32_t PosixSocket::ConnectNext() {
  std::int32_t error = kWsaHostNotFound;
  while (next_ < addresses_.size()) {
    const Address& address = addresses_[next_++];
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      error = LastError();
      continue;
    }
    armed_ = SocketEvent::Connect;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0 ||
        errno == EINPROGRESS) {
      return 0;
    }
    error = LastError();
  }
  armed_.reset();
  return error;
}

std::optional<std::int32_t> PosixSocket::FinishConnect() {
  const std::int32_t error = ConnectError();
  if (error == 0 || next_ >= addresses_.size()) return error;
  if (ConnectNext() == 0) return std::nullopt;
  return error;
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
  opened_ = false;
  armed_.reset();
  addresses_.clear();
  next_ = 0;
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
