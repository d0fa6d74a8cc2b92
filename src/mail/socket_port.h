#pragma once
// The one TCP connection that a mail send speaks SMTP over, as the session
// needs it: start and stop the socket library, open, connect, send, receive and
// arm one notification. Every error is a Windows Sockets code (socket_errors.h),
// whatever the system, so that the user reads the same texts everywhere.
//
// Nothing here waits. The connect, read and write readiness arrive later as
// events on the thread that runs the session (SocketEvents), delivered by the
// adapter's own loop: the Winsock adapter's hidden window, or posix::PollLoop.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zkq {

// Tls ends a handshake that StartTls began: error 0 when the connection is
// secured, else one of the kTls* codes of socket_errors.h.
enum class SocketEvent { Connect, Read, Write, Tls };

// What the adapter tells: connect finished, data can be read, or the socket can
// take more. error is 0, or the code of the failure that the event reports.
class SocketEvents {
 public:
  virtual ~SocketEvents() = default;
  virtual void OnSocketEvent(SocketEvent event, std::int32_t error) = 0;
};

// The outcome of one send or receive call. A receive of 0 bytes without error
// means the server closed the connection; kWsaWouldBlock means nothing could be
// moved yet (wait for the next event).
struct Transfer {
  std::size_t bytes = 0;
  std::int32_t error = 0;
};

class SocketPort {
 public:
  virtual ~SocketPort() = default;

  // Starts the socket library: "" when it can be used, else the message that
  // says why not.
  virtual std::u16string Start() = 0;
  // Releases what Start took; a second call does nothing.
  virtual void Stop() = 0;

  // Prepares the connection of one send: 0 or an error code. The stream
  // socket itself is made by Connect, of the family of each address.
  virtual std::int32_t Open() = 0;
  // Resolves the host (an IPv4 or IPv6 address, or a name) and starts
  // connecting to each of its addresses in turn until one answers; the Connect
  // event is armed by this call and tells the outcome of the last one tried.
  // 0 while the connect is under way, or the code of a failure known at once:
  // a host that does not resolve (kWsaHostNotFound and its kin), a refused
  // connect. An adapter that looks names up off the thread (Winsock) reports
  // a name that does not resolve as the Connect event's error instead.
  virtual std::int32_t Connect(std::u16string_view host, std::uint16_t port) = 0;
  // Hands bytes to the connection; it may take fewer than offered.
  virtual Transfer Send(std::span<const char> bytes) = 0;
  // One receive call into buffer.
  virtual Transfer Receive(std::span<char> buffer) = 0;
  // Arms one kind of event; it replaces the one armed before. 0 or an error code.
  virtual std::int32_t Arm(SocketEvent event) = 0;
  // Closes the socket; closing a closed socket does nothing.
  virtual void Close() = 0;

  // Secures the connected socket with TLS for serverName, the name the
  // server's certificate must carry (STARTTLS after its 220 reply, or right
  // after the Connect event for implicit TLS). Nothing waits: the handshake
  // runs on the adapter's own events and ends with one SocketEvent::Tls.
  // From then on Send and Receive carry plain text through TLS, and Read and
  // Write keep their meaning. 0 while the handshake is under way, or a kTls*
  // code known at once. A socket without a TLS layer answers kTlsUnavailable.
  virtual std::int32_t StartTls(std::u16string_view serverName);

  // The numeric local address of the connected socket ("192.0.2.10",
  // "2001:db8::1"), for the EHLO name of a machine without a DNS name; "" when
  // it cannot be had.
  virtual std::u16string LocalAddress();
};

// The inactivity time-out of one send, started and stopped by the session; the
// driver that owns it calls SmtpSession::OnTimeout when it runs out.
class SessionTimer {
 public:
  virtual ~SessionTimer() = default;
  // (Re)starts the period, whether or not it was running.
  virtual void Start(std::int32_t milliseconds) = 0;
  virtual void Stop() = 0;
};

}  // namespace zkq
