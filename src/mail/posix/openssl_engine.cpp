#include "mail/posix/openssl_engine.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/text.h"
#include "mail/socket_errors.h"

namespace zkq::posix {
namespace {

constexpr std::int32_t kWsaConnectionAborted = 10053;

bool IsAddressLiteral(const std::string& name) {
  unsigned char address[16];
  return inet_pton(AF_INET, name.c_str(), address) == 1 ||
         inet_pton(AF_INET6, name.c_str(), address) == 1;
}

int Clamped(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

// A directory of certificates named by subject hash (c_rehash), as Debian keeps it.
bool HasHashedCertificates(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 10 && name.ends_with(".0") &&
        name.find_first_not_of("0123456789abcdef") == 8) {
      return true;
    }
  }
  return false;
}

// The system's roots. From a hashed directory (SSL_CERT_DIR, else OpenSSL's
// own) OpenSSL reads only the certificates a chain asks for; loading the whole
// bundle file takes OpenSSL 3 about 35 ms, more than the rest of a send, so the
// file (SSL_CERT_FILE, else OpenSSL's own) is read only when there is no such
// directory. A root of one's own goes in --ca-file.
bool TrustSystemRoots(SSL_CTX* context) {
  const char* folderVariable = std::getenv(X509_get_default_cert_dir_env());
  const std::string folder =
      folderVariable != nullptr ? folderVariable : X509_get_default_cert_dir();
  if (HasHashedCertificates(folder)) return SSL_CTX_load_verify_dir(context, folder.c_str()) == 1;
  return SSL_CTX_set_default_verify_paths(context) == 1;
}

}  // namespace

std::int32_t OpenSslEngine::Begin(std::u16string_view serverName) {
  connection_.reset();
  input_ = output_ = nullptr;
  ERR_clear_error();
  if (!context_) {
    std::unique_ptr<SSL_CTX, FreeContext> context(SSL_CTX_new(TLS_client_method()));
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
        !TrustSystemRoots(context.get())) {
      return kTlsHandshakeFailed;
    }
    if (!caFile_.empty() &&
        SSL_CTX_load_verify_locations(context.get(), caFile_.c_str(), nullptr) != 1) {
      return kTlsUntrustedCertificate;
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    context_ = std::move(context);
  }
  connection_.reset(SSL_new(context_.get()));
  if (!connection_) return kTlsHandshakeFailed;
  input_ = BIO_new(BIO_s_mem());
  output_ = BIO_new(BIO_s_mem());
  if (input_ == nullptr || output_ == nullptr) {
    BIO_free(input_);
    BIO_free(output_);
    input_ = output_ = nullptr;
    return kTlsHandshakeFailed;
  }
  // An empty input BIO asks for more instead of reporting the end.
  BIO_set_mem_eof_return(input_, -1);
  SSL_set_bio(connection_.get(), input_, output_);
  SSL_set_connect_state(connection_.get());

  const std::string name = ToUtf8(serverName);
  X509_VERIFY_PARAM* check = SSL_get0_param(connection_.get());
  X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (IsAddressLiteral(name)) {
    if (X509_VERIFY_PARAM_set1_ip_asc(check, name.c_str()) != 1) return kTlsHandshakeFailed;
  } else {
    if (SSL_set1_host(connection_.get(), name.c_str()) != 1 ||
        SSL_set_tlsext_host_name(connection_.get(), name.c_str()) != 1) {
      return kTlsHandshakeFailed;
    }
  }
  return 0;
}

void OpenSslEngine::Put(std::span<const char> bytes) {
  if (input_ != nullptr && !bytes.empty()) BIO_write(input_, bytes.data(), Clamped(bytes.size()));
}

std::int32_t OpenSslEngine::Handshake() {
  if (!connection_) return kTlsHandshakeFailed;
  const int done = SSL_do_handshake(connection_.get());
  if (done == 1) return 0;
  const int reason = SSL_get_error(connection_.get(), done);
  ERR_clear_error();
  if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) return kWsaWouldBlock;
  switch (SSL_get_verify_result(connection_.get())) {
    case X509_V_OK:
      return kTlsHandshakeFailed;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return kTlsNameMismatch;
    default:
      return kTlsUntrustedCertificate;
  }
}

std::int32_t OpenSslEngine::Encrypt(std::span<const char> plain) {
  if (!connection_) return kWsaConnectionAborted;
  while (!plain.empty()) {
    const int written = SSL_write(connection_.get(), plain.data(), Clamped(plain.size()));
    if (written <= 0) {
      ERR_clear_error();
      return kWsaConnectionAborted;
    }
    plain = plain.subspan(static_cast<std::size_t>(written));
  }
  return 0;
}

Transfer OpenSslEngine::Decrypt(std::span<char> buffer) {
  if (!connection_) return {0, kWsaConnectionAborted};
  const int got = SSL_read(connection_.get(), buffer.data(), Clamped(buffer.size()));
  if (got > 0) return {static_cast<std::size_t>(got), 0};
  const int reason = SSL_get_error(connection_.get(), got);
  ERR_clear_error();
  if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) return {0, kWsaWouldBlock};
  if (reason == SSL_ERROR_ZERO_RETURN) return {0, 0};
  return {0, kWsaConnectionAborted};
}

std::string OpenSslEngine::TakeOutput() {
  std::string bytes;
  if (output_ == nullptr) return bytes;
  const std::size_t pending = BIO_ctrl_pending(output_);
  if (pending == 0) return bytes;
  bytes.resize(pending);
  const int read = BIO_read(output_, bytes.data(), Clamped(pending));
  bytes.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
  return bytes;
}

}  // namespace zkq::posix

namespace zkq {

std::unique_ptr<TlsEngine> MakeSystemTlsEngine(std::u16string_view caFile) {
  return std::make_unique<posix::OpenSslEngine>(ToUtf8(caFile));
}

}  // namespace zkq
