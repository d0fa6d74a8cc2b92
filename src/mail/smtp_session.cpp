#include "mail/smtp_session.h"

#include <algorithm>
#include <array>
#include <climits>
#include <utility>

#include "base/base64.h"
#include "base/text.h"
#include "mail/composition.h"
#include "mail/socket_errors.h"

namespace zkq {
namespace {

constexpr char16_t kInitialising[] = u"ソケットを初期化しています･･･";
constexpr char16_t kInitialised[] = u"ソケットの初期化が完了しました！";
constexpr char16_t kSocketFailed[] = u"ソケットを生成できませんでした！";
constexpr char16_t kSocketCreated[] = u"ソケットが生成されました！";
constexpr char16_t kConnecting[] = u"に接続しています･･･";
constexpr char16_t kConnected[] = u"に接続しました！";
constexpr char16_t kNotConnected[] = u"接続できませんでした！";
constexpr char16_t kConnectFailedAfter[] = u"に接続できませんでした！";
constexpr char16_t kReceiveError[] = u"データ受信エラーが発生しました！";
constexpr char16_t kConnectionCut[] = u"接続が切れました！";
constexpr char16_t kDisconnected[] = u"切断されています！";
constexpr char16_t kSmtpError[] = u"SMTPエラー: ";
constexpr char16_t kMessageSent[] = u"メッセージが送信されました！";
constexpr char kEndOfData[] = "\r\n.\r\n";
// Windows gives this for a connect to port 0; an unusable port text says the same.
constexpr std::int32_t kWsaAddressNotAvailable = 10049;
// One receive call takes at most this much.
constexpr std::size_t kReceiveRoom = 4096;
// Message lines are written in batches of about this size.
constexpr std::size_t kLineBatchBytes = 256 * 1024;
// Of a reply too long to take, the status shows this much.
constexpr std::size_t kShownOfLongReply = 256;

std::string CodeOf(const std::string& reply) {
  std::string code = reply.substr(0, 3);
  for (char& c : code) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return code;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSuccessCode(const std::string& code) {
  return code.size() == 3 && code[0] == '2' && IsDigit(code[1]) && IsDigit(code[2]);
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

// The words of one reply line after its code, upper-cased.
std::vector<std::u16string> WordsOf(std::u16string_view line) {
  std::vector<std::u16string> words;
  std::u16string word;
  for (std::size_t i = 4; i <= line.size(); ++i) {
    const char16_t c = i < line.size() ? line[i] : u' ';
    if (c == u' ' || c == u'=' || c == u'\r' || c == u'\n') {
      if (!word.empty()) words.push_back(std::exchange(word, u""));
    } else {
      word += Upper(c);
    }
  }
  return words;
}

bool IsDomainLabelCharacter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'-';
}

// Letters, digits and inner hyphens in labels of 1 to 63, two labels at least.
bool IsFullyQualified(std::u16string_view name) {
  if (name.ends_with(u'.')) name.remove_suffix(1);
  if (name.empty() || name.size() > 253) return false;
  int labels = 0;
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t dot = name.find(u'.', start);
    if (dot == std::u16string_view::npos) dot = name.size();
    const std::u16string_view label = name.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
      return false;
    for (const char16_t c : label) {
      if (!IsDomainLabelCharacter(c)) return false;
    }
    ++labels;
    start = dot + 1;
  }
  return labels >= 2;
}

std::u16string Lowered(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower) c = c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c;
  return lower;
}

// A refusal of a password that says the server takes none: Exchange Online
// with basic authentication turned off (5.7.139, 5.7.30), or its plain
// 5.7.3 on a Microsoft 365 host (hostAndGreeting names it).
bool BasicAuthDisabled(const std::string& reply, std::u16string_view hostAndGreeting) {
  const std::vector<std::u16string> words = WordsOf(DecodeCp932(reply.substr(0, reply.find('\n'))));
  if (words.empty()) return false;
  if (words[0] == u"5.7.139" || words[0] == u"5.7.30") return true;
  const std::u16string host = Lowered(hostAndGreeting);
  return CodeOf(reply) == "535" && words[0] == u"5.7.3" &&
         (host.find(u"office365.com") != std::u16string::npos ||
          host.find(u"outlook.com") != std::u16string::npos);
}

}  // namespace

