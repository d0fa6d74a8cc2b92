#pragma once
// The outcome of one mail send, as the mail entry hands it back: 0 sent, every
// other value a reason why the mail did not go out.
#include <cstdint>
#include <string>
#include <vector>

namespace zkq {

enum class SendResult : std::int32_t {
  Sent = 0,
  // Nothing else was recorded: time-out, the window closed by the user, or the
  // socket library did not start.
  NoOutcome = 1,
  ReceiveFailed = 2,
  ServerClosed = 3,
  // A command, a message line or the end-of-data marker could not be sent.
  SendFailed = 4,
  GreetingRefused = 5,
  HeloRefused = 6,
  // MAIL FROM, or a RCPT TO other than the last one.
  SenderOrRecipientRefused = 7,
  LastRecipientRefused = 8,
  DataRefused = 9,
  // The socket could not be created, the server name did not resolve, or the
  // connection could not be made.
  ConnectFailed = 10,
  // The server refused the mail after the end-of-data marker (no 2xx reply).
  MailRefused = 11,
  // The message could not be composed, before any connection: an attachment is
  // missing or unreadable, the attachment list has an empty item or more than
  // 256 files (ComposeMessage's status text says which).
  ComposeFailed = 12,
  // The server refused the user name or password (535 and the like); the
  // status text holds its reply.
  AuthRefused = 13,
  // TLS was asked for and could not be had: STARTTLS not offered, the
  // handshake failed, the certificate is not trusted or names another host.
  // Neither credentials nor MAIL FROM went out.
  TlsFailed = 14,
  // No OAuth 2.0 access token for XOAUTH2: the token endpoint refused the
  // client (its error and error_description are in the status text), could
  // not be reached, or its certificate is not trusted. Nothing was sent.
  TokenFailed = 15,
};

constexpr int ToInt(SendResult result) { return static_cast<int>(result); }

// A recipient the server refused for good (5xx at RCPT TO) while it took
// others: the mail went to those, and this one is told with the reply.
struct RefusedRecipient {
  std::u16string address;
  std::u16string reply;
  friend bool operator==(const RefusedRecipient&, const RefusedRecipient&) = default;
};

// One send as the monitor sees it: the result, the recipients refused on the
// way, and whether the server refused the mail for good (5xx after the data,
// or every recipient refused with 5xx), so that sending it again is no use.
struct SendOutcome {
  SendOutcome(SendResult r = SendResult::NoOutcome) : result(r) {}  // NOLINT: a bare result
  SendResult result;
  std::vector<RefusedRecipient> refused;
  bool permanent = false;
};

}  // namespace zkq
