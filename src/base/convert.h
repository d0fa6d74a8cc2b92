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
// point, an exponent, "&H" hexadecimal (and "&O" octal), blanks around. True
// also for numbers ToInt16 refuses as too large ("99999"); false for numbers
// too large for a double ("1e400") or for more than 32 bits of hexadecimal.
bool IsNumeric(std::u16string_view text);

// For a text that IsNumeric accepted: whether its value is exactly 1 (how the
// settings' flags are read). Throws Failure(kTypeMismatch) for a hexadecimal
// or octal form that is no number.
bool NumericValueIsOne(std::u16string_view text);

// Date recognition for the forms a Japanese system accepts (y/m/d with "/", "-"
// or "." used for both separators, or "2004年6月26日"; one- or two-digit month
// and day; a four-digit year, or a two-digit one read as 2000..2029 or
// 1930..1999), blanks around. Returns the date as "yyyy/mm/dd", or nothing for
// text that is no real date (2004/02/30).
std::optional<std::u16string> RecognizeDate(std::u16string_view text);

// The time check of the settings dialog: exactly "hh:mm:ss", two digits each,
// hour below 24, minute and second below 60 ("9:05:00" is refused). Returns the
// text unchanged, or nothing.
std::optional<std::u16string> RecognizeTime(std::u16string_view text);

}  // namespace zkq
