#include "mail/smtp_session.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>

#include "base/testing/recording_boxes.h"
#include "base/text.h"
#include "mail/posix/posix_socket.h"
#include "mail/socket_errors.h"
#include "mail/testing/scripted_server.h"

namespace zkq {
namespace {

using test_support::kCloseConnection;
using test_support::kResetConnection;
using test_support::RecordingBoxes;
using test_support::ScriptedServer;

class Recorder : public SendObserver {
 public:
  void Status(const std::u16string& text) override {
    statuses.push_back(text);
    if (text == fireAfter) fire = true;
  }
  void Progress(int value) override { progress.push_back(value); }
  void Title(const std::u16string& text) override { title = text; }
  void Ended(SendResult, bool timedOut) override {
    ++ended;
    endedByTimeout = timedOut;
  }

  std::vector<std::u16string> statuses;
  std::vector<int> progress;
  std::u16string title;
  int ended = 0;
  bool endedByTimeout = false;
  // The time-out runs out as soon as this status has been shown.
  std::u16string fireAfter;
  bool fire = false;
};

class FakeTimer : public SessionTimer {
 public:
  void Start(std::int32_t milliseconds) override {
    running = true;
    if (period == 0) period = milliseconds;
  }
  void Stop() override { running = false; }
  bool running = false;
  std::int32_t period = 0;  // the first one started
};

// Failures that a loopback server cannot cause, put in front of real sockets.
struct Faults {
  std::u16string startMessage = u"";
  std::int32_t openError = 0;
  std::size_t receiveCap = 0;  // most bytes one receive call may give
  int failReceiveAt = 0;       // that receive call fails
  int failSendAt = 0;          // that send call fails
  // The TLS layer: what StartTls answers at once, then what its Tls event says.
  std::int32_t tlsStartError = 0;
  std::int32_t tlsError = 0;
};

class FaultySocket : public SocketPort {
 public:
  explicit FaultySocket(Faults faults) : faults_(std::move(faults)) {}
  std::u16string Start() override { return faults_.startMessage; }
  void Stop() override {}
  std::int32_t Open() override {
    ++opens;
    return faults_.openError != 0 ? faults_.openError : inner.Open();
  }
  std::int32_t Connect(std::u16string_view host, std::uint16_t port) override {
    return inner.Connect(host, port);
  }
  Transfer Send(std::span<const char> bytes) override {
    if (++sends_ == faults_.failSendAt) return {0, 10053};
    const Transfer sent = inner.Send(bytes);
    if (!secured) inClear.append(bytes.data(), sent.bytes);
    return sent;
  }
  // No real TLS: the bytes stay readable, and the test sees which went out
  // before the handshake.
  std::int32_t StartTls(std::u16string_view serverName) override {
    tlsServerName = serverName;
    if (faults_.tlsStartError != 0) return faults_.tlsStartError;
    tlsPending = true;
    return 0;
  }
  std::u16string LocalAddress() override { return inner.LocalAddress(); }
  Transfer Receive(std::span<char> buffer) override {
    if (++receives_ == faults_.failReceiveAt) return {0, 10053};
    if (faults_.receiveCap != 0) buffer = buffer.first(std::min(faults_.receiveCap, buffer.size()));
    return inner.Receive(buffer);
  }
  std::int32_t Arm(SocketEvent event) override { return inner.Arm(event); }
  void Close() override { inner.Close(); }

  posix::PosixSocket inner;
  int opens = 0;
  std::string inClear;
  std::u16string tlsServerName;
  bool tlsPending = false;
  bool secured = false;

  // The handshake's end, when one was started.
  bool DeliverTls(SmtpSession& session) {
    if (!tlsPending) return false;
    tlsPending = false;
    secured = faults_.tlsError == 0;
    session.OnSocketEvent(SocketEvent::Tls, faults_.tlsError);
    return true;
  }

