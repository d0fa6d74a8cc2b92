#include "mail/win32/schannel_engine.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "base/win32/wide.h"
#include "mail/socket_errors.h"

namespace zkq::win32 {
namespace {

constexpr std::int32_t kWsaConnectionAborted = 10053;
// The content type of a TLS alert record.
constexpr char kAlertRecord = 0x15;
// SECURITY_FLAG_IGNORE_UNKNOWN_CA of the SSL policy (wininet.h).
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
// Chain errors that say nothing about trust: revocation is not asked for.
constexpr DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

std::int32_t CodeOfStatus(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_UNTRUSTED_ROOT:
    case SEC_E_CERT_EXPIRED:
    case SEC_E_CERT_UNKNOWN:
      return kTlsUntrustedCertificate;
    case SEC_E_WRONG_PRINCIPAL:
      return kTlsNameMismatch;
    default:
      return kTlsHandshakeFailed;
  }
}

}  // namespace

std::int32_t SchannelEngine::AcquireCredentials() {
  if (credentials_) return 0;
  // SCH_CREDENTIALS (Windows 10 1809 and later) allows TLS 1.3; older systems
  // and Wine take SCHANNEL_CRED with TLS 1.2.
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols =
      static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags =
      SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  SCHANNEL_CRED classic{};
  classic.dwVersion = SCHANNEL_CRED_VERSION;
  classic.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  classic.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  wchar_t package[] = UNISP_NAME_W;
  for (void* data : {static_cast<void*>(&modern), static_cast<void*>(&classic)}) {
    TimeStamp expiry;
    if (AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, data, nullptr,
                                  nullptr, credentials_.Fill(), &expiry) == SEC_E_OK) {
      credentials_.Own();
      return 0;
    }
  }
  return kTlsHandshakeFailed;
}

bool SchannelEngine::LoadCaFile() {
  if (caStore_ || caFile_.empty()) return true;
  caStore_ = LoadCaCertificates(caFile_);
  return static_cast<bool>(caStore_);
}

UniqueCertificateStore LoadCaCertificates(const std::u16string& caFile) {
  std::ifstream file(std::filesystem::path(ToWide(caFile)), std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(file)), {});
  if (!file && !file.eof()) return {};
  UniqueCertificateStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (!store) return {};
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::size_t count = 0;
  for (std::size_t at = pem.find("-----BEGIN CERTIFICATE-----"); at != std::string::npos;
       at = pem.find("-----BEGIN CERTIFICATE-----", at)) {
    const std::size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::string block = pem.substr(at, end + kEnd.size() - at);
    at = end + kEnd.size();
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::string der(size, '\0');
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size,
                             nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING,
                                         reinterpret_cast<const BYTE*>(der.data()), size,
                                         CERT_STORE_ADD_ALWAYS, nullptr)) {
      ++count;
    }
  }
  if (count == 0) return {};
  return store;
}

std::int32_t SchannelEngine::Begin(std::u16string_view serverName) {
  context_.Reset();
  secured_ = renegotiating_ = false;
  in_.clear();
  out_.clear();
  plain_.clear();
  serverName_ = ToWide(serverName);
  if (!LoadCaFile()) return kTlsUntrustedCertificate;
  return AcquireCredentials();
}

void SchannelEngine::Put(std::span<const char> bytes) { in_.append(bytes.data(), bytes.size()); }

