#include "mail/tls_socket.h"

#include <algorithm>
#include <array>
#include <utility>

#include "mail/socket_errors.h"

namespace zkq {
namespace {

// One raw receive call takes at most this much: a whole record and its header.
constexpr std::size_t kRawRoom = 17 * 1024;
// A receive stops filling the engine after this much, so that a fast server
// cannot keep one event busy for ever.
constexpr std::size_t kFillLimit = 256 * 1024;
// Plain text encrypted per Send call: the session's batch goes out in pieces,
// each sent before the next is taken, so the ciphertext held here stays small.
constexpr std::size_t kEncryptChunk = 64 * 1024;
constexpr std::int32_t kWsaNotConnected = 10057;

}  // namespace

TlsSocket::TlsSocket(SocketPort& raw, std::unique_ptr<TlsEngine> engine)
    : raw_(raw), engine_(std::move(engine)) {}

void TlsSocket::Reset() {
  mode_ = Mode::Plain;
  armed_.reset();
  out_.clear();
  outSent_ = 0;
  maybePlain_ = peerClosed_ = false;
  failure_ = fillError_ = 0;
}

std::int32_t TlsSocket::Open() {
  Reset();
  return raw_.Open();
}

std::int32_t TlsSocket::Connect(std::u16string_view host, std::uint16_t port) {
  return raw_.Connect(host, port);
}

void TlsSocket::Close() {
  raw_.Close();
  Reset();
}

std::int32_t TlsSocket::StartTls(std::u16string_view serverName) {
  if (mode_ != Mode::Plain || engine_ == nullptr) return kTlsUnavailable;
  if (const std::int32_t error = engine_->Begin(serverName); error != 0) return error;
  mode_ = Mode::Handshake;
  armed_.reset();
  const std::int32_t step = engine_->Handshake();
  TakeEngineOutput();
  if (step != kWsaWouldBlock && step != 0) return step;
  Pump();
  if (failure_ != 0) return kTlsHandshakeFailed;
  Rearm();
  return 0;
}

std::int32_t TlsSocket::Arm(SocketEvent event) {
  armed_ = event;
  if (mode_ == Mode::Plain) return raw_.Arm(event);
  // During the handshake the raw socket is armed for it; the session's wish
  // counts once it has ended.
  if (mode_ != Mode::Secured) return 0;
  return Rearm();
}

Transfer TlsSocket::Send(std::span<const char> bytes) {
  if (mode_ == Mode::Plain) return raw_.Send(bytes);
  if (mode_ == Mode::Handshake) return {0, kWsaWouldBlock};
  if (mode_ == Mode::Failed) return {0, kWsaNotConnected};
  Pump();
  if (failure_ != 0) return {0, failure_};
  // Earlier records still waiting: take nothing more until they are out.
  if (!out_.empty()) {
    Rearm();
    return {0, kWsaWouldBlock};
  }
  const std::span<const char> piece = bytes.first(std::min(bytes.size(), kEncryptChunk));
  if (const std::int32_t error = engine_->Encrypt(piece); error != 0) return {0, error};
  TakeEngineOutput();
  Pump();
  if (failure_ != 0) return {0, failure_};
  Rearm();
  return {piece.size(), 0};
}

Transfer TlsSocket::Receive(std::span<char> buffer) {
  if (mode_ == Mode::Plain) return raw_.Receive(buffer);
  if (mode_ == Mode::Handshake) return {0, kWsaWouldBlock};
  if (mode_ == Mode::Failed) return {0, kWsaNotConnected};
  ++receives_;
  if (failure_ != 0) return {0, failure_};
  for (;;) {
    if (maybePlain_) {
      const Transfer got = engine_->Decrypt(buffer);
      // A renegotiation or a key update may have something to answer.
      TakeEngineOutput();
      Pump();
      if (got.error != kWsaWouldBlock) {
        if (got.error != 0 || got.bytes == 0) maybePlain_ = false;
        // More may wait in the engine: the session hears of it by another Read.
        Rearm();
        return got;
      }
      maybePlain_ = false;
    }
    if (peerClosed_) return {0, fillError_};
    switch (FillFromRaw()) {
      case Fill::Got:
        maybePlain_ = true;
        break;
      case Fill::WouldBlock:
        Rearm();
        return {0, kWsaWouldBlock};
      case Fill::Closed:
        // Whatever came before the end is still read first.
        peerClosed_ = true;
        maybePlain_ = true;
        break;
      case Fill::Failed:
        peerClosed_ = true;
        maybePlain_ = true;
        break;
    }
  }
}

void TlsSocket::OnSocketEvent(SocketEvent event, std::int32_t error) {
  switch (mode_) {
    case Mode::Plain:
      Tell(event, error);
      break;
    case Mode::Handshake:
      OnHandshakeEvent(event, error);
      break;
    case Mode::Secured:
      OnSecuredEvent(event, error);
      break;
    case Mode::Failed:
      break;
  }
}

void TlsSocket::OnHandshakeEvent(SocketEvent event, std::int32_t error) {
  if (error != 0) {
    FinishHandshake(kTlsHandshakeFailed);
    return;
  }
  if (event == SocketEvent::Write) {
    Pump();
    if (failure_ != 0) {
      FinishHandshake(kTlsHandshakeFailed);
      return;
    }
    Rearm();
    return;
  }
  if (event != SocketEvent::Read) return;
  const Fill fill = FillFromRaw();
  // Even after the server hung up, what it sent may hold its alert.
  const std::int32_t step = engine_->Handshake();
  TakeEngineOutput();
  Pump();
  if (step == 0) {
    mode_ = Mode::Secured;
    // Application data may have come in the same flight as the last handshake message.
    maybePlain_ = true;
    FinishHandshake(0);
    return;
  }
  if (step != kWsaWouldBlock) {
    FinishHandshake(step);
    return;
  }
  if (fill == Fill::Closed || fill == Fill::Failed || failure_ != 0) {
    FinishHandshake(kTlsHandshakeFailed);
    return;
  }
  Rearm();
}

void TlsSocket::FinishHandshake(std::int32_t code) {
  if (code != 0) {
    // Nothing more of this connection is of use: its events are dropped until
    // the session closes it.
    mode_ = Mode::Failed;
    armed_.reset();
  } else if (armed_) {
    // What the session armed while it waited now takes effect.
    Rearm();
  }
  Tell(SocketEvent::Tls, code);
}

void TlsSocket::OnSecuredEvent(SocketEvent event, std::int32_t error) {
  if (event == SocketEvent::Write) {
    Pump();
    if (error != 0 && failure_ == 0) failure_ = error;
    if (!out_.empty() && failure_ == 0) {
      Rearm();
      return;
    }
    // The records are out: the session's own wish decides what it hears.
    if (armed_ == SocketEvent::Write) {
      Tell(SocketEvent::Write, 0);
    } else if (armed_ == SocketEvent::Read && ReadReady()) {
      const std::size_t before = receives_;
      Tell(SocketEvent::Read, 0);
      // A session that let the wake-up pass without reading is woken again
      // when it next arms Read, not at once, for ever.
      if (mode_ == Mode::Secured && receives_ == before && armed_ == SocketEvent::Read) {
        raw_.Arm(SocketEvent::Read);
      }
    } else {
      Rearm();
    }
    return;
  }
  if (event == SocketEvent::Read) Tell(event, error);
}

TlsSocket::Fill TlsSocket::FillFromRaw() {
  std::array<char, kRawRoom> buffer;
  std::size_t total = 0;
  while (total < kFillLimit) {
    const Transfer got = raw_.Receive(buffer);
    if (got.error == kWsaWouldBlock) return total > 0 ? Fill::Got : Fill::WouldBlock;
    if (got.error != 0) {
      // A reset after the last record: that record is still read first.
      fillError_ = got.error;
      if (total > 0) return Fill::Got;
      return Fill::Failed;
    }
    if (got.bytes == 0) {
      if (total > 0) return Fill::Got;
      return Fill::Closed;
    }
    const std::size_t taken = std::min(got.bytes, buffer.size());
    engine_->Put(std::span<const char>(buffer.data(), taken));
    total += taken;
  }
  return Fill::Got;
}

void TlsSocket::TakeEngineOutput() {
  std::string more = engine_->TakeOutput();
  if (more.empty()) return;
  if (outSent_ > 0) {
    out_.erase(0, outSent_);
    outSent_ = 0;
  }
  out_ += more;
}

// Sends what the raw socket takes; the rest waits for its Write event.
void TlsSocket::Pump() {
  while (outSent_ < out_.size() && failure_ == 0) {
    const std::span<const char> rest(out_.data() + outSent_, out_.size() - outSent_);
    const Transfer sent = raw_.Send(rest);
    if (sent.error == kWsaWouldBlock || (sent.error == 0 && sent.bytes == 0)) return;
    if (sent.error != 0) {
      failure_ = sent.error;
      return;
    }
    outSent_ += std::min(sent.bytes, rest.size());
  }
  out_.clear();
  outSent_ = 0;
}

// What the raw socket waits for. Records still to go come first. A session
// that waits to read while the engine may hold plain text, or after the
// connection ended, is woken through the raw socket's Write event, which
// comes at once on a connected socket: no event may be lost waiting for data
// that the server has already sent.
std::int32_t TlsSocket::Rearm() {
  SocketEvent want = SocketEvent::Read;
  if (mode_ == Mode::Handshake) {
    want = out_.empty() ? SocketEvent::Read : SocketEvent::Write;
  } else if (!out_.empty() || armed_ == SocketEvent::Write ||
             (armed_ == SocketEvent::Read && ReadReady())) {
    want = SocketEvent::Write;
  }
  return raw_.Arm(want);
}

void TlsSocket::Tell(SocketEvent event, std::int32_t error) {
  if (events_ != nullptr) events_->OnSocketEvent(event, error);
}

}  // namespace zkq
