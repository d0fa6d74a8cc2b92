#include "base/convert.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "base/failure.h"
#include "base/text.h"

namespace zkq {

namespace {

enum class Parsed { NoNumber, OutOfRange, Number };

struct Number {
  Parsed kind = Parsed::NoNumber;
  double value = 0;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// "&H1F", "&O17" and "&17", at most 32 bits. A value that fits 16 bits is read
// as a 16-bit two's complement number and a wider one as a 32-bit one, so
// "&HFFFF" is -1 while "&H10000" is 65536.
Number ParseRadix(std::u16string_view digits, unsigned radix) {
  if (digits.empty()) return {};
  std::uint64_t value = 0;
  bool tooWide = false;
  for (const char16_t c : digits) {
    const int d = HexValue(c);
    if (d < 0 || static_cast<unsigned>(d) >= radix) return {};
    value = value * radix + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFu) {
      tooWide = true;
      value &= 0xFFFFFFFFu;  // keeps the loop bounded; the digits are still checked
    }
  }
  if (tooWide) return {Parsed::OutOfRange, 0};
  if (value <= 0xFFFF) {
    return {Parsed::Number, static_cast<double>(static_cast<std::int16_t>(value))};
  }
  return {Parsed::Number, static_cast<double>(static_cast<std::int32_t>(value))};
}

// Optional sign, digits with an optional decimal point (at least one digit in
// all), an optional exponent "e" or "E" with an optional sign and digits.
Number ParseDecimal(std::u16string_view text) {
  std::string ascii;
  ascii.reserve(text.size());
  std::size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') ascii.push_back('-');
    ++i;
  }
  int mantissaDigits = 0;
  while (i < text.size() && IsDigit(text[i])) {
    ascii.push_back(static_cast<char>(text[i++]));
    ++mantissaDigits;
  }
  if (i < text.size() && text[i] == u'.') {
    ascii.push_back('.');
    ++i;
    while (i < text.size() && IsDigit(text[i])) {
      ascii.push_back(static_cast<char>(text[i++]));
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return {};
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      ascii.push_back(static_cast<char>(text[i++]));
    }
    int exponentDigits = 0;
    while (i < text.size() && IsDigit(text[i])) {
      ascii.push_back(static_cast<char>(text[i++]));
      ++exponentDigits;
    }
    if (exponentDigits == 0) return {};
  }
  if (i != text.size()) return {};
  double value = 0;
  const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too small to tell from zero is zero; too large is out of any range.
    const auto e = ascii.find('e');
    const bool tiny = e != std::string::npos && e + 1 < ascii.size() && ascii[e + 1] == '-';
    return tiny ? Number{Parsed::Number, 0} : Number{Parsed::OutOfRange, 0};
  }
  if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size()) return {};
  if (!std::isfinite(value)) return {Parsed::OutOfRange, 0};
  return {Parsed::Number, value};
}

Number ParseNumber(std::u16string_view text) {
  text = TrimView(text);
  if (text.size() >= 2 && text[0] == u'&') {
    const char16_t kind = text[1];
    if (kind == u'H' || kind == u'h') return ParseRadix(text.substr(2), 16);
    if (kind == u'O' || kind == u'o') return ParseRadix(text.substr(2), 8);
    return ParseRadix(text.substr(1), 8);
  }
  return ParseDecimal(text);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads 1..maxDigits decimal digits at pos; -1 when there are none or more.
int ReadField(std::u16string_view text, std::size_t& pos, std::size_t maxDigits,
              std::size_t* digitsRead = nullptr) {
  std::size_t start = pos;
  int value = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    value = value * 10 + (text[pos] - u'0');
    ++pos;
    if (pos - start > maxDigits) return -1;
  }
  if (pos == start) return -1;
  if (digitsRead) *digitsRead = pos - start;
  return value;
}

void AppendTwoDigits(std::u16string& out, int value) {
  out.push_back(static_cast<char16_t>(u'0' + value / 10));
  out.push_back(static_cast<char16_t>(u'0' + value % 10));
}

