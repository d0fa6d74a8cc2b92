// TlsSocket's plumbing over a fake raw socket and a fake engine: records split
// across reads, a record larger than one read, plain text larger than the
// session's buffer, a raw socket that takes little at a time, and the ways a
// handshake ends.
#include "mail/tls_socket.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "mail/socket_errors.h"

namespace zkq {
namespace {

// A record is two length bytes and the payload with every byte flipped; a
// record of length 0 is the end of the session. The handshake is one record
// each way: "hello" from the client, "ok" (or a failure code) from the server.
std::string Record(const std::string& payload) {
  std::string record{static_cast<char>(payload.size() >> 8), static_cast<char>(payload.size())};
  for (const char c : payload) record += static_cast<char>(~c);
  return record;
}

class FakeEngine : public TlsEngine {
 public:
  std::int32_t Begin(std::u16string_view) override {
    in_.clear();
    out_.clear();
    secured_ = false;
    return 0;
  }
  void Put(std::span<const char> bytes) override { in_.append(bytes.data(), bytes.size()); }
  std::int32_t Handshake() override {
    if (out_.empty() && !sentHello_) {
      out_ += Record("hello");
      sentHello_ = true;
    }
    std::string payload;
    if (!Next(payload)) return kWsaWouldBlock;
    if (payload != "ok") return std::stoi(payload);
    secured_ = true;
    return 0;
  }
  std::int32_t Encrypt(std::span<const char> plain) override {
    for (std::size_t at = 0; at < plain.size(); at += 1000) {
      out_ +=
          Record(std::string(plain.data() + at, std::min<std::size_t>(1000, plain.size() - at)));
    }
    return 0;
  }
  Transfer Decrypt(std::span<char> buffer) override {
    if (plain_.empty()) {
      std::string payload;
      if (!Next(payload)) return {0, kWsaWouldBlock};
      if (payload.empty()) return {0, 0};
      plain_ = payload;
    }
    const std::size_t n = std::min(buffer.size(), plain_.size());
    std::copy_n(plain_.data(), n, buffer.data());
    plain_.erase(0, n);
    return {n, 0};
  }
  std::string TakeOutput() override { return std::exchange(out_, ""); }

 private:
  bool Next(std::string& payload) {
    if (in_.size() < 2) return false;
    const std::size_t length =
        static_cast<std::uint8_t>(in_[0]) * 256u + static_cast<std::uint8_t>(in_[1]);
    if (in_.size() < 2 + length) return false;
    payload.clear();
    for (std::size_t i = 0; i < length; ++i) payload += static_cast<char>(~in_[2 + i]);
    in_.erase(0, 2 + length);
    return true;
  }
  std::string in_, out_, plain_;
  bool sentHello_ = false;
  bool secured_ = false;
};

// Hands out its chunks one receive call at a time and takes at most `room`
// bytes per send, then would block until its next Write event.
class FakeRaw : public SocketPort {
 public:
  std::u16string Start() override { return u""; }
  void Stop() override {}
  std::int32_t Open() override { return 0; }
  std::int32_t Connect(std::u16string_view, std::uint16_t) override { return 0; }
  Transfer Send(std::span<const char> bytes) override {
    if (full) return {0, kWsaWouldBlock};
    const std::size_t n = std::min(bytes.size(), room);
    sent.append(bytes.data(), n);
    full = n < bytes.size();
    return {n, 0};
  }
  Transfer Receive(std::span<char> buffer) override {
    if (chunks.empty()) return {0, ending};
    if (chunks.front().empty()) return {0, kWsaWouldBlock};
    std::string& chunk = chunks.front();
    const std::size_t n = std::min(buffer.size(), chunk.size());
    std::copy_n(chunk.data(), n, buffer.data());
    chunk.erase(0, n);
    if (chunk.empty()) chunks.pop_front();
    return {n, 0};
  }
  std::int32_t Arm(SocketEvent event) override {
    armed = event;
    return 0;
  }
  void Close() override { armed.reset(); }

  // An empty chunk stands for a pause: nothing more to read until it is taken away.
  std::deque<std::string> chunks;
  bool hungUp = false;
  std::int32_t ending = kWsaWouldBlock;  // what a receive gives once the chunks are gone
  std::string sent;
  std::size_t room = 1 << 20;
  bool full = false;
  std::optional<SocketEvent> armed;
};

// The session's side: records the events and reads whatever each Read offers,
// 4096 bytes at a time as the session does.
class Reader : public SocketEvents {
 public:
  explicit Reader(SocketPort& socket) : socket_(socket) {}
  void OnSocketEvent(SocketEvent event, std::int32_t error) override {
    events.push_back({event, error});
    if (event != SocketEvent::Read) return;
    char buffer[4096];
    const Transfer got = socket_.Receive(buffer);
    if (got.error == 0 && got.bytes == 0) closed = true;
    text.append(buffer, got.error == 0 ? got.bytes : 0);
  }
  std::vector<std::pair<SocketEvent, std::int32_t>> events;
  std::string text;
  bool closed = false;

