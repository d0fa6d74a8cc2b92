#pragma once
// How the SMTP connection is secured, as the settings key SmtpSecurity and
// zkq's --security name it.
#include <optional>
#include <string_view>

namespace zkq {

// None: plain SMTP as before. StartTls: EHLO, STARTTLS, then EHLO again over
// TLS (port 587). Tls: TLS from the first byte (port 465).
enum class SmtpSecurity { None, StartTls, Tls };

// "None", "StartTls", "Tls" in any letter case, blanks around allowed; "" is
// None (the key absent). Nothing for any other text.
std::optional<SmtpSecurity> ParseSmtpSecurity(std::u16string_view text);

// How the session logs in, as the settings key SmtpAuth and zkq's --auth
// name it. Password: AUTH PLAIN or LOGIN; OAuth2: XOAUTH2 with a token.
enum class SmtpAuth { Password, OAuth2 };

// "Password" or "OAuth2" in any letter case, blanks around allowed; "" is
// Password (the key absent). Nothing for any other text.
std::optional<SmtpAuth> ParseSmtpAuth(std::u16string_view text);

}  // namespace zkq
