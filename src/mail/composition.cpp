#include "mail/composition.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <random>
#include <vector>

#include "base/text.h"
#include "mail/encoders.h"

namespace zkq {
namespace {

constexpr char16_t kCrLf[] = u"\r\n";
constexpr char16_t kIsoContentType[] = u"Content-Type: text/plain; charset=iso-2022-jp";
constexpr char16_t kAsciiContentType[] = u"Content-Type: text/plain; charset=us-ascii";

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Every control character becomes "?"; with keepLineBreaks, a CR LF pair stays
// (a lone CR or LF does not: the dialogue cuts lines at CR LF only, and a bare
// one would go out inside a line).
std::u16string ReplaceControls(std::u16string_view text, bool keepLineBreaks) {
  std::u16string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (!IsControl(out[i])) continue;
    if (keepLineBreaks && out[i] == u'\r' && i + 1 < out.size() && out[i + 1] == u'\n') {
      ++i;
      continue;
    }
    out[i] = u'?';
  }
  return out;
}

void AppendTwoDigits(std::u16string& out, int value) {
  out += static_cast<char16_t>(u'0' + value / 10 % 10);
  out += static_cast<char16_t>(u'0' + value % 10);
}

// The computer name as the right side of a Message-ID: RFC 5322 atext only, so
// a name the id cannot carry (Japanese, blanks) leaves what it can.
std::u16string MessageIdHost(std::u16string_view computerName) {
  constexpr std::u16string_view kSpecials = u"!#$%&'*+-/=?^_`{|}~";
  std::u16string host;
  for (const char16_t c : computerName) {
    const bool alnum =
        (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    if (alnum || kSpecials.find(c) != std::u16string_view::npos) host += c;
  }
  return host.empty() ? u"localhost" : host;
}

std::u16string MessageId(const MessageStamp& stamp) {
  const DateTime& t = stamp.localTime;
  std::u16string id = u"<";
  id += FromUtf8(std::to_string(t.year));
  for (const int part : {t.month, t.day, t.hour, t.minute, t.second}) AppendTwoDigits(id, part);
  id += u'.';
  for (int shift = 60; shift >= 0; shift -= 4)
    id += u"0123456789abcdef"[stamp.uniqueNumber >> shift & 15];
  id += u'@';
  id += MessageIdHost(stamp.computerName);
  id += u'>';
  return id;
}

// A word too long for any header line goes out as encoded words, which the
// reader joins back without the blanks between them; folding then keeps every
// line short. Shorter words stay as they are.
std::u16string EncodeLongWords(std::u16string_view text) {
  std::u16string out;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find(u' ', start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view word = text.substr(start, end - start);
    if (start > 0) out += u' ';
    // Non-ASCII stretches become encoded words anyway; only a long ASCII one
    // would stay too long to fold.
    std::size_t ascii = 0, longest = 0;
    for (const char16_t c : word) longest = std::max(longest, ascii = c < 0x80 ? ascii + 1 : 0);
    if (longest <= kFoldedLineLength) {
      out += word;
    } else {
      // Set off from the field name it would otherwise touch.
      if (start == 0) out += u' ';
      for (std::size_t at = 0; at < word.size();) {
        // 18 characters fit one encoded word whatever they are; a surrogate
        // pair stays whole.
        std::size_t n = std::min<std::size_t>(18, word.size() - at);
        if (n < word.size() - at && word[at + n - 1] >= 0xD800 && word[at + n - 1] <= 0xDBFF) --n;
        if (at > 0) out += u' ';
        out += EncodeWord(word.substr(at, n));
        at += n;
      }
    }
    start = end + 1;
  }
  return out;
}

std::u16string HeaderLines(const MailRequest& request, const MessageStamp& stamp,
                           const std::vector<std::u16string>& recipients) {
  std::u16string h =
      u"Subject:" + EncodeLongWords(ReplaceControls(request.subjectText, false)) + kCrLf;
  h += u"From:\"" + EncodeLongWords(ReplaceControls(request.fromName, false)) + u"\" <" +
       ReplaceControls(request.fromAddress, false) + u">" + kCrLf;
  // An address list as RFC 5322 has it; the settings keep their ";".
  h += u"To:";
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    if (i > 0) h += u", ";
    h += ReplaceControls(recipients[i], false);
  }
  h += kCrLf;
  h += u"Date: " + Rfc5322Date(stamp.localTime, stamp.utcOffsetMinutes) + kCrLf;
  h += u"Message-ID: " + MessageId(stamp) + kCrLf;
  h += u"MIME-Version: 1.0";
  h += kCrLf;
  return h;
}

// One body line in ISO-2022-JP, broken into lines of at most
// kMaxBodyLineOctets; each piece ends in ASCII and breaks no character.
void AppendBodyLine(std::string& out, std::u16string_view line) {
  std::string whole = ToIso2022Jp(line);
  if (whole.size() <= kMaxBodyLineOctets) {
    out += whole;
    return;
  }
  std::size_t start = 0;
  std::size_t octets = 0;  // of the piece so far, without its closing escape
  bool jis = false;
  for (std::size_t i = 0; i < line.size();) {
    const std::size_t n =
        i + 1 < line.size() && line[i] >= 0xD800 && line[i] <= 0xDBFF ? 2 : 1;
    const std::string alone = ToIso2022Jp(line.substr(i, n));
    const bool inJis = alone.starts_with(kToJis);
    // A double-byte character costs 2, plus the escape into JIS when the piece
    // is in ASCII; an ASCII one costs 1, plus the escape back when in JIS.
    const std::size_t cost = inJis ? 2 + (jis ? 0 : 3) : alone.size() + (jis ? 3 : 0);
    if (i > start && octets + cost + (inJis ? 3 : 0) > kMaxBodyLineOctets) {
      out += ToIso2022Jp(line.substr(start, i - start));
      out += "\r\n";
      start = i;
      octets = 0;
      jis = false;
      continue;
    }
    octets += cost;
    jis = inJis;
    i += n;
  }
  out += ToIso2022Jp(line.substr(start));
}

std::string ConvertedBody(std::u16string_view body) {
  if (TrimView(body).empty()) return {};
  const std::u16string wide = WidenHalfWidthKana(body);
  std::string out;
  out.reserve(wide.size() + wide.size() / 2 + 2);
  for (std::size_t start = 0;;) {
    const std::size_t end = wide.find(u"\r\n", start);
    AppendBodyLine(out, std::u16string_view(wide).substr(
                            start, end == std::u16string::npos ? std::u16string::npos : end - start));
    out += "\r\n";
    if (end == std::u16string::npos) break;
    start = end + 2;
  }
  return out;
}

// The name parameter of an attachment, with what goes before it: quoted when
// it is printable ASCII, else RFC 2231 (UTF-8, percent-encoded) on lines of
// their own, short ones, so that no reader has to guess at code page 932.
std::u16string NameParameter(std::u16string_view name) {
  const bool plain = std::all_of(name.begin(), name.end(), [](char16_t c) {
    return c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\' && c != u'%' && c != u'*';
  });
  if (plain) return u" name=\"" + std::u16string(name) + u"\"";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::vector<std::u16string> sections(1, u"UTF-8''");
  for (const char byte : ToUtf8(name)) {
    const auto b = static_cast<unsigned char>(byte);
    std::u16string encoded;
    const bool attributeChar = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
                               (b >= 'a' && b <= 'z') || std::string_view("!#$&+-.^_`|~").find(
                                                             static_cast<char>(b)) != std::string_view::npos;
    if (attributeChar) {
      encoded = static_cast<char16_t>(b);
    } else {
      encoded = {u'%', static_cast<char16_t>(kHex[b >> 4]), static_cast<char16_t>(kHex[b & 15])};
    }
    if (sections.back().size() + encoded.size() > 60) sections.emplace_back();
    sections.back() += encoded;
  }
  if (sections.size() == 1) return u"\r\n name*=" + sections[0];
  std::u16string parameter;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    parameter += i > 0 ? u";\r\n " : u"\r\n ";
    parameter += u"name*" + FromUtf8(std::to_string(i)) + u"*=" + sections[i];
  }
  return parameter;
}