std::optional<SmtpSecurity> ParseSmtpSecurity(std::u16string_view text) {
  std::u16string name;
  for (const char16_t c : TrimView(text)) name += Upper(c);
  if (name.empty() || name == u"NONE") return SmtpSecurity::None;
  if (name == u"STARTTLS") return SmtpSecurity::StartTls;
  if (name == u"TLS") return SmtpSecurity::Tls;
  return std::nullopt;
}

std::u16string EhloName(std::u16string_view dnsName, std::u16string_view localAddress) {
  if (IsFullyQualified(dnsName)) {
    return std::u16string(dnsName.ends_with(u'.') ? dnsName.substr(0, dnsName.size() - 1) : dnsName);
  }
  // A scope ("%eth0") belongs to this machine only.
  const std::u16string_view address = localAddress.substr(0, localAddress.find(u'%'));
  const bool usable = !address.empty() && std::all_of(address.begin(), address.end(), [](char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') ||
           c == u'.' || c == u':';
  });
  if (!usable) return u"localhost";
  if (address.find(u':') != std::u16string_view::npos) {
    return u"[IPv6:" + std::u16string(address) + u"]";
  }
  return u"[" + std::u16string(address) + u"]";
}

std::optional<std::uint32_t> ParseWholeNumber(std::u16string_view text, std::uint32_t most) {
  const std::u16string_view digits = TrimView(text);
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char16_t c : digits) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > most) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint16_t> ParsePortText(std::u16string_view text) {
  const std::optional<std::uint32_t> port = ParseWholeNumber(text, 65535);
  if (!port || *port == 0) return std::nullopt;
  return static_cast<std::uint16_t>(*port);
}

SmtpSession::SmtpSession(SmtpRequest request, SocketPort& socket, SessionTimer& timer,
                         SendObserver& observer, MessageBoxes& boxes)
    : request_(std::move(request)),
      socket_(socket),
      timer_(timer),
      observer_(observer),
      boxes_(boxes) {}

bool SmtpSession::StartSockets() {
  SetStatus(kInitialising);
  const std::u16string message = socket_.Start();
  if (!message.empty()) {
    SetStatus(message);
    running_ = true;
    End(Box::AppError, message);
    return false;
  }
  SetStatus(kInitialised);
  SetStatus(request_.port);
  return true;
}

void SmtpSession::Send() {
  if (running_) return;
  running_ = true;
  ended_ = false;
  state_ = SendState::Idle;
  step_ = SmtpStep::Greeting;
  progress_ = 0;
  // An empty item (a trailing ";") names no one: RCPT TO:<> would fail the mail.
  recipients_ = RecipientsOf(request_.toList);
  nextRecipient_ = acceptedRecipients_ = 0;
  refused_.clear();
  permanentRefusal_ = false;
  tls_ = ehloSent_ = false;
  offersStartTls_ = offersPlain_ = offersLogin_ = offersXOAuth2_ = false;
  greeting_.clear();
  token_ = AccessToken{};
  tokenRetried_ = false;
  reached_ = SendProgress{};
  xoauthError_.clear();
  quitBox_ = Box::None;
  quitBoxText_.clear();
  nextLine_ = 0;
  out_.clear();
  outSent_ = 0;
  in_.clear();
  lineStart_ = searchedTo_ = 0;

  if (LogsIn() && request_.security == SmtpSecurity::None) {
    const std::u16string status = kCredentialsNeedTls;
    Fail(SendState::Failed, SendResult::TlsFailed, &status, Box::Warning, status);
    return;
  }
  if (const std::int32_t error = socket_.Open(); error != 0) {
    const std::u16string status = kSocketFailed;
    Fail(SendState::Failed, SendResult::ConnectFailed, &status, Box::AppError,
         SocketErrorText(error));
    return;
  }
  SetStatus(kSocketCreated);
  state_ = SendState::Connecting;
  const std::optional<std::uint16_t> port = ParsePortText(request_.port);
  const std::int32_t error =
      port ? socket_.Connect(request_.server, *port) : kWsaAddressNotAvailable;
  if (error != 0) {
    // Known at once (no such host, a refused connect): no notification follows,
    // so waiting for one would only end in the time-out.
    const std::u16string failed = request_.server + kConnectFailedAfter + SocketErrorText(error);
    Fail(SendState::Failed, SendResult::ConnectFailed, &failed, Box::Info, failed);
    return;
  }
  SetStatus(request_.server + kConnecting);
  StartTimer();
}

