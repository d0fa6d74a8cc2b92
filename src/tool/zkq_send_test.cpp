// zkq send against a scripted server on 127.0.0.1: what it prints, what the
// server receives, and its exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "mail/testing/scripted_server.h"
#include "tool/zkq_mail.h"

namespace zkq {
namespace {

class StringOutput : public Output {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

class StringInput : public Input {
 public:
  explicit StringInput(std::string bytes) : bytes_(std::move(bytes)) {}
  std::optional<std::string> ReadAll() override { return bytes_; }

 private:
  std::string bytes_;
};

TEST(ZkqSendTest, SendsOrSaysWhyNot) {
  const struct {
    std::vector<std::string> script;
    int status;
    std::string printed;  // found in standard output
    std::string said;     // found in standard error
  } cases[] = {
      {{"220 mx\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n",
        "221 bye\r\n"},
       0,
       "354 go\nSubject:alert\n",
       "zkq: メッセージが送信されました！"},
      {{"220 mx\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "554 spam\r\n",
        "221 bye\r\n"},
       11,
       "\n.\nSMTPエラー: 554 spam\n",
       "zkq: SMTPエラー: 554 spam"},
  };
  for (const auto& c : cases) {
    test_support::ScriptedServer server(c.script);
    StringOutput out, err;
    StringInput body("本文です\n.\n");
    const std::vector<std::u16string> args = {u"send",
                                              u"--server",
                                              u"127.0.0.1",
                                              u"--port",
                                              FromUtf8(std::to_string(server.Port())),
                                              u"--from",
                                              u"zkq@example.jp",
                                              u"--to",
                                              u"a@example.jp",
                                              u"--subject",
                                              u"alert",
                                              u"--timeout",
                                              u"5"};
    EXPECT_EQ(RunZkqMail(args, out, err, body), c.status) << err.text;
    EXPECT_NE(out.text.find(c.printed), std::string::npos) << out.text;
    EXPECT_NE(err.text.find(c.said), std::string::npos) << err.text;
    const std::string& received = server.Received();
    EXPECT_NE(received.find("RCPT TO:<a@example.jp>\r\nDATA\r\nSubject:alert\r\n"),
              std::string::npos);
    EXPECT_NE(received.find("\r\n..\r\n"), std::string::npos) << received;
    EXPECT_TRUE(received.ends_with("\r\n.\r\nQUIT\r\n")) << received;
  }
}

TEST(ZkqSendTest, WrongArguments) {
  StringOutput out, err;
  StringInput body("");
  EXPECT_EQ(
      RunZkqMail({u"send", u"--from", u"a@x", u"--to", u"b@y", u"--subject", u"s"}, out, err, body),
      2);
  EXPECT_EQ(RunZkqMail({u"send", u"--server", u"127.0.0.1", u"--port", u"25", u"--from", u"a@x",
                        u"--to", u"b@y", u"--subject", u"s", u"--timeout", u"soon"},
                       out, err, body),
            2);
  // A CA file that cannot be read is refused before any connection.
  EXPECT_EQ(RunZkqMail({u"send", u"--server", u"127.0.0.1", u"--port", u"25", u"--from", u"a@x",
                        u"--to", u"b@y", u"--subject", u"s", u"--ca-file", u"/nonexistent/ca.pem"},
                       out, err, body),
            2);
  EXPECT_NE(err.text.find("zkq: /nonexistent/ca.pem: cannot be read"), std::string::npos);
  const std::vector<std::u16string> server = {u"send", u"--server", u"127.0.0.1", u"--port", u"25",
                                              u"--from", u"a@x", u"--to", u"b@y", u"--subject", u"s"};
  // A login without TLS, and a security zkq does not know: refused before connecting.
  for (const std::vector<std::u16string>& extra :
       {std::vector<std::u16string>{u"--user", u"alice"},
        {u"--user", u"alice", u"--security", u"none"},
        {u"--security", u"ssl"}}) {
    std::vector<std::u16string> args = server;
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(RunZkqMail(args, out, err, body), 2) << ToUtf8(extra.back());
  }
  EXPECT_TRUE(out.text.empty());
}

}  // namespace
}  // namespace zkq
