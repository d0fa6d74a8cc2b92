#pragma once
// One mail send as an event-driven state machine: connect (and TLS from the
// first byte when asked), greeting, EHLO (HELO when a plain server refuses it),
// STARTTLS and EHLO again, AUTH, MAIL FROM, one RCPT TO per recipient, DATA,
// the message line by line, the end-of-data marker, its reply and QUIT. It owns
// no socket and never waits: the
// driver (the sending window, or posix::PollLoop for zkq) feeds it the socket's
// events and the time-out, and it reports every status text, the progress and
// the end of the send to its observer.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ports.h"
#include "mail/oauth_token.h"
#include "mail/send_result.h"
#include "mail/smtp_security.h"
#include "mail/socket_port.h"

namespace zkq {

enum class SendState : std::int16_t {
  Idle = 10,
  Connecting = 110,
  AwaitingReply = 210,
  AwaitingWrite = 300,
  // The socket's TLS handshake is under way.
  AwaitingTls = 400,
  Closed = 30,
  Failed = 1000,
};

// The reply that is awaited.
enum class SmtpStep : std::int16_t {
  Greeting = 0,
  Helo = 1,
  // The reply to MAIL FROM, or to a RCPT TO with more recipients to follow.
  Recipients = 2,
  LastRecipient = 3,
  // The reply to DATA, and the message lines after it.
  Data = 4,
  EndOfData = 6,
  Ehlo = 7,
  StartTls = 8,
  // AUTH PLAIN with its credentials, or the password of AUTH LOGIN: 235 awaited.
  Auth = 9,
  // The two challenges of AUTH LOGIN: 334 awaited before the user and the password.
  AuthUser = 10,
  AuthPassword = 11,
  // After the reply to the data; its answer changes nothing.
  Quit = 12,
  // AUTH XOAUTH2 with its token: 235 awaited, or a 334 with the server's
  // error, which is answered with an empty line.
  XOAuth2 = 13,
  // The refusal after that empty line.
  XOAuth2Error = 14,
};



struct SmtpRequest {
  std::u16string server;
  // Decimal text; blanks around the digits are allowed.
  std::u16string port;
  // This machine's fully qualified DNS name when it has one (LocalDnsName).
  // EHLO and HELO give it when it is an ASCII domain name of two labels or
  // more, else the address literal of the connection's local address.
  std::u16string heloName;
  std::u16string fromAddress;
  // Addresses separated by ";"; each is trimmed of blanks.
  std::u16string toList;
  // The composed message as it goes out after DATA: lines separated by CR LF.
  std::string messageText;
  // Inactivity limit of each step; 0 (or less) never times out.
  std::int32_t timeoutSeconds = 60;
  // Show a message box for the end of the send (failure or success).
  bool showMessages = false;
  SmtpSecurity security = SmtpSecurity::None;
  // AUTH with these when user is not empty; only ever over TLS.
  std::u16string user;
  std::u16string password;
  // Given: AUTH XOAUTH2 as the mailbox user with a token from here, instead
  // of the password; only ever over TLS, and only when the server offers it.
  TokenSource* tokens = nullptr;
};

// How far one send got: what a report of its steps shows.
struct SendProgress {
  bool tlsStarted = false, tokenObtained = false, authenticated = false, accepted = false;
};

class SendObserver {
 public:
  virtual ~SendObserver() = default;
  // The status line: every progress text, command and reply, in order.
  virtual void Status(const std::u16string& text) = 0;
  // The progress bar, 0 to 100.
  virtual void Progress(int value) = 0;
  // The window's title line; the session sets only kSentTitle.
  virtual void Title(const std::u16string& text) = 0;
  // The send has ended, by whatever way; the window closes when its AutoClose
  // asks for it, and always after a time-out. Called last, once per send; the
  // session must not be destroyed inside this call.
  virtual void Ended(SendResult result, bool timedOut) = 0;
};

inline constexpr char16_t kSendingTitle[] = u"メール送信中…";
inline constexpr char16_t kSentTitle[] = u"メール送信完了！";
inline constexpr char16_t kTimeoutText[] = u"タイムアウトが発生しました！";
// A user without TLS: refused before connecting (TlsFailed).
inline constexpr char16_t kCredentialsNeedTls[] =
    u"ユーザーを指定した送信にはSTARTTLSかSSL/TLSが必要です！";
// The server offers neither AUTH PLAIN nor AUTH LOGIN (AuthRefused).
inline constexpr char16_t kNoAuthMechanism[] =
    u"サーバーがAUTH PLAINにもAUTH LOGINにも対応していません！";
// The server does not offer XOAUTH2 after TLS (AuthRefused).
inline constexpr char16_t kNoXOAuth2[] = u"サーバーがAUTH XOAUTH2に対応していません！";
// After a refusal of a password that means the server takes OAuth 2.0 only.
inline constexpr char16_t kUseOAuthHint[] =
    u"サーバーがパスワード認証を受け付けません。OAuth 2.0（SmtpAuth=OAuth2）の設定が必要です。";
inline constexpr char16_t kTlsStarting[] = u"TLSを開始しています･･･";
inline constexpr char16_t kTlsStarted[] = u"TLSで保護されました！";
// The QUIT reply is waited for at most this long.
inline constexpr std::int32_t kQuitWaitMilliseconds = 3000;

class SmtpSession : public SocketEvents {
 public:
  SmtpSession(SmtpRequest request, SocketPort& socket, SessionTimer& timer, SendObserver& observer,
              MessageBoxes& boxes);

