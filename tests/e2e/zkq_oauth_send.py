#!/usr/bin/python3
"""zkq send --auth oauth2 against a real HTTPS token endpoint and aiosmtpd
with XOAUTH2 on 127.0.0.1, both with certificates of a test CA made for this
run only:

    zkq_oauth_send.py --zkq PATH [--wine scripts/wine-run.sh]

The endpoint issues a fresh token for the right client secret and answers
invalid_client with an AADSTS text for any other; the SMTP server (STARTTLS
required) takes XOAUTH2 with a token the endpoint issued, and answers any
other with a 334 carrying its JSON error. The mail must arrive; the endpoint
must have seen the grant, the client ID and the scope, and the server
XOAUTH2 as the mailbox. A wrong secret, an untrusted endpoint, an endpoint
that is down, a refused token, OAuth without TLS and a password that
Microsoft 365 no longer takes each end with their exit status and status
text. Neither the wire recording nor zkq's output ever holds the secret or a
token.
"""
import argparse
import base64
import http.server
import json
import os
import secrets
import ssl
import subprocess
import sys
import tempfile
import threading
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "src", "mail", "testing"))
from smtp_servers import free_port  # noqa: E402
from tls_test_server import make_certificates, windows_path  # noqa: E402
from zkq_tls_send import BODY, SUBJECT, Server, checked, other_certificates, report  # noqa: E402

MAILBOX = "alert@contoso.example"
CLIENT_ID = "7c1e3f0a-42d5-4b9e-9d0c-1f2e3d4c5b6a"
SECRET = "Xy8Q~z.secret-" + secrets.token_hex(4)
SCOPE = "https://outlook.office365.com/.default"
AADSTS = "AADSTS7000215: Invalid client secret provided."


class TokenEndpoint:
    """HTTPS on 127.0.0.1 that answers the client-credentials grant: forms
    holds each form it was posted, issued each token it gave."""

    def __init__(self, folder, cert, port=0, issued=None):
        """issued: the list the tokens go into (a new one by default)."""
        endpoint = self
        self.forms, self.issued = [], issued if issued is not None else []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                form = urllib.parse.parse_qs(self.rfile.read(length).decode("ascii"))
                endpoint.forms.append((self.path, form))
                if form.get("client_secret") == [SECRET] and form.get("client_id") == [CLIENT_ID]:
                    token = "eyJ0eXAi." + secrets.token_urlsafe(32)
                    endpoint.issued.append(token)
                    status, answer = 200, {"token_type": "Bearer", "expires_in": 3599,
                                           "ext_expires_in": 3599, "access_token": token}
                else:
                    status, answer = 401, {
                        "error": "invalid_client",
                        "error_description": AADSTS + " Trace ID: 0c5e Timestamp: 2026-12-09",
                        "error_codes": [7000215]}
                data = json.dumps(answer).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json; charset=utf-8")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(folder, cert + ".pem"),
                                os.path.join(folder, cert + ".key"))
        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self._server.socket = context.wrap_socket(self._server.socket, server_side=True)
        self.url = f"https://localhost:{self._server.server_address[1]}/{{tenant}}/oauth2/v2.0/token"
        threading.Thread(target=self._server.serve_forever, daemon=True).start()

    def stop(self):
        self._server.shutdown()
        self._server.server_close()


def xoauth2_server(folder, issued):
    """STARTTLS and XOAUTH2 only, for the tokens in the list issued; logins
    holds the user= of each XOAUTH2 it was sent."""
    logins = []

    async def auth_XOAUTH2(self, _, args):
        from aiosmtpd.smtp import AuthResult
        fields = dict(part.split("=", 1) for part in
                      base64.b64decode(args[1]).decode().split("\x01") if "=" in part)
        logins.append(fields.get("user"))
        if fields.get("auth") in ("Bearer " + t for t in issued):
            return AuthResult(success=True, auth_data=fields["user"])
        error = {"status": "401", "schemes": "bearer", "scope": SCOPE}
        await self.challenge_auth(base64.b64encode(json.dumps(error).encode()), encode_to_b64=False)
        return AuthResult(success=False, handled=False)

    server = Server("starttls", folder, "server", mechanisms={"XOAUTH2": auth_XOAUTH2})
    server.logins = logins
    return server


def basic_auth_disabled_server(folder):
    from aiosmtpd.smtp import AuthResult

    def refuse(*_):
        return AuthResult(success=False, handled=False, message=(
            "535 5.7.139 Authentication unsuccessful, basic authentication is disabled."))
    server = Server("starttls", folder, "server", authenticator=refuse)
    server.logins = []
    return server


