#include "mail/composition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "mail/encoders.h"

namespace zkq {
namespace {

using namespace std::string_literals;

const MessageStamp kStamp{{2026, 12, 8, 13, 42, 30}, 540, u"WKS-01", 0x1234};
constexpr char kStampLines[] =
    "Date: Tue, 08 Dec 2026 13:42:30 +0900\r\n"
    "Message-ID: <20261208134230.0000000000001234@WKS-01>\r\n"
    "MIME-Version: 1.0\r\n";

MailRequest Request(std::u16string subject, std::u16string body, std::u16string attachments = u"") {
  MailRequest r;
  r.fromAddress = u"monitor@example.com";
  r.toList = u"admin@example.com;ops@example.com";
  r.subjectText = std::move(subject);
  r.body = std::move(body);
  r.attachmentList = std::move(attachments);
  return r;
}

TEST(CompositionTest, SinglePartLayout) {
  const ComposedMessage m = ComposeMessage(Request(u"Alert - WKS-01", u"hello\r\n.dot"), kStamp);
  EXPECT_EQ(m.result, SendResult::Sent);
  EXPECT_EQ(m.messageText, std::string("Subject:Alert - WKS-01\r\n"
                                       "From:\"\" <monitor@example.com>\r\n"
                                       "To:admin@example.com, ops@example.com\r\n") +
                               kStampLines +
                               "Content-Type: text/plain; charset=us-ascii\r\n"
                               "\r\n"
                               "hello\r\n.dot\r\n");
  EXPECT_EQ(m.senderAddress, u"monitor@example.com");
  EXPECT_EQ(m.recipients, u"admin@example.com;ops@example.com");
}

TEST(CompositionTest, CharsetBodyAndHeader) {
  struct Case {
    std::u16string subject, body;
    std::string charset, text;
  };
  const std::string kana = ToIso2022Jp(u"ガイド") + "\r\n";
  const Case cases[] = {
      {u"ok", u"plain", "us-ascii", "plain\r\n"},
      {u"監視", u"plain", "iso-2022-jp", "plain\r\n"},
      {u"ok", u"ｶﾞｲﾄﾞ", "iso-2022-jp", kana},  // arrives full-width, composed
      {u"ok", u"   ", "us-ascii", ""},         // blank: the message ends after the header
      {u"ok",
       u"a\x1B"
       u"b\tc\r\nd\ne\rf\x7F",
       "us-ascii", "a?b?c\r\nd?e?f?\r\n"},
  };
  for (const Case& c : cases) {
    const std::string text = ComposeMessage(Request(c.subject, c.body), kStamp).messageText;
    const std::size_t end = text.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(text.find("Content-Type: text/plain; charset="s + c.charset + "\r\n\r\n"),
              std::string::npos)
        << ToUtf8(c.subject + c.body);
    EXPECT_EQ(text.substr(end + 4), c.text) << ToUtf8(c.body);
  }
  // The header's half-width katakana are widened one by one (CheckCharacters).
  const std::string header = ComposeMessage(Request(u"ｶﾞ\x1B", u""), kStamp).messageText;
  EXPECT_EQ(header.substr(0, header.find("\r\n")),
            "Subject: "s + ToUtf8(EncodeWord(u"カ゛")) + " ?");
}

TEST(CompositionTest, Rfc5322Date) {
  EXPECT_EQ(Rfc5322Date({1970, 1, 1, 0, 0, 0}, 0), u"Thu, 01 Jan 1970 00:00:00 +0000");
  EXPECT_EQ(Rfc5322Date({2000, 2, 29, 23, 5, 9}, -330), u"Tue, 29 Feb 2000 23:05:09 -0530");
  EXPECT_EQ(Rfc5322Date({1969, 12, 31, 12, 0, 0}, 60), u"Wed, 31 Dec 1969 12:00:00 +0100");
  const MessageStamp a = CurrentMessageStamp(u"日本 PC"), b = CurrentMessageStamp(u"");
  EXPECT_NE(a.uniqueNumber, b.uniqueNumber);
  EXPECT_LE(std::abs(a.utcOffsetMinutes), 14 * 60);
  // A computer name the Message-ID cannot carry leaves what it can.
  EXPECT_NE(ComposeMessage(Request(u"", u""), a).messageText.find("@PC>"), std::string::npos);
  EXPECT_NE(ComposeMessage(Request(u"", u""), b).messageText.find("@localhost>"),
            std::string::npos);
}

TEST(CompositionTest, MultiPart) {
  test_support::ScratchFolder folder("mail-");
  const std::string bytes(100, '\xA5');
  std::ofstream(folder.Path() / "a.bin", std::ios::binary) << bytes;
  std::ofstream(folder.Path() / "b.txt", std::ios::binary);
  const std::u16string a = (folder.Path() / "a.bin").u16string();
  const std::u16string b = (folder.Path() / "b.txt").u16string();
  const ComposedMessage m = ComposeMessage(Request(u"ﾃｽﾄ", u"本文", a + u","s + b), kStamp);
  ASSERT_EQ(m.result, SendResult::Sent) << ToUtf8(m.statusText);
  const std::string b64 = Base64Encode(bytes);
  const std::string part = "--zkSendMail Attachment Boundary\r\n";
  EXPECT_EQ(
      m.messageText,
      "Subject: "s + ToUtf8(EncodeWord(u"テスト")) + " \r\n"s +
          "From:\"\" <monitor@example.com>\r\nTo:admin@example.com, ops@example.com\r\n"s +
          kStampLines +
          "Content-type: multipart/mixed; boundary=\"zkSendMail Attachment Boundary\"\r\n\r\n"s +
          part + "Content-Type: text/plain; charset=iso-2022-jp\r\n\r\n"s + ToIso2022Jp(u"本文") +
          "\r\n"s + part + "Content-Type: application/octet-stream; name=\""s +
          ToUtf8(AttachmentFileName(a)) + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"s +
          b64.substr(0, 76) + "\r\n"s + b64.substr(76) + "\r\n\r\n"s + part +
          "Content-Type: application/octet-stream; name=\""s + ToUtf8(AttachmentFileName(b)) +
          "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n\r\n\r\n"
          "--zkSendMail Attachment Boundary--\r\n");

  // A Japanese name goes out in RFC 2231, never in code page 932.
  std::ofstream(folder.Path() / u"今日.log", std::ios::binary) << "x";
  const std::string named =
      ComposeMessage(Request(u"s", u"", (folder.Path() / u"今日.log").u16string()), kStamp)
          .messageText;
  // (On Linux the name is the whole path: "/" separates nothing.)
  EXPECT_NE(named.find(";\r\n name*"), std::string::npos) << named;
  EXPECT_NE(named.find("=UTF-8''"), std::string::npos) << named;
  EXPECT_TRUE(std::all_of(named.begin(), named.end(), [](char c) { return c > 0; }));

  const std::pair<std::u16string, std::u16string> names[] = {{u"C:\\logs\\今日.evt", u"今日.evt"},
                                                             {u"bare.txt", u"bare.txt"},
                                                             {u"dir/x.txt", u"dir/x.txt"},
                                                             {u"C:\\dir\\", u""}};
  for (const auto& [path, name] : names) EXPECT_EQ(AttachmentFileName(path), name);
}

// Whatever the input, no line passes the limit, every line that enters JIS
// leaves it before its end, and the recipients lose their empty items.
TEST(CompositionTest, LineLimits) {
  std::u16string mixed;
  for (int i = 0; i < 700; ++i) mixed += i % 3 == 0 ? u"a" : u"漢";
  const std::u16string longWord(1200, u'x');
  const std::u16string bodies[] = {std::u16string(2000, u'あ'), std::u16string(2000, u'b'), mixed,
                                   mixed + u"\r\n.x" + std::u16string(996, u'y')};
  for (const std::u16string& body : bodies) {
    MailRequest request = Request(longWord + u" 件名", body);
    request.fromName = std::u16string(300, u'名');
    request.toList = u" ;a@x; ;b@y;";
    const ComposedMessage m = ComposeMessage(request, kStamp);
    ASSERT_EQ(m.result, SendResult::Sent);
    EXPECT_EQ(m.recipients, u"a@x;b@y");
    EXPECT_NE(m.messageText.find("\r\nTo:a@x, b@y\r\n"), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t start = 0; start < m.messageText.size(); ++lines) {
      const std::size_t end = m.messageText.find("\r\n", start);
      ASSERT_NE(end, std::string::npos);
      const std::string_view line(m.messageText.data() + start, end - start);
      EXPECT_LE(line.size(), kMaxBodyLineOctets);
      if (line.rfind(kToJis) != std::string_view::npos) {
        EXPECT_GT(line.rfind(kToAscii), line.rfind(kToJis)) << line;
      }
      start = end + 2;
    }
    EXPECT_GT(lines, 12u);
  }
  EXPECT_EQ(ComposeMessage(Request(u"s", u"b"), kStamp).recipients,
            u"admin@example.com;ops@example.com");
  MailRequest nobody = Request(u"s", u"b");
  nobody.toList = u" ; ";
  EXPECT_EQ(ComposeMessage(nobody, kStamp).statusText, kNoRecipients);
}

TEST(CompositionTest, AttachmentFailures) {
  test_support::ScratchFolder folder("mail-");
  const std::u16string file = (folder.Path() / "f").u16string();
  std::ofstream(folder.Path() / "f") << "x";
  std::u16string many = file;
  for (int i = 0; i < 256; ++i) many += u","s + file;
  const std::u16string missing = (folder.Path() / "missing").u16string();
  const std::pair<std::u16string, std::u16string> cases[] = {
      {file + u",,"s + file, kAttachmentEmptyItem},
      {file + u",", kAttachmentEmptyItem},
      {many, kTooManyAttachments},
      {file + u","s + missing, kAttachmentMissing + missing},
      {folder.Path().u16string(), kAttachmentUnreadable + folder.Path().u16string()},
  };
  for (const auto& [list, status] : cases) {
    const ComposedMessage m = ComposeMessage(Request(u"s", u"b", list), kStamp);
    EXPECT_EQ(m.result, SendResult::ComposeFailed);
    EXPECT_EQ(ToInt(m.result), 12);
    EXPECT_EQ(m.statusText, status);
    EXPECT_TRUE(m.messageText.empty() && m.recipients.empty());
  }
  EXPECT_EQ(ComposeMessage(Request(u"s", u"b", many.substr(file.size() + 1)), kStamp).result,
            SendResult::Sent);  // 256 files
}

}  // namespace
}  // namespace zkq
