// Arbitrary answers of a token endpoint, and arbitrary XOAUTH2 error
// challenges: a token is either refused with a status that holds neither the
// secret nor a line break, or usable on the AUTH line, and a kept one is
// handed out again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/oauth_token.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

class Answer : public zkq::HttpsPoster {
 public:
  zkq::HttpsAnswer PostForm(const std::u16string&, const std::string&) override { return answer; }
  zkq::HttpsAnswer answer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Answer https;
  https.answer = {.outcome = zkq::HttpsAnswer::Outcome::Answered,
                  .status = size > 0 && data[0] % 2 == 0 ? 200 : 401,
                  .body = bytes};
  std::int64_t now = 0;
  zkq::ClientCredentialsTokens tokens(https, [&] { return now; });
  const std::u16string secret = u"s3cr&t";
  tokens.Use(zkq::OAuthClientOf(u"t", u"a", secret, u"", u""));
  const zkq::AccessToken token = tokens.Token(false);
  if (token.Ok()) {
    for (const char c : token.token) Check(c > ' ' && c < '\x7f');
    const zkq::AccessToken again = tokens.Token(false);
    Check(!again.fromCache || again.token == token.token);
  } else {
    Check(token.status.find(secret) == std::u16string::npos);
    Check(token.status.find(u'\n') == std::u16string::npos);
  }
  const std::u16string status = zkq::XOAuth2ErrorStatus(bytes);
  Check(status.find(u'\n') == std::u16string::npos);
  return 0;
}
