// The Winsock adapter and its message loop against a loopback server in the
// same process (a thread with blocking sockets, every wait bounded).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/testing/recording_boxes.h"
#include "mail/win32/winsock_socket.h"

namespace zkq::win32 {
namespace {

class Recorder : public SendObserver {
 public:
  void Status(const std::u16string& text) override { statuses.push_back(text); }
  void Progress(int) override {}
  void Title(const std::u16string&) override {}
  void Ended(SendResult, bool timedOut) override { endedByTimeout = timedOut; }
  std::vector<std::u16string> statuses;
  bool endedByTimeout = false;
};

// Answers each command line (and the data after 354) with its next reply; an
// empty reply means silence until the client goes, "<close>" hangs up.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::vector<std::string> replies) : replies_(std::move(replies)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_.Reset(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_.Get(), 1);
    ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() {
    if (thread_.joinable()) thread_.join();
    listener_.Reset();
    WSACleanup();
  }
  std::uint16_t Port() const { return port_; }
  const std::string& Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  void Serve() {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener_.Get(), &ready);
    timeval wait{5, 0};
    if (::select(0, &ready, nullptr, nullptr, &wait) <= 0) return;
    UniqueSocket client(::accept(listener_.Get(), nullptr, nullptr));
    if (!client) return;
    const DWORD timeout = 5000;
    ::setsockopt(client.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
    std::size_t seen = 0;
    bool inData = false;
    for (std::size_t i = 0; i < replies_.size(); ++i) {
      const std::string end = inData ? "\r\n.\r\n" : "\n";
      std::size_t at;
      while (i > 0 && (at = received_.find(end, seen)) == std::string::npos) {
        char buffer[4096];
        const int got = ::recv(client.Get(), buffer, sizeof buffer, 0);
        if (got <= 0) return;
        received_.append(buffer, got);
      }
      if (i > 0) seen = at + end.size();
      if (replies_[i].empty()) break;
      if (replies_[i] == "<close>") return;
      ::send(client.Get(), replies_[i].data(), static_cast<int>(replies_[i].size()), 0);
      inData = replies_[i].starts_with("354");
    }
    char buffer[4096];
    while (::recv(client.Get(), buffer, sizeof buffer, 0) > 0) {
    }
  }

  std::vector<std::string> replies_;
  UniqueSocket listener_;
  std::uint16_t port_ = 0;
  std::string received_;
  std::thread thread_;
};

SmtpRequest Request(std::uint16_t port) {
  SmtpRequest request;
  request.server = u"127.0.0.1";
  const std::string digits = std::to_string(port);
  request.port.assign(digits.begin(), digits.end());
  request.heloName = u"PC01";
  request.fromAddress = u"zkq@example.jp";
  request.toList = u"a@x;b@y";
  request.messageText = "Subject:test\r\n\r\n.dot\r\nlast\r\n";
  request.timeoutSeconds = 10;
  request.showMessages = true;
  return request;
}

TEST(WinsockSocketTest, SendsAMailThroughNotifications) {
  LoopbackServer server({"220-mx\r\n220 ready\r\n", "250 hello\r\n", "250 ok\r\n", "250 ok\r\n",
                         "250 ok\r\n", "354 go\r\n", "250 queued\r\n", "221 bye\r\n"});
  Recorder recorder;
  test_support::RecordingBoxes boxes;
  EXPECT_EQ(SendOverSystemSockets(Request(server.Port()), recorder, boxes), SendResult::Sent);
  EXPECT_EQ(server.Received(),
            "EHLO [127.0.0.1]\r\nMAIL FROM:<zkq@example.jp>\r\nRCPT TO:<a@x>\r\nRCPT TO:<b@y>\r\n"
            "DATA\r\nSubject:test\r\n\r\n..dot\r\nlast\r\n\r\n.\r\nQUIT\r\n");
  ASSERT_FALSE(recorder.statuses.empty());
  EXPECT_EQ(recorder.statuses.back(), u"メッセージが送信されました！");
}

TEST(WinsockSocketTest, RefusedAndUnresolvedConnects) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  std::uint16_t closedPort = 0;
  {
    // Bound once and given back: nothing listens there.
    UniqueSocket bound(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ::bind(bound.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(bound.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    closedPort = ntohs(address.sin_port);
  }
  Recorder recorder;
  test_support::RecordingBoxes boxes;
  EXPECT_EQ(SendOverSystemSockets(Request(closedPort), recorder, boxes), SendResult::ConnectFailed);

  SmtpRequest unnamed = Request(closedPort);
  unnamed.server = u"";
  EXPECT_EQ(SendOverSystemSockets(unnamed, recorder, boxes), SendResult::ConnectFailed);
  EXPECT_EQ(recorder.statuses.back(), u"に接続できませんでした！ホストが見つからない。");
  WSACleanup();
}

TEST(WinsockSocketTest, SilentServerTimesOut) {
  LoopbackServer server({"220 ready\r\n", ""});
  SmtpRequest request = Request(server.Port());
  request.timeoutSeconds = 1;
  Recorder recorder;
  test_support::RecordingBoxes boxes;
  EXPECT_EQ(SendOverSystemSockets(request, recorder, boxes), SendResult::NoOutcome);
  EXPECT_TRUE(recorder.endedByTimeout);
  EXPECT_EQ(recorder.statuses.back(), u"EHLO [127.0.0.1]\r\n");
}

TEST(WinsockSocketTest, ServerThatHangsUpEndsTheSendAtOnce) {
  LoopbackServer server({"220 ready\r\n", "<close>"});
  Recorder recorder;
  test_support::RecordingBoxes boxes;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendOverSystemSockets(Request(server.Port()), recorder, boxes),
            SendResult::ServerClosed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(recorder.endedByTimeout);
}

// A name is looked up off the UI thread; when "localhost" gives ::1 first, that
// refused address gives way to 127.0.0.1, where the server listens.
TEST(WinsockSocketTest, ResolvesANameAndTriesEachAddress) {
  LoopbackServer server({"220 ready\r\n", "250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                         "354 go\r\n", "250 queued\r\n"});
  SmtpRequest request = Request(server.Port());
  request.server = u"localhost";
  Recorder recorder;
  test_support::RecordingBoxes boxes;
  EXPECT_EQ(SendOverSystemSockets(request, recorder, boxes), SendResult::Sent);
}

}  // namespace
}  // namespace zkq::win32
