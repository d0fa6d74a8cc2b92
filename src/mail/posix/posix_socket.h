#pragma once
// The socket port on POSIX non-blocking sockets, for zkq on Linux and for the
// native tests. Events are not delivered by the socket itself: PollLoop waits
// for the armed one with poll().
#include <optional>

#include "mail/socket_port.h"

namespace zkq::posix {

class PosixSocket : public SocketPort {
 public:
  PosixSocket() = default;
  PosixSocket(const PosixSocket&) = delete;
  PosixSocket& operator=(const PosixSocket&) = delete;
  ~PosixSocket() override { Close(); }

  std::u16string Start() override { return u""; }
  void Stop() override {}
  std::int32_t Open() override;
  std::int32_t Connect(std::u16string_view host, std::uint16_t port) override;
  Transfer Send(std::span<const char> bytes) override;
  Transfer Receive(std::span<char> buffer) override;
  std::int32_t Arm(SocketEvent event) override;
  void Close() override;
  std::u16string LocalAddress() override;

  int Descriptor() const { return fd_; }
  std::optional<SocketEvent> Armed() const { return armed_; }
  // The outcome of a finished connect (SO_ERROR), as a Windows Sockets code.
  std::int32_t ConnectError() const;

 private:
  int fd_ = -1;
  std::optional<SocketEvent> armed_;
};

// errno of a socket call as the Windows Sockets code of the same failure; an
// errno without one is passed on as it is.
std::int32_t WsaCodeOfErrno(int error);

}  // namespace zkq::posix