void SinglePart(const MailRequest& request, const MessageStamp& stamp, const std::u16string& body,
                const std::vector<std::u16string>& recipients, ComposedMessage& message) {
  std::u16string header = HeaderLines(request, stamp, recipients);
  bool japanese = CheckCharacters(header);
  if (!japanese) {
    std::u16string scanned = body;
    japanese = CheckCharacters(scanned);
  }
  header += japanese ? kIsoContentType : kAsciiContentType;
  header += kCrLf;
  message.messageText = EncodeCp932(FoldHeaderLines(EncodeHeaderText(header)) + kCrLf);
  message.messageText += ConvertedBody(body);
}

void Fail(ComposedMessage& message, std::u16string status) {
  message = ComposedMessage{};
  message.result = SendResult::ComposeFailed;
  message.statusText = std::move(status);
}

void MultiPart(const MailRequest& request, const MessageStamp& stamp, const std::u16string& body,
               const std::vector<std::u16string>& recipients, ComposedMessage& message) {
  std::vector<std::u16string_view> paths;
  const std::u16string_view list = request.attachmentList;
  for (std::size_t start = 0;;) {
    const std::size_t comma = list.find(u',', start);
    paths.push_back(list.substr(start, comma == std::u16string_view::npos ? comma : comma - start));
    if (paths.back().empty()) return Fail(message, kAttachmentEmptyItem);
    if (paths.size() > kMaxAttachments) return Fail(message, kTooManyAttachments);
    if (comma == std::u16string_view::npos) break;
    start = comma + 1;
  }

  const std::u16string boundary = kAttachmentBoundary;
  std::u16string header = HeaderLines(request, stamp, recipients);
  header += u"Content-type: multipart/mixed; boundary=\"" + boundary + u"\"" + kCrLf;
  // The header is widened as the single-part one is: the converter has no form
  // of its own for half-width katakana.
  std::string text =
      EncodeCp932(FoldHeaderLines(EncodeHeaderText(WidenHalfWidthKana(header))) + kCrLf);
  if (!TrimView(body).empty()) {
    text += EncodeCp932(u"--" + boundary + kCrLf + kIsoContentType + kCrLf + kCrLf);
    text += ConvertedBody(body);
  }
  for (const std::u16string_view path : paths) {
    std::optional<std::string> encoded =
        EncodeFileBase64(std::filesystem::path(path), kBase64LineLength);
    if (!encoded) {
      std::error_code ec;
      const bool exists = std::filesystem::exists(std::filesystem::path(path), ec);
      return Fail(message,
                  (exists ? kAttachmentUnreadable : kAttachmentMissing) + std::u16string(path));
    }
    text +=
        EncodeCp932(u"--" + boundary + kCrLf + u"Content-Type: application/octet-stream;" +
                    NameParameter(AttachmentFileName(path)) + kCrLf +
                    u"Content-Transfer-Encoding: base64" + kCrLf + kCrLf);
    text += *encoded;
    text += "\r\n\r\n";
  }
  text += EncodeCp932(u"--" + boundary + u"--" + kCrLf);
  message.messageText = std::move(text);
}

}  // namespace

