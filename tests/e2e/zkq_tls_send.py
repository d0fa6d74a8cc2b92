#!/usr/bin/python3
"""zkq send over TLS to real aiosmtpd servers on 127.0.0.1, with a test CA
made for this run only:

    zkq_tls_send.py --zkq PATH [--wine scripts/wine-run.sh]

A server that requires STARTTLS and AUTH and one that speaks TLS from the
first byte must each get the mail, decoded as sent; a wrong password, an
untrusted certificate, a certificate for another name, STARTTLS not offered
and a user without TLS are each refused with their exit status and status
text, without credentials or MAIL reaching the server. A recording proxy in
front of every server proves that the password never crosses the wire in
clear.
"""
import argparse
import base64
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "src", "mail", "testing"))
from smtp_servers import decoded, free_port  # noqa: E402
from tls_test_server import make_certificates, run, windows_path  # noqa: E402

USER = "alert@example.jp"
PASSWORD = "s3cret-パス"
SUBJECT = "イベントログ警告"
BODY = "サービスが停止しました。\n"


def other_certificates(folder):
    """An unknown CA's certificate for localhost, and the test CA's for another
    name, beside what make_certificates left in folder."""
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "stranger.key",
        "-out", "stranger.pem", "-days", "2", "-subj", "/CN=localhost",
        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", cwd=folder)
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "other.key",
        "-out", "other.csr", "-subj", "/CN=mail.example.org", cwd=folder)
    with open(os.path.join(folder, "other.ext"), "w") as f:
        f.write("subjectAltName=DNS:mail.example.org\nextendedKeyUsage=serverAuth\n")
    run("openssl", "x509", "-req", "-in", "other.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "other.pem", "-days", "2", "-extfile", "other.ext", cwd=folder)


class Server:
    """aiosmtpd on 127.0.0.1 behind a recording proxy: commands holds the verbs
    it was sent, wire the bytes the client sent before any TLS the proxy could
    not see into (all of them: a proxy records what an eavesdropper would)."""

    def __init__(self, mode, folder, cert, authenticator=None, mechanisms=None):
        """authenticator: aiosmtpd's, instead of the USER and PASSWORD check;
        mechanisms: name -> async auth_ method of further AUTH mechanisms."""
        from aiosmtpd.controller import Controller
        from aiosmtpd.smtp import SMTP, AuthResult

        server = self
        self.commands, self.mails, self.wire = [], [], bytearray()
        context = None
        if cert:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(folder, cert + ".pem"),
                                    os.path.join(folder, cert + ".key"))

        class Recording(SMTP):
            pass

        for mechanism, method in (mechanisms or {}).items():
            setattr(Recording, "auth_" + mechanism, method)

        for verb in ("EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"):
            def hook(self, arg, _verb=verb, _base=getattr(SMTP, "smtp_" + verb)):
                server.commands.append(_verb)
                return _base(self, arg)
            setattr(Recording, "smtp_" + verb, hook)

        class Handler:
            async def handle_DATA(self, smtp, session, envelope):
                server.mails.append(envelope.content)
                return "250 Message accepted for delivery"

        def authenticate(smtp, session, envelope, mechanism, data):
            # handled=False: aiosmtpd answers a refusal with 535 itself.
            return AuthResult(success=(data.login.decode(), data.password.decode())
                              == (USER, PASSWORD), handled=False)

        kwargs = {"authenticator": authenticator or authenticate, "auth_required": True}
        if mode == "starttls":
            kwargs.update(tls_context=context, require_starttls=True)
        elif mode == "tls":
            kwargs.update(auth_require_tls=False)  # the whole connection is TLS
        else:
            kwargs.update(auth_require_tls=False, auth_required=False)

        class Recorded(Controller):
            def factory(self):
                return Recording(self.handler, **self.SMTP_kwargs)

        self._controller = Recorded(Handler(), hostname="127.0.0.1", port=free_port(),
                                    ssl_context=context if mode == "tls" else None, **kwargs)
        self._controller.start()
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self.connections = 0
        threading.Thread(target=self._proxy, daemon=True).start()

    def _proxy(self):
        while True:
            try:
                client, _ = self._listener.accept()
            except OSError:
                return
            self.connections += 1
            upstream = socket.create_connection(("127.0.0.1", self._controller.port))

            def pump(source, sink, record):
                try:
                    while chunk := source.recv(65536):
                        if record:
                            self.wire += chunk
                        sink.sendall(chunk)
                except OSError:
                    pass
                for s in (source, sink):
                    try:
                        s.shutdown(socket.SHUT_RDWR)
                    except OSError:
                        pass

            threading.Thread(target=pump, args=(client, upstream, True), daemon=True).start()
            threading.Thread(target=pump, args=(upstream, client, False), daemon=True).start()

    def stop(self):
        self._listener.close()
        self._controller.stop()


