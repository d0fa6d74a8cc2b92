#!/usr/bin/python3
"""End to end: the settings dialog opened from the main window as a user
opens it, refused entries, a save, and a cancel.

    settings_dialog_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe
"""
from __future__ import annotations

import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from make_evt import empty_logs  # noqa: E402
from harness import (APP_TITLE, MAIN_CLASS, HarnessError, Session, run_single,  # noqa: E402
                     ini_bytes, quote_word, read_ini)
from smtp_servers import Inbox, decoded  # noqa: E402
from run_e2e import IDC, NO_FINDINGS, RULES, STARTED, check, equal, settings  # noqa: E402

CAPTION = "設定 - zkQuorvane"
SERVER, TIME, DATE, INTERVAL, PORT = 5024, 5007, 5006, 5010, 5022
HEADING = 5027  # IDC_SET_LBLHEADING
SAVE = 5025
SECURITY, USER, PASSWORD, TEST = 5041, 5043, 5045, 5046


def wait_status(d, prefix: str, timeout: float) -> str:
    deadline = time.monotonic() + timeout
    while not (text := d("status")["text"]).startswith(prefix):
        if time.monotonic() > deadline:
            raise HarnessError(f"the status line shows {text!r}, not {prefix!r}")
        time.sleep(0.2)
    return text


def answer(d, text: str, icon: str, what: str) -> None:
    box = d("wait-msgbox", 10000)
    equal((box["caption"], box["text"], box["icon"]), (APP_TITLE, text, icon), f"the {what} message")
    d("msgbox-press")


