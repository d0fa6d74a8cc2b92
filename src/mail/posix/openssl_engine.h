#pragma once
// The TLS engine on OpenSSL, over memory BIOs: TLS 1.2 and newer, the peer's
// certificate checked against the system's CA bundle (and an extra PEM file)
// and against the server name.
#include <openssl/ssl.h>

#include <memory>

#include "mail/tls_engine.h"

namespace zkq::posix {

class OpenSslEngine : public TlsEngine {
 public:
  // caFile: CA certificates (PEM) trusted beside the system's; "" for none.
  explicit OpenSslEngine(std::string caFile) : caFile_(std::move(caFile)) {}

  std::int32_t Begin(std::u16string_view serverName) override;
  void Put(std::span<const char> bytes) override;
  std::int32_t Handshake() override;
  std::int32_t Encrypt(std::span<const char> plain) override;
  Transfer Decrypt(std::span<char> buffer) override;
  std::string TakeOutput() override;

 private:
  struct FreeContext {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };
  struct FreeConnection {
    void operator()(SSL* connection) const { SSL_free(connection); }
  };

  std::string caFile_;
  std::unique_ptr<SSL_CTX, FreeContext> context_;
  std::unique_ptr<SSL, FreeConnection> connection_;
  BIO* input_ = nullptr;   // owned by connection_
  BIO* output_ = nullptr;  // owned by connection_
};

}  // namespace zkq::posix
