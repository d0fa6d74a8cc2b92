#include "mail/oauth_token.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "mail/smtp_security.h"

namespace zkq {
namespace {

class FakeHttps : public HttpsPoster {
 public:
  HttpsAnswer PostForm(const std::u16string& url, const std::string& body) override {
    urls.push_back(url);
    bodies.push_back(body);
    return answer;
  }
  HttpsAnswer answer;
  std::vector<std::u16string> urls;
  std::vector<std::string> bodies;
};

HttpsAnswer Json(int status, std::string body) {
  return HttpsAnswer{
      .outcome = HttpsAnswer::Outcome::Answered, .status = status, .body = std::move(body)};
}

const OAuthClient kClient = OAuthClientOf(u" contoso.jp ", u"app-1", u"s3cr&t x", u"", u"");

TEST(OAuthToken, TheGrantGoesToTheTenantsEndpointAndItsTokenIsKeptUntilFiveMinutesBeforeItEnds) {
  EXPECT_EQ(kClient.tokenUrl, u"https://login.microsoftonline.com/contoso.jp/oauth2/v2.0/token");
  EXPECT_EQ(kClient.scope, kDefaultOAuthScope);
  EXPECT_EQ(
      OAuthClientOf(u"t", u"a", u"s", u"https://mail.google.com/", u"https://h:8443/tok").tokenUrl,
      u"https://h:8443/tok");

  FakeHttps https;
  https.answer =
      Json(200, R"({"token_type":"Bearer","expires_in":3599,"access_token":"eyJ0.a-b"})");
  std::int64_t now = 1000;
  ClientCredentialsTokens tokens(https, [&] { return now; });
  tokens.Use(kClient);
  const AccessToken first = tokens.Token(false);
  EXPECT_EQ(first.token, "eyJ0.a-b");
  EXPECT_FALSE(first.fromCache);
  EXPECT_EQ(first.status, kTokenObtained);
  ASSERT_EQ(https.bodies.size(), 1u);
  EXPECT_EQ(https.urls[0], kClient.tokenUrl);
  EXPECT_EQ(https.bodies[0],
            "grant_type=client_credentials&client_id=app-1&client_secret=s3cr%26t+x"
            "&scope=https%3A%2F%2Foutlook.office365.com%2F.default");

  now += 3599 - kTokenMarginSeconds - 1;
  EXPECT_TRUE(tokens.Token(false).fromCache);
  EXPECT_EQ(tokens.Requests(), 1);
  now += 1;  // five minutes before the end: asked again
  EXPECT_FALSE(tokens.Token(false).fromCache);
  EXPECT_FALSE(tokens.Token(true).fromCache);  // a refused one is never taken again
  EXPECT_EQ(tokens.Requests(), 3);
  tokens.Use(kClient);
  EXPECT_TRUE(tokens.Token(false).fromCache);
  tokens.Use(OAuthClientOf(u"contoso.jp", u"app-1", u"new secret", u"", u""));
  EXPECT_FALSE(tokens.Token(false).fromCache);

  // However long an endpoint says, a token is kept a day at the most.
  https.answer = Json(200, R"({"access_token":"t3","expires_in":9223372036854775807})");
  EXPECT_FALSE(tokens.Token(true).fromCache);
  now += 24 * 60 * 60 - kTokenMarginSeconds;
  EXPECT_FALSE(tokens.Token(false).fromCache);

  // A token of a short life serves one send; expires_in may come as text.
  https.answer = Json(200, R"({"access_token":"t2","expires_in":"299"})");
  EXPECT_EQ(tokens.Token(true).token, "t2");
  EXPECT_FALSE(tokens.Token(false).fromCache);
}

TEST(OAuthToken, EveryFailureSaysWhyAndNeverShowsTheSecret) {
  struct Case {
    OAuthClient client;
    HttpsAnswer answer;
    std::u16string status;
    bool asked = true;
  };
  const Case cases[] = {
      {kClient,
       Json(401, R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client )"
                 R"(secret provided.\r\nTrace ID: 1 secret s3cr&t x","error_codes":[7000215]})"),
       u"トークンエンドポイントがトークンを拒否しました: invalid_client: AADSTS7000215: Invalid "
       u"client secret provided.  Trace ID: 1 secret ********"},
      {kClient, Json(400, R"({"error":"invalid_scope"})"),
       u"トークンエンドポイントがトークンを拒否しました: invalid_scope"},
      {kClient, Json(502, "<html>Bad gateway</html>"),
       u"トークンエンドポイントの応答を読めません！ (HTTP 502)"},
      {kClient, Json(200, R"({"access_token":"two words"})"),
       u"トークンエンドポイントの応答を読めません！ (HTTP 200)"},
      {kClient, Json(200, R"({"access_token":"t","token_type":"mac"})"),
       u"トークンエンドポイントの応答を読めません！ (HTTP 200)"},
      {kClient, Json(200, R"([1,2])"), u"トークンエンドポイントの応答を読めません！ (HTTP 200)"},
      {kClient,
       {.outcome = HttpsAnswer::Outcome::Unreachable, .detail = u"Connection refused"},
       u"トークンエンドポイントに接続できませんでした！: Connection refused"},
      {kClient,
       {.outcome = HttpsAnswer::Outcome::Untrusted, .detail = u"unable to get local issuer"},
       u"トークンエンドポイントの証明書を信頼できません！: unable to get local issuer"},
      {OAuthClientOf(u"t", u"a", u"s", u"", u"http://h/token"), Json(200, "{}"), kTokenUrlNotHttps,
       false},
      {OAuthClientOf(u"", u"a", u"s", u"", u""), Json(200, "{}"), kTokenClientMissing, false},
      {OAuthClientOf(u"t", u"a", u"", u"", u""), Json(200, "{}"), kTokenClientMissing, false},
  };
  for (const Case& c : cases) {
    FakeHttps https;
    https.answer = c.answer;
    ClientCredentialsTokens tokens(https, [] { return 0; });
    tokens.Use(c.client);
    const AccessToken token = tokens.Token(false);
    EXPECT_FALSE(token.Ok()) << c.answer.body;
    EXPECT_EQ(token.status, c.status) << ToUtf8(token.status);
    EXPECT_EQ(https.bodies.size(), c.asked ? 1u : 0u) << c.answer.body;
    // A failure keeps nothing: the next send asks again.
    EXPECT_EQ(tokens.Token(false).fromCache, false);
  }
}

TEST(OAuthToken, SmtpAuthNames) {
  const std::pair<std::u16string_view, std::optional<SmtpAuth>> names[] = {
      {u"", SmtpAuth::Password},     {u" password ", SmtpAuth::Password},
      {u"OAuth2", SmtpAuth::OAuth2}, {u"oauth2 ", SmtpAuth::OAuth2},
      {u"OAuth", std::nullopt},      {u"Basic", std::nullopt}};
  for (const auto& [text, auth] : names) EXPECT_EQ(ParseSmtpAuth(text), auth) << ToUtf8(text);
}

}  // namespace
}  // namespace zkq
