// The token endpoint's HTTPS for zkq on Linux: libcurl over OpenSSL, which
// checks the certificate against the system's roots and, when given, the CA
// file's certificates too (as the SMTP connection does).
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <memory>

#include "base/text.h"
#include "mail/oauth_token.h"

namespace zkq {
namespace {

// The answer's body is at most this large; no token answer comes near it.
constexpr std::size_t kMostBodyBytes = 1 << 20;

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* body) {
  auto& bytes = *static_cast<std::string*>(body);
  if (bytes.size() + size * count > kMostBodyBytes) return 0;
  bytes.append(data, size * count);
  return size * count;
}

// The CA file joins the roots rather than replacing them.
CURLcode AddCaFile(CURL*, void* sslContext, void* caFile) {
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  const auto& path = *static_cast<const std::string*>(caFile);
  return X509_STORE_load_locations(store, path.c_str(), nullptr) == 1 ? CURLE_OK
                                                                      : CURLE_SSL_CACERT_BADFILE;
}

class CurlHttps final : public HttpsPoster {
 public:
  CurlHttps(std::string caFile, std::int32_t timeoutSeconds)
      : caFile_(std::move(caFile)), timeoutSeconds_(timeoutSeconds) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
  }

  HttpsAnswer PostForm(const std::u16string& url, const std::string& body) override {
    HttpsAnswer answer;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   curl_easy_cleanup);
    if (!curl) {
      answer.detail = u"libcurl";
      return answer;
    }
    const std::string address = ToUtf8(url);
    char error[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, address.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    // No redirect: it would take the form to a server nobody asked for.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (timeoutSeconds_ > 0)
      curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds_));
    if (!caFile_.empty()) {
      curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, AddCaFile);
      curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &caFile_);
    }
    // No proxy from the environment: the endpoint is asked directly.
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    const CURLcode result = curl_easy_perform(c);
    if (result == CURLE_OK) {
      long status = 0;
      curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
      answer.outcome = HttpsAnswer::Outcome::Answered;
      answer.status = static_cast<int>(status);
      return answer;
    }
    answer.body.clear();
    answer.detail = FromUtf8(error[0] != 0 ? error : curl_easy_strerror(result));
    switch (result) {
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_SSL_CACERT_BADFILE:
      case CURLE_SSL_CERTPROBLEM:
        answer.outcome = HttpsAnswer::Outcome::Untrusted;
        break;
      default:
        answer.outcome = HttpsAnswer::Outcome::Unreachable;
        break;
    }
    return answer;
  }

 private:
  std::string caFile_;
  std::int32_t timeoutSeconds_;
};

}  // namespace

std::unique_ptr<HttpsPoster> MakeSystemHttps(std::u16string_view caFile,
                                             std::int32_t timeoutSeconds) {
  return std::make_unique<CurlHttps>(ToUtf8(caFile), timeoutSeconds);
}

}  // namespace zkq