# name, endpoint certificate (None: nothing listens), secret, SMTP server
# kind, extra zkq arguments, exit status, status text, verbs the server must
# see in order, verbs it must not see (None: no connection at all), whether the
# endpoint must have been asked.
CASES = [
    ("oauth2 over starttls", "server", SECRET, "xoauth2", [], 0, "メッセージが送信されました！",
     ["EHLO", "STARTTLS", "EHLO", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"], [], True),
    ("wrong secret", "server", "not-the-secret", "xoauth2", [], 15,
     "invalid_client: " + AADSTS, ["EHLO", "STARTTLS", "EHLO"], ["AUTH", "MAIL"], True),
    ("untrusted endpoint", "stranger", SECRET, "xoauth2", [], 15,
     "トークンエンドポイントの証明書を信頼できません！", ["STARTTLS"], ["AUTH", "MAIL"], False),
    ("endpoint down", None, SECRET, "xoauth2", [], 15,
     "トークンエンドポイントに接続できませんでした！", ["STARTTLS"], ["AUTH", "MAIL"], False),
    ("token refused", "server", SECRET, "refusing", [], 13, "XOAUTH2 status: 401",
     ["STARTTLS", "AUTH"], ["MAIL"], True),
    ("oauth2 without tls", "server", SECRET, "xoauth2", ["--security", "none"], 2,
     "no password goes out in clear", None, None, False),
    ("basic auth disabled", "server", SECRET, "basic-disabled", ["--auth", "password"], 13,
     "OAuth 2.0（SmtpAuth=OAuth2）の設定が必要です。", ["STARTTLS", "AUTH"], ["MAIL"], False),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zkq", required=True)
    parser.add_argument("--wine", help="runs zkq.exe: scripts/wine-run.sh")
    args = parser.parse_args()
    failures = []
    with tempfile.TemporaryDirectory(prefix="zkq-oauth-send-") as folder:
        make_certificates(folder)
        other_certificates(folder)
        ca = os.path.join(folder, "ca.pem")
        body = os.path.join(folder, "body.txt")
        with open(body, "w", encoding="utf-8") as f:
            f.write(BODY)
        for (name, cert, secret, kind, extra, status, text, seen, unseen, asked) in CASES:
            endpoint = TokenEndpoint(folder, cert) if cert else None
            url = endpoint.url if endpoint else f"https://localhost:{free_port()}/{{tenant}}/token"
            if kind == "basic-disabled":
                server = basic_auth_disabled_server(folder)
            else:
                accepted = endpoint.issued if endpoint and kind == "xoauth2" else []
                server = xoauth2_server(folder, accepted)
            try:
                command = [args.zkq, "send", "--server", "localhost", "--port", str(server.port),
                           "--from", MAILBOX, "--to", "admin@contoso.example",
                           "--subject", SUBJECT, "--user", MAILBOX, "--timeout", "20",
                           "--ca-file", windows_path(ca) if args.wine else ca,
                           "--body-file", windows_path(body) if args.wine else body]
                options = {"--security": "starttls", "--auth": "oauth2", "--tenant": "contoso.jp",
                           "--client-id": CLIENT_ID, "--token-url": url}
                options.update(zip(extra[::2], extra[1::2]))
                if options["--auth"] == "password":
                    for key in ("--tenant", "--client-id", "--token-url"):
                        del options[key]
                for option, value in options.items():
                    command += [option, value]
                if args.wine:
                    command.insert(0, args.wine)
                done = subprocess.run(command, capture_output=True, timeout=90,
                                      env=dict(os.environ, ZKQ_OAUTH_CLIENT_SECRET=secret,
                                               ZKQ_SMTP_PASSWORD=secret))
                hidden = [SECRET, secret] + (endpoint.issued if endpoint else [])
                hidden = [s.encode() for s in hidden]
                said, problems = checked(done, server, status, text, seen, unseen,
                                         hidden + [base64.b64encode(s) for s in hidden])
                # WinHTTP sends the headers before the certificate check, the
                # form only after it: an empty form is one that never came.
                forms = [(path, form) for path, form in endpoint.forms if form] if endpoint else []
                if asked != bool(forms):
                    problems.append(f"the endpoint was asked {len(forms)} times")
                for path, form in forms:
                    if (path != "/contoso.jp/oauth2/v2.0/token"
                            or form.get("grant_type") != ["client_credentials"]
                            or form.get("client_id") != [CLIENT_ID]
                            or form.get("scope") != [SCOPE]):
                        problems.append(f"the endpoint was posted {path} {sorted(form)}")
                if "AUTH" in server.commands and options["--auth"] == "oauth2" and (
                        not server.logins or set(server.logins) != {MAILBOX}):
                    problems.append(f"XOAUTH2 logins {server.logins}")
                report(name, done, server, said, problems, failures)
            finally:
                server.stop()
                if endpoint:
                    endpoint.stop()
    print(f"{len(CASES) - len(failures)} of {len(CASES)} cases passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
