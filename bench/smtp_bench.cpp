// Sends one composed message with the SMTP session over this system's sockets,
// several times, and prints the seconds of each send, one a line. Driven by
// smtp_bench.py, which times Python's smtplib against the same server.
//
//   smtp_bench PORT MESSAGE_FILE [RUNS] [CA_FILE]
//
// CA_FILE: the CA certificates (PEM) that the server's TLS certificate chains
// to, as zkq send --ca-file takes them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base/text.h"
#include "mail/smtp_session.h"
#include "mail/tls_socket.h"

namespace {

class Quiet : public zkq::SendObserver, public zkq::MessageBoxes {
 public:
  void Status(const std::u16string&) override {}
  void Progress(int) override {}
  void Title(const std::u16string&) override {}
  void Ended(zkq::SendResult, bool) override {}
  void Show(const std::u16string&, zkq::MessageIcon) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: smtp_bench PORT MESSAGE_FILE [RUNS] [CA_FILE]\n");
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  zkq::SmtpRequest request;
  request.messageText.assign(std::istreambuf_iterator<char>(file), {});
  request.server = u"127.0.0.1";
  const std::string port = argv[1];
  request.port.assign(port.begin(), port.end());
  request.heloName = u"BENCH";
  request.fromAddress = u"zkq@example.jp";
  request.toList = u"admin@example.jp";
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  const std::u16string caFile = argc > 4 ? zkq::FromUtf8(argv[4]) : u"";
  // A CA file means the server offers STARTTLS, and the session is to use it.
  if (!caFile.empty()) request.security = zkq::SmtpSecurity::StartTls;
  Quiet quiet;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const zkq::SendResult result = zkq::SendOverSystemSockets(request, quiet, quiet, caFile);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (result != zkq::SendResult::Sent) {
      std::fprintf(stderr, "send failed with %d\n", zkq::ToInt(result));
      return 1;
    }
    std::printf("%.6f\n", took.count());
  }
  return 0;
}