void SmtpSession::Cancel() {
  if (running_) End(Box::None, u"");
}

void SmtpSession::OnTimeout() {
  if (!running_) return;
  // The mail's outcome is known: a server slow to say goodbye changes nothing.
  if (step_ == SmtpStep::Quit) {
    End(quitBox_, quitBoxText_);
    return;
  }
  End(Box::Warning, kTimeoutText, true);
}

void SmtpSession::OnSocketEvent(SocketEvent event, std::int32_t error) {
  if (!running_) return;
  switch (event) {
    case SocketEvent::Connect:
      OnConnect(error);
      break;
    case SocketEvent::Read:
      OnRead(error);
      break;
    case SocketEvent::Write:
      OnWrite();
      break;
    case SocketEvent::Tls:
      OnTls(error);
      break;
  }
}

void SmtpSession::OnConnect(std::int32_t error) {
  if (state_ != SendState::Connecting) return;
  timer_.Stop();
  if (error != 0) {
    const std::u16string status = kNotConnected;
    Fail(SendState::Failed, SendResult::ConnectFailed, &status, Box::Info, kNotConnected);
    return;
  }
  state_ = SendState::Idle;
  SetStatus(request_.server + kConnected);
  step_ = SmtpStep::Greeting;
  // Implicit TLS: the greeting itself comes through TLS.
  if (request_.security == SmtpSecurity::Tls) {
    BeginTls();
    return;
  }
  AwaitGreeting();
}

void SmtpSession::AwaitGreeting() {
  state_ = SendState::AwaitingReply;
  StartTimer();
  if (const std::int32_t armError = socket_.Arm(SocketEvent::Read); armError != 0) {
    const std::u16string text = SocketErrorText(armError);
    Fail(SendState::Failed, SendResult::ReceiveFailed, &text, Box::AppError, text);
  }
}

void SmtpSession::BeginTls() {
  state_ = SendState::AwaitingTls;
  // Whatever came in the clear before the handshake must not pass for a reply
  // over TLS (RFC 3207: a server could slip in a forged one).
  in_.clear();
  lineStart_ = searchedTo_ = 0;
  SetStatus(kTlsStarting);
  StartTimer();
  if (const std::int32_t error = socket_.StartTls(request_.server); error != 0) OnTls(error);
}

void SmtpSession::OnTls(std::int32_t error) {
  if (state_ != SendState::AwaitingTls) return;
  timer_.Stop();
  if (error != 0) {
    const std::u16string text = SocketErrorText(error);
    Fail(SendState::Failed, SendResult::TlsFailed, &text, Box::Warning, text);
    return;
  }
  tls_ = true;
  reached_.tlsStarted = true;
  SetStatus(kTlsStarted);
  if (step_ == SmtpStep::Greeting) {
    AwaitGreeting();
  } else {
    // What the server announced in the clear no longer counts.
    SendEhlo();
  }
}

void SmtpSession::SendEhlo() {
  offersStartTls_ = offersPlain_ = offersLogin_ = offersXOAuth2_ = false;
  const bool first = !ehloSent_;
  ehloSent_ = true;
  SendCommand(u"EHLO " + EhloName(request_.heloName, socket_.LocalAddress()), SmtpStep::Ehlo,
              first);
}

void SmtpSession::AfterEhlo(const std::string& reply) {
  const std::u16string text = DecodeCp932(reply);
  // The first line is the greeting; every further one names an extension.
  for (std::size_t start = text.find(u'\n'); start != std::u16string::npos;) {
    const std::size_t end = text.find(u'\n', start + 1);
    const std::vector<std::u16string> words =
        WordsOf(std::u16string_view(text).substr(start + 1, end - start - 1));
    if (!words.empty() && words[0] == u"STARTTLS") offersStartTls_ = true;
    if (!words.empty() && words[0] == u"AUTH") {
      for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == u"PLAIN") offersPlain_ = true;
        if (words[i] == u"LOGIN") offersLogin_ = true;
        if (words[i] == u"XOAUTH2") offersXOAuth2_ = true;
      }
    }
    start = end;
  }
  if (request_.security == SmtpSecurity::StartTls && !tls_) {
    if (!offersStartTls_) {
      const std::u16string status = SocketErrorText(kTlsNotOffered);
      Fail(SendState::Failed, SendResult::TlsFailed, &status, Box::Warning, status);
      return;
    }
    SendCommand(u"STARTTLS", SmtpStep::StartTls, false);
    return;
  }
  if (LogsIn()) {
    Authenticate();
    return;
  }
  SendMailFrom();
}

