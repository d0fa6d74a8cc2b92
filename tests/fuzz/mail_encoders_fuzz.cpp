// Arbitrary text through the mail encoders and the composition, and back
// through a small ISO-2022-JP and Base64 decoder of its own: every character
// with a JIS X 0208 form must come back as code page 932 reads it, every other
// one as "?", and nothing may leave 7 bits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "mail/composition.h"
#include "mail/encoders.h"

namespace {

using zkq::CodePageValue;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Base64Decode(std::string_view text) {
  Check(text.size() % 4 == 0);
  std::string out;
  std::uint32_t group = 0;
  int bits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '=') {
      Check(i + 2 >= text.size());
      continue;
    }
    int v = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
                                   : -1;
    Check(v >= 0);
    group = group << 6 | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>(group >> bits & 0xFF);
    }
  }
  return out;
}

std::u16string IsoDecode(std::string_view bytes) {
  std::u16string out;
  bool jis = false;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    Check(b < 0x80);
    if (b == 0x1B) {
      Check(i + 2 < bytes.size() &&
            (bytes.substr(i, 3) == "\x1B$B" || bytes.substr(i, 3) == "\x1B(B"));
      jis = bytes[i + 1] == '$';
      i += 3;
    } else if (jis) {
      Check(i + 1 < bytes.size());
      const unsigned j1 = b, j2 = static_cast<std::uint8_t>(bytes[i + 1]);
      Check(j1 >= 0x21 && j1 <= 0x7E && j2 >= 0x21 && j2 <= 0x7E);
      const char sjis[] = {static_cast<char>((j1 + 1) / 2 + (j1 <= 0x5E ? 0x70 : 0xB0)),
                           static_cast<char>(j2 + (j1 % 2 ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E))};
      const std::u16string c = zkq::DecodeCp932(std::string_view(sjis, 2));
      Check(c.size() == 1);
      out += c;
      i += 2;
    } else {
      out += static_cast<char16_t>(b);
      ++i;
    }
  }
  Check(!jis);
  return out;
}

// What a character must come back as: the character code page 932 reads from
// its JIS pair, "?" for one without (user-defined rows 0xF0..0xF9, stray single
// bytes), or the byte best fit and "?" make of it.
char16_t Expected(char16_t c) {
  const int value = CodePageValue(c);
  if (value >= 0 && value < 0x80) return static_cast<char16_t>(value);
  if (value >= 0xA1 && value <= 0xDF) {
    return zkq::DecodeCp932(
        zkq::EncodeCp932(zkq::HalfToFullKatakanaEach(std::u16string_view(&c, 1))))[0];
  }
  const int lead = value >> 8 & 0xFF;
  if (value < 0 && (lead < 0xF0 || lead > 0xF9)) {
    return zkq::DecodeCp932(zkq::EncodeCp932(std::u16string_view(&c, 1)))[0];
  }
  return u'?';
}

std::u16string ExpectedText(std::u16string_view text) {
  std::u16string out;
  for (const char16_t c : text) out += Expected(c);
  return out;
}

// The header text as a reader decodes it: an encoded word stands apart (at
// the start or end, or beside a blank); the blank between two encoded words
// is dropped, any other is the text's own; text holds no "=". A reader
// takes the field without the blanks at its ends, which are the encoder's
// or the text's alike.
std::u16string HeaderDecode(std::u16string_view encoded) {
  constexpr std::u16string_view kStart = zkq::kEncodedWordStart;
  const auto wordAt = [&](std::size_t i) { return encoded.substr(i, kStart.size()) == kStart; };
  std::u16string out;
  std::size_t i = 0;
  while (i < encoded.size()) {
    if (!wordAt(i)) {
      Check(encoded[i] < 0x80);
      out += encoded[i++];
      continue;
    }
    Check(i == 0 || encoded[i - 1] == u' ');
    const std::size_t end = encoded.find(u"?=", i + kStart.size());
    Check(end != std::u16string_view::npos && end + 2 - i <= zkq::kMaxEncodedWordLength);
    const std::u16string_view b64 = encoded.substr(i + kStart.size(), end - i - kStart.size());
    out += IsoDecode(Base64Decode(zkq::ToUtf8(b64)));
    i = end + 2;
    Check(i == encoded.size() || encoded[i] == u' ');
    if (i < encoded.size() && wordAt(i + 1)) ++i;
  }
  return zkq::Trim(out);
}

