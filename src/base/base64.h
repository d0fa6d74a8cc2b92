#pragma once
// RFC 4648 Base64: attachments and encoded words in mail, the credentials of
// SMTP AUTH, and the protected password in the settings file.
#include <optional>
#include <string>
#include <string_view>

namespace zkq {

// On one line; empty for empty input.
std::string Base64Encode(std::string_view bytes);

// The bytes of a Base64 text with its padding; nothing for any other character,
// a wrong length or bits left over after the last byte.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace zkq