 private:
  Faults faults_;
  int sends_ = 0;
  int receives_ = 0;
};

// Like the sending window: start, send, then hand over every event until the
// send has ended. No wait here lasts longer than the server's own bound.
void Drive(SmtpSession& session, FaultySocket& socket, FakeTimer& timer, Recorder& recorder) {
  if (!session.StartSockets()) return;
  session.Send();
  while (session.Running()) {
    if (recorder.fire) {
      recorder.fire = false;
      ASSERT_TRUE(timer.running) << "no time-out was running after the status";
      session.OnTimeout();
      continue;
    }
    if (socket.DeliverTls(session)) continue;
    const std::optional<SocketEvent> armed = socket.inner.Armed();
    ASSERT_TRUE(armed) << "the session waits for nothing";
    pollfd entry{socket.inner.Descriptor(),
                 static_cast<short>(*armed == SocketEvent::Read ? POLLIN : POLLOUT), 0};
    ASSERT_GT(::poll(&entry, 1, 8000), 0) << "no event came";
    session.OnSocketEvent(*armed, *armed == SocketEvent::Connect ? socket.inner.ConnectError() : 0);
  }
}

// A port that nothing listens on: bound once, then given back.
std::uint16_t ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

const std::vector<std::string> kAccepting = {
    "220 mx ready\r\n", "250 hello\r\n",   "250 sender ok\r\n", "250 rcpt ok\r\n",
    "354 go ahead\r\n", "250 queued\r\n", "221 bye\r\n"};

// The accepting script with these replies in front of MAIL FROM's (the
// greeting and EHLO's reply replaced by the first two).
std::vector<std::string> Before(std::vector<std::string> front) {
  front.insert(front.end(), kAccepting.begin() + 2, kAccepting.end());
  return front;
}

// The accepting script up to the reply at index at, which is replaced.
std::vector<std::string> Until(std::size_t at, std::string reply) {
  std::vector<std::string> script(kAccepting.begin(), kAccepting.begin() + at);
  script.push_back(std::move(reply));
  return script;
}

SmtpRequest Request(std::uint16_t port, std::u16string toList) {
  SmtpRequest request;
  request.server = u"127.0.0.1";
  request.port = u" " + FromUtf8(std::to_string(port)) + u" ";
  request.heloName = u"PC01";
  request.fromAddress = u"zkq@example.jp";
  request.toList = std::move(toList);
  request.messageText = "Subject:test\r\n\r\nline one\r\nline two\r\n";
  request.timeoutSeconds = 60;
  request.showMessages = true;
  return request;
}

TEST(SmtpSessionTest, SendsTheMailAsTheServerReceivesIt) {
  std::vector<std::string> script = kAccepting;
  script.insert(script.begin() + 3, "250 first rcpt ok\r\n");
  ScriptedServer server(script);
  SmtpRequest request = Request(server.Port(), u" a@x ;b@y");
  request.heloName = u"PC-端末";
  request.messageText = "Subject:test\r\n\r\n.hidden\r\n.\r\nlast";
  FaultySocket socket({});
  FakeTimer timer;
  Recorder recorder;
  RecordingBoxes boxes;
  SmtpSession session(request, socket, timer, recorder, boxes);
  Drive(session, socket, timer, recorder);

  EXPECT_EQ(session.Result(), SendResult::Sent);
  // A computer name that is no DNS name gives way to the address literal.
  EXPECT_EQ(server.Received(),
            "EHLO [127.0.0.1]\r\nMAIL FROM:<zkq@example.jp>\r\nRCPT TO:<a@x>\r\n"
            "RCPT TO:<b@y>\r\nDATA\r\n"
            "Subject:test\r\n\r\n..hidden\r\n..\r\nlast\r\n\r\n.\r\nQUIT\r\n");
  EXPECT_EQ(recorder.progress, (std::vector<int>{10, 20, 30, 40, 50, 100}));
  EXPECT_TRUE(socket.tlsServerName.empty()) << "TLS without being asked";
  EXPECT_EQ(recorder.title, kSentTitle);
  EXPECT_EQ(recorder.statuses.back(), u"メッセージが送信されました！");
  EXPECT_EQ(recorder.ended, 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Information);
  EXPECT_EQ(timer.period, 60000);
  EXPECT_EQ(session.State(), SendState::Idle);
}

struct Case {
  const char* name;
  std::vector<std::string> script = kAccepting;
  std::u16string toList = u"admin@example.jp";
  Faults faults = {};
  std::u16string fireAfter = u"";
  SendResult result = SendResult::Sent;
  // Each is found, in this order, in the statuses shown.
  std::vector<std::u16string> statuses = {};
  std::u16string box = u"メッセージが送信されました！";
  std::u16string server = u"127.0.0.1";
  bool closedPort = false;
  SmtpSecurity security = SmtpSecurity::None;
  std::u16string user = u"";
  // What the server received: each found in this order; none of the others.
  std::vector<std::string> sent = {};
  std::vector<std::string> notSent = {};
  // Everything that went out before the TLS handshake, when it is checked.
  std::optional<std::string> inClear = std::nullopt;
  Faults tls = {};
  // The message sent, when not the usual short one.
  std::string message = "";
  // The recipients refused for good, and whether the mail was.
  std::vector<RefusedRecipient> refused = {};
  bool permanent = false;
  // Given: XOAUTH2 as user, with these answers of the token source in turn.
  std::vector<AccessToken> tokens = {};
};

class ScriptedTokens : public TokenSource {
 public:
  explicit ScriptedTokens(std::vector<AccessToken> answers) : answers_(std::move(answers)) {}
  AccessToken Token(bool) override {
    return next_ < answers_.size() ? answers_[next_++] : AccessToken{.status = u"no more"};
  }

