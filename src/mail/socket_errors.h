#pragma once
// What the mail subsystem tells the user about its sockets: the texts of the
// Windows Sockets error codes, the start-up check of the socket library, and
// the three kinds of message box that every mail failure uses.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/ports.h"

namespace zkq {

// Windows Sockets error codes the session itself looks at. Every adapter
// reports its errors in these codes, so the texts are the same on any system.
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaConnectionReset = 10054;
inline constexpr int kWsaHostNotFound = 11001;

// TLS failures, reported by StartTls and by SocketEvent::Tls; each has a text of
// its own (SocketErrorText), and each ends a send with SendResult::TlsFailed.
// They lie outside every Windows Sockets and SSPI code.
inline constexpr int kTlsUnavailable = 20001;        // no TLS layer under this socket
inline constexpr int kTlsNotOffered = 20002;         // STARTTLS asked for, not announced
inline constexpr int kTlsHandshakeFailed = 20003;    // the handshake failed or was refused
inline constexpr int kTlsUntrustedCertificate = 20004;  // no chain to a trusted root
inline constexpr int kTlsNameMismatch = 20005;       // the certificate names another host

// The Japanese text of a Windows Sockets error code; a code without a text of
// its own gives "(" + code + ")".
std::u16string SocketErrorText(std::int32_t code);

// The message that refuses a started socket library: "" when it can be used.
// startResult is what the start call returned (0 = started), version the granted
// version word (low byte major, high byte minor), maxSockets the granted count.
// Each later check replaces an earlier message; the version and socket checks run
// on whatever the start left in its record, also after a failed start.
std::u16string SocketStartMessage(std::int32_t startResult, std::uint16_t version,
                                  std::int32_t maxSockets);

void ShowWarning(MessageBoxes& boxes, std::u16string_view text);
// Prefixed by the application-error line and a CR LF.
void ShowAppError(MessageBoxes& boxes, std::u16string_view text);
void ShowInfo(MessageBoxes& boxes, std::u16string_view text);

inline constexpr char16_t kAppErrorLine[] = u"アプリケーションエラー！";

}  // namespace zkq
