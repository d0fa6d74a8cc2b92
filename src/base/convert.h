#pragma once
// The runtime conventions that settings, the dialog and the cycle depend on.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zkq {

// Strict text to signed 16-bit conversion: blanks around the number allowed,
// a fraction rounds to the nearest whole number and a half to the even one,
// -32767..32767. Throws Failure(kTypeMismatch) for text that is no number (empty
// text included) and Failure(kOverflow) for a number out of range.
std::int16_t ToInt16(std::u16string_view text);

// The numeric test of the settings dialog: optional sign, digits, a decimal
// point, an exponent, "&H" hexadecimal (and "&O" octal), blanks around.
bool IsNumeric(std::u16string_view text);

// Date recognition for the forms a Japanese system accepts (y/m/d with "/", "-"
// or ".", one- or two-digit month and day, two- or four-digit year). Returns the
// date as "yyyy/mm/dd", or nothing for text that is no real date (2004/02/30).
std::optional<std::u16string> RecognizeDate(std::u16string_view text);

// The time check of the settings dialog: h:m or h:m:s, 0..23, 0..59, 0..59.
// Returns "hh:mm:ss", or nothing.
std::optional<std::u16string> RecognizeTime(std::u16string_view text);

}  // namespace zkq
