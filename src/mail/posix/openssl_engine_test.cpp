// The OpenSSL engine under TlsSocket over a POSIX socket, against the servers
// of tls_test_server.py (started around this test by ctest).
#include <gtest/gtest.h>

#include <chrono>

#include "base/text.h"
#include "mail/posix/poll_loop.h"
#include "mail/testing/tls_echo_client.h"
#include "mail/tls_socket.h"

namespace zkq::posix {
namespace {

using test_support::Environment;
using test_support::ExpectOutcome;

TEST(OpenSslEngineTest, TrustsTheRightCertificatesAndCarriesTheSession) {
  ASSERT_FALSE(Environment("ZKQ_TLS_CA").empty()) << "run through tls_test_server.py";
  for (const test_support::TlsCase& c : test_support::TlsCases()) {
    SCOPED_TRACE(c.name);
    PosixSocket raw;
    TlsSocket socket(raw,
                     MakeSystemTlsEngine(c.withCa ? FromUtf8(Environment("ZKQ_TLS_CA")) : u""));
    test_support::TlsEchoClient client(socket, c.serverName, c.script);
    socket.Attach(&client);
    ASSERT_EQ(socket.Open(), 0);
    const int port = std::stoi(Environment(c.portVariable));
    ASSERT_EQ(socket.Connect(u"localhost", static_cast<std::uint16_t>(port)), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!client.done && std::chrono::steady_clock::now() < deadline) {
      if (!PollOnce(raw, socket, 1000)) break;
    }
    ExpectOutcome(c, client);
  }
}

}  // namespace
}  // namespace zkq::posix
