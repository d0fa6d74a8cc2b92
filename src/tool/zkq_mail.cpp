#include "tool/zkq_mail.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/text.h"
#include "mail/oauth_token.h"
#include "mail/smtp_session.h"
#include "mail/tls_socket.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zkq {
namespace {

void Say(Output& err, std::u16string_view text) { err.Write("zkq: " + ToUtf8(text) + "\n"); }

// A variable of the environment as text; "" when it is not set.
std::u16string EnvironmentText(const char* name) {
#ifdef _WIN32
  const std::wstring wide(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide.c_str());
  std::u16string text;
  for (; value != nullptr && *value != 0; ++value) text += static_cast<char16_t>(*value);
  return text;
#else
  const char* value = std::getenv(name);
  return value != nullptr ? FromUtf8(value) : u"";
#endif
}

int Usage(Output& err, std::u16string_view problem) {
  Say(err, problem);
  err.Write(kZkqMailUsage);
  return 2;
}

class FileInput : public Input {
 public:
  std::optional<std::string> ReadAll() override {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string bytes;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
      bytes.append(buffer, n);
    if (std::ferror(stdin)) return std::nullopt;
    return bytes;
  }
};

// A body file written on Linux ends its lines with LF alone; the mail's lines
// end with CR LF.
std::u16string CrLfLines(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      out += u"\r\n";
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

int Compose(const MailOptions& options, Output& out, Output& err, Input& in) {
  if (options.server || options.port || options.timeout || options.security || options.user ||
      options.caFile || options.auth || options.tenant || options.clientId || options.scope ||
      options.tokenUrl) {
    return Usage(err, u"compose takes no server, port, time-out, security, login or CA file");
  }
  if (!options.from || !options.to || !options.subject) {
    return Usage(err, u"compose needs --from, --to and --subject");
  }
  const std::optional<MailRequest> request = MailRequestOf(options, err, in);
  if (!request) return 1;
  const ComposedMessage message = ComposeMessage(*request, CurrentMessageStamp(ThisComputerName()));
  if (message.result != SendResult::Sent) {
    Say(err, message.statusText);
    return ToInt(message.result);
  }
  // The message is 7-bit but for attachment names, which are code page 932.
  out.Write(ToUtf8(DecodeCp932(message.messageText)));
  return 0;
}

// Each status text on a line of its own; a reply's own line breaks stay.
class StatusLines : public SendObserver {
 public:
  explicit StatusLines(Output& out) : out_(out) {}
  void Status(const std::u16string& text) override {
    std::u16string_view line = text;
    while (line.ends_with(u'\n') || line.ends_with(u'\r')) line.remove_suffix(1);
    out_.Write(ToUtf8(ReplaceAll(line, u"\r\n", u"\n")) + "\n");
  }
  void Progress(int) override {}
  void Title(const std::u16string&) override {}
  void Ended(SendResult, bool) override {}

 private:
  Output& out_;
};

// The message boxes of the sending window become lines on standard error.
class BoxLines : public MessageBoxes {
 public:
  explicit BoxLines(Output& err) : err_(err) {}
  void Show(const std::u16string& text, MessageIcon) override {
    Say(err_, ReplaceAll(text, u"\r\n", u" "));
  }

 private:
  Output& err_;
};

int Send(const MailOptions& options, Output& out, Output& err, Input& in) {
  if (!options.server || !options.port || !options.from || !options.to || !options.subject) {
    return Usage(err, u"send needs --server, --port, --from, --to and --subject");
  }
  const std::optional<SmtpSecurity> security = ParseSmtpSecurity(options.security.value_or(u""));
  if (!security || (options.security && options.security->empty())) {
    return Usage(err, u"--security takes none, starttls or tls");
  }
  if (options.user && *security == SmtpSecurity::None) {
    return Usage(err, u"--user needs --security starttls or tls: no password goes out in clear");
  }
  const std::optional<SmtpAuth> auth = ParseSmtpAuth(options.auth.value_or(u""));
  if (!auth || (options.auth && options.auth->empty())) {
    return Usage(err, u"--auth takes password or oauth2");
  }
  const bool oauth = *auth == SmtpAuth::OAuth2;
  if (!oauth && (options.tenant || options.clientId || options.scope || options.tokenUrl)) {
    return Usage(err, u"--tenant, --client-id, --scope and --token-url need --auth oauth2");
  }
  if (oauth && (!options.user || !options.clientId || (!options.tenant && !options.tokenUrl))) {
    return Usage(err, u"--auth oauth2 needs --user, --client-id and --tenant or --token-url");
  }
  const std::optional<std::uint32_t> timeout =
      ParseWholeNumber(options.timeout.value_or(u"60"), 9999999);
  if (!timeout) return Usage(err, u"--timeout takes whole seconds (0 to 9999999)");
  if (options.caFile && !std::ifstream(std::filesystem::path(*options.caFile))) {
    return Usage(err, *options.caFile + u": cannot be read");
  }
  const std::optional<MailRequest> request = MailRequestOf(options, err, in);
  if (!request) return ToInt(SendResult::NoOutcome);
  const std::u16string computerName = ThisComputerName();
  ComposedMessage message = ComposeMessage(*request, CurrentMessageStamp(computerName));
  if (message.result != SendResult::Sent) {
    Say(err, message.statusText);
    return ToInt(message.result);
  }
  SmtpRequest smtp;
  smtp.server = request->server;
  smtp.port = request->port;
  smtp.heloName = LocalDnsName();
  smtp.security = *security;
  smtp.user = options.user.value_or(u"");
  // Never from the command line, where every user of the machine can read it.
  if (options.user && !oauth) smtp.password = EnvironmentText("ZKQ_SMTP_PASSWORD");
  // The token endpoint is asked only once the SMTP connection is secured.
  const std::unique_ptr<HttpsPoster> https =
      oauth ? MakeSystemHttps(options.caFile.value_or(u""), static_cast<std::int32_t>(*timeout))
            : nullptr;
  std::optional<ClientCredentialsTokens> tokens;
  if (oauth) {
    tokens.emplace(*https);
    tokens->Use(OAuthClientOf(options.tenant.value_or(u""), *options.clientId,
                              EnvironmentText("ZKQ_OAUTH_CLIENT_SECRET"),
                              options.scope.value_or(u""), options.tokenUrl.value_or(u"")));
    smtp.tokens = &*tokens;
  }
  smtp.fromAddress = std::move(message.senderAddress);
  smtp.toList = std::move(message.recipients);
  smtp.messageText = std::move(message.messageText);
  smtp.timeoutSeconds = static_cast<std::int32_t>(*timeout);
  smtp.showMessages = true;
  StatusLines statuses(out);
  BoxLines boxes(err);
  return ToInt(SendOverSystemSockets(smtp, statuses, boxes, options.caFile.value_or(u"")));
}

}  // namespace

Input& StandardInput() {
  static FileInput input;
  return input;
}

bool IsZkqMailCommand(std::u16string_view command) {
  return command == u"compose" || command == u"send";
}

std::optional<MailOptions> ParseMailOptions(const std::vector<std::u16string>& args, Output& err) {
  MailOptions options;
  const std::pair<std::u16string_view, std::optional<std::u16string>*> names[] = {
      {u"--server", &options.server},     {u"--port", &options.port},
      {u"--from", &options.from},         {u"--to", &options.to},
      {u"--subject", &options.subject},   {u"--body-file", &options.bodyFile},
      {u"--attach", &options.attach},     {u"--timeout", &options.timeout},
      {u"--security", &options.security}, {u"--user", &options.user},
      {u"--ca-file", &options.caFile},    {u"--auth", &options.auth},
      {u"--tenant", &options.tenant},     {u"--client-id", &options.clientId},
      {u"--scope", &options.scope},       {u"--token-url", &options.tokenUrl},
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::optional<std::u16string>* option = nullptr;
    for (const auto& [name, field] : names) {
      if (args[i] == name) option = field;
    }
    if (option == nullptr) {
      Usage(err,
            (args[i].starts_with(u"--") ? u"unknown option " : u"unexpected argument ") + args[i]);
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      Usage(err, args[i] + u" needs a value");
      return std::nullopt;
    }
    if (*option) {
      Usage(err, args[i] + u" is given twice");
      return std::nullopt;
    }
    *option = args[++i];
  }
  return options;
}

std::optional<MailRequest> MailRequestOf(const MailOptions& options, Output& err, Input& in) {
  std::optional<std::string> bytes;
  if (options.bodyFile) {
    std::ifstream file(std::filesystem::path(*options.bodyFile), std::ios::binary);
    if (file) {
      std::ostringstream read;
      read << file.rdbuf();
      if (!file.bad()) bytes = std::move(read).str();
    }
    if (!bytes) Say(err, *options.bodyFile + u": cannot be read");
  } else {
    bytes = in.ReadAll();
    if (!bytes) Say(err, u"standard input cannot be read");
  }
  if (!bytes) return std::nullopt;
  std::u16string body = FromUtf8(*bytes);
  if (body.starts_with(u'\uFEFF')) body.erase(0, 1);

  // Built whole: GCC 12 misreads assigning a literal to each field as an overlap.
  return MailRequest{
      .server = options.server.value_or(u""),
      .port = options.port.value_or(u"25"),
      .fromAddress = options.from.value_or(u""),
      .fromName = u"",
      .toList = options.to.value_or(u""),
      .subjectText = options.subject.value_or(u""),
      .body = CrLfLines(body),
      .attachmentList = options.attach.value_or(u""),
      .showMessages = u"0",
      .autoSend = u"1",
      .autoClose = u"1",
      .timeoutSeconds = options.timeout.value_or(u"60"),
      .security = options.security.value_or(u""),
      .user = options.user.value_or(u""),
      .password = u"",
  };
}

int RunZkqMail(const std::vector<std::u16string>& args, Output& out, Output& err, Input& in) {
  const std::optional<MailOptions> options = ParseMailOptions(args, err);
  if (!options) return 2;
  if (args[0] == u"send") return Send(*options, out, err, in);
  return Compose(*options, out, err, in);
}

std::u16string ThisComputerName() {
#ifdef _WIN32
  // The name Windows gives every process; GetComputerName reads the same.
  return EnvironmentText("COMPUTERNAME");
#else
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return u"";
  return FromUtf8(name);
#endif
}

}  // namespace zkq
