// This machine's DNS name on POSIX: the host name, made fully qualified by the
// resolver's canonical name when it is not already.
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "base/text.h"
#include "mail/smtp_session.h"

namespace zkq {

std::u16string LocalDnsName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return u"";
  if (std::strchr(host, '.') != nullptr) return FromUtf8(host);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0) return FromUtf8(host);
  std::u16string name = FromUtf8(found->ai_canonname != nullptr ? found->ai_canonname : host);
  freeaddrinfo(found);
  return name;
}

}  // namespace zkq
