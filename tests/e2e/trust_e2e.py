#!/usr/bin/python3
"""End to end: the program's silence can be trusted. Without its rules file it
never says it found nothing; an alert that could be neither kept (a file named
outbox stands where the folder should be) nor sent (the server down) arrives
after a restart with the server up; an alert that could not be composed (an
empty To) arrives once To is set and the program restarted, to the recipient
the server takes while it refuses the other with a 550; and the daily report,
due at the current minute, arrives with its counts. A record written before the
settings dialog is saved unchanged is mailed by the next cycle.

    trust_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe
"""
from __future__ import annotations

import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (APP_TITLE, MAIN_CLASS, HarnessError, Session, ini_bytes, quote_word,  # noqa: E402
                     run_single)
from make_evt import ERROR, empty_logs, evt_file, record  # noqa: E402
from outbox_e2e import wait_status  # noqa: E402
from run_e2e import IDC, NO_FINDINGS, SEND_FAILED, SEND_OK, STARTED, check, equal, settings  # noqa: E402
from settings_dialog_e2e import CAPTION, SAVE, answer  # noqa: E402
from smtp_servers import Inbox, decoded, free_port  # noqa: E402

RULES = "System;対象;エラー;*;*;*\r\n".encode("cp932")
RULES_UNLOADED = "監視ルールを読み込めません。["
NOT_COMPOSED = "警告メールを作成できませんでした: "
NOT_KEPT = "警告メールを未送信フォルダ（outbox）に保存できませんでした。"


def set_key(folder: Path, key: str, value: str) -> None:
    """Changes one key of the settings file, keeping what the program wrote."""
    path = folder / "zkQuorvane.ini"
    text = path.read_bytes().decode("cp932")
    text, count = re.subn(rf"(?m)^{key}=.*$", f"{key}={value}", text)
    check(count == 1, f"{key} in the settings file")
    path.write_bytes(text.encode("cp932"))


def first_mail_holds(inbox: Inbox, source: str) -> None:
    check(inbox.wait(1, 10), f"the alert of {source} did not arrive")
    body = decoded(inbox.mails[0][2])["body"]
    check(source in body, f"{source} in the first mail: {body!r}")


class Program:
    def __init__(self, s: Session, args, port: int, rules: bytes | None = RULES, **changes):
        self.s, self.args, self.records = s, args, []
        ini = settings(Interval="1", AutoStart="1", EventLogDir="logs", SmtpPort=str(port), **changes)
        self.folder = s.program_folder(args.exe, ini_bytes(ini), rules)
        empty_logs(self.folder / "logs")

    def start(self, box: str | None = None):
        d = self.s.start(self.folder / self.args.exe.name)
        if box is not None:  # a message of the start-up, before the window shows
            shown = d("wait-msgbox", 15000)
            check(box in shown["text"], f"the start-up message: {shown['text']!r}")
            d("msgbox-press")
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        return d, wait_status(d, STARTED, 0, timeout=10)

    def append(self, source: str) -> None:
        self.records.append(record(len(self.records) + 1, int(time.time()), 0xC0001B58, ERROR,
                                   source, "E2E-PC", []))
        (self.folder / "logs" / "System.evt").write_bytes(evt_file(self.records, oldest=1))

    def cycle(self, d, prefix: str, before: str, kept: int = 0, box: str | None = None) -> str:
        time.sleep(1.1)  # record times and the status line count whole seconds
        d("tick", 20000)
        if box is not None:  # shown once the cycle has ended
            shown = d("wait-msgbox", 20000)
            check(box in shown["text"], f"the cycle's message: {shown['text']!r}")
            d("msgbox-press")
        return wait_status(d, prefix, kept, before)


def no_rules(s: Session, args) -> None:
    p = Program(s, args, free_port(), rules=None)
    d, status = p.start(box="")
    for _ in range(2):
        status = p.cycle(d, RULES_UNLOADED, status)
    check(NO_FINDINGS not in status, f"no rules, yet: {status!r}")
    d("kill")


