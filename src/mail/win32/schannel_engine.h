#pragma once
// The TLS engine on Schannel through SSPI: TLS 1.2 and newer, with the server's
// certificate checked by this program (manual validation) against the
// machine's roots, and the CA certificates of an extra PEM file, with
// CertGetCertificateChain and the SSL policy for the server name.
#include <windows.h>
// UNICODE_STRING, which SCH_CREDENTIALS and TLS_PARAMETERS need.
#include <subauth.h>

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <string>

#include "base/win32/handles.h"
#include "mail/tls_engine.h"

namespace zkq::win32 {

inline void ReleaseCertificateStore(HCERTSTORE store) { CertCloseStore(store, 0); }
inline void ReleaseCertificate(PCCERT_CONTEXT certificate) {
  CertFreeCertificateContext(certificate);
}
inline void ReleaseChain(PCCERT_CHAIN_CONTEXT chain) { CertFreeCertificateChain(chain); }
using UniqueCertificateStore = UniqueHandle<NullEmpty<HCERTSTORE, ReleaseCertificateStore>>;
using UniqueCertificate = UniqueHandle<NullEmpty<PCCERT_CONTEXT, ReleaseCertificate>>;
using UniqueChain = UniqueHandle<NullEmpty<PCCERT_CHAIN_CONTEXT, ReleaseChain>>;

// An SSPI credentials or context handle, freed by its own function.
template <SECURITY_STATUS(SEC_ENTRY* Free)(PSecHandle)>
class UniqueSecHandle {
 public:
  UniqueSecHandle() = default;
  UniqueSecHandle(const UniqueSecHandle&) = delete;
  UniqueSecHandle& operator=(const UniqueSecHandle&) = delete;
  ~UniqueSecHandle() { Reset(); }
  void Reset() {
    if (valid_) Free(&handle_);
    valid_ = false;
  }
  // For a call that fills the handle; it is owned once Own() is called.
  SecHandle* Fill() {
    Reset();
    return &handle_;
  }
  void Own() { valid_ = true; }
  SecHandle* Get() { return valid_ ? &handle_ : nullptr; }
  explicit operator bool() const { return valid_; }

 private:
  SecHandle handle_{};
  bool valid_ = false;
};

// The CA certificates of a PEM file, in a store of their own that only the
// check of a chain looks at; none when the file has none or cannot be read.
UniqueCertificateStore LoadCaCertificates(const std::u16string& caFile);
// 0 when the server's certificate chains to a trusted root, or to a CA of
// caStore (may be null), and carries serverName; else kTlsUntrustedCertificate
// or kTlsNameMismatch.
std::int32_t CheckServerCertificate(const UniqueCertificate& certificate,
                                    const std::wstring& serverName, HCERTSTORE caStore);

class SchannelEngine : public TlsEngine {
 public:
  // caFile: CA certificates (PEM) trusted beside the machine's; "" for none.
  explicit SchannelEngine(std::u16string caFile) : caFile_(std::move(caFile)) {}

  std::int32_t Begin(std::u16string_view serverName) override;
  void Put(std::span<const char> bytes) override;
  std::int32_t Handshake() override;
  std::int32_t Encrypt(std::span<const char> plain) override;
  Transfer Decrypt(std::span<char> buffer) override;
  std::string TakeOutput() override;

 private:
  std::int32_t AcquireCredentials();
  bool LoadCaFile();
  std::int32_t Negotiate(bool force);
  std::int32_t Step(bool force);
  std::int32_t CheckCertificate();

  std::u16string caFile_;
  UniqueCertificateStore caStore_;
  UniqueSecHandle<FreeCredentialsHandle> credentials_;
  UniqueSecHandle<DeleteSecurityContext> context_;
  std::wstring serverName_;
  bool secured_ = false;
  bool renegotiating_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::string in_;     // ciphertext not yet used
  std::string out_;    // ciphertext for the server
  std::string plain_;  // decrypted, not yet taken
};

}  // namespace zkq::win32