// One InitializeSecurityContext call on what has come: the first one (no
// context yet) starts the handshake, later ones take the server's messages,
// also those of a renegotiation. SEC_E_OK, SEC_I_CONTINUE_NEEDED,
// SEC_E_INCOMPLETE_MESSAGE or the failure.
std::int32_t SchannelEngine::Step(bool force) {
  const bool first = !context_;
  if (!first && in_.empty() && !force) return SEC_E_INCOMPLETE_MESSAGE;
  SecBuffer input[2] = {{static_cast<ULONG>(in_.size()), SECBUFFER_TOKEN, in_.data()},
                        {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
  SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, output};
  ULONG attributes = 0;
  CtxtHandle* context = first ? context_.Fill() : context_.Get();
  const SECURITY_STATUS status = InitializeSecurityContextW(
      credentials_.Get(), first ? nullptr : context, serverName_.data(), kContextFlags, 0, 0,
      first ? nullptr : &inputDesc, 0, context, &outputDesc, &attributes, nullptr);
  if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) context_.Own();
  if (output[0].pvBuffer != nullptr) {
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
        (attributes & ISC_RET_EXTENDED_ERROR) != 0) {
      out_.append(static_cast<const char*>(output[0].pvBuffer), output[0].cbBuffer);
    }
    FreeContextBuffer(output[0].pvBuffer);
  }
  if (status == SEC_E_INCOMPLETE_MESSAGE) return status;
  if (!first) {
    // What the call did not use stays for the next one (or for Decrypt).
    if (input[1].BufferType == SECBUFFER_EXTRA && input[1].cbBuffer <= in_.size()) {
      in_.erase(0, in_.size() - input[1].cbBuffer);
    } else {
      in_.clear();
    }
  }
  if (status == SEC_I_INCOMPLETE_CREDENTIALS) return SEC_I_CONTINUE_NEEDED;
  return status;
}

std::int32_t SchannelEngine::Handshake() { return Negotiate(false); }

// Steps until the handshake is done or waits for the server. force makes the
// first step even without new bytes (a renegotiation whose message came whole).
std::int32_t SchannelEngine::Negotiate(bool force) {
  if (!credentials_) return kTlsHandshakeFailed;
  for (;;) {
    const SECURITY_STATUS status = Step(std::exchange(force, false));
    if (status == SEC_E_INCOMPLETE_MESSAGE) return kWsaWouldBlock;
    if (status == SEC_I_CONTINUE_NEEDED) {
      if (in_.empty()) return kWsaWouldBlock;
      continue;
    }
    if (status != SEC_E_OK) return CodeOfStatus(status);
    if (const std::int32_t code = CheckCertificate(); code != 0) return code;
    // Older protocols are refused here as well, whatever the system's
    // Schannel made of the credentials' protocol list.
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesW(context_.Get(), SECPKG_ATTR_CONNECTION_INFO, &connection) !=
            SEC_E_OK ||
        (connection.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) {
      return kTlsHandshakeFailed;
    }
    if (QueryContextAttributesW(context_.Get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
      return kTlsHandshakeFailed;
    }
    secured_ = true;
    return 0;
  }
}

std::int32_t SchannelEngine::CheckCertificate() {
  PCCERT_CONTEXT remote = nullptr;
  if (QueryContextAttributesW(context_.Get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
          SEC_E_OK ||
      remote == nullptr) {
    return kTlsUntrustedCertificate;
  }
  return CheckServerCertificate(UniqueCertificate(remote), serverName_, caStore_.Get());
}

// Wine's policy check passes a chain that ends before any root, so the
// chain's own status is read as well.
std::int32_t CheckServerCertificate(const UniqueCertificate& certificate,
                                    const std::wstring& serverName, HCERTSTORE caStore) {
  // The intermediates the server sent, and the extra CAs, may complete the chain.
  UniqueCertificateStore extra(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (!extra) return kTlsUntrustedCertificate;
  if (certificate.Get()->hCertStore != nullptr) {
    CertAddStoreToCollection(extra.Get(), certificate.Get()->hCertStore, 0, 0);
  }
  if (caStore != nullptr) CertAddStoreToCollection(extra.Get(), caStore, 0, 0);

  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate.Get(), nullptr, extra.Get(), &chainPara, 0,
                               nullptr, &built) ||
      built == nullptr) {
    return kTlsUntrustedCertificate;
  }
  const UniqueChain chain(built);
  DWORD errors = chain.Get()->TrustStatus.dwErrorStatus & ~kRevocationUnknown;
  // A root that only the extra file trusts: it must be one of that file's.
  bool extraRoot = false;
  if (caStore != nullptr && chain.Get()->cChain > 0 && chain.Get()->rgpChain[0]->cElement > 0) {
    const CERT_SIMPLE_CHAIN* simple = chain.Get()->rgpChain[0];
    const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    const UniqueCertificate found(CertFindCertificateInStore(caStore, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, root, nullptr));
    extraRoot = static_cast<bool>(found) && (errors & CERT_TRUST_IS_UNTRUSTED_ROOT) != 0;
  }
  if (extraRoot) errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  if (errors != 0) return kTlsUntrustedCertificate;

  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = extraRoot ? kIgnoreUnknownCa : 0;
  std::wstring name = serverName;
  ssl.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof policyPara;
  policyPara.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS policy{};
  policy.cbSize = sizeof policy;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policyPara, &policy)) {
    return kTlsUntrustedCertificate;
  }
  if (policy.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) return kTlsNameMismatch;
  return policy.dwError == 0 ? 0 : kTlsUntrustedCertificate;
}

