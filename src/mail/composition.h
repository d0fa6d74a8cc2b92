#pragma once
// Message composition: the MailRequest of one send turned into the
// MessageText that goes out after DATA, with the working copies the SMTP
// dialogue consumes. Both layouts: a plain text message, and multipart/mixed
// with Base64 attachments.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "mail/send_result.h"

namespace zkq {

// The OAuth 2.0 login of a send, as the settings keys SmtpAuth, OAuthTenant,
// OAuthClientId, OAuthClientSecret, OAuthScope and OAuthTokenUrl have it:
// auth "OAuth2" logs in with XOAUTH2 and the rest; anything else with the
// password.
struct OAuthLogin {
  std::u16string auth, tenant, clientId, clientSecret, scope, tokenUrl;
  friend bool operator==(const OAuthLogin&, const OAuthLogin&) = default;
};

// The twelve texts of one send, in the order SendEmail receives them.
// Flags are "1" for yes.
struct MailRequest {
  std::u16string server;
  std::u16string port;
  std::u16string fromAddress;
  std::u16string fromName;
  // Addresses separated by ";".
  std::u16string toList;
  std::u16string subjectText;
  // Lines separated by CR LF.
  std::u16string body;
  // File paths separated by ","; "" for none.
  std::u16string attachmentList;
  std::u16string showMessages;
  std::u16string autoSend;
  std::u16string autoClose;
  std::u16string timeoutSeconds;
  // The connection's security and the login (AUTH when user is not empty).
  std::u16string security;
  std::u16string user;
  std::u16string password;
  // With auth "OAuth2", XOAUTH2 as user.
  OAuthLogin oauth = {};
};

// What the Date and Message-ID lines are made of, taken from outside so that a
// test can fix them.
struct MessageStamp {
  // Local date and time of the composition.
  DateTime localTime;
  // Local time minus UTC, in minutes (+540 in Japan).
  int utcOffsetMinutes = 0;
  // ComputerNameText; it names the host in the Message-ID.
  std::u16string computerName;
  // Differs from one message to the next on this computer.
  std::uint64_t uniqueNumber = 0;
};

// The present moment of this computer's clock and time zone, with a number that
// no other message of this process, or of another started at another time, has.
MessageStamp CurrentMessageStamp(std::u16string_view computerName);

struct ComposedMessage {
  // Sent when the message was composed; ComposeFailed otherwise, with
  // statusText saying why (then the other fields are empty).
  SendResult result = SendResult::Sent;
  std::u16string statusText;
  // The text after DATA: lines separated by CR LF, the last one ending with CR
  // LF, none longer than kMaxBodyLineOctets; every byte 7-bit.
  std::string messageText;
  // The working copies: the sender address for MAIL FROM and the recipients
  // (";"-separated, trimmed, no empty item) for RCPT TO.
  std::u16string senderAddress;
  std::u16string recipients;
};

// The boundary of the multipart layout; "--" + it opens a part, "--" + it + "--"
// closes the message.
inline constexpr char16_t kAttachmentBoundary[] = u"zkSendMail Attachment Boundary";
inline constexpr std::size_t kMaxAttachments = 256;
// Attachment Base64 lines are this long (RFC 2045), within SMTP's line limit.
inline constexpr std::size_t kBase64LineLength = 76;

// Status texts of a message that cannot be composed; the file's path follows
// the first two.
inline constexpr char16_t kAttachmentMissing[] = u"添付ファイルが見つかりません！: ";
inline constexpr char16_t kAttachmentUnreadable[] = u"添付ファイルを読み込めません！: ";
inline constexpr char16_t kAttachmentEmptyItem[] = u"添付ファイルの指定に空の項目があります！";
inline constexpr char16_t kTooManyAttachments[] = u"添付ファイルは256個までです！";
inline constexpr char16_t kComposeOutOfMemory[] = u"メッセージを作成できませんでした！";
inline constexpr char16_t kNoRecipients[] = u"宛先アドレスがありません！";

// A body line longer than this many octets is broken (RFC 5322 allows 998; one
// is kept for the dot that the dialogue may put in front).
inline constexpr std::size_t kMaxBodyLineOctets = 997;

// Subject, From, To (the recipients joined by ", "), then Date, Message-ID and
// MIME-Version (which servers and clients expect) and the content type.
// Control characters but CR LF become "?" in the body (ESC would break its
// ISO-2022-JP) and in the header fields (a line break would start a header of
// its own). No line passes kMaxBodyLineOctets: long body lines are broken
// between characters, header words too long to fold become encoded words,
// attachment Base64 is wrapped at 76 characters and attachment names are
// encoded (RFC 2231). A bad attachment list, or a recipient list without any
// address, fails with ComposeFailed. Never throws.
ComposedMessage ComposeMessage(const MailRequest& request, const MessageStamp& stamp) noexcept;

// The items of a ";"-separated recipient list, trimmed, empty ones left out.
std::vector<std::u16string> RecipientsOf(std::u16string_view toList);

// What follows the last "\" of an attachment path (all of it without one; "/"
// is no separator).
std::u16string AttachmentFileName(std::u16string_view path);

// "Tue, 08 Dec 2026 13:42:30 +0900" (RFC 5322).
std::u16string Rfc5322Date(const DateTime& localTime, int utcOffsetMinutes);

}  // namespace zkq