 private:
  SocketPort& socket_;
};

// What poll would do: a Write event whenever Write is armed (once a full raw
// socket has drained), a Read event while there is something to read.
void Drive(FakeRaw& raw, TlsSocket& tls, int rounds = 1000) {
  for (int i = 0; i < rounds && raw.armed; ++i) {
    if (*raw.armed == SocketEvent::Write) {
      raw.full = false;
      tls.OnSocketEvent(SocketEvent::Write, 0);
    } else if (*raw.armed == SocketEvent::Read && !raw.chunks.empty() &&
               !raw.chunks.front().empty()) {
      tls.OnSocketEvent(SocketEvent::Read, 0);
    } else if (*raw.armed == SocketEvent::Read && raw.chunks.empty() &&
               raw.ending != kWsaWouldBlock) {
      tls.OnSocketEvent(SocketEvent::Read, 0);
    } else {
      return;
    }
  }
}

TEST(TlsSocketTest, CarriesPlainTextThroughSplitAndLargeRecords) {
  FakeRaw raw;
  TlsSocket tls(raw, std::make_unique<FakeEngine>());
  Reader reader(tls);
  tls.Attach(&reader);
  ASSERT_EQ(tls.Open(), 0);

  // The server's answer arrives one byte, then the rest.
  const std::string ok = Record("ok");
  raw.chunks = {ok.substr(0, 1), "", ok.substr(1)};
  ASSERT_EQ(tls.StartTls(u"mail.example.jp"), 0);
  EXPECT_EQ(raw.sent, Record("hello"));
  tls.Arm(SocketEvent::Read);  // the session waits for the greeting meanwhile
  Drive(raw, tls);
  EXPECT_TRUE(reader.events.empty()) << "no event before the handshake is whole";
  raw.chunks.pop_front();
  Drive(raw, tls);
  ASSERT_FALSE(reader.events.empty());
  EXPECT_EQ(reader.events[0], std::make_pair(SocketEvent::Tls, 0));

  // A record of 20,000 bytes in three reads, a small one in the same read as
  // its end, then the end of the session: every byte reaches the session
  // through its 4096-byte reads, though the raw socket has nothing more to say.
  std::string big(20000, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  const std::string records = Record(big) + Record("250 ok\r\n") + Record("");
  raw.chunks = {records.substr(0, 7000), records.substr(7000, 9000), records.substr(16000)};
  Drive(raw, tls);
  EXPECT_EQ(reader.text, big + "250 ok\r\n");
  EXPECT_TRUE(reader.closed);

  // Plain text larger than what the raw socket takes at once: Send takes it
  // piece by piece and the records go out whole, in order.
  raw.room = 3000;
  raw.sent.clear();
  const std::string message(150000, 'm');
  std::size_t taken = 0;
  for (int i = 0; i < 1000 && taken < message.size(); ++i) {
    const Transfer sent = tls.Send(std::span<const char>(message).subspan(taken));
    if (sent.error == kWsaWouldBlock) {
      tls.Arm(SocketEvent::Write);
      reader.events.clear();
      Drive(raw, tls, 1);
      continue;
    }
    ASSERT_EQ(sent.error, 0);
    taken += sent.bytes;
  }
  tls.Arm(SocketEvent::Read);
  Drive(raw, tls);
  std::string payloads;
  for (std::size_t at = 0; at + 2 <= raw.sent.size();) {
    const std::size_t length = static_cast<std::uint8_t>(raw.sent[at]) * 256u +
                               static_cast<std::uint8_t>(raw.sent[at + 1]);
    for (std::size_t i = 0; i < length && at + 2 + i < raw.sent.size(); ++i) {
      payloads += static_cast<char>(~raw.sent[at + 2 + i]);
    }
    at += 2 + length;
  }
  EXPECT_TRUE(payloads == message);
}

TEST(TlsSocketTest, EndsTheHandshakeOnceWithItsFailure) {
  struct Case {
    const char* name;
    std::deque<std::string> chunks;
    std::int32_t ending;
    std::int32_t tls;
  };
  const std::string untrusted = Record(std::to_string(kTlsUntrustedCertificate));
  const Case cases[] = {
      {"closed before any answer", {}, 0, kTlsHandshakeFailed},
      {"closed within the answer", {Record("ok").substr(0, 3)}, 0, kTlsHandshakeFailed},
      {"reset", {}, kWsaConnectionReset, kTlsHandshakeFailed},
      {"refused certificate, then more bytes",
       {untrusted + Record("ok")},
       0,
       kTlsUntrustedCertificate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRaw raw;
    raw.chunks = c.chunks;
    raw.ending = c.ending;
    TlsSocket tls(raw, std::make_unique<FakeEngine>());
    Reader reader(tls);
    tls.Attach(&reader);
    tls.Open();
    ASSERT_EQ(tls.StartTls(u"mail.example.jp"), 0);
    Drive(raw, tls);
    ASSERT_EQ(reader.events.size(), 1u);
    EXPECT_EQ(reader.events[0], std::make_pair(SocketEvent::Tls, c.tls));
    EXPECT_EQ(tls.Receive(std::span<char>()).error, 10057);
  }
}

}  // namespace
}  // namespace zkq
