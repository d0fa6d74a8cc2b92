#pragma once
// A one-connection SMTP server on 127.0.0.1 for the session tests: it answers
// each command line (and the whole data after a 354) with the next reply of its
// script and keeps everything it received. POSIX only; every wait is bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace zkq::test_support {

// Replies with a meaning of their own.
inline constexpr char kCloseConnection[] = "<close>";
inline constexpr char kResetConnection[] = "<reset>";

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<std::string> script) : script_(std::move(script)) {
    ::pipe2(stop_, O_CLOEXEC);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;
  // Stops waiting for a client that is not coming.
  ~ScriptedServer() {
    ::write(stop_[1], "x", 1);
    Join();
    ::close(stop_[0]);
    ::close(stop_[1]);
  }

  std::uint16_t Port() const { return port_; }
  // Waits for the conversation to end and gives all the client sent.
  const std::string& Received() {
    Join();
    return received_;
  }

 private:
  static constexpr int kWaitMs = 5000;

  void Join() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

  bool Wait(int fd) {
    pollfd entries[] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    return ::poll(entries, 2, kWaitMs) > 0 && entries[1].revents == 0;
  }

  // Reads past the next end (a command line's LF, or the end of the data).
  bool ReadUntil(int fd, const std::string& end) {
    char buffer[4096];
    std::size_t at;
    while ((at = received_.find(end, seen_)) == std::string::npos) {
      if (!Wait(fd)) return false;
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      received_.append(buffer, static_cast<std::size_t>(got));
    }
    seen_ = at + end.size();
    return true;
  }

  void Serve() {
    if (!Wait(listener_)) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    bool inData = false;
    for (std::size_t i = 0; i < script_.size(); ++i) {
      if (i > 0 && !ReadUntil(fd, inData ? "\r\n.\r\n" : "\n")) break;
      const std::string& reply = script_[i];
      if (reply == kResetConnection) {
        linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        break;
      }
      if (reply == kCloseConnection) break;
      ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      inData = reply.starts_with("354");
    }
    // Keep what else arrives until the client hangs up.
    char buffer[4096];
    while (!script_.empty() && script_.back() != kResetConnection &&
           script_.back() != kCloseConnection && Wait(fd)) {
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      received_.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
  }

  std::vector<std::string> script_;
  int stop_[2] = {-1, -1};
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::string received_;
  std::size_t seen_ = 0;
  std::thread thread_;
};

}  // namespace zkq::test_support