// PLAIN when offered, else LOGIN; credentials go out only over TLS, and the
// status line never shows them.
void SmtpSession::Authenticate() {
  if (!tls_) {
    const std::u16string status = kCredentialsNeedTls;
    Fail(SendState::Failed, SendResult::TlsFailed, &status, Box::Warning, status);
    return;
  }
  if (request_.tokens != nullptr) {
    if (!offersXOAuth2_) {
      const std::u16string status = kNoXOAuth2;
      Fail(SendState::Failed, SendResult::AuthRefused, &status, Box::Warning, status);
      return;
    }
    AuthenticateWithToken(false);
    return;
  }
  const std::string user = ToUtf8(request_.user);
  if (offersPlain_) {
    const std::string credentials = Base64Encode(std::string(1, '\0') + user + '\0' +
                                                 ToUtf8(request_.password));
    SendBytes("AUTH PLAIN " + credentials + "\r\n", u"AUTH PLAIN ********\r\n", SmtpStep::Auth,
              false);
  } else if (offersLogin_) {
    SendCommand(u"AUTH LOGIN", SmtpStep::AuthUser, false);
  } else {
    const std::u16string status = kNoAuthMechanism;
    Fail(SendState::Failed, SendResult::AuthRefused, &status, Box::Warning, status);
  }
}

// The token is asked for only now, over a connection already secured: its
// endpoint has a time limit of its own, so the session's timer waits.
void SmtpSession::AuthenticateWithToken(bool fresh) {
  timer_.Stop();
  SetStatus(kTokenRequesting);
  token_ = request_.tokens->Token(fresh);
  if (!token_.Ok()) {
    Fail(SendState::Failed, SendResult::TokenFailed, &token_.status, Box::Warning, token_.status);
    return;
  }
  SetStatus(token_.status);
  reached_.tokenObtained = true;
  xoauthError_.clear();
  SendBytes("AUTH XOAUTH2 " + XOAuth2Response(request_.user, token_.token) + "\r\n",
            u"AUTH XOAUTH2 ********\r\n", SmtpStep::XOAuth2, false);
}

bool SmtpSession::AnswerAuthRefusal(const std::string& reply, std::u16string& text) {
  const std::string code = CodeOf(reply);
  if (request_.tokens == nullptr) {
    if (BasicAuthDisabled(reply, request_.server + u" " + greeting_)) text += kUseOAuthHint;
    return false;
  }
  if (step_ == SmtpStep::XOAuth2 && code == "334") {
    // The server's error, in Base64 JSON; the refusal comes after an empty line.
    const std::string line = reply.substr(0, reply.find_first_of("\r\n"));
    xoauthError_ = XOAuth2ErrorStatus(line.size() > 4 ? line.substr(4) : "");
    SetStatus(DecodeCp932(reply));
    SendBytes("\r\n", u"\r\n", SmtpStep::XOAuth2Error, false);
    return true;
  }
  if (!xoauthError_.empty()) text += u"XOAUTH2 status: " + xoauthError_;
  // A token from memory may have been revoked since: one fresh one more.
  if (token_.fromCache && !tokenRetried_) {
    tokenRetried_ = true;
    SetStatus(text);
    AuthenticateWithToken(true);
    return true;
  }
  return false;
}

void SmtpSession::SendMailFrom() {
  SendCommand(u"MAIL FROM:<" + request_.fromAddress + u">", SmtpStep::Recipients, true);
}