# name, server mode, certificate, --security, user, password, exit status,
# status text (in standard output or error), verbs the server must see in order,
# verbs it must not see; a case that sends expects the mail in the inbox.
CASES = [
    ("starttls", "starttls", "server", "starttls", USER, PASSWORD, 0, "メッセージが送信されました！",
     ["EHLO", "STARTTLS", "EHLO", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"], []),
    ("implicit tls", "tls", "server", "tls", USER, PASSWORD, 0, "メッセージが送信されました！",
     ["EHLO", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"], ["STARTTLS"]),
    ("wrong password", "starttls", "server", "starttls", USER, "wrong", 13, "SMTPエラー: 535",
     ["EHLO", "STARTTLS", "EHLO", "AUTH"], ["MAIL"]),
    ("unknown CA", "starttls", "stranger", "starttls", USER, PASSWORD, 14,
     "サーバー証明書が信頼されていない。", ["EHLO", "STARTTLS"], ["AUTH", "MAIL"]),
    ("another name", "tls", "other", "tls", USER, PASSWORD, 14,
     "サーバー証明書のホスト名が一致しない。", [], ["AUTH", "MAIL"]),
    ("starttls not offered", "plain", None, "starttls", USER, PASSWORD, 14,
     "サーバーがSTARTTLSに対応していない。", ["EHLO"], ["STARTTLS", "AUTH", "MAIL"]),
    ("user without tls", "plain", None, "none", USER, PASSWORD, 2,
     "no password goes out in clear", None, None),
]


def secrets():
    """Every clear form of the password a client could put on the wire."""
    plain = f"\0{USER}\0{PASSWORD}".encode()
    return [PASSWORD.encode(), base64.b64encode(PASSWORD.encode()), base64.b64encode(plain)]


def checked(done, server, status, text, seen, unseen, hidden):
    """What zkq said, and what is wrong with the send: its exit status, its
    status text, the verbs the server saw in order (None: no connection at
    all) and those it must not see, the mail when it was sent, and any of
    hidden (bytes) in the wire recording or in what zkq said."""
    said = (done.stdout + done.stderr).decode("utf-8", "replace")
    problems = []
    if done.returncode != status:
        problems.append(f"exit status {done.returncode}, expected {status}")
    if text not in said:
        problems.append(f"no {text!r}")
    if seen is None:
        if server.connections:
            problems.append("connected although refused beforehand")
    else:
        heard = iter(server.commands)  # seen must come in this order
        if not all(verb in heard for verb in seen):
            problems.append(f"server did not see {seen}: {server.commands}")
        problems += [f"server saw {verb}" for verb in unseen if verb in server.commands]
    if status == 0:
        if len(server.mails) != 1:
            problems.append(f"{len(server.mails)} mails arrived")
        else:
            mail = decoded(server.mails[0])
            if (mail["subject"].strip() != SUBJECT
                    or mail["body"].rstrip("\r\n") != BODY.rstrip("\n")):
                problems.append(f"mail decodes as {mail}")
    leaked = [s for s in hidden if s in bytes(server.wire) or s in said.encode()]
    if leaked:
        problems.append(f"secret in clear: {leaked}")
    return said, problems


def report(name, done, server, said, problems, failures):
    print(f"{'ok  ' if not problems else 'FAIL'} {name}: exit {done.returncode},"
          f" server saw {server.commands}")
    for p in problems:
        print(f"     {p}\n     output: {said.strip()}")
    if problems:
        failures.append(name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zkq", required=True)
    parser.add_argument("--wine", help="runs zkq.exe: scripts/wine-run.sh")
    args = parser.parse_args()
    failures = []
    with tempfile.TemporaryDirectory(prefix="zkq-tls-send-") as folder:
        make_certificates(folder)
        other_certificates(folder)
        ca = os.path.join(folder, "ca.pem")
        body = os.path.join(folder, "body.txt")
        with open(body, "w", encoding="utf-8") as f:
            f.write(BODY)
        for (name, mode, cert, security, user, password, status, text, seen, unseen) in CASES:
            server = Server(mode, folder, cert)
            try:
                command = [args.zkq, "send", "--server", "localhost", "--port", str(server.port),
                           "--from", USER, "--to", "admin@example.jp", "--subject", SUBJECT,
                           "--security", security, "--user", user, "--timeout", "20",
                           "--ca-file", windows_path(ca) if args.wine else ca,
                           "--body-file", windows_path(body) if args.wine else body]
                if args.wine:
                    command.insert(0, args.wine)
                done = subprocess.run(command, capture_output=True, timeout=60,
                                      env=dict(os.environ, ZKQ_SMTP_PASSWORD=password))
                said, problems = checked(done, server, status, text, seen, unseen, secrets())
                report(name, done, server, said, problems, failures)
            finally:
                server.stop()
    print(f"{len(CASES) - len(failures)} of {len(CASES)} cases passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
