#pragma once
// OAuth 2.0 access tokens for SMTP's XOAUTH2: the client-credentials grant
// posted to the token endpoint over HTTPS, its JSON answer read, and the token
// kept in memory (never anywhere else) until shortly before it expires. The
// HTTPS request itself is a port: WinHTTP on Windows, libcurl for zkq on Linux.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zkq {

inline constexpr char16_t kDefaultOAuthScope[] = u"https://outlook.office365.com/.default";
inline constexpr char16_t kDefaultOAuthTokenUrl[] =
    u"https://login.microsoftonline.com/{tenant}/oauth2/v2.0/token";
// A kept token is not used in its last five minutes: a mail that takes long
// must not reach AUTH with a token that ran out on the way.
inline constexpr std::int64_t kTokenMarginSeconds = 300;

// What one token is asked for with.
struct OAuthClient {
  // https only: the secret never goes out in clear.
  std::u16string tokenUrl;
  std::u16string clientId, clientSecret, scope;
  friend bool operator==(const OAuthClient&, const OAuthClient&) = default;
};

// The client of the settings' texts: an empty scope or token URL is the
// default one, and "{tenant}" in the URL becomes the tenant.
OAuthClient OAuthClientOf(std::u16string_view tenant, std::u16string_view clientId,
                          std::u16string_view clientSecret, std::u16string_view scope,
                          std::u16string_view tokenUrl);

// application/x-www-form-urlencoded (the grant's body): unreserved bytes as
// they are, a blank as "+", every other byte as %XX.
std::string FormEncoded(std::string_view text);

// What the HTTPS port got back from one POST.
struct HttpsAnswer {
  enum class Outcome {
    Answered,
    // No connection: the name did not resolve, nothing listens, a time-out,
    // the connection was lost.
    Unreachable,
    // The TLS handshake failed or the certificate is not trusted or names
    // another host; nothing of the request went out.
    Untrusted,
  };
  Outcome outcome = Outcome::Unreachable;
  // The HTTP status and body when Answered.
  int status = 0;
  std::string body;
  // The system's words for the failure otherwise.
  std::u16string detail;
};

class HttpsPoster {
 public:
  virtual ~HttpsPoster() = default;
  // POSTs the form body to url (https), the server's certificate checked as
  // for SMTP.
  virtual HttpsAnswer PostForm(const std::u16string& url, const std::string& body) = 0;
};

// This system's HTTPS: trusts the system's roots, and caFile's CA certificates
// (PEM) too when it is given; each request takes at most timeoutSeconds
// (win32/, posix/).
std::unique_ptr<HttpsPoster> MakeSystemHttps(std::u16string_view caFile,
                                             std::int32_t timeoutSeconds);

struct AccessToken {
  // The bearer token; empty when none could be had.
  std::string token;
  // Taken from memory, not asked for now: a refusal of it may only mean it
  // was revoked, and a fresh one is worth one more try.
  bool fromCache = false;
  // What happened, as the status line shows it; never holds the secret.
  std::u16string status;
  bool Ok() const { return !token.empty(); }
};

// What the SMTP session asks for a token.
class TokenSource {
 public:
  virtual ~TokenSource() = default;
  // fresh: never the kept one.
  virtual AccessToken Token(bool fresh) = 0;
};

inline constexpr char16_t kTokenRequesting[] = u"アクセストークンを要求しています･･･";
inline constexpr char16_t kTokenObtained[] = u"アクセストークンを取得しました！";
inline constexpr char16_t kTokenFromMemory[] = u"取得済みのアクセストークンを使います！";
inline constexpr char16_t kTokenRefused[] = u"トークンエンドポイントがトークンを拒否しました: ";
inline constexpr char16_t kTokenUnreadable[] = u"トークンエンドポイントの応答を読めません！";
inline constexpr char16_t kTokenUnreachable[] = u"トークンエンドポイントに接続できませんでした！: ";
inline constexpr char16_t kTokenUntrusted[] = u"トークンエンドポイントの証明書を信頼できません！: ";
inline constexpr char16_t kTokenUrlNotHttps[] = u"トークンURLはhttps://で始まる必要があります！";
inline constexpr char16_t kTokenClientMissing[] =
    u"OAuth 2.0にはテナント（またはトークンURL）、クライアントIDとシークレットが必要です！";

// The client-credentials grant with the token kept between sends: the
// monitor keeps one for its whole run, so that the cycles within a token's
// life ask for it once.
class ClientCredentialsTokens : public TokenSource {
 public:
  using SecondsClock = std::function<std::int64_t()>;
  // now: seconds of a clock that never goes back (steady by default).
  explicit ClientCredentialsTokens(HttpsPoster& https, SecondsClock now = {});

  // The client the next tokens are for; another one than before forgets the
  // kept token.
  void Use(const OAuthClient& client);
  AccessToken Token(bool fresh) override;
  // How many times the token endpoint was asked.
  int Requests() const { return requests_; }

 private:
  AccessToken Ask();

  HttpsPoster& https_;
  SecondsClock now_;
  OAuthClient client_;
  std::string token_;
  std::int64_t keptUntil_ = 0;
  int requests_ = 0;
};

// Where OAuth 2.0 was asked for without a way to a token endpoint.
class NoTokens : public TokenSource {
 public:
  AccessToken Token(bool) override { return AccessToken{.status = kTokenClientMissing}; }
};

// The "status" of the Base64 JSON that a server's 334 to AUTH XOAUTH2
// carries ({"status":"401","schemes":"bearer",...}); "" when there is none.
std::u16string XOAuth2ErrorStatus(std::string_view base64);

// The initial response of AUTH XOAUTH2 (RFC 7628 style), Base64.
std::string XOAuth2Response(std::u16string_view user, std::string_view token);

}  // namespace zkq
