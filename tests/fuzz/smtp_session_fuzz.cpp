// Arbitrary server replies, split arbitrarily, fed to the SMTP session through
// a socket that only plays back the input: the session must never read or
// write outside its buffers, never wait for nothing, and always end with a
// result once the time-out comes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/smtp_session.h"
#include "mail/socket_errors.h"

namespace {

// The input is a stream of control bytes, each followed by what it uses.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  std::size_t Take(char* out, std::size_t most) {
    const std::size_t n = std::min(most, size_ - at_);
    std::copy_n(data_ + at_, n, out);
    at_ += n;
    return n;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class PlaybackSocket : public zkq::SocketPort {
 public:
  explicit PlaybackSocket(Input& input) : input_(input) {}
  std::u16string Start() override { return u""; }
  void Stop() override {}
  std::int32_t Open() override { return 0; }
  std::int32_t Connect(std::u16string_view, std::uint16_t) override {
    armed = zkq::SocketEvent::Connect;
    return 0;
  }
  zkq::Transfer Send(std::span<const char> bytes) override {
    const std::uint8_t how = input_.Byte();
    if (how == 0xFF) return {0, 10053};
    if (how >= 0xF0) return {0, zkq::kWsaWouldBlock};
    // Sometimes only a part is taken.
    return {how >= 0xE0 ? std::min<std::size_t>(bytes.size(), how & 7) : bytes.size(), 0};
  }
  zkq::Transfer Receive(std::span<char> buffer) override {
    const std::uint8_t how = input_.Byte();
    if (how == 0xFF) return {0, zkq::kWsaConnectionReset};
    if (how == 0xFE) return {0, 10053};
    if (how == 0xFD) return {0, zkq::kWsaWouldBlock};
    const std::size_t want = how == 0 ? buffer.size() : how;
    return {input_.Take(buffer.data(), std::min(want, buffer.size())), 0};
  }
  std::int32_t Arm(zkq::SocketEvent event) override {
    armed = event;
    return 0;
  }
  void Close() override { armed = {}; }

  std::optional<zkq::SocketEvent> armed;

 private:
  Input& input_;
};

class Timer : public zkq::SessionTimer {
 public:
  void Start(std::int32_t) override { running = true; }
  void Stop() override { running = false; }
  bool running = false;
};

class Observer : public zkq::SendObserver {
 public:
  void Status(const std::u16string&) override {}
  void Progress(int value) override {
    if (value < 0 || value > 100) std::abort();
  }
  void Title(const std::u16string&) override {}
  void Ended(zkq::SendResult, bool) override { ++ended; }
  int ended = 0;
};

class NoBoxes : public zkq::MessageBoxes {
 public:
  void Show(const std::u16string&, zkq::MessageIcon) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  PlaybackSocket socket(input);
  Timer timer;
  Observer observer;
  NoBoxes boxes;
  zkq::SmtpRequest request;
  request.server = u"127.0.0.1";
  request.port = u"25";
  request.heloName = u"PC01";
  request.fromAddress = u"zkq@example.jp";
  request.toList = u"a@x;b@y;";
  request.messageText = "Subject:x\r\n\r\n.\r\n..two\r\nlast";
  request.showMessages = true;
  zkq::SmtpSession session(request, socket, timer, observer, boxes);
  if (!session.StartSockets()) std::abort();
  session.Send();
  // Every turn uses input, so the turns are bounded; when the input is spent
  // the time-out comes, as it would from a silent server.
  for (int turns = 0; session.Running(); ++turns) {
    if (input.Empty() || turns > 100000) {
      if (!timer.running) std::abort();  // waiting without a time-out
      session.OnTimeout();
      break;
    }
    const std::uint8_t what = input.Byte();
    if (!socket.armed) std::abort();  // waiting for nothing
    if (what == 0xFF) {
      session.OnTimeout();
    } else {
      // Mostly the armed event; sometimes a stale one or one with an error.
      const auto event = what >= 0xF0 ? static_cast<zkq::SocketEvent>(what % 3) : *socket.armed;
      session.OnSocketEvent(event, what == 0xEF ? 10053 : 0);
    }
  }
  if (session.Running() || observer.ended != 1) std::abort();
  return 0;
}
