// The OpenSSL engine under TlsSocket over a POSIX socket, against the servers
// of tls_test_server.py (started around this test by ctest).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "base/text.h"
#include "mail/posix/poll_loop.h"
#include "mail/testing/tls_echo_client.h"
#include "mail/tls_socket.h"

namespace zkq::posix {
namespace {

using test_support::Environment;

// One case from connect to the end of its script, or 20 seconds.
void RunCase(const test_support::TlsCase& c, std::u16string_view caFile) {
  PosixSocket raw;
  TlsSocket socket(raw, MakeSystemTlsEngine(caFile));
  test_support::TlsEchoClient client(socket, c.serverName, c.script);
  socket.Attach(&client);
  ASSERT_EQ(socket.Open(), 0);
  const int port = std::stoi(Environment(c.portVariable));
  ASSERT_EQ(socket.Connect(u"localhost", static_cast<std::uint16_t>(port)), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!client.done && std::chrono::steady_clock::now() < deadline) {
    if (!PollOnce(raw, socket, 1000)) break;
  }
  test_support::ExpectOutcome(c, client);
}

TEST(OpenSslEngineTest, TrustsTheRightCertificatesAndCarriesTheSession) {
  ASSERT_FALSE(Environment("ZKQ_TLS_CA").empty()) << "run through tls_test_server.py";
  for (const test_support::TlsCase& c : test_support::TlsCases()) {
    SCOPED_TRACE(c.name);
    RunCase(c, c.withCa ? FromUtf8(Environment("ZKQ_TLS_CA")) : u"");
  }
}

// The system's roots come from SSL_CERT_DIR's hashed directory when there is one.
TEST(OpenSslEngineTest, TrustsTheRootsOfTheSystemsCertificateDirectory) {
  ASSERT_FALSE(Environment("ZKQ_TLS_ROOTS").empty()) << "run through tls_test_server.py";
  const std::string before = Environment("SSL_CERT_DIR");
  ::setenv("SSL_CERT_DIR", Environment("ZKQ_TLS_ROOTS").c_str(), 1);
  RunCase(test_support::TlsCases().front(), u"");
  if (before.empty()) {
    ::unsetenv("SSL_CERT_DIR");
  } else {
    ::setenv("SSL_CERT_DIR", before.c_str(), 1);
  }
}

}  // namespace
}  // namespace zkq::posix
