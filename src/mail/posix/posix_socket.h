#pragma once
// The socket port on POSIX non-blocking sockets, for zkq on Linux and for the
// native tests. Events are not delivered by the socket itself: PollLoop waits
// for the armed one with poll().
#include <sys/socket.h>

#include <optional>
#include <vector>

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
  // A connect has finished: its outcome, or nothing when it failed and the
  // next address of the name is being tried (the Connect event is armed again).
  std::optional<std::int32_t> FinishConnect();

 private:
  struct Address {
    sockaddr_storage storage;
    socklen_t length;
  };
  std::int32_t ConnectNext();

  int fd_ = -1;
  bool opened_ = false;
  std::optional<SocketEvent> armed_;
  // Every address of the server's name, IPv6 and IPv4, in the resolver's order.
  std::vector<Address> addresses_;
  std::size_t next_ = 0;
};

// errno of a socket call as the Windows Sockets code of the same failure; an
// errno without one is passed on as it is.
std::int32_t WsaCodeOfErrno(int error);

}  // namespace zkq::posix
