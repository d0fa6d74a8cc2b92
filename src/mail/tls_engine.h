#pragma once
// One client TLS connection kept off the network: ciphertext from the server
// goes in with Put, ciphertext for the server comes out of TakeOutput, and the
// handshake, Encrypt and Decrypt work on what was put so far. TlsSocket carries
// the bytes between an engine and the raw socket. OpenSSL with memory BIOs on
// Linux (posix/), Schannel through SSPI on Windows (win32/).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "mail/socket_port.h"

namespace zkq {

class TlsEngine {
 public:
  virtual ~TlsEngine() = default;

  // Starts a client handshake for serverName, the name (or address literal)
  // that the certificate must carry, forgetting any earlier connection.
  // 0 or a kTls* code.
  virtual std::int32_t Begin(std::u16string_view serverName) = 0;
  // Ciphertext received from the server.
  virtual void Put(std::span<const char> bytes) = 0;
  // Takes the handshake as far as what was put allows: 0 once it is done,
  // kWsaWouldBlock while it needs more from the server, or a kTls* code.
  virtual std::int32_t Handshake() = 0;
  // Adds the records of plain to the output: 0, or an error code.
  virtual std::int32_t Encrypt(std::span<const char> plain) = 0;
  // Plain text of the records put so far: some bytes; kWsaWouldBlock when no
  // whole record is there; nothing and no error when the server ended the TLS
  // session (close_notify); or an error code.
  virtual Transfer Decrypt(std::span<char> buffer) = 0;
  // The ciphertext that waits to go to the server, taken out of the engine.
  virtual std::string TakeOutput() = 0;
};

// The engine of this system: OpenSSL on Linux, Schannel on Windows. It trusts
// the system's roots and, when caFile is not empty, the CA certificates of that
// PEM file as well.
std::unique_ptr<TlsEngine> MakeSystemTlsEngine(std::u16string_view caFile);

}  // namespace zkq
