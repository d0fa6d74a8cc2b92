#pragma once
// Text helpers: UTF-16 in memory, UTF-8 on the Linux side and in zkq's output,
// code page 932 (Shift-JIS) in files and mail.
#include <cstdint>
#include <string>
#include <string_view>

namespace zkq {

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; never throws.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);
// Appends text as UTF-8 (unpaired surrogates become U+FFFD), without a
// temporary: the fast path of zkq's output and the mail.
void AppendUtf8(std::string& out, std::u16string_view text);

// Code page 932 with Windows' own table. Decoding: a byte that starts no valid
// character, or a lead byte followed by an invalid trail byte, becomes U+30FB
// (KATAKANA MIDDLE DOT) exactly where Windows puts it. Encoding: a character that
// code page 932 cannot represent becomes "?" (0x3F), as WideCharToMultiByte does.
std::u16string DecodeCp932(std::string_view bytes);
std::string EncodeCp932(std::u16string_view text);
// True for a byte that begins a double-byte character in code page 932.
bool IsCp932LeadByte(std::uint8_t byte);

// Removes U+0020 blanks at both ends (the only characters trimming removes).
std::u16string Trim(std::u16string_view text);
std::u16string_view TrimView(std::u16string_view text);

// Equal but for the case of the letters A to Z, as Windows compares the names
// of files and services (which are ASCII in practice).
bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b);

// Half-width katakana (U+FF61..U+FF9F) to full-width.
// Composed: a following voiced or semi-voiced sound mark joins the kana before it
// ("ｶﾞ" -> "ガ"), so the result can be shorter; Windows' LCMAP_FULLWIDTH does this.
// Per character: each half-width character maps on its own ("ｶﾞ" -> "カ゛").
// Everything outside the half-width katakana block is left as it is.
std::u16string HalfToFullKatakana(std::u16string_view text);
std::u16string HalfToFullKatakanaEach(std::u16string_view text);

// Replaces every occurrence of what, scanning left to right and resuming after
// the inserted text, so the replacement is never searched again.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view what,
                          std::u16string_view with);

// How a settings or rules file is written. Notepad on today's Windows saves
// UTF-8 (with or without a byte order mark); older files are code page 932.
enum class TextEncoding { Cp932, Utf8, Utf8Bom };
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// UTF-8 when the bytes start with the byte order mark, or when they are valid
// UTF-8 and hold at least one multi-byte sequence (plain ASCII stays code page
// 932, which reads it the same).
TextEncoding DetectTextEncoding(std::string_view bytes);
// The bytes without a byte order mark, for a byte-level parser.
std::string_view WithoutBom(std::string_view bytes);
std::u16string DecodeText(std::string_view bytes, TextEncoding encoding);
// The text in that encoding (Utf8Bom writes the mark first).
std::string EncodeText(std::u16string_view text, TextEncoding encoding);

// Control characters (U+0000..U+001F, U+007F, U+0080..U+009F) become "?", so
// that a text taken from outside (an event's source name, say) stays on one
// line and carries no terminal escapes.
inline bool IsControlCharacter(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }
void ReplaceControls(std::u16string& text);

}  // namespace zkq
