#pragma once
// The socket port with TLS: a decorator over the raw socket of this system and
// a TlsEngine. Until StartTls it passes everything through; during the
// handshake it answers the raw socket's events itself and ends with one
// SocketEvent::Tls; afterwards Send and Receive carry plain text, and the Read
// and Write events the session sees mean plain text to take or room to write.
#include <memory>
#include <optional>
#include <string>

#include "base/ports.h"
#include "mail/send_result.h"
#include "mail/socket_port.h"
#include "mail/tls_engine.h"

namespace zkq {

struct SmtpRequest;
class SendObserver;

class TlsSocket : public SocketPort, public SocketEvents {
 public:
  // raw delivers its events to this object (OnSocketEvent).
  TlsSocket(SocketPort& raw, std::unique_ptr<TlsEngine> engine);
  TlsSocket(const TlsSocket&) = delete;
  TlsSocket& operator=(const TlsSocket&) = delete;

  // Where the events go: the session.
  void Attach(SocketEvents* events) { events_ = events; }

  std::u16string Start() override { return raw_.Start(); }
  void Stop() override { raw_.Stop(); }
  std::int32_t Open() override;
  std::int32_t Connect(std::u16string_view host, std::uint16_t port) override;
  Transfer Send(std::span<const char> bytes) override;
  Transfer Receive(std::span<char> buffer) override;
  std::int32_t Arm(SocketEvent event) override;
  void Close() override;
  std::int32_t StartTls(std::u16string_view serverName) override;
  std::u16string LocalAddress() override { return raw_.LocalAddress(); }

  // The raw socket's events.
  void OnSocketEvent(SocketEvent event, std::int32_t error) override;

 private:
  enum class Mode { Plain, Handshake, Secured, Failed };
  enum class Fill { Got, WouldBlock, Closed, Failed };

  void Reset();
  void OnHandshakeEvent(SocketEvent event, std::int32_t error);
  void OnSecuredEvent(SocketEvent event, std::int32_t error);
  void FinishHandshake(std::int32_t code);
  Fill FillFromRaw();
  void TakeEngineOutput();
  void Pump();
  std::int32_t Rearm();
  bool ReadReady() const { return maybePlain_ || peerClosed_ || failure_ != 0; }
  void Tell(SocketEvent event, std::int32_t error);

  SocketPort& raw_;
  std::unique_ptr<TlsEngine> engine_;
  SocketEvents* events_ = nullptr;

  Mode mode_ = Mode::Plain;
  std::optional<SocketEvent> armed_;  // what the session armed
  std::string out_;                   // ciphertext not yet taken by the raw socket
  std::size_t outSent_ = 0;
  // Decrypt may have plain text: new ciphertext came, or the last call gave bytes.
  bool maybePlain_ = false;
  bool peerClosed_ = false;
  std::int32_t failure_ = 0;  // a send of queued ciphertext failed
  std::int32_t fillError_ = 0;
  std::size_t receives_ = 0;  // Receive calls while secured
};

// SendOverSystemSockets (smtp_session.h) with TLS available to the session:
// the system's engine, trusting caFile's CA certificates too when it is given.
SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes, std::u16string_view caFile);

}  // namespace zkq