// After the reply to the data, whatever it said: the end of the send (and its
// box) waits for the server's goodbye, briefly.
void SmtpSession::SendQuit(Box box, const std::u16string& boxText) {
  quitBox_ = box;
  quitBoxText_ = boxText;
  state_ = SendState::AwaitingReply;
  step_ = SmtpStep::Quit;
  std::int32_t error = socket_.Arm(SocketEvent::Read);
  if (error == 0) error = Push("QUIT\r\n");
  if (error != 0) {
    End(quitBox_, quitBoxText_);
    return;
  }
  timer_.Start(request_.timeoutSeconds > 0
                   ? std::min(kQuitWaitMilliseconds, std::min(request_.timeoutSeconds, INT32_MAX / 1000) * 1000)
                   : kQuitWaitMilliseconds);
}

void SmtpSession::OnRead(std::int32_t error) {
  if (state_ != SendState::AwaitingReply && state_ != SendState::AwaitingWrite) return;
  if (step_ == SmtpStep::Quit && error != 0) {
    End(quitBox_, quitBoxText_);
    return;
  }
  if (error != 0) {
    Fail(SendState::Failed, SendResult::ReceiveFailed, nullptr, Box::AppError, kReceiveError);
    return;
  }
  // The server spoke while a message line was on its way: that line is done.
  if (state_ == SendState::AwaitingWrite) {
    OnWrite();
    return;
  }
  // A command still going out: its reply cannot have come yet.
  if (!out_.empty()) return;

  std::array<char, kReceiveRoom> buffer;
  const Transfer got = socket_.Receive(buffer);
  if (got.error == kWsaWouldBlock) return;
  if (step_ == SmtpStep::Quit && (got.error != 0 || got.bytes == 0)) {
    End(quitBox_, quitBoxText_);
    return;
  }
  if (got.error == kWsaConnectionReset || (got.error == 0 && got.bytes == 0)) {
    const std::u16string text = got.error != 0 ? kConnectionCut : kDisconnected;
    Fail(SendState::Closed, SendResult::ServerClosed, &text, Box::Info, text);
    return;
  }
  if (got.error != 0) {
    const std::u16string text = SocketErrorText(got.error);
    Fail(SendState::Failed, SendResult::ReceiveFailed, &text, Box::AppError, text);
    return;
  }
  in_.append(buffer.data(), std::min(got.bytes, buffer.size()));
  ProcessReplies();
}

void SmtpSession::OnWrite() {
  if (!out_.empty()) {
    if (const std::int32_t error = Flush(); error != 0) {
      if (step_ == SmtpStep::Quit) return End(quitBox_, quitBoxText_);
      const std::u16string text = SocketErrorText(error);
      Fail(SendState::Failed, SendResult::SendFailed, &text, Box::AppError, text);
      return;
    }
    if (!out_.empty()) return;
    if (state_ == SendState::AwaitingReply) {
      // The command is out whole: now its reply is awaited.
      if (const std::int32_t error = socket_.Arm(SocketEvent::Read); error != 0) {
        const std::u16string text = SocketErrorText(error);
        Fail(SendState::Failed, SendResult::SendFailed, &text, Box::AppError, text);
        return;
      }
      ProcessReplies();
      return;
    }
  }
  if (state_ != SendState::AwaitingWrite) return;
  state_ = SendState::AwaitingReply;
  step_ = SmtpStep::Data;
  SendNextLine();
  // After the end-of-data marker: a reply that came early is already here.
  ProcessReplies();
}

// A reply is read whole: its lines up to the one that does not go on (no "-"
// after the code), however many receive calls that takes. Bytes after it stay
// for the next reply.
std::optional<std::size_t> SmtpSession::CompleteReplyEnd() {
  for (;;) {
    const std::size_t lineEnd = in_.find('\n', std::max(searchedTo_, lineStart_));
    if (lineEnd == std::string::npos) {
      searchedTo_ = in_.size();
      return std::nullopt;
    }
    const bool goesOn = lineEnd - lineStart_ >= 4 && in_[lineStart_ + 3] == '-';
    lineStart_ = searchedTo_ = lineEnd + 1;
    if (!goesOn) {
      const std::size_t end = lineStart_;
      lineStart_ = searchedTo_ = 0;
      return end;
    }
  }
}

