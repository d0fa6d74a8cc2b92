#pragma once
// The client side of the TLS engine tests, over any socket port with TLS: it
// connects, starts TLS for a name, then says each line of its script and reads
// until the answer it expects has come, then ends. The platform's test drives
// the socket's events (poll, or the Winsock window) until Done().
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "mail/socket_errors.h"
#include "mail/socket_port.h"

namespace zkq::test_support {

struct TlsExchange {
  std::string say;
  std::string expect;  // "" for the end of the TLS session
};

// The cases both engines must pass against tls_test_server.py.
struct TlsCase {
  const char* name;
  const char* portVariable;
  std::u16string serverName;
  bool withCa;
  std::int32_t tls;
  std::vector<TlsExchange> script;
  bool renegotiates = false;
};

inline std::string Letters(std::size_t n) {
  std::string text(n, 'a');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

inline std::vector<TlsCase> TlsCases() {
  return {
      // Records larger than one read, many of them, then close_notify.
      {"trusted",
       "ZKQ_TLS_PORT",
       u"localhost",
       true,
       0,
       {{"HELO\r\n", "HELO\r\n"},
        {"BIG 100000\r\n", Letters(100000) + "END\r\n"},
        {"BYE\r\n", ""}}},
      {"unknown CA", "ZKQ_TLS_PORT", u"localhost", false, kTlsUntrustedCertificate, {}},
      {"another name", "ZKQ_TLS_PORT", u"mail.example.jp", true, kTlsNameMismatch, {}},
      {"TLS 1.1 only", "ZKQ_TLS_OLD_PORT", u"localhost", true, kTlsHandshakeFailed, {}},
      {"renegotiation",
       "ZKQ_TLS_RENEG_PORT",
       u"localhost",
       true,
       0,
       {{"RENEG\n", "AFTER\n"}, {"AGAIN\n", "DONE\n"}},
       true},
  };
}

inline std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class TlsEchoClient : public SocketEvents {
 public:
  TlsEchoClient(SocketPort& socket, std::u16string serverName, std::vector<TlsExchange> script)
      : socket_(socket), serverName_(std::move(serverName)), script_(std::move(script)) {}

  void OnSocketEvent(SocketEvent event, std::int32_t error) override {
    if (done) return;
    switch (event) {
      case SocketEvent::Connect:
        if (error != 0) return Finish(error);
        if (const std::int32_t code = socket_.StartTls(serverName_); code != 0) {
          tls = code;
          return Finish(0);
        }
        return;
      case SocketEvent::Tls:
        tls = error;
        if (error != 0) return Finish(0);
        return Next();
      case SocketEvent::Write:
        return Flush();
      case SocketEvent::Read:
        return Read();
    }
  }

  bool done = false;
  std::int32_t tls = -1;
  std::int32_t failure = 0;
  bool closedByServer = false;
  std::string received;

 private:
  void Finish(std::int32_t error) {
    failure = error;
    done = true;
    socket_.Close();
  }
  void Next() {
    if (step_ >= script_.size()) return Finish(0);
    out_ = script_[step_].say;
    received.clear();
    socket_.Arm(SocketEvent::Read);
    Flush();
  }
  void Flush() {
    while (!out_.empty()) {
      const Transfer sent = socket_.Send(out_);
      if (sent.error == kWsaWouldBlock) {
        socket_.Arm(SocketEvent::Write);
        return;
      }
      if (sent.error != 0) return Finish(sent.error);
      out_.erase(0, sent.bytes);
    }
    socket_.Arm(SocketEvent::Read);
  }
  void Read() {
    char buffer[4096];
    const Transfer got = socket_.Receive(buffer);
    if (got.error == kWsaWouldBlock) return;
    if (got.error != 0) return Finish(got.error);
    if (got.bytes == 0) {
      closedByServer = true;
      return Finish(script_[step_].expect.empty() ? 0 : kWsaConnectionReset);
    }
    received.append(buffer, got.bytes);
    if (!script_[step_].expect.empty() && received.size() >= script_[step_].expect.size()) {
      EXPECT_TRUE(received == script_[step_].expect) << "step " << step_;
      ++step_;
      Next();
    }
  }

  SocketPort& socket_;
  std::u16string serverName_;
  std::vector<TlsExchange> script_;
  std::size_t step_ = 0;
  std::string out_;
};

// The case's outcome: the handshake's, and a script that went through to the
// server's close_notify.
inline void ExpectOutcome(const TlsCase& c, const TlsEchoClient& client) {
  EXPECT_TRUE(client.done);
  EXPECT_EQ(client.tls, c.tls);
  EXPECT_EQ(client.failure, 0);
  if (c.tls == 0 && c.script.back().expect.empty()) {
    EXPECT_TRUE(client.closedByServer);
  }
}

}  // namespace zkq::test_support