def settings_dialog(s: Session, args) -> None:
    ini = ini_bytes(settings(Interval="1", AutoStart="1", EventLogDir="logs"))
    folder = s.program_folder(args.exe, ini, RULES)
    empty_logs(folder / "logs")
    d = s.start(folder / args.exe.name)
    d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
    d("wait-visible", 10000)
    wait_status(d, STARTED, 10)

    d("click", IDC["CMDBUTTON0"] + 1)  # cmdButton(1), "設定"
    d("wait-window", "#32770", quote_word(CAPTION), 10000)
    d("wait-visible", 10000)  # a dialog shows once its controls are made
    equal(d("text", HEADING), "アプリケーション設定画面", "the dialog's heading")
    equal(d("text", SERVER), "127.0.0.1", "txtSmtpServer from the file")
    first = d("text", TIME)
    check(re.fullmatch(r"\d{2}:\d{2}:\d{2}", first) is not None, f"the live clock shows {first!r}")
    time.sleep(1.5)
    check(d("text", TIME) != first, "the clock does not tick")
    equal(d("focused"), 5002, "the first control in the tab order")  # the service option
    d("repaint")
    s.screenshot("settings-dialog", d("rect"))

    # A monitoring cycle runs while the dialog is open.
    d("wait-window", MAIN_CLASS, APP_TITLE, 5000)
    d("tick", 20000)
    wait_status(d, NO_FINDINGS, 10)
    d("wait-window", "#32770", quote_word(CAPTION), 5000)
    d("wait-visible", 10000)  # a dialog shows once its controls are made

    # Refused entries: the message, and the focus in the field.
    for control, text, message in (
            (SERVER, "  ", "SMTPサーバを指定してください。"),
            (TIME, "9:05:00", "時刻のフォーマットが正しくありません！\r\nhh:mm:ssで指定してください。"),
            (INTERVAL, "99999", "イベントログの監視間隔（数字）を指定してください。")):
        d("focus", control)  # the time field stops the clock
        before = d("text", control)
        d("set-text", control, quote_word(text))
        d("key", "enter")
        answer(d, message, "exclamation", f"refused {text!r}")
        equal(d("focused"), control, f"the focus after {text!r}")
        d("set-text", control, quote_word(before if control != SERVER else "mx.example.jp"))
    # The test button mails with what the dialog shows, through the sending
    # window, and saves nothing; a user without TLS gets no mail.
    inbox = Inbox(lifetime=120)
    try:
        before = (folder / "zkQuorvane.ini").read_bytes()
        d("set-text", SERVER, "127.0.0.1")
        d("set-text", PORT, str(inbox.port))
        d("set-text", USER, "alice")
        d("click", TEST)
        answer(d, "ユーザーを指定する場合は、暗号化にSTARTTLSかSSL/TLSを選んでください。",
               "exclamation", "user without TLS")
        equal(d("focused"), USER, "the focus after a user without TLS")
        d("set-text", USER, quote_word(""))
        d("click", TEST)
        answer(d, "テストメールを送信しました。", "information", "test mail")
        check(inbox.wait(1, 10), "the test mail did not arrive")
        mail = decoded(inbox.mails[0][2])
        # (The encoder sets Japanese off with blanks.)
        check(re.sub(r"\s+", "", mail["subject"]).startswith("監視警告-") and "テスト" in mail["subject"],
              f"the test mail's subject {mail['subject']!r}")
        equal((folder / "zkQuorvane.ini").read_bytes(), before, "the file after a test mail")
        d("wait-window", "#32770", quote_word(CAPTION), 5000)
    finally:
        inbox.stop()

    # A login is saved with TLS, its password protected.
    d("set-text", SERVER, "mx.example.jp")
    d("set-text", PORT, "587")
    d("combo-select", SECURITY, 1)
    d("set-text", USER, "alice")
    d("set-text", PASSWORD, quote_word("pa55 word"))
    d("set-text", DATE, "2004/1/5")
    d("set-text", TIME, "10:20:30")
    time.sleep(1.2)
    equal(d("text", TIME), "10:20:30", "the stopped clock")
    d("set-text", INTERVAL, quote_word(" 15 "))
    d("click", SAVE)
    answer(d, "設定が変更されました！", "information", "saved")
    d("wait-gone", 10000)

    stored = read_ini((folder / "zkQuorvane.ini").read_bytes())
    for key, value in (("SmtpServer", "mx.example.jp"), ("DateStamp", "2004/01/05"),
                       ("TimeStamp", "10:20:30"), ("Interval", "15"), ("AutoStart", "1"),
                       ("ServiceStart", "0"), ("Rules", "rules.txt"), ("SmtpPort", "587"),
                       ("SmtpSecurity", "StartTls"), ("SmtpUser", "alice"),
                       ("AlertDetail", "1")):  # the events' messages, on unless unticked
        equal(stored.get(key.lower()), value, f"{key} in the file")
    password = stored.get("smtppassword", "")
    check(password.startswith("dpapi:") and "pa55" not in password, f"SmtpPassword {password!r}")
    d("wait-window", MAIN_CLASS, APP_TITLE, 5000)
    equal(d("text", IDC["TXTSMTPSERVER"]), "mx.example.jp", "txtSmtpServer of the main window")
    equal(d("text", IDC["TXTSTARTDATETIME"]), "2004/01/05 10:20:30", "txtStartDateTime")
    equal(d("text", IDC["TXTINTERVAL"]), "15", "txtInterval of the main window")

    # From the menu, typed into and cancelled with Esc: nothing is saved.
    before = (folder / "zkQuorvane.ini").read_bytes()
    d("menu", 2011)  # IDM_SETTING1
    d("wait-window", "#32770", quote_word(CAPTION), 10000)
    d("wait-visible", 10000)  # a dialog shows once its controls are made
    d("set-text", SERVER, "other.example.jp")
    d("key", "escape")
    d("wait-gone", 10000)
    equal((folder / "zkQuorvane.ini").read_bytes(), before, "the file after a cancel")


def main() -> int:
    return run_single("settings_dialog", __doc__, ("exe", "driver"),
                      lambda args, session: (lambda: settings_dialog(session, args), None))

if __name__ == "__main__":
    sys.exit(main())
