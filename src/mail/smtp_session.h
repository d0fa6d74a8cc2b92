#pragma once
// One mail send as an event-driven state machine: connect, greeting, HELO,
// MAIL FROM, one RCPT TO per recipient, DATA, the message line by line, the
// end-of-data marker and its reply. It owns no socket and never waits: the
// driver (the sending window, or posix::PollLoop for zkq) feeds it the socket's
// events and the time-out, and it reports every status text, the progress and
// the end of the send to its observer.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/ports.h"
#include "mail/send_result.h"
#include "mail/socket_port.h"

namespace zkq {

enum class SendState : std::int16_t {
  Idle = 10,
  Connecting = 110,
  AwaitingReply = 210,
  AwaitingWrite = 300,
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
};

struct SmtpRequest {
  std::u16string server;
  // Decimal text; blanks around the digits are allowed.
  std::u16string port;
  // The computer name (ComputerNameText).
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
  SendState State() const { return state_; }
  SmtpStep Step() const { return step_; }
  int Progress() const { return progress_; }

 private:
  enum class Box { None, Warning, AppError, Info };

  void OnConnect(std::int32_t error);
  void OnRead(std::int32_t error);
  void OnWrite();
  void ProcessReplies();
  std::optional<std::size_t> CompleteReplyEnd();
  void Evaluate(const std::string& reply, bool tooLong);
  void SendCommand(const std::u16string& command, SmtpStep next, bool advance);
  void NextRecipient();
  void SendNextLine();
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

  std::u16string remaining_;  // recipients not yet named
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

// Runs one send over this system's sockets until it has ended, and gives its
// result: poll() on Linux (posix/), Winsock with a message loop on Windows
// (win32/). For zkq; the sending window drives a session itself.
SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes);

}  // namespace zkq