void SmtpSession::ProcessReplies() {
  while (running_ && state_ == SendState::AwaitingReply && out_.empty()) {
    const std::optional<std::size_t> end = CompleteReplyEnd();
    if (!end) {
      if (in_.size() > kMaxReplyBytes) {
        // No server sends this much in one reply: answer it as a refusal of the step.
        timer_.Stop();
        const std::string shown = in_.substr(0, kShownOfLongReply);
        in_.clear();
        lineStart_ = searchedTo_ = 0;
        Evaluate(shown, true);
      }
      return;
    }
    const std::string reply = in_.substr(0, *end);
    in_.erase(0, *end);
    timer_.Stop();
    Evaluate(reply, false);
  }
}

void SmtpSession::Evaluate(const std::string& reply, bool tooLong) {
  struct Expectation {
    SmtpStep step;
    const char* code;
    SendResult failure;
  };
  static constexpr Expectation kExpected[] = {
      {SmtpStep::Greeting, "220", SendResult::GreetingRefused},
      {SmtpStep::Ehlo, "250", SendResult::HeloRefused},
      {SmtpStep::Helo, "250", SendResult::HeloRefused},
      {SmtpStep::StartTls, "220", SendResult::TlsFailed},
      {SmtpStep::Auth, "235", SendResult::AuthRefused},
      {SmtpStep::AuthUser, "334", SendResult::AuthRefused},
      {SmtpStep::AuthPassword, "334", SendResult::AuthRefused},
      {SmtpStep::XOAuth2, "235", SendResult::AuthRefused},
      {SmtpStep::XOAuth2Error, "235", SendResult::AuthRefused},
      {SmtpStep::Recipients, "250", SendResult::SenderOrRecipientRefused},
      {SmtpStep::LastRecipient, "250", SendResult::LastRecipientRefused},
      {SmtpStep::Data, "354", SendResult::DataRefused},
      {SmtpStep::EndOfData, "2", SendResult::MailRefused},
      {SmtpStep::Quit, "", SendResult::Sent},
  };
  if (step_ == SmtpStep::Quit) {
    End(quitBox_, quitBoxText_);
    return;
  }
  const auto* expected = std::find_if(std::begin(kExpected), std::end(kExpected),
                                      [&](const Expectation& e) { return e.step == step_; });
  const std::string code = CodeOf(reply);
  // After the data any 2xx is an acceptance; elsewhere the code must be the one.
  const bool matched =
      !tooLong && (step_ == SmtpStep::EndOfData ? IsSuccessCode(code) : code == expected->code);
  std::u16string text = DecodeCp932(reply);
  if (!matched) {
    text = kSmtpError + text;
    // A plain server that does not know EHLO still takes HELO, as long as
    // neither TLS nor a login depends on the extensions it would announce.
    if (step_ == SmtpStep::Ehlo && !tooLong && request_.security == SmtpSecurity::None &&
        !LogsIn()) {
      SetStatus(text);
      SendCommand(u"HELO " + EhloName(request_.heloName, socket_.LocalAddress()), SmtpStep::Helo,
                  false);
      return;
    }
    // A recipient refused for good (an address since removed) must not keep
    // the mail from the others: it goes to those the server took. A 4xx is a
    // refusal for now and fails the send, so that the mail is tried again.
    const bool recipientStep = (step_ == SmtpStep::Recipients && nextRecipient_ > 0) ||
                               step_ == SmtpStep::LastRecipient;
    if (recipientStep && !tooLong && code.size() == 3 && code[0] == '5') {
      SetStatus(text);
      std::u16string said = DecodeCp932(reply);
      while (!said.empty() && (said.back() == u'\n' || said.back() == u'\r')) said.pop_back();
      refused_.push_back({recipients_[nextRecipient_ - 1], std::move(said)});
      if (step_ == SmtpStep::Recipients) {
        NextRecipient();
        return;
      }
      if (acceptedRecipients_ > 0) {
        SendCommand(u"DATA", SmtpStep::Data, true);
        return;
      }
      // No one took it: the first refusal decides the result, as it always has.
      permanentRefusal_ = true;
      const SendResult failure = recipients_.size() > 1 ? SendResult::SenderOrRecipientRefused
                                                        : SendResult::LastRecipientRefused;
      Fail(SendState::Failed, failure, &text, Box::Warning, text);
      return;
    }
    if (!tooLong && expected->failure == SendResult::AuthRefused &&
        AnswerAuthRefusal(reply, text)) {
      return;
    }
    if (step_ == SmtpStep::EndOfData) {
      permanentRefusal_ = !tooLong && code.size() == 3 && code[0] == '5';
      state_ = SendState::Failed;
      result_ = expected->failure;
      SetStatus(text);
      SendQuit(Box::Warning, text);
      return;
    }
    Fail(SendState::Failed, expected->failure, &text, Box::Warning, text);
    return;
  }
  SetStatus(text);
  switch (step_) {
    case SmtpStep::Greeting:
      greeting_ = text;
      SendEhlo();
      break;
    case SmtpStep::Ehlo:
      AfterEhlo(reply);
      break;
    case SmtpStep::StartTls:
      BeginTls();
      break;
    case SmtpStep::AuthUser: {
      const std::u16string shown = u"********\r\n";
      SendBytes(Base64Encode(ToUtf8(request_.user)) + "\r\n", shown, SmtpStep::AuthPassword,
                false);
      break;
    }
    case SmtpStep::AuthPassword: {
      const std::u16string shown = u"********\r\n";
      SendBytes(Base64Encode(ToUtf8(request_.password)) + "\r\n", shown, SmtpStep::Auth, false);
      break;
    }
    case SmtpStep::Auth:
    case SmtpStep::XOAuth2:
    case SmtpStep::XOAuth2Error:
      reached_.authenticated = true;
      SendMailFrom();
      break;
    case SmtpStep::Helo:
      SendMailFrom();
      break;
    case SmtpStep::Recipients:
      if (nextRecipient_ > 0) ++acceptedRecipients_;
      NextRecipient();
      break;
    case SmtpStep::LastRecipient:
      ++acceptedRecipients_;
      SendCommand(u"DATA", SmtpStep::Data, true);
      break;
    case SmtpStep::Data:
      dataReply_ = text;
      SendNextLine();
      break;
    case SmtpStep::EndOfData:
      Succeed();
      break;
    case SmtpStep::Quit:
      break;
  }
}