std::int32_t SchannelEngine::Encrypt(std::span<const char> plain) {
  if (!secured_) return kWsaConnectionAborted;
  while (!plain.empty()) {
    const std::size_t n = std::min<std::size_t>(plain.size(), sizes_.cbMaximumMessage);
    std::string record(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
    std::copy_n(plain.data(), n, record.data() + sizes_.cbHeader);
    SecBuffer buffers[4] = {
        {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {static_cast<ULONG>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
        {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (EncryptMessage(context_.Get(), 0, &desc, 0) != SEC_E_OK) return kWsaConnectionAborted;
    out_.append(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    plain = plain.subspan(n);
  }
  return 0;
}

Transfer SchannelEngine::Decrypt(std::span<char> buffer) {
  if (!secured_) return {0, kWsaConnectionAborted};
  while (plain_.empty()) {
    if (renegotiating_) {
      const std::int32_t code = Negotiate(true);
      if (code == kWsaWouldBlock) return {0, kWsaWouldBlock};
      if (code != 0) return {0, kWsaConnectionAborted};
      renegotiating_ = false;
      continue;
    }
    if (in_.empty()) return {0, kWsaWouldBlock};
    const bool alertRecord = in_[0] == kAlertRecord;
    SecBuffer buffers[4] = {{static_cast<ULONG>(in_.size()), SECBUFFER_DATA, in_.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(context_.Get(), &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return {0, kWsaWouldBlock};
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      return {0, kWsaConnectionAborted};
    }
    // The buffers point into in_, decrypted in place: copy out before it changes.
    std::string extra;
    for (const SecBuffer& b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
        plain_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
        extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      }
    }
    in_ = std::move(extra);
    // Wine's Schannel takes a close_notify as an empty record: a TLS 1.2
    // alert with no data is the end as well.
    if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alertRecord && plain_.empty())) {
      // close_notify: what came before it is still read first.
      if (plain_.empty()) return {0, 0};
      break;
    }
    // A renegotiation (or, in TLS 1.3, a message after the handshake): the
    // server's handshake data is in what was left over, and the handshake
    // calls answer it on this context before anything more is decrypted.
    if (status == SEC_I_RENEGOTIATE) renegotiating_ = true;
  }
  const std::size_t n = std::min(buffer.size(), plain_.size());
  std::copy_n(plain_.data(), n, buffer.data());
  plain_.erase(0, n);
  return {n, 0};
}

std::string SchannelEngine::TakeOutput() { return std::exchange(out_, std::string()); }

}  // namespace zkq::win32

namespace zkq {

std::unique_ptr<TlsEngine> MakeSystemTlsEngine(std::u16string_view caFile) {
  return std::make_unique<win32::SchannelEngine>(std::u16string(caFile));
}

}  // namespace zkq