  // The window's start: starts the socket library. False when it failed; the
  // send has then ended with NoOutcome and the window closes.
  bool StartSockets();
  // The Send button: opens the socket and starts connecting. A send already
  // under way is left alone; an ended one starts afresh.
  void Send();
  // Exit button or close box: ends the send, the result stays as recorded.
  void Cancel();
  // The inactivity timer ran out.
  void OnTimeout();
  void OnSocketEvent(SocketEvent event, std::int32_t error) override;

  bool Running() const { return running_; }
  bool Ended() const { return ended_; }
  SendResult Result() const { return result_; }
  // The result with the recipients refused for good and whether the mail was.
  SendOutcome Outcome() const;
  SendState State() const { return state_; }
  SmtpStep Step() const { return step_; }
  int Progress() const { return progress_; }
  const SendProgress& Reached() const { return reached_; }

 private:
  enum class Box { None, Warning, AppError, Info };

  void OnConnect(std::int32_t error);
  void OnTls(std::int32_t error);
  void BeginTls();
  void AwaitGreeting();
  void SendEhlo();
  void AfterEhlo(const std::string& reply);
  bool LogsIn() const { return !request_.user.empty() || request_.tokens != nullptr; }
  void Authenticate();
  void AuthenticateWithToken(bool fresh);
  // Whether a refusal of this step's AUTH ends the login, or is answered
  // (the XOAUTH2 error challenge, a cached token tried again).
  bool AnswerAuthRefusal(const std::string& reply, std::u16string& text);
  void SendMailFrom();
  void SendQuit(Box box, const std::u16string& boxText);
  void OnRead(std::int32_t error);
  void OnWrite();
  void ProcessReplies();
  std::optional<std::size_t> CompleteReplyEnd();
  void Evaluate(const std::string& reply, bool tooLong);
  // shown stands in the status for a command that carries credentials.
  void SendCommand(const std::u16string& command, SmtpStep next, bool advance,
                   const std::u16string* shown = nullptr);
  void SendBytes(const std::string& bytes, const std::u16string& shown, SmtpStep next,
                 bool advance);
  void NextRecipient();
  void SendNextLine();
  // The message's last lines, if any, and the end-of-data marker in one write.
  void SendEndOfData(std::string lastLines);
  void Succeed();
  std::int32_t Push(std::string bytes);
  std::int32_t Flush();
  void StartTimer();
  void SetStatus(const std::u16string& text);
  void AddProgress(int amount);
  void Fail(SendState state, SendResult result, const std::u16string* status, Box box,
            const std::u16string& boxText);
  void End(Box box, const std::u16string& boxText, bool timedOut = false);

  SmtpRequest request_;
  SocketPort& socket_;
  SessionTimer& timer_;
  SendObserver& observer_;
  MessageBoxes& boxes_;

  SendState state_ = SendState::Idle;
  SmtpStep step_ = SmtpStep::Greeting;
  SendResult result_ = SendResult::NoOutcome;
  int progress_ = 0;
  bool running_ = false;
  bool ended_ = false;

  std::vector<std::u16string> recipients_;  // the non-empty items of toList
  std::size_t nextRecipient_ = 0;
  std::size_t acceptedRecipients_ = 0;
  std::vector<RefusedRecipient> refused_;
  bool permanentRefusal_ = false;
  bool tls_ = false;  // the connection is secured
  bool ehloSent_ = false;
  bool offersStartTls_ = false, offersPlain_ = false, offersLogin_ = false;
  bool offersXOAuth2_ = false;
  std::u16string greeting_;
  AccessToken token_;
  bool tokenRetried_ = false;
  SendProgress reached_;
  // The status of the server's XOAUTH2 error, shown with its refusal.
  std::u16string xoauthError_;
  // What the end of the send shows once the QUIT exchange is over.
  Box quitBox_ = Box::None;
  std::u16string quitBoxText_;
  std::size_t nextLine_ = 0;  // where the unsent rest of the message starts
  std::u16string dataReply_;
  // Bytes still to go out of the command or line being sent.
  std::string out_;
  std::size_t outSent_ = 0;
  // Received bytes not yet taken as a reply, and how far they were scanned.
  std::string in_;
  std::size_t lineStart_ = 0;
  std::size_t searchedTo_ = 0;
};

// The largest reply the session takes; a server that sends more without
// ending its reply is answered as a refusal.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;

// Decimal digits with blanks around them, at most most; nothing for other text.
std::optional<std::uint32_t> ParseWholeNumber(std::u16string_view text, std::uint32_t most);
// "25" -> 25; blanks around the digits are allowed. Nothing for text that is no
// port number (1..65535).
std::optional<std::uint16_t> ParsePortText(std::u16string_view text);

// The name EHLO gives (see SmtpRequest::heloName): dnsName when it is a fully
// qualified ASCII domain name, else "[192.0.2.10]" or "[IPv6:2001:db8::1]" of
// localAddress, else "localhost". Never anything but ASCII.
std::u16string EhloName(std::u16string_view dnsName, std::u16string_view localAddress);

// This machine's fully qualified DNS name, "" when it has none (win32/, posix/).
std::u16string LocalDnsName();

// Runs one send over this system's sockets until it has ended, and gives its
// result: poll() on Linux (posix/), Winsock with a message loop on Windows
// (win32/). For zkq; the sending window drives a session itself.
SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes);

}  // namespace zkq