std::vector<std::u16string> RecipientsOf(std::u16string_view toList) {
  std::vector<std::u16string> recipients;
  for (std::size_t start = 0; start <= toList.size();) {
    std::size_t end = toList.find(u';', start);
    if (end == std::u16string_view::npos) end = toList.size();
    if (std::u16string item = Trim(toList.substr(start, end - start)); !item.empty()) {
      recipients.push_back(std::move(item));
    }
    start = end + 1;
  }
  return recipients;
}

std::u16string AttachmentFileName(std::u16string_view path) {
  const std::size_t slash = path.rfind(u'\\');
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string Rfc5322Date(const DateTime& localTime, int utcOffsetMinutes) {
  static constexpr const char16_t* kDays[] = {u"Sun", u"Mon", u"Tue", u"Wed",
                                              u"Thu", u"Fri", u"Sat"};
  static constexpr const char16_t* kMonths[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  const std::int64_t seconds = localTime.ToSeconds();
  const std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
  std::u16string out = kDays[weekday];
  out += u", ";
  AppendTwoDigits(out, localTime.day);
  out += u' ';
  out += kMonths[(localTime.month - 1 + 12) % 12];
  out += u' ';
  out += FromUtf8(std::to_string(localTime.year));
  out += u' ';
  AppendTwoDigits(out, localTime.hour);
  out += u':';
  AppendTwoDigits(out, localTime.minute);
  out += u':';
  AppendTwoDigits(out, localTime.second);
  out += utcOffsetMinutes < 0 ? u" -" : u" +";
  const int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
  AppendTwoDigits(out, offset / 60);
  AppendTwoDigits(out, offset % 60);
  return out;
}

MessageStamp CurrentMessageStamp(std::u16string_view computerName) {
  const std::time_t now = std::time(nullptr);
  std::tm local{}, utc{};
#ifdef _WIN32
  localtime_s(&local, &now);
  gmtime_s(&utc, &now);
#else
  localtime_r(&now, &local);
  gmtime_r(&now, &utc);
#endif
  const auto toDateTime = [](const std::tm& t) {
    return DateTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
  };
  MessageStamp stamp;
  stamp.localTime = toDateTime(local);
  stamp.utcOffsetMinutes =
      static_cast<int>((stamp.localTime.ToSeconds() - toDateTime(utc).ToSeconds()) / 60);
  stamp.computerName = std::u16string(computerName);
  // The high half tells this process from others, the low half counts its
  // messages from a start that differs between runs.
  static const std::uint64_t kProcess = [] {
    const auto nanos =
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    std::random_device random;
    return (static_cast<std::uint64_t>(random()) ^ (nanos >> 20)) << 32;
  }();
  static std::atomic<std::uint32_t> counter{
      static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
  stamp.uniqueNumber = kProcess | counter.fetch_add(1);
  return stamp;
}

ComposedMessage ComposeMessage(const MailRequest& request, const MessageStamp& stamp) noexcept {
  ComposedMessage message;
  try {
    const std::vector<std::u16string> recipients = RecipientsOf(request.toList);
    if (recipients.empty()) {
      Fail(message, kNoRecipients);
      return message;
    }
    const std::u16string body = ReplaceControls(request.body, true);
    if (request.attachmentList.empty()) {
      SinglePart(request, stamp, body, recipients, message);
    } else {
      MultiPart(request, stamp, body, recipients, message);
    }
    if (message.result == SendResult::Sent) {
      message.senderAddress = request.fromAddress;
      for (const std::u16string& recipient : recipients) {
        if (!message.recipients.empty()) message.recipients += u';';
        message.recipients += recipient;
      }
    }
  } catch (...) {
    // Out of memory, or a path the file system cannot even name.
    Fail(message, kComposeOutOfMemory);
  }
  return message;
}

}  // namespace zkq