def neither_kept_nor_sent(s: Session, args) -> None:
    port = free_port()  # nobody listens there for the first cycle
    p = Program(s, args, port)
    (p.folder / "outbox").write_text("a file where the folder should be")
    d, status = p.start()
    p.append("NotKeptNotSent")
    p.cycle(d, SEND_FAILED, status, box=NOT_KEPT)
    d("kill")
    inbox = Inbox(port=port, lifetime=120)
    try:
        d, status = p.start()
        p.cycle(d, SEND_OK, status, box=NOT_KEPT)
        first_mail_holds(inbox, "NotKeptNotSent")
        d("kill")
    finally:
        inbox.stop()


def not_composed_then_refused_recipient_and_report(s: Session, args) -> None:
    inbox = Inbox(port=free_port(), lifetime=200)
    inbox.gone = {"gone@example.jp"}
    try:
        p = Program(s, args, inbox.port, To="")
        d, status = p.start()
        p.append("NotComposed")
        status = p.cycle(d, NOT_COMPOSED, status)
        d("kill")
        set_key(p.folder, "To", "gone@example.jp;admin@example.jp")
        # The report is due at this minute: it goes with the first cycle.
        p_now = time.localtime()
        with open(p.folder / "zkQuorvane.ini", "ab") as ini:
            ini.write(f"Heartbeat={p_now.tm_hour:02}:{p_now.tm_min:02}\r\n".encode("cp932"))
        d, status = p.start()
        status = p.cycle(d, "", status)
        check(inbox.wait(2, 20), f"{len(inbox.mails)} of the alert and the report arrived")
        mails = [(rcpt, decoded(m)) for _, rcpt, m in inbox.mails]
        alert = next(m for r, m in mails if "NotComposed" in m["body"])
        report = next(m for r, m in mails if "稼動報告" in m["subject"])
        equal(sorted({tuple(r) for r, _ in mails}), [("admin@example.jp",)],
              "the mails reach the recipient the server takes, and only them")
        check(alert["subject"].startswith("監視警告 - "),
              f"the alert's subject: {alert['subject']!r}")
        check(report["subject"].startswith("監視警告 稼動報告 - "),
              f"the report's subject: {report['subject']!r}")
        for wanted in ("監視処理の実行: ", "読み込んだ記録: System ", "未送信のメール: 0 件",
                       "ログの読み込み元: フォルダ ", "バージョン: "):
            check(wanted in report["body"], f"{wanted!r} in the report: {report['body']!r}")
        check("※ 宛先に届きませんでした: gone@example.jp (550 5.1.1 User unknown)" in status,
              f"the refused recipient on the status line: {status!r}")
        s.screenshot("trust-refused-recipient", d("rect"))
        status = p.cycle(d, NO_FINDINGS, status)
        check(not inbox.wait(3, 3), "a mail went twice")
        d("kill")
    finally:
        inbox.stop()


def dialog_saved_unchanged(s: Session, args) -> None:
    inbox = Inbox(port=free_port(), lifetime=120)
    try:
        p = Program(s, args, inbox.port)
        d, status = p.start()
        status = p.cycle(d, NO_FINDINGS, status)
        p.append("BeforeTheSave")
        time.sleep(1.1)  # the dialog's clock passes the record
        d("click", IDC["CMDBUTTON0"] + 1)  # "設定"
        d("wait-window", "#32770", quote_word(CAPTION), 10000)
        d("wait-visible", 10000)
        time.sleep(1.1)
        d("click", SAVE)
        answer(d, "設定が変更されました！", "information", "saved")
        d("wait-gone", 10000)
        d("wait-window", MAIN_CLASS, APP_TITLE, 5000)
        p.cycle(d, SEND_OK, status)
        first_mail_holds(inbox, "BeforeTheSave")
        d("kill")
    finally:
        inbox.stop()


def trust(s: Session, args) -> None:
    for scenario in (no_rules, neither_kept_nor_sent, not_composed_then_refused_recipient_and_report,
                     dialog_saved_unchanged):
        try:
            scenario(s, args)
        except HarnessError as e:
            raise HarnessError(f"{scenario.__name__}: {e}") from e


def main() -> int:
    return run_single("trust", __doc__, ("exe", "driver"),
                      lambda args, session: (lambda: trust(session, args), None))


if __name__ == "__main__":
    sys.exit(main())