// text with the blank an encoded word needs where the text gives none:
// between plain text and a Japanese stretch.
std::u16string SetOff(const std::u16string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i > 0 && text[i - 1] != u' ' && text[i] != u' ' &&
        (text[i - 1] < 0x80) != (text[i] < 0x80))
      out += u' ';
    out += text[i];
  }
  return out;
}

std::u16string WithoutControls(std::u16string_view text) {
  std::u16string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const char16_t c = out[i];
    if (c == u'\r' && i + 1 < out.size() && out[i + 1] == u'\n') {
      ++i;
    } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      out[i] = u'?';
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  Check(Base64Decode(zkq::Base64Encode(bytes)) == bytes);

  // The first byte picks how the rest becomes text: code page 932, or UTF-16
  // units (lone surrogates and characters the code page lacks among them).
  std::u16string text;
  if (data[0] & 1) {
    text = zkq::DecodeCp932(bytes);
  } else {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                    static_cast<std::uint8_t>(bytes[i + 1]) << 8);
    }
  }

  // ESC is the one ASCII character ISO-2022-JP cannot carry as itself: the
  // composition replaces it, the encoders pass it on.
  const std::u16string noEsc = zkq::ReplaceAll(text, u"\x1B", u"-");
  Check(IsoDecode(zkq::ToIso2022Jp(noEsc)) == ExpectedText(noEsc));

  std::u16string header = noEsc;
  for (char16_t& c : header) {
    if (c == u'=' || c == u'\r' || c == u'\n') c = u'-';
  }
  const std::u16string encoded = zkq::EncodeHeaderText(header);
  Check(HeaderDecode(encoded) == zkq::Trim(SetOff(ExpectedText(header))));

  const std::u16string line = encoded + u"\r\n";
  const std::u16string folded = zkq::FoldHeaderLines(line);
  Check(zkq::ReplaceAll(folded, u"\r\n ", u" ") == line);
  for (std::size_t at = 0; at < folded.size();) {
    const std::size_t end = folded.find(u"\r\n", at);
    Check(end != std::u16string::npos);
    const std::u16string_view piece = std::u16string_view(folded).substr(at, end - at);
    Check(piece.size() <= zkq::kFoldedLineLength + 1 ||
          piece.find(u' ', 1) == std::u16string_view::npos);
    at = end + 2;
  }

  std::u16string checked = text;
  const bool japanese = zkq::CheckCharacters(checked);
  Check(checked.size() == text.size());
  for (const char16_t c : checked) {
    const int value = CodePageValue(c);
    Check(value < 0x80);  // nothing single-byte beyond ASCII is left
    if (value < 0) Check(japanese);
  }

  zkq::MailRequest request;
  request.subjectText = header.substr(0, header.size() / 3);
  request.fromAddress = u"a@example.com";
  request.toList = u"b@example.com";
  request.body = text;
  const zkq::ComposedMessage message =
      zkq::ComposeMessage(request, {{2026, 12, 8, 9, 0, 0}, 540, text.substr(0, 15), size});
  Check(message.result == zkq::SendResult::Sent);
  const std::size_t blank = message.messageText.find("\r\n\r\n");
  Check(blank != std::string::npos);
  const std::string raw = message.messageText.substr(blank + 4);
  // Every line within SMTP's limit on its own.
  for (std::size_t at = 0; at < raw.size();) {
    const std::size_t end = raw.find("\r\n", at);
    Check(end != std::string::npos);
    Check(end - at <= zkq::kMaxBodyLineOctets);
    at = end + 2;
  }
  const std::u16string body = IsoDecode(raw);
  const std::u16string sent = WithoutControls(text);
  const std::u16string expected =
      zkq::TrimView(sent).empty() ? u"" : ExpectedText(zkq::HalfToFullKatakana(sent)) + u"\r\n";
  // A long line is broken where it would pass the limit: the body is the
  // text with those breaks, and nothing else, added.
  const auto lines = [](const std::u16string& t) {
    std::size_t n = 0;
    for (std::size_t at = t.find(u"\r\n"); at != std::u16string::npos; at = t.find(u"\r\n", at + 2)) ++n;
    return n;
  };
  Check(zkq::ReplaceAll(body, u"\r\n", u"") == zkq::ReplaceAll(expected, u"\r\n", u""));
  Check(lines(body) >= lines(expected));
  Check(body.size() - 2 * lines(body) == expected.size() - 2 * lines(expected));
  return 0;
}
