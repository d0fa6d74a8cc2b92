#pragma once
// The Japanese mail encodings: half-width katakana widening, the
// charset check, Shift-JIS to JIS X 0208, ISO-2022-JP, Base64 encoded words in
// the header, header folding and Base64 for attachments. Pure functions over the
// project's code page 932 codec (base/text.h); none of them throws but for
// std::bad_alloc.
//
// A character's "code-page value" is what the encoders go by: its code page
// 932 form read as a signed 16-bit number, 0..127 for ASCII (and for what
// Windows' best fit and "?" turn a character into), 128..255 for single bytes,
// negative for double-byte characters.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/base64.h"

namespace zkq {

inline constexpr char16_t kEsc = 0x1B;
inline constexpr char kToJis[] = "\x1B$B";
inline constexpr char kToAscii[] = "\x1B(B";
inline constexpr char16_t kEncodedWordStart[] = u"=?ISO-2022-JP?B?";
inline constexpr char16_t kEncodedWordEnd[] = u"?=";
// An encoded word is at most this long (18 characters of text); folded header
// segments at most kFoldedLineLength; files are read in kFileChunkBytes pieces.
inline constexpr std::size_t kMaxEncodedWordLength = 74;
inline constexpr std::size_t kFoldedLineLength = 75;
inline constexpr std::size_t kFileChunkBytes = 32766;

// See above; for tests and the fuzz target.
int CodePageValue(char16_t c);

// Half-width katakana (code-page values 161..223) to full-width; a following
// voiced or semi-voiced mark joins the kana where a composed kana exists
// ("ｶﾞ" -> "ガ", "ﾊﾟ" -> "パ"). Everything else is copied.
std::u16string WidenHalfWidthKana(std::u16string_view text);

// Edits text in place: half-width katakana become full-width one character at a
// time ("ｶﾞ" -> "カ゛"), other single bytes 128..255 become "."; ASCII and
// double-byte characters stay. True when the text holds a half-width katakana
// or a double-byte character.
bool CheckCharacters(std::u16string& text);

// Shift-JIS lead and trail byte to the JIS X 0208 pair, in place. An IBM
// extension character (lead 0xFA..0xFC) is first moved to its NEC-selected
// equivalent (lead 0xED or 0xEE), which Japanese mail clients read. Any other
// pair outside the conversion (user-defined rows 0xF0..0xF9, bad trail bytes)
// gives 0 and 0 and false.
bool SjisToJis(std::uint8_t& lead, std::uint8_t& trail);

// Text to ISO-2022-JP, one byte per character, every byte 7-bit: JIS X 0208
// between ESC "$B" and ESC "(B", ASCII outside; a text that ends in JIS ends
// with ESC "(B". A character with no JIS X 0208 form goes out as an ASCII "?"
// (never as NULs); a half-width katakana that reaches it is widened on its own.
std::string ToIso2022Jp(std::u16string_view text);

// "=?ISO-2022-JP?B?" + Base64 of ToIso2022Jp(run) + "?=".
std::u16string EncodeWord(std::u16string_view run);

// Replaces every non-ASCII stretch of the header block by encoded words of at
// most 18 characters each: one blank before the first word, one after every
// word. Blanks between two stretches are encoded with them, so that they are
// not lost. ASCII-valued characters go out as their code page byte. A character
// with no JIS X 0208 form counts as the ASCII "?" it becomes. No encoded word
// exceeds kMaxEncodedWordLength.
std::u16string EncodeHeaderText(std::u16string_view text);

// Breaks each CR LF line at blanks so that no segment passes 75 characters; a
// continuation starts with one blank (not counted), a longer word is never
// broken. Every line of the result ends with CR LF.
std::u16string FoldHeaderLines(std::u16string_view text);

// The Base64 of the file's bytes, read in 32766-byte pieces. lineLength 0 gives
// one line; otherwise CR LF after every lineLength characters, none
// after the last line. Nothing when the file is missing, is no regular file or
// cannot be read whole.
std::optional<std::string> EncodeFileBase64(const std::filesystem::path& path,
                                            std::size_t lineLength = 0);

}  // namespace zkq
