#include "mail/send_window.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/failure.h"
#include "base/testing/recording_boxes.h"
#include "base/text.h"
#include "mail/posix/poll_loop.h"
#include "mail/posix/posix_socket.h"
#include "mail/testing/scripted_server.h"

namespace zkq {
namespace {

using test_support::RecordingBoxes;
using test_support::ScriptedServer;

class FakeView : public SendWindowView {
 public:
  void SetTitleText(const std::u16string& text) override { title = text; }
  void SetStatus(const std::u16string& text) override { statuses.push_back(text); }
  void SetProgress(int value) override { progress = value; }
  void EnableSend(bool enabled) override { sendEnabled = enabled; }
  void SetBusyCursor(bool busy) override { this->busy = busy; }
  void Close() override { ++closes; }

  std::u16string title;
  std::vector<std::u16string> statuses;
  int progress = -1;
  bool sendEnabled = true;
  bool busy = false;
  int closes = 0;
};

const std::vector<std::string> kAccepting = {
    "220 mx ready\r\n", "250 hello\r\n",   "250 sender ok\r\n", "250 rcpt ok\r\n",
    "354 go ahead\r\n", "250 queued\r\n", "221 bye\r\n"};

struct Case {
  const char* name;
  std::vector<std::string> script = kAccepting;
  std::u16string attachmentList = u"";
  std::u16string showMessages = u"0";
  std::u16string autoSend = u"1";
  std::u16string autoClose = u"1";
  std::u16string timeoutSeconds = u"60";
  // Whether the user presses Exit once the send has ended (or not begun).
  bool exit = false;
  SendResult result = SendResult::Sent;
  std::u16string title = kSentTitle;
  std::u16string lastStatus = u"メッセージが送信されました！";
  // Message boxes, without the fixed first line of an application error.
  std::vector<std::u16string> boxes = {};
  bool connects = true;
  bool delivered = false;
};

const Case kCases[] = {
    {.name = "AutoSendAndClose", .delivered = true},
    {.name = "WaitsForSendThenExit",
     .script = {"220 never asked\r\n"},
     .showMessages = u"1",
     .autoSend = u"0",
     .timeoutSeconds = u"abc",
     .exit = true,
     .result = SendResult::NoOutcome,
     .title = kSendingTitle,
     .lastStatus = u"",
     .boxes = {kTypeMismatch},
     .connects = false},
    {.name = "RefusedStaysOpenUntilExit",
     .script = {"554 go away\r\n"},
     .showMessages = u" 1 ",
     .autoClose = u"0",
     .exit = true,
     .result = SendResult::GreetingRefused,
     .title = kSendingTitle,
     .lastStatus = u"SMTPエラー: 554 go away\r\n",
     .boxes = {u"SMTPエラー: 554 go away\r\n"}},
    {.name = "AttachmentMissing",
     .script = {},
     .attachmentList = u"Z:\\nowhere\\a.txt",
     .showMessages = u"1",
     .result = SendResult::ComposeFailed,
     .title = kSendingTitle,
     .lastStatus = std::u16string(kAttachmentMissing) + u"Z:\\nowhere\\a.txt",
     .boxes = {std::u16string(kAttachmentMissing) + u"Z:\\nowhere\\a.txt"},
     .connects = false},
    {.name = "TimeoutClosesWhateverAutoClose",
     .script = {"220 and then nothing"},
     .showMessages = u"1",
     .autoClose = u"0",
     .timeoutSeconds = u"1",
     .result = SendResult::NoOutcome,
     .title = kSendingTitle,
     .lastStatus = u"127.0.0.1に接続しました！",
     .boxes = {kTimeoutText}},
};

class SendWindowTest : public testing::TestWithParam<Case> {};

TEST_P(SendWindowTest, ShowsTheSendAndRecordsItsResult) {
  const Case& c = GetParam();
  ScriptedServer server(c.script);
  MailRequest request{.server = u"127.0.0.1",
                      .port = u" " + FromUtf8(std::to_string(server.Port())) + u" ",
                      .fromAddress = u"zkq@example.jp",
                      .fromName = u"",
                      .toList = u"admin@example.jp",
                      .subjectText = u"監視警告 - PC01",
                      .body = u"［システム］\r\n.エラー\r\n",
                      .attachmentList = c.attachmentList,
                      .showMessages = c.showMessages,
                      .autoSend = c.autoSend,
                      .autoClose = c.autoClose,
                      .timeoutSeconds = c.timeoutSeconds,
                      .security = u"",
                      .user = u"",
                      .password = u""};

  FakeView view;
  posix::PosixSocket socket;
  posix::PollLoop loop;
  RecordingBoxes boxes;
  SmtpSession* attached = nullptr;
  SendWindowPorts ports{view,
                        socket,
                        loop,
                        boxes,
                        u"PC01",
                        [] {
                          return MessageStamp{{2026, 12, 8, 13, 42, 30}, 540, u"PC01", 7};
                        },
                        [&](SmtpSession* session) { attached = session; },
                        u"pc01.example.jp"};
  // The modal loop: each event handed to the session in turn, as the window would.
  auto runSends = [&] {
    while (attached != nullptr && attached->Running()) loop.Run(*attached, socket);
  };
  const SendResult result = SendEmail(request, ports, [&](SendWindow& window) {
    window.FormLoad();
    window.FormActivate();
    window.FormActivate();  // a second activation sends nothing more
    runSends();
    EXPECT_TRUE(view.sendEnabled);
    // Ended, the window is closed or waits for the user.
    EXPECT_EQ(view.closes, c.exit ? 0 : 1);
    if (c.exit) window.ExitClicked();
  });

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(view.closes, 1);
  EXPECT_EQ(view.title, c.title);
  ASSERT_FALSE(view.statuses.empty());
  if (!c.lastStatus.empty()) {
    EXPECT_EQ(view.statuses.back(), c.lastStatus);
  }
  EXPECT_FALSE(view.busy);
  std::vector<std::u16string> shown;
  for (const auto& box : boxes.shown) {
    const std::u16string prefix = std::u16string(u"アプリケーションエラー！") + u"\r\n";
    shown.push_back(box.text.starts_with(prefix) ? box.text.substr(prefix.size()) : box.text);
  }
  EXPECT_EQ(shown, c.boxes);
  EXPECT_EQ(attached, nullptr) << "the socket still points at a session that is gone";

  if (!c.connects) return;
  const std::string received = server.Received();
  if (c.delivered) {
    EXPECT_EQ(view.progress, 100);
    EXPECT_NE(
        received.find("EHLO pc01.example.jp\r\nMAIL FROM:<zkq@example.jp>\r\nRCPT TO:<admin@example.jp>\r\n"
                      "DATA\r\nSubject:"),
        std::string::npos);
    EXPECT_NE(received.find("Date: Tue, 08 Dec 2026 13:42:30 +0900\r\n"), std::string::npos);
    // The body composed in ISO-2022-JP, dot-stuffed, then the end of the data
    // and the goodbye.
    const std::string body =
        "\x1b$B!N%7%9%F%`!O\x1b(B\r\n..\x1b$B%(%i!<\x1b(B\r\n\r\n\r\n.\r\nQUIT\r\n";
    EXPECT_EQ(received.substr(received.size() - std::min(received.size(), body.size())), body);
  } else {
    EXPECT_EQ(received, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SendWindowTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
}  // namespace zkq
