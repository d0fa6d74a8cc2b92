#!/usr/bin/python3
"""End to end: mail over STARTTLS with AUTH from the real program. The
settings file starts with the password in clear and the program rewrites it
protected; a cycle's alert and the settings dialog's test mail reach an
aiosmtpd that requires STARTTLS and AUTH, whose certificate comes from a test
CA put into the prefix's trusted roots for this run; the bytes on the wire
never hold the password.

    mail_starttls_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe
                         --root-store zkq_e2e_root_store.exe
"""
from __future__ import annotations

import ssl
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "src" / "mail" / "testing"))
from harness import (APP_TITLE, MAIN_CLASS, WINE, HarnessError, Session, ini_bytes,  # noqa: E402
                     quote_word, read_ini, run_single, win_path)
from make_evt import ERROR, evt_file, record, empty_logs  # noqa: E402
from run_e2e import IDC, SEND_OK, STARTED, check, equal, settings  # noqa: E402
from settings_dialog_e2e import CAPTION, TEST, answer, wait_status  # noqa: E402
from smtp_servers import decoded  # noqa: E402
from tls_test_server import make_certificates  # noqa: E402
from zkq_tls_send import PASSWORD, USER, Server, secrets  # noqa: E402

RULES = "System;対象;エラー;*;*;*\r\n".encode("cp932")
# Two recipients: the settings name two.
SECURED = ["EHLO", "STARTTLS", "EHLO", "AUTH", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"]


def wait_commands(server: Server, count: int) -> list[str]:
    """The server's verbs once count sessions have ended with QUIT."""
    deadline = time.monotonic() + 10
    while server.commands.count("QUIT") < count and time.monotonic() < deadline:
        time.sleep(0.1)
    return server.commands


def mail_starttls(s: Session, args, scratch: Path, root_store) -> None:
    make_certificates(scratch)
    der = scratch / "ca.der"
    der.write_bytes(ssl.PEM_cert_to_DER_cert((scratch / "ca.pem").read_text()))
    root_store("add", der)
    server = Server("starttls", str(scratch), "server")
    try:
        ini = settings(Interval="1", AutoStart="1", EventLogDir="logs", SmtpServer="localhost",
                       SmtpPort=str(server.port), SmtpSecurity="StartTls", SmtpUser=USER,
                       SmtpPassword=PASSWORD)
        folder = s.program_folder(args.exe, ini_bytes(ini), RULES)
        empty_logs(folder / "logs")
        d = s.start(folder / args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        started = wait_status(d, STARTED, 10)

        raw = (folder / "zkQuorvane.ini").read_bytes()
        stored = read_ini(raw)
        check(stored.get("smtppassword", "").startswith("dpapi:"),
              f"SmtpPassword after the start: {stored.get('smtppassword')!r}")
        check(PASSWORD.encode("cp932") not in raw, "the password is still in clear in the file")
        equal(stored.get("smtpuser"), USER, "SmtpUser after the start")

        written = int(time.time())
        (folder / "logs" / "System.evt").write_bytes(evt_file(
            [record(1, written, 0xC0001B58, ERROR, "TlsAlert", "E2E-PC", [])], oldest=1))
        time.sleep(max(0.0, written + 1 - time.time()))  # the stamp counts whole seconds
        d("tick", 20000)
        wait_status(d, SEND_OK, 30)
        check(started != d("status")["text"], "the status line did not change")
        equal(len(server.mails), 1, "mails after the cycle")
        check("TlsAlert" in decoded(server.mails[0])["body"], "the alert names the record's source")
        equal(wait_commands(server, 1), SECURED, "the alert's exchange")

        # The dialog's password is the stored one, unprotected again.
        d("click", IDC["CMDBUTTON0"] + 1)  # cmdButton(1), "設定"
        d("wait-window", "#32770", quote_word(CAPTION), 10000)
        d("wait-visible", 10000)
        d("click", TEST)
        answer(d, "テストメールを送信しました。\r\n○ TLSによる保護\r\n○ 認証\r\n○ サーバーによる受け付け",
               "information", "test mail")
        equal(len(server.mails), 2, "mails after the test button")
        check("テスト" in decoded(server.mails[1])["subject"], "the test mail's subject")
        equal(wait_commands(server, 2), SECURED * 2, "the exchanges of the alert and the test mail")
        d("wait-window", "#32770", quote_word(CAPTION), 5000)
        d("key", "escape")
        d("wait-gone", 10000)

        leaked = [x for x in secrets() if x in bytes(server.wire)]
        equal(leaked, [], "clear forms of the password on the wire")
    finally:
        server.stop()


def root_store_session(prefix: str, body):
    """run_single's make for body(session, args, scratch, root_store): a
    scratch folder, and the test CAs that root_store("add", der) put into the
    prefix's trusted roots taken out again afterwards."""
    def make(args, session: Session):
        scratch = tempfile.TemporaryDirectory(prefix=prefix)
        added = []

        def root_store(verb: str, der: Path) -> None:
            done = subprocess.run([WINE, str(args.root_store), verb, win_path(der)], env=session.env,
                                  capture_output=True, timeout=60)
            if done.returncode != 0:
                raise HarnessError(f"root store {verb}: {done.stderr.decode(errors='replace')}")
            if verb == "add":
                added.append(der)

        def cleanup():
            # The prefix serves every e2e test: the test CA leaves with this one.
            try:
                for der in added:
                    root_store("remove", der)
            finally:
                scratch.cleanup()

        return lambda: body(session, args, Path(scratch.name), root_store), cleanup
    return make


def main() -> int:
    return run_single("mail_starttls", __doc__, ("exe", "driver", "root-store"),
                      root_store_session("zkq-starttls-", mail_starttls))


if __name__ == "__main__":
    sys.exit(main())
