#!/usr/bin/python3
"""End to end: the real program's alerts through OAuth 2.0. The settings file
names SmtpAuth=OAuth2 with the client secret in clear, and the program
rewrites it protected. The token endpoint (HTTPS, its certificate from a test
CA put into the prefix's trusted roots for this run) is down for the first
cycle: the alert is kept. Once it is up, the next cycle mails both alerts
through XOAUTH2 to an aiosmtpd that requires STARTTLS, and a third cycle
within the token's life asks the endpoint no more; the settings dialog's
test button mails with a token of its own and reports each step. Neither the
wire nor the file ever holds the secret or the token.

    mail_oauth_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe
                      --root-store zkq_e2e_root_store.exe
"""
from __future__ import annotations

import email
import email.policy
import re
import ssl
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "src" / "mail" / "testing"))
from harness import (APP_TITLE, MAIN_CLASS, Session, ini_bytes, quote_word, read_ini,  # noqa: E402
                     run_single)
from mail_starttls_e2e import RULES, root_store_session, wait_commands  # noqa: E402
from make_evt import ERROR, evt_file, record, empty_logs  # noqa: E402
from run_e2e import IDC, KEPT_ONE, SEND_FAILED, SEND_OK, STARTED, check, equal, settings  # noqa: E402
from settings_dialog_e2e import CAPTION, TEST, answer, wait_status  # noqa: E402
from smtp_servers import decoded, free_port  # noqa: E402
from tls_test_server import make_certificates  # noqa: E402
from zkq_oauth_send import CLIENT_ID, MAILBOX, SECRET, TokenEndpoint, xoauth2_server  # noqa: E402


def mail_oauth(s: Session, args, scratch: Path, root_store) -> None:
    make_certificates(scratch)
    der = scratch / "ca.der"
    der.write_bytes(ssl.PEM_cert_to_DER_cert((scratch / "ca.pem").read_text()))
    root_store("add", der)
    port = free_port()
    url = f"https://localhost:{port}/{{tenant}}/oauth2/v2.0/token"
    issued = []  # the endpoint's tokens, which the server takes
    server = xoauth2_server(str(scratch), issued)
    endpoint = None
    try:
        ini = settings(Interval="1", AutoStart="1", EventLogDir="logs", SmtpServer="localhost",
                       SmtpPort=str(server.port), SmtpSecurity="StartTls", SmtpUser=MAILBOX,
                       SmtpAuth="OAuth2", OAuthTenant="contoso.jp", OAuthClientId=CLIENT_ID,
                       OAuthClientSecret=SECRET, OAuthTokenUrl=url)
        folder = s.program_folder(args.exe, ini_bytes(ini), RULES)
        empty_logs(folder / "logs")
        d = s.start(folder / args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        wait_status(d, STARTED, 10)

        raw = (folder / "zkQuorvane.ini").read_bytes()
        stored = read_ini(raw)
        check(stored.get("oauthclientsecret", "").startswith("dpapi:"),
              f"OAuthClientSecret after the start: {stored.get('oauthclientsecret')!r}")
        check(SECRET.encode() not in raw, "the client secret is still in clear in the file")

        records = []

        def cycle(expected: str, mails: int) -> str:
            """A cycle over one more record; its status once the server has
            the mails it should have by then."""
            written = int(time.time())
            records.append(record(len(records) + 1, written, 0xC0001B58, ERROR,
                                  f"OAuthAlert{len(records) + 1}", "E2E-PC", []))
            (folder / "logs" / "System.evt").write_bytes(evt_file(records, oldest=1))
            time.sleep(max(0.0, written + 1 - time.time()))  # the stamp counts whole seconds
            d("tick", 20000)
            deadline = time.monotonic() + 40
            while len(server.mails) < mails and time.monotonic() < deadline:
                time.sleep(0.1)
            return wait_status(d, expected, 40)

        # The endpoint down: the alert waits in the outbox, nothing reached AUTH.
        status = cycle(SEND_FAILED, 0)
        check(status.endswith(KEPT_ONE), f"the status after the failed cycle: {status!r}")
        equal(server.mails, [], "mails while the endpoint is down")
        check("AUTH" not in server.commands, "AUTH without a token")

        endpoint = TokenEndpoint(str(scratch), "server", port, issued)
        cycle(SEND_OK, 2)
        equal(len(server.mails), 2, "mails once the endpoint is back")
        check("OAuthAlert1" in decoded(server.mails[0])["body"], "the kept alert went first")
        check("OAuthAlert2" in decoded(server.mails[1])["body"], "then the new one")
        # The subject as a strict reader has it: one blank on either side of the dash.
        subject = str(email.message_from_bytes(server.mails[1], policy=email.policy.default)["Subject"])
        check(re.fullmatch(r"監視警告 - [^ ]+", subject) is not None, f"the subject {subject!r}")
        cycle(SEND_OK, 3)
        equal(len(server.mails), 3, "mails after the third cycle")
        equal(len(endpoint.forms), 1, "token requests for two cycles within the token's life")
        wait_commands(server, 3)
        equal(set(server.logins), {MAILBOX}, "the XOAUTH2 user")
        equal(server.commands.count("AUTH"), 3, "AUTH commands")

        # The dialog's test button: a token of its own, and every step told.
        d("click", IDC["CMDBUTTON0"] + 1)  # cmdButton(1), "設定"
        d("wait-window", "#32770", quote_word(CAPTION), 10000)
        d("wait-visible", 10000)
        d("click", TEST)
        answer(d, "テストメールを送信しました。\r\n○ TLSによる保護\r\n○ アクセストークンの取得"
               "\r\n○ 認証\r\n○ サーバーによる受け付け", "information", "test mail")
        equal(len(server.mails), 4, "mails after the test button")
        equal(len(endpoint.forms), 2, "token requests after the test button")
        d("wait-window", "#32770", quote_word(CAPTION), 5000)
        d("key", "escape")
        d("wait-gone", 10000)

        hidden = [SECRET.encode()] + [t.encode() for t in endpoint.issued]
        leaked = [x for x in hidden if x in bytes(server.wire)
                  or x in (folder / "zkQuorvane.ini").read_bytes()]
        equal(leaked, [], "the secret or a token in clear")
    finally:
        server.stop()
        if endpoint:
            endpoint.stop()


def main() -> int:
    return run_single("mail_oauth", __doc__, ("exe", "driver", "root-store"),
                      root_store_session("zkq-oauth-", mail_oauth))


if __name__ == "__main__":
    sys.exit(main())