void SmtpSession::NextRecipient() {
  // No one to name (the composition refuses that first): DATA gets the refusal.
  if (nextRecipient_ >= recipients_.size()) {
    SendCommand(u"DATA", SmtpStep::Data, true);
    return;
  }
  const std::u16string& recipient = recipients_[nextRecipient_++];
  const bool last = nextRecipient_ == recipients_.size();
  SendCommand(u"RCPT TO:<" + recipient + u">", last ? SmtpStep::LastRecipient : SmtpStep::Recipients,
              last);
}

void SmtpSession::SendCommand(const std::u16string& command, SmtpStep next, bool advance,
                              const std::u16string* shown) {
  const std::u16string line = command + u"\r\n";
  SendBytes(EncodeCp932(line), shown != nullptr ? *shown : line, next, advance);
}

void SmtpSession::SendBytes(const std::string& bytes, const std::u16string& shown, SmtpStep next,
                            bool advance) {
  state_ = SendState::AwaitingReply;
  step_ = next;
  std::int32_t error = socket_.Arm(SocketEvent::Read);
  if (error == 0) error = Push(bytes);
  SetStatus(shown);
  if (advance) AddProgress(10);
  StartTimer();
  if (error != 0) {
    const std::u16string text = SocketErrorText(error);
    Fail(SendState::Failed, SendResult::SendFailed, &text, Box::AppError, text);
  }
}

void SmtpSession::SendNextLine() {
  timer_.Stop();
  const std::string& message = request_.messageText;
  if (nextLine_ >= message.size()) {
    SendEndOfData("");
    return;
  }
  // Lines go out in batches: a server takes one large write far faster than
  // thousands of small ones. Each line still shows its statuses, in order.
  std::string batch;
  do {
    std::size_t end = message.find("\r\n", nextLine_);
    if (end == std::string::npos) end = message.size();
    std::string line = message.substr(nextLine_, end - nextLine_);
    nextLine_ = std::min(end + 2, message.size());
    if (line.starts_with('.')) line.insert(line.begin(), '.');
    line += "\r\n";
    SetStatus(dataReply_);
    SetStatus(DecodeCp932(line));
    batch += line;
  } while (nextLine_ < message.size() && batch.size() < kLineBatchBytes);
  // The marker goes out with the last lines: a small write of its own would
  // wait for the server to acknowledge them (TCP's delayed acknowledgement
  // meets Nagle's rule: 40 ms on Linux, up to 200 ms on Windows, every mail).
  if (nextLine_ >= message.size()) {
    SendEndOfData(std::move(batch));
    return;
  }

  state_ = SendState::AwaitingWrite;
  step_ = SmtpStep::Data;
  std::int32_t error = Push(std::move(batch));
  // Written whole: the next lines go when the socket says it can take more.
  if (error == 0 && out_.empty()) error = socket_.Arm(SocketEvent::Write);
  StartTimer();
  if (error != 0) {
    const std::u16string text = SocketErrorText(error);
    Fail(SendState::Failed, SendResult::SendFailed, &text, Box::AppError, text);
  }
}