 private:
  std::vector<AccessToken> answers_;
  std::size_t next_ = 0;
};

const AccessToken kFreshToken{.token = "ya29.fresh", .status = kTokenObtained};
const AccessToken kKeptToken{.token = "ya29.kept", .fromCache = true, .status = kTokenFromMemory};
const std::vector<std::string> kXOAuth2Greeting = {"220 mx\r\n", "250-mx\r\n250 STARTTLS\r\n",
                                                   "220 go on\r\n",
                                                   "250-mx\r\n250 AUTH LOGIN PLAIN XOAUTH2\r\n"};
std::vector<std::string> AfterXOAuth2Ehlo(std::vector<std::string> replies, bool accepted = true) {
  std::vector<std::string> script = kXOAuth2Greeting;
  script.insert(script.end(), replies.begin(), replies.end());
  if (accepted) script.insert(script.end(), kAccepting.begin() + 2, kAccepting.end());
  return script;
}
std::string XOAuth2Line(const AccessToken& token) {
  return "AUTH XOAUTH2 " + XOAuth2Response(u"watch@contoso.jp", token.token) + "\r\n";
}

// More than one batch of lines: the time-out can come while the rest waits.
std::string LongMessage() {
  std::string message = "Subject:test\r\n\r\n";
  for (int i = 0; i < 40000; ++i) message += "line one\r\n";
  return message + "line two\r\n";
}

constexpr char kPassword[] = "s3cret";
const std::string kPlainCredentials = "AUTH PLAIN AGFsaWNlAHMzY3JldA==\r\n";  // \0alice\0s3cret

const Case kCases[] = {
    {.name = "XOAuth2AfterStartTls",
     .script = AfterXOAuth2Ehlo({"235 2.7.0 Authentication successful\r\n"}),
     .statuses = {u"TLSで保護されました！", kTokenRequesting, kTokenObtained,
                  u"AUTH XOAUTH2 ********\r\n", u"MAIL FROM:"},
     .security = SmtpSecurity::StartTls,
     .user = u"watch@contoso.jp",
     // user=watch@contoso.jp ^A auth=Bearer ya29.fresh ^A ^A
     .sent = {"STARTTLS\r\nEHLO [127.0.0.1]\r\nAUTH XOAUTH2 "
              "dXNlcj13YXRjaEBjb250b3NvLmpwAWF1dGg9QmVhcmVyIHlhMjkuZnJlc2gBAQ==\r\nMAIL FROM:"},
     .notSent = {"AUTH PLAIN", "AUTH LOGIN"},
     .inClear = "EHLO [127.0.0.1]\r\nSTARTTLS\r\n",
     .tokens = {kFreshToken}},
    {.name = "AKeptTokenRefusedIsTriedOnceFresh",
     .script = AfterXOAuth2Ehlo({"535 5.7.3 Authentication unsuccessful\r\n", "235 ok\r\n"}),
     .statuses = {kTokenFromMemory, u"SMTPエラー: 535 5.7.3", kTokenObtained, u"MAIL FROM:"},
     .security = SmtpSecurity::StartTls,
     .user = u"watch@contoso.jp",
     .sent = {XOAuth2Line(kKeptToken) + XOAuth2Line(kFreshToken) + "MAIL FROM:"},
     .tokens = {kKeptToken, kFreshToken}},
    {.name = "AFreshTokenRefusedIsNotTriedAgain",
     .script = AfterXOAuth2Ehlo({"535 5.7.3 Authentication unsuccessful\r\n"}, false),
     .result = SendResult::AuthRefused,
     .box = u"SMTPエラー: 535 5.7.3 Authentication unsuccessful\r\n",
     .security = SmtpSecurity::StartTls,
     .user = u"watch@contoso.jp",
     .notSent = {"MAIL"},
     .tokens = {kFreshToken, kFreshToken}},
    {.name = "XOAuth2NotOffered",
     .script = {"220 mx\r\n", "250-mx\r\n250 AUTH PLAIN LOGIN\r\n"},
     .result = SendResult::AuthRefused,
     .box = kNoXOAuth2,
     .security = SmtpSecurity::Tls,
     .user = u"watch@contoso.jp",
     .notSent = {"AUTH", "MAIL"},
     .tokens = {kFreshToken}},
    {.name = "OAuthWithoutTls",
     .result = SendResult::TlsFailed,
     .box = kCredentialsNeedTls,
     .closedPort = true,
     .user = u"watch@contoso.jp",
     .tokens = {kFreshToken}},
    {.name = "Microsoft365Refuses5_7_3ToAPassword",
     .script = {"220 TY2P.outlook.office365.com Microsoft ESMTP MAIL Service ready\r\n",
                "250-mx\r\n250 AUTH LOGIN\r\n", "535 5.7.3 Authentication unsuccessful\r\n"},
     .result = SendResult::AuthRefused,
     .box = u"unsuccessful\r\n" + std::u16string(kUseOAuthHint),
     .security = SmtpSecurity::Tls,
     .user = u"alice"},
    {.name = "MultiLineGreeting",
     .script =
         [] {
           std::vector<std::string> script = kAccepting;
           script[0] = "220-mx ready\r\n220-more\r\n220 at last\r\n";
           return script;
         }(),
     .statuses = {u"220-mx ready\r\n220-more\r\n220 at last\r\n", u"EHLO [127.0.0.1]\r\n"}},
    {.name = "RepliesSplitOverReceives",
     .faults = {.receiveCap = 3},
     .statuses = {u"250 queued\r\n"}},
    {.name = "EmptyRecipientItemsAreSkipped",
     .script = Before({"220 a\r\n", "250 b\r\n", "250 c\r\n"}),
     .toList = u" ; a@x ;; b@y ;",
     .sent = {"RCPT TO:<a@x>\r\nRCPT TO:<b@y>\r\nDATA\r\n"},
     .notSent = {"RCPT TO:<>"}},
    {.name = "RefusedAfterTheDataStillSaysGoodbye",
     .script = {"220 a\r\n", "250 b\r\n", "250 c\r\n", "250 d\r\n", "354 e\r\n",
                "554 no thanks\r\n", "221 bye\r\n"},
     .result = SendResult::MailRefused,
     .statuses = {u"\r\n.\r\n", u"SMTPエラー: 554 no thanks\r\n"},
     .box = u"SMTPエラー: 554 no thanks\r\n",
     .sent = {"\r\n.\r\nQUIT\r\n"},
     .permanent = true},
    // The mail is in: a server that never answers QUIT changes nothing.
    {.name = "QuitUnanswered",
     .script = Until(5, "250 queued\r\n"),
     .fireAfter = u"メッセージが送信されました！",
     .sent = {"QUIT\r\n"}},
    {.name = "EhloRefusedFallsBackToHelo",
     .script = Before({"220 old\r\n", "502 what\r\n", "250 hello\r\n"}),
     .statuses = {u"SMTPエラー: 502 what\r\n", u"HELO [127.0.0.1]\r\n"},
     .sent = {"EHLO [127.0.0.1]\r\nHELO [127.0.0.1]\r\nMAIL FROM:"}},
    {.name = "EhloRefusedWhenStartTlsIsAsked",
     .script = {"220 old\r\n", "502 what\r\n", "250 hello\r\n"},
     .result = SendResult::HeloRefused,
     .box = u"SMTPエラー: 502 what\r\n",
     .security = SmtpSecurity::StartTls,
     .notSent = {"HELO", "MAIL"}},
    {.name = "StartTlsThenAuthPlain",
     .script = Before({"220 mx\r\n", "250-mx\r\n250-STARTTLS\r\n250 SIZE 100\r\n", "220 go on\r\n",
                       "250-mx\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n", "235 ok\r\n"}),
     .statuses = {u"STARTTLS\r\n", u"TLSを開始しています･･･", u"TLSで保護されました！",
                  u"EHLO [127.0.0.1]\r\n", u"AUTH PLAIN ********\r\n", u"MAIL FROM:"},
     .security = SmtpSecurity::StartTls,
     .user = u"alice",
     .sent = {"EHLO [127.0.0.1]\r\nSTARTTLS\r\nEHLO [127.0.0.1]\r\n" + kPlainCredentials +
              "MAIL FROM:<zkq@example.jp>\r\n",
              "QUIT\r\n"},
     .inClear = "EHLO [127.0.0.1]\r\nSTARTTLS\r\n"},
    {.name = "ImplicitTlsThenAuthLogin",
     .script = Before({"220 mx\r\n", "250-mx\r\n250 AUTH=LOGIN\r\n", "334 VXNlcm5hbWU6\r\n",
                       "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"}),
     .statuses = {u"TLSで保護されました！", u"220 mx\r\n", u"AUTH LOGIN\r\n", u"********\r\n",
                  u"********\r\n", u"235 ok\r\n"},
     .security = SmtpSecurity::Tls,
     .user = u"alice",
     .sent = {"AUTH LOGIN\r\nYWxpY2U=\r\nczNjcmV0\r\nMAIL FROM:"},
     .inClear = ""},
    {.name = "AuthRefused",
     .script = {"220 mx\r\n", "250-mx\r\n250 AUTH PLAIN\r\n", "535 5.7.8 bad credentials\r\n"},
     .result = SendResult::AuthRefused,
     .box = u"SMTPエラー: 535 5.7.8 bad credentials\r\n",
     .security = SmtpSecurity::Tls,
     .user = u"alice",
     .notSent = {"MAIL"}},
    {.name = "NoAuthMechanismOffered",
     .script = {"220 mx\r\n", "250-mx\r\n250 AUTH CRAM-MD5\r\n"},
     .result = SendResult::AuthRefused,
     .box = kNoAuthMechanism,
     .security = SmtpSecurity::Tls,
     .user = u"alice",
     .notSent = {"AUTH", "MAIL"}},
    {.name = "StartTlsNotOffered",
     .script = {"220 mx\r\n", "250-mx\r\n250 AUTH PLAIN\r\n"},
     .result = SendResult::TlsFailed,
     .box = u"サーバーがSTARTTLSに対応していない。",
     .security = SmtpSecurity::StartTls,
     .user = u"alice",
     .notSent = {"STARTTLS", "AUTH", "MAIL"}},
    {.name = "StartTlsRefused",
     .script = {"220 mx\r\n", "250-mx\r\n250 STARTTLS\r\n", "454 not now\r\n"},
     .result = SendResult::TlsFailed,
     .box = u"SMTPエラー: 454 not now\r\n",
     .security = SmtpSecurity::StartTls,
     .notSent = {"MAIL"}},
    {.name = "CertificateNotTrusted",
     .script = {"220 mx\r\n", "250-mx\r\n250 STARTTLS\r\n", "220 go on\r\n"},
     .result = SendResult::TlsFailed,
     .box = u"サーバー証明書が信頼されていない。",
     .security = SmtpSecurity::StartTls,
     .user = u"alice",
     .notSent = {"AUTH", "MAIL"},
     .tls = {.tlsError = kTlsUntrustedCertificate}},
    {.name = "ImplicitTlsNamesAnotherHost",
     .script = {"220 mx\r\n"},
     .result = SendResult::TlsFailed,
     .box = u"サーバー証明書のホスト名が一致しない。",
     .security = SmtpSecurity::Tls,
     .user = u"alice",
     .notSent = {"EHLO", "AUTH", "MAIL"},
     .tls = {.tlsError = kTlsNameMismatch}},
    // Refused before connecting: nothing listens on the port, so a connect
    // would end with ConnectFailed.
    {.name = "CredentialsWithoutTls",
     .result = SendResult::TlsFailed,
     .box = kCredentialsNeedTls,
     .closedPort = true,
     .user = u"alice"},
    {.name = "NoTlsLayer",
     .script = {"220 mx\r\n"},
     .result = SendResult::TlsFailed,
     .box = u"このソケットではTLSを使用できない。",
     .security = SmtpSecurity::Tls,
     .tls = {.tlsStartError = kTlsUnavailable}},
    {.name = "GreetingRefused",
     .script = Until(0, "421 busy\r\n"),
     .result = SendResult::GreetingRefused,
     .box = u"SMTPエラー: 421 busy\r\n"},
    {.name = "HeloRefused",
     .script = {"220 a\r\n", "502 what\r\n", "501 who\r\n"},
     .result = SendResult::HeloRefused,
     .box = u"SMTPエラー: 501 who\r\n"},
    {.name = "SenderRefused",
     .script = Until(2, "550 sender\r\n"),
     .result = SendResult::SenderOrRecipientRefused,
     .box = u"SMTPエラー: 550 sender\r\n"},
    // A refusal for now fails the mail, to be tried again.
    {.name = "FirstOfTwoRecipientsRefusedForNow",
     .script = Until(3, "450 no a\r\n"),
     .toList = u"a@x;b@y",
     .result = SendResult::SenderOrRecipientRefused,
     .box = u"SMTPエラー: 450 no a\r\n"},
    {.name = "SecondOfTwoRecipientsRefusedForNow",
     .script = {"220 a\r\n", "250 b\r\n", "250 c\r\n", "250 d\r\n", "451 no b\r\n"},
     .toList = u"a@x;b@y",
     .result = SendResult::LastRecipientRefused,
     .statuses = {u"RCPT TO:<b@y>\r\n"},
     .box = u"SMTPエラー: 451 no b\r\n"},
    // A recipient refused for good keeps the mail from no other.
    {.name = "FirstOfTwoRecipientsRefusedForGood",
     .script = {"220 a\r\n", "250 b\r\n", "250 c\r\n", "550 5.1.1 gone\r\n", "250 d\r\n",
                "354 go\r\n", "250 queued\r\n", "221 bye\r\n"},
     .toList = u"gone@x;admin@y",
     .sent = {"RCPT TO:<gone@x>", "RCPT TO:<admin@y>", "DATA"},
     .refused = {{u"gone@x", u"550 5.1.1 gone"}}},
    {.name = "EveryRecipientRefusedForGood",
     .script = {"220 a\r\n", "250 b\r\n", "250 c\r\n", "550 no a\r\n", "550 no b\r\n"},
     .toList = u"a@x;b@y",
     .result = SendResult::SenderOrRecipientRefused,
     .box = u"SMTPエラー: 550 no b\r\n",
     .notSent = {"DATA"},
     .refused = {{u"a@x", u"550 no a"}, {u"b@y", u"550 no b"}},
     .permanent = true},
    {.name = "DataRefused",
     .script = Until(4, "503 bad sequence\r\n"),
     .result = SendResult::DataRefused,
     .box = u"SMTPエラー: 503 bad sequence\r\n"},
    {.name = "EndlessReply",
     .script = Until(0,
                     [] {
                       std::string flood;
                       while (flood.size() <= kMaxReplyBytes) flood += "220-and more\r\n";
                       return flood;
                     }()),
     .result = SendResult::GreetingRefused,
     .box = u"SMTPエラー: 220-and more\r\n220-and more"},
    {.name = "ServerHangsUp",
     .script = Until(1, kCloseConnection),
     .result = SendResult::ServerClosed,
     .statuses = {u"EHLO [127.0.0.1]\r\n", u"切断されています！"},
     .box = u"切断されています！"},
    {.name = "ServerResets",
     .script = Until(1, kResetConnection),
     .result = SendResult::ServerClosed,
     .statuses = {u"接続が切れました！"},
     .box = u"接続が切れました！"},
    {.name = "ReceiveFails",
     .faults = {.failReceiveAt = 2},
     .result = SendResult::ReceiveFailed,
     .statuses = {u"EHLO [127.0.0.1]\r\n", u"ネットワーク不良で接続が中止された。"},
     .box = u"アプリケーションエラー！\r\nネットワーク不良で接続が中止された。"},
    {.name = "CommandCannotBeSent",
     .faults = {.failSendAt = 2},
     .result = SendResult::SendFailed,
     .statuses = {u"MAIL FROM:<zkq@example.jp>\r\n", u"ネットワーク不良で接続が中止された。"},
     .box = u"アプリケーションエラー！\r\nネットワーク不良で接続が中止された。"},
    {.name = "MessageLineCannotBeSent",
     .faults = {.failSendAt = 5},
     .result = SendResult::SendFailed,
     .statuses = {u"line two\r\n", u"ネットワーク不良で接続が中止された。"},
     .box = u"アプリケーションエラー！\r\nネットワーク不良で接続が中止された。"},
    {.name = "SocketCannotBeCreated",
     .faults = {.openError = 10024},
     .result = SendResult::ConnectFailed,
     .statuses = {u"ソケットを生成できませんでした！"},
     .box = u"アプリケーションエラー！\r\n利用可能なファイル番号が存在しない。"},
    {.name = "ServerNameDoesNotResolve",
     .result = SendResult::ConnectFailed,
     .statuses = {u"に接続できませんでした！ホストが見つからない。"},
     .box = u"に接続できませんでした！ホストが見つからない。",
     .server = u""},
    {.name = "ConnectionRefused",
     .result = SendResult::ConnectFailed,
     .statuses = {u"接続できませんでした！"},
     .box = u"接続できませんでした！",
     .closedPort = true},
    {.name = "SocketLibraryDoesNotStart",
     .faults = {.startMessage = u"Windows Sockets version 1.0 is not supported by winsock.dll"},
     .result = SendResult::NoOutcome,
     .statuses = {u"ソケットを初期化しています･･･", u"Windows Sockets version 1.0"},
     .box = u"アプリケーションエラー！\r\nWindows Sockets version 1.0"},
    // A time-out in each phase: nothing of the send runs after it.
    {.name = "TimeoutWhileConnecting",
     .fireAfter = u"127.0.0.1に接続しています･･･",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText},
    {.name = "TimeoutAwaitingTheGreeting",
     .fireAfter = u"127.0.0.1に接続しました！",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText},
    {.name = "TimeoutAfterEhlo",
     .fireAfter = u"EHLO [127.0.0.1]\r\n",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText},
    {.name = "TimeoutAfterMailFrom",
     .fireAfter = u"MAIL FROM:<zkq@example.jp>\r\n",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText},
    {.name = "TimeoutAfterRcptTo",
     .fireAfter = u"RCPT TO:<admin@example.jp>\r\n",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText},
    {.name = "TimeoutAfterData",
     .fireAfter = u"DATA\r\n",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText},
    {.name = "TimeoutAfterAMessageLine",
     .fireAfter = u"line one\r\n",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText,
     .message = LongMessage()},
    {.name = "TimeoutAfterTheEndOfData",
     .fireAfter = u"\r\n.\r\n",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText},
    {.name = "TimeoutInTheHandshake",
     .fireAfter = u"TLSを開始しています･･･",
     .result = SendResult::NoOutcome,
     .box = kTimeoutText,
     .security = SmtpSecurity::Tls},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class SmtpSessionCases : public testing::TestWithParam<Case> {};

TEST_P(SmtpSessionCases, EndsWithItsResult) {
  const Case& c = GetParam();
  ScriptedServer server(c.script);
  SmtpRequest request = Request(c.closedPort ? ClosedPort() : server.Port(), c.toList);
  request.server = c.server;
  request.security = c.security;
  request.user = c.user;
  if (!c.message.empty()) request.messageText = c.message;
  request.password = FromUtf8(kPassword);
  ScriptedTokens tokens(c.tokens);
  if (!c.tokens.empty()) request.tokens = &tokens;
  Faults faults = c.faults;
  faults.tlsStartError = c.tls.tlsStartError;
  faults.tlsError = c.tls.tlsError;
  FaultySocket socket(faults);
  FakeTimer timer;
  Recorder recorder;
  recorder.fireAfter = c.fireAfter;
  RecordingBoxes boxes;
  SmtpSession session(request, socket, timer, recorder, boxes);
  Drive(session, socket, timer, recorder);

  EXPECT_EQ(session.Result(), c.result);
  EXPECT_EQ(session.Outcome().refused, c.refused);
  EXPECT_EQ(session.Outcome().permanent, c.permanent);
  EXPECT_TRUE(session.Ended());
  EXPECT_EQ(recorder.ended, 1);
  EXPECT_EQ(recorder.endedByTimeout, !c.fireAfter.empty() && c.result != SendResult::Sent);
  EXPECT_FALSE(timer.running);
  auto at = recorder.statuses.begin();
  for (const std::u16string& wanted : c.statuses) {
    at = std::find_if(at, recorder.statuses.end(), [&](const std::u16string& s) {
      return s.find(wanted) != std::u16string::npos;
    });
    EXPECT_NE(at, recorder.statuses.end()) << "status " << ToUtf8(wanted);
    if (at == recorder.statuses.end()) break;
    ++at;
  }
  if (!c.fireAfter.empty()) {
    EXPECT_EQ(recorder.statuses.back(), c.fireAfter) << "the send went on after its time-out";
  }
  for (const std::u16string& status : recorder.statuses) {
    EXPECT_EQ(status.find(FromUtf8(kPassword)), std::u16string::npos) << "the password shows";
    EXPECT_EQ(status.find(u"ya29"), std::u16string::npos) << "a token shows";
  }
  if (!socket.tlsServerName.empty()) {
    EXPECT_EQ(socket.tlsServerName, c.server);
  }
  if (c.inClear) {
    EXPECT_EQ(socket.inClear, *c.inClear);
  }
  if (!c.sent.empty() || !c.notSent.empty()) {
    const std::string& received = server.Received();
    std::size_t at = 0;
    for (const std::string& wanted : c.sent) {
      at = received.find(wanted, at);
      ASSERT_NE(at, std::string::npos) << wanted << " not in " << received;
    }
    for (const std::string& unwanted : c.notSent) {
      EXPECT_EQ(received.find(unwanted), std::string::npos) << unwanted << " in " << received;
    }
  }
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_NE(boxes.shown[0].text.find(c.box), std::u16string::npos) << ToUtf8(boxes.shown[0].text);
}

TEST(SmtpSessionTest, EhloName) {
  const struct {
    std::u16string dns, local, name;
  } cases[] = {
      {u"pc01.corp.example.jp", u"192.0.2.10", u"pc01.corp.example.jp"},
      {u"pc01.corp.example.jp.", u"", u"pc01.corp.example.jp"},
      {u"PC01", u"192.0.2.10", u"[192.0.2.10]"},
      {u"端末.example.jp", u"fe80::1%eth0", u"[IPv6:fe80::1]"},
      {u"-pc.example.jp", u"2001:db8::5", u"[IPv6:2001:db8::5]"},
      {u"pc..example", u"", u"localhost"},
      {u"", u"not an address", u"localhost"},
  };
  for (const auto& c : cases) EXPECT_EQ(EhloName(c.dns, c.local), c.name) << ToUtf8(c.dns);
}

INSTANTIATE_TEST_SUITE_P(Scripts, SmtpSessionCases, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(SmtpSessionTest, TimeoutZeroNeverStartsTheTimer) {
  ScriptedServer server(kAccepting);
  SmtpRequest request = Request(server.Port(), u"a@x");
  request.timeoutSeconds = 0;
  request.showMessages = false;
  FaultySocket socket({});
  FakeTimer timer;
  Recorder recorder;
  RecordingBoxes boxes;
  SmtpSession session(request, socket, timer, recorder, boxes);
  Drive(session, socket, timer, recorder);
  EXPECT_EQ(session.Result(), SendResult::Sent);
  // Only the goodbye is bounded: it must not hold the window open.
  EXPECT_EQ(timer.period, kQuitWaitMilliseconds);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(SocketErrorsTest, TextsAndStartMessages) {
  EXPECT_EQ(SocketErrorText(10059), u"(10059)");
  EXPECT_EQ(SocketErrorText(0), u"(0)");
  EXPECT_EQ(SocketErrorText(10061), u"接続が拒否された。");
  EXPECT_EQ(SocketErrorText(11004), u"データレコードの型が要求されていない。");

  const std::u16string version10 = u"Windows Sockets version 1.0 is not supported by winsock.dll";
  const std::u16string tooFew = u"This application requires a minimum of 1 supported sockets.";
  struct {
    std::int32_t result;
    std::uint16_t version;
    std::int32_t maxSockets;
    std::u16string message;
  } const starts[] = {
      {0, 0x0101, 32767, u""},
      {0, 0x0202, 1, u""},
      {0, 0x0001, 32767, version10},
      {10091, 0x0101, 32767, SocketErrorText(10091)},
      // The later checks run on the record a failed start left, and win.
      {10091, 0x0001, 32767, version10},
      {0, 0x0001, 0, tooFew},
  };
  for (const auto& s : starts) {
    EXPECT_EQ(SocketStartMessage(s.result, s.version, s.maxSockets), s.message) << s.version;
  }
}

TEST(SocketErrorsTest, PortText) {
  EXPECT_EQ(ParsePortText(u" 25 "), 25);
  EXPECT_EQ(ParsePortText(u"65535"), 65535);
  for (const char16_t* bad : {u"", u"0", u"65536", u"2 5", u"x", u"-25", u"99999999999"}) {
    EXPECT_FALSE(ParsePortText(bad)) << ToUtf8(bad);
  }
}

}  // namespace
}  // namespace zkq
