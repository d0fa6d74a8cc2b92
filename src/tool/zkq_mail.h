#pragma once
// zkq's mail commands: the message the monitor would send, built by the
// program's own composition from command-line options, and its sending with
// the program's own SMTP session.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/composition.h"
#include "tool/zkq.h"

namespace zkq {

// Where a body without --body-file comes from; main hands it standard input.
class Input {
 public:
  virtual ~Input() = default;
  // All of it, or nothing when it cannot be read.
  virtual std::optional<std::string> ReadAll() = 0;
};
Input& StandardInput();

inline constexpr char kZkqMailUsage[] =
    "usage: zkq compose --from ADDR --to LIST --subject TEXT [--body-file FILE]\n"
    "                   [--attach FILES]\n"
    "       zkq send --server HOST --port N --from ADDR --to LIST --subject TEXT\n"
    "                [--body-file FILE] [--attach FILES] [--timeout SECONDS]\n"
    "                [--security none|starttls|tls] [--user NAME] [--ca-file PEM]\n"
    "                [--auth password|oauth2] [--tenant ID] [--client-id ID]\n"
    "                [--scope SCOPE] [--token-url URL]\n"
    "\n"
    "compose  prints the message text that the monitor sends after DATA for this\n"
    "       mail: header lines (the subject and sender as ISO-2022-JP encoded\n"
    "       words), a blank line and the body in ISO-2022-JP, with CR LF line ends.\n"
    "send   sends that message to the SMTP server HOST:N as the monitor does and\n"
    "       prints each status text as it happens; what the monitor would show in\n"
    "       a message box goes to standard error.\n"
    "--to     recipient addresses separated by \";\" (empty items are skipped; the\n"
    "       To header joins them with \", \").\n"
    "--body-file  the body as UTF-8; without it the body is read from standard\n"
    "       input. Its line ends become CR LF.\n"
    "--attach  files separated by \",\", sent as Base64 parts of a multipart\n"
    "       message.\n"
    "--timeout  seconds the server may keep each step waiting (default 60, 0 for\n"
    "       none).\n"
    "--security  none (default): plain SMTP; starttls: STARTTLS after EHLO (port\n"
    "       587); tls: TLS from the first byte (port 465). The certificate must\n"
    "       chain to a trusted root and name the server.\n"
    "--user  log in with AUTH PLAIN or LOGIN (whichever the server offers) as\n"
    "       NAME, with the password in the environment variable ZKQ_SMTP_PASSWORD;\n"
    "       only with --security starttls or tls.\n"
    "--ca-file  CA certificates (PEM) that the server's TLS certificate, and the\n"
    "       token endpoint's, may also chain to, besides the system's trusted roots.\n"
    "--auth  password (default): AUTH PLAIN or LOGIN with --user; oauth2: AUTH\n"
    "       XOAUTH2 as the mailbox --user, with an access token of the OAuth 2.0\n"
    "       client-credentials grant for --client-id, the client secret in the\n"
    "       environment variable ZKQ_OAUTH_CLIENT_SECRET; only with --security\n"
    "       starttls or tls.\n"
    "--tenant  the Microsoft 365 tenant (ID or domain) of the token endpoint\n"
    "       https://login.microsoftonline.com/{tenant}/oauth2/v2.0/token.\n"
    "--scope  default https://outlook.office365.com/.default.\n"
    "--token-url  another token endpoint (https; \"{tenant}\" becomes --tenant).\n"
    "\n"
    "Exit status of compose: 0 done, 1 the body could not be read, 2 wrong\n"
    "arguments, 12 the message could not be composed (an attachment missing or\n"
    "unreadable, an empty item in --attach, more than 256 files, no address in\n"
    "--to).\n"
    "Exit status of send: the send result, 0 sent; 1 time-out (or the body could\n"
    "not be read), 2 receive error (or wrong arguments), 3 the server closed the\n"
    "connection, 4 a command or the data could not be sent, 5 greeting not 220,\n"
    "6 EHLO and HELO refused, 7 MAIL FROM or a RCPT TO before the last refused, 8 the last\n"
    "RCPT TO refused, 9 DATA refused, 10 no socket, the server name did not\n"
    "resolve or the connection failed, 11 the server refused the mail after the\n"
    "data, 12 the message could not be composed, 13 the server refused the user\n"
    "or password (or offers neither AUTH PLAIN nor LOGIN), 14 TLS could not be\n"
    "had: STARTTLS not offered, the handshake failed, the certificate is not\n"
    "trusted or names another host, 15 no access token for --auth oauth2: the\n"
    "token endpoint refused (its error and description are shown), could not\n"
    "be reached, or its certificate is not trusted.\n";

// The options of the mail commands, each given at most once.
struct MailOptions {
  std::optional<std::u16string> server, port, from, to, subject, bodyFile, attach, timeout;
  std::optional<std::u16string> security, user, caFile;
  std::optional<std::u16string> auth, tenant, clientId, scope, tokenUrl;
};

// True for the commands RunZkqMail runs.
bool IsZkqMailCommand(std::u16string_view command);

// Runs one mail command (args without the program name, args[0] the command);
// returns the exit status.
int RunZkqMail(const std::vector<std::u16string>& args, Output& out, Output& err, Input& in);

// Reads the options after the command; nothing (with the usage on err) for an
// unknown option, one without its value or one given twice.
std::optional<MailOptions> ParseMailOptions(const std::vector<std::u16string>& args, Output& err);

// The request that the options describe, with the body from --body-file or in
// (UTF-8, a leading byte order mark dropped, every line end made CR LF) and the
// values the monitor passes for the rest. Nothing, with the reason on err, when
// the body cannot be read.
std::optional<MailRequest> MailRequestOf(const MailOptions& options, Output& err, Input& in);

// This computer's name, for the Message-ID; "" when it cannot be had.
std::u16string ThisComputerName();

}  // namespace zkq