void SmtpSession::SendEndOfData(std::string lastLines) {
  SetStatus(dataReply_);
  state_ = SendState::AwaitingReply;
  step_ = SmtpStep::EndOfData;
  std::int32_t error = socket_.Arm(SocketEvent::Read);
  if (error == 0) error = Push(std::move(lastLines) + kEndOfData);
  SetStatus(FromUtf8(kEndOfData));
  StartTimer();
  if (error != 0) {
    const std::u16string text = SocketErrorText(error);
    Fail(SendState::Failed, SendResult::SendFailed, &text, Box::AppError, text);
  }
}

SendOutcome SmtpSession::Outcome() const {
  SendOutcome outcome(result_);
  outcome.refused = refused_;
  outcome.permanent = result_ != SendResult::Sent && permanentRefusal_;
  return outcome;
}

void SmtpSession::Succeed() {
  state_ = SendState::Idle;
  result_ = SendResult::Sent;
  reached_.accepted = true;
  AddProgress(10);
  progress_ = 100;
  observer_.Progress(progress_);
  observer_.Title(kSentTitle);
  SetStatus(kMessageSent);
  SendQuit(Box::Info, kMessageSent);
}

std::int32_t SmtpSession::Push(std::string bytes) {
  out_ = std::move(bytes);
  outSent_ = 0;
  return Flush();
}

// Sends what the socket takes; the rest waits for the write event.
std::int32_t SmtpSession::Flush() {
  while (outSent_ < out_.size()) {
    const std::span<const char> rest(out_.data() + outSent_, out_.size() - outSent_);
    const Transfer sent = socket_.Send(rest);
    if (sent.error == kWsaWouldBlock || (sent.error == 0 && sent.bytes == 0)) break;
    if (sent.error != 0) return sent.error;
    outSent_ += std::min(sent.bytes, rest.size());
  }
  if (outSent_ < out_.size()) return socket_.Arm(SocketEvent::Write);
  out_.clear();
  outSent_ = 0;
  return 0;
}

void SmtpSession::StartTimer() {
  if (request_.timeoutSeconds <= 0) return;
  const std::int32_t seconds = std::min(request_.timeoutSeconds, INT32_MAX / 1000);
  timer_.Start(seconds * 1000);
}

void SmtpSession::SetStatus(const std::u16string& text) { observer_.Status(text); }

void SmtpSession::AddProgress(int amount) {
  progress_ = std::min(progress_ + amount, 100);
  observer_.Progress(progress_);
}

void SmtpSession::Fail(SendState state, SendResult result, const std::u16string* status, Box box,
                       const std::u16string& boxText) {
  state_ = state;
  result_ = result;
  step_ = SmtpStep::Greeting;
  if (status != nullptr) SetStatus(*status);
  End(box, boxText);
}

// Whichever way the send ends. The socket is closed and the timer stopped before
// any message box, so that nothing of this send runs while the box waits.
void SmtpSession::End(Box box, const std::u16string& boxText, bool timedOut) {
  if (!running_) return;
  running_ = false;
  ended_ = true;
  state_ = SendState::Idle;
  step_ = SmtpStep::Greeting;
  timer_.Stop();
  socket_.Close();
  socket_.Stop();
  if (request_.showMessages) {
    switch (box) {
      case Box::None:
        break;
      case Box::Warning:
        ShowWarning(boxes_, boxText);
        break;
      case Box::AppError:
        ShowAppError(boxes_, boxText);
        break;
      case Box::Info:
        ShowInfo(boxes_, boxText);
        break;
    }
  }
  observer_.Ended(result_, timedOut);
}

}  // namespace zkq
