#include "mail/oauth_token.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/base64.h"
#include "base/text.h"
#include "mail/smtp_security.h"

namespace zkq {
namespace {

// A token is kept for at most this long, whatever its expires_in says.
constexpr std::int64_t kMostTokenLifeSeconds = 24 * 60 * 60;
// An endpoint's words go on one status line, at most this long.
constexpr std::size_t kMostShownOfAnswer = 512;

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; }

// text starts with prefix (lower case), or is it, letter case aside.
bool StartsWithFolded(std::u16string_view text, std::u16string_view prefix, bool whole = false) {
  if (text.size() < prefix.size() || (whole && text.size() != prefix.size())) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

// Text from the network on one line: control characters become blanks, the
// length is bounded, and the secret never shows even if an endpoint echoes it.
std::u16string Shown(std::u16string text, std::u16string_view secret) {
  for (char16_t& c : text) {
    if (c < u' ' || c == u'\x7f') c = u' ';
  }
  if (text.size() > kMostShownOfAnswer) text.resize(kMostShownOfAnswer);
  if (!secret.empty()) text = ReplaceAll(text, secret, u"********");
  return text;
}

std::string StringMember(const nlohmann::json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// Seconds of expires_in, which some endpoints give as a text; 0 when absent.
std::int64_t ExpiresIn(const nlohmann::json& object) {
  const auto found = object.find("expires_in");
  if (found == object.end()) return 0;
  if (found->is_number_integer()) return found->get<std::int64_t>();
  if (found->is_string()) {
    std::int64_t seconds = 0;
    for (const char c : found->get<std::string>()) {
      if (c < '0' || c > '9' || seconds > 100000000) return 0;
      seconds = seconds * 10 + (c - '0');
    }
    return seconds;
  }
  return 0;
}

std::int64_t SteadySeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

OAuthClient OAuthClientOf(std::u16string_view tenant, std::u16string_view clientId,
                          std::u16string_view clientSecret, std::u16string_view scope,
                          std::u16string_view tokenUrl) {
  const std::u16string_view url =
      TrimView(tokenUrl).empty() ? kDefaultOAuthTokenUrl : TrimView(tokenUrl);
  const bool needsTenant = url.find(u"{tenant}") != std::u16string_view::npos;
  // Without a tenant there is no URL to ask.
  return OAuthClient{
      .tokenUrl = needsTenant && TrimView(tenant).empty()
                      ? u""
                      : ReplaceAll(url, u"{tenant}", TrimView(tenant)),
      .clientId = std::u16string(TrimView(clientId)),
      .clientSecret = std::u16string(clientSecret),
      .scope = std::u16string(TrimView(scope).empty() ? kDefaultOAuthScope : TrimView(scope))};
}

std::string FormEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += c;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

ClientCredentialsTokens::ClientCredentialsTokens(HttpsPoster& https, SecondsClock now)
    : https_(https), now_(now ? std::move(now) : SecondsClock(SteadySeconds)) {}

void ClientCredentialsTokens::Use(const OAuthClient& client) {
  if (client == client_) return;
  client_ = client;
  token_.clear();
  keptUntil_ = 0;
}

AccessToken ClientCredentialsTokens::Token(bool fresh) {
  if (!fresh && !token_.empty() && now_() < keptUntil_) {
    return AccessToken{.token = token_, .fromCache = true, .status = kTokenFromMemory};
  }
  token_.clear();
  return Ask();
}

AccessToken ClientCredentialsTokens::Ask() {
  const std::u16string& secret = client_.clientSecret;
  const auto failure = [](std::u16string text) { return AccessToken{.status = std::move(text)}; };
  // What the endpoint or the system said.
  const auto words = [&](std::u16string text) { return Shown(std::move(text), secret); };
  if (client_.clientId.empty() || secret.empty() || client_.tokenUrl.empty()) {
    return failure(kTokenClientMissing);
  }
  if (!StartsWithFolded(client_.tokenUrl, u"https://")) return failure(kTokenUrlNotHttps);

  const std::string body =
      "grant_type=client_credentials&client_id=" + FormEncoded(ToUtf8(client_.clientId)) +
      "&client_secret=" + FormEncoded(ToUtf8(secret)) +
      "&scope=" + FormEncoded(ToUtf8(client_.scope));
  ++requests_;
  const std::int64_t asked = now_();
  const HttpsAnswer answer = https_.PostForm(client_.tokenUrl, body);
  switch (answer.outcome) {
    case HttpsAnswer::Outcome::Unreachable:
      return failure(kTokenUnreachable + words(answer.detail));
    case HttpsAnswer::Outcome::Untrusted:
      return failure(kTokenUntrusted + words(answer.detail));
    case HttpsAnswer::Outcome::Answered:
      break;
  }
  const std::u16string httpStatus = u" (HTTP " + FromUtf8(std::to_string(answer.status)) + u")";
  const nlohmann::json json = nlohmann::json::parse(answer.body, nullptr, false);
  if (!json.is_object()) return failure(kTokenUnreadable + httpStatus);
  const std::string error = StringMember(json, "error");
  if (!error.empty() || answer.status < 200 || answer.status > 299) {
    if (error.empty()) return failure(kTokenUnreadable + httpStatus);
    std::u16string text = FromUtf8(error);
    const std::string description = StringMember(json, "error_description");
    if (!description.empty()) text += u": " + FromUtf8(description);
    return failure(kTokenRefused + words(std::move(text)));
  }
  const std::string token = StringMember(json, "access_token");
  const std::u16string type = FromUtf8(StringMember(json, "token_type"));
  const bool bearer = type.empty() || StartsWithFolded(type, u"bearer", true);
  // A token with a blank or control character would break the AUTH line.
  const bool usable = !token.empty() && std::all_of(token.begin(), token.end(),
                                                    [](char c) { return c > ' ' && c < '\x7f'; });
  if (!usable || !bearer) return failure(kTokenUnreadable + httpStatus);
  // A day at the most: an endpoint's word is not taken for longer.
  const std::int64_t life = std::min<std::int64_t>(ExpiresIn(json), kMostTokenLifeSeconds);
  // Kept only while it is surely still good; a short-lived one serves this send alone.
  if (life > kTokenMarginSeconds) {
    token_ = token;
    keptUntil_ = asked + life - kTokenMarginSeconds;
  }
  return AccessToken{.token = token, .fromCache = false, .status = kTokenObtained};
}

std::optional<SmtpAuth> ParseSmtpAuth(std::u16string_view text) {
  const std::u16string_view name = TrimView(text);
  if (name.empty() || StartsWithFolded(name, u"password", true)) return SmtpAuth::Password;
  if (StartsWithFolded(name, u"oauth2", true)) return SmtpAuth::OAuth2;
  return std::nullopt;
}

std::u16string XOAuth2ErrorStatus(std::string_view base64) {
  const std::optional<std::string> bytes = Base64Decode(base64);
  if (!bytes) return u"";
  const nlohmann::json json = nlohmann::json::parse(*bytes, nullptr, false);
  if (!json.is_object()) return u"";
  const auto status = json.find("status");
  if (status == json.end()) return u"";
  return Shown(FromUtf8(status->is_string() ? status->get<std::string>() : status->dump()), u"");
}

std::string XOAuth2Response(std::u16string_view user, std::string_view token) {
  return Base64Encode("user=" + ToUtf8(user) +
                      "\x01"
                      "auth=Bearer " +
                      std::string(token) + "\x01\x01");
}

}  // namespace zkq