struct Ymd {
  int year, month, day;
};

std::optional<Ymd> ReadDate(std::u16string_view text) {
  text = TrimView(text);
  std::size_t pos = 0;
  std::size_t yearDigits = 0;
  int year = ReadField(text, pos, 4, &yearDigits);
  if (year < 0 || yearDigits == 1 || yearDigits == 3 || pos == text.size()) return std::nullopt;
  const char16_t separator = text[pos];
  // The kanji form of a Japanese date: 2004年6月26日.
  const bool kanji = separator == u'年';
  if (!kanji && separator != u'/' && separator != u'-' && separator != u'.') return std::nullopt;
  ++pos;
  const int month = ReadField(text, pos, 2);
  if (month < 0 || pos == text.size()) return std::nullopt;
  if (text[pos] != (kanji ? u'月' : separator)) return std::nullopt;
  ++pos;
  const int day = ReadField(text, pos, 2);
  if (day < 0) return std::nullopt;
  if (kanji) {
    if (pos == text.size() || text[pos] != u'日') return std::nullopt;
    ++pos;
  }
  if (pos != text.size()) return std::nullopt;
  if (yearDigits == 2) year += year < 30 ? 2000 : 1900;  // the system's two-digit window
  if (year < 100 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  return Ymd{year, month, day};
}

}  // namespace

std::int16_t ToInt16(std::u16string_view text) {
  const Number number = ParseNumber(text);
  if (number.kind == Parsed::NoNumber) throw Failure(kTypeMismatch, kTypeMismatchNumber);
  if (number.kind == Parsed::OutOfRange) throw Failure(kOverflow, kOverflowNumber);
  // The default rounding mode: to nearest, a half to the even neighbour.
  const double rounded = std::nearbyint(number.value);
  if (rounded < -32767.0 || rounded > 32767.0) throw Failure(kOverflow, kOverflowNumber);
  return static_cast<std::int16_t>(rounded);
}

bool IsNumeric(std::u16string_view text) { return ParseNumber(text).kind == Parsed::Number; }

std::optional<std::u16string> RecognizeDate(std::u16string_view text) {
  const std::optional<Ymd> date = ReadDate(text);
  if (!date) return std::nullopt;
  std::u16string out;
  out.reserve(10);
  AppendTwoDigits(out, date->year / 100);
  AppendTwoDigits(out, date->year % 100);
  out.push_back(u'/');
  AppendTwoDigits(out, date->month);
  out.push_back(u'/');
  AppendTwoDigits(out, date->day);
  return out;
}

std::optional<std::u16string> RecognizeTime(std::u16string_view text) {
  if (text.size() != 8 || text[2] != u':' || text[5] != u':') return std::nullopt;
  for (const std::size_t i : {0, 1, 3, 4, 6, 7}) {
    if (!IsDigit(text[i])) return std::nullopt;
  }
  const auto field = [&](std::size_t i) { return (text[i] - u'0') * 10 + (text[i + 1] - u'0'); };
  if (field(0) > 23 || field(3) > 59 || field(6) > 59) return std::nullopt;
  return std::u16string(text);
}

bool NumericValueIsOne(std::u16string_view text) {
  std::u16string_view t = text;
  while (!t.empty() && (t.front() == u' ' || t.front() == u'\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == u' ' || t.back() == u'\t')) t.remove_suffix(1);
  if (!t.empty() && t.front() == u'+') t.remove_prefix(1);
  std::string ascii;
  for (char16_t c : t) {
    if (c > 0x7F) break;
    ascii.push_back(static_cast<char>(c));
  }
  if (ascii.size() == t.size() && !ascii.empty() && ascii.front() != '&') {
    double value = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error == std::errc() && end == ascii.data() + ascii.size()) return value == 1.0;
  }
  // Hexadecimal and octal forms: a value beyond 16 bits is certainly not 1.
  try {
    return ToInt16(text) == 1;
  } catch (const Failure& failure) {
    if (failure.Description() == kOverflow) return false;
    throw;
  }
}


}  // namespace zkq
