#!/usr/bin/python3
"""End-to-end tests: the real zkQuorvane.exe under Wine, driven as a user would.

    run_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe [--fixture F] TEST...

Each test runs in its own Session (own X display, fresh program folder, the
shared e2e prefix) and stops everything it started, whatever happens.
"""
from __future__ import annotations

import argparse
import datetime as dt
import getpass
import math
import os
import re
import socket
import sys
import time
import traceback
from pathlib import Path
from zoneinfo import ZoneInfo

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (APP_TITLE, MAIN_CLASS, HarnessError, Session, display_numbers,  # noqa: E402
                     ini_bytes, parse_stamp, read_ini, win_path, within)
from make_evt import EOF_SIZE, ERROR, INFORMATION, evt_file, record, empty_logs  # noqa: E402
from smtp_servers import HoldingServer, Inbox, decoded  # noqa: E402

# Control and menu IDs of the main window (src/app/main_window_ids.h).
IDC = dict(
    CMDSTART=1001, CMDSTOP=1002, CMDEXIT=1003,
    LSTSYSTEM=1020, LSTSECURITY=1021, LSTAPPLICATION=1022, LSTSERVICES=1023,
    LSTLOG1=1024, LSTLOG2=1025,
    CHKSETTING0=1030, CHKSETTING1=1031, CHKSETTING2=1032,
    TXTINTERVAL=1034, TXTSTARTDATETIME=1037,
    CMDBUTTON0=1004, TXTSMTPTO=1041, TXTSMTPFROM=1043, TXTSMTPSUBJECT=1045, TXTSMTPSERVER=1046, TXTSMTPPORT=1047,
    LBLCOMPUTERNAME=1051, LBLUSERNAME=1053)
IDM_FILE0, IDM_FILE1, IDM_FILE2 = 2000, 2001, 2002
IDM_HELP0 = 2020
WM_LBUTTONDBLCLK = 0x203

EVENT_RULE_HEADERS = ["指定", "種類", "ソース", "分類", "イベント"]
EVENT_ROW_HEADERS = ["種類", "日付", "時刻", "ソース", "分類", "イベント", "ユーザー", "コンピュータ"]
SERVICE_HEADERS = ["サービス名", "状態"]
LIST_HEADERS = {
    "LSTSYSTEM": EVENT_RULE_HEADERS, "LSTSECURITY": EVENT_RULE_HEADERS,
    "LSTAPPLICATION": EVENT_RULE_HEADERS, "LSTSERVICES": SERVICE_HEADERS,
    "LSTLOG1": EVENT_ROW_HEADERS, "LSTLOG2": EVENT_ROW_HEADERS,
}
SETTINGS_LOAD_FAILED = "zkQuorvane.iniファイルの読み込みに失敗しました！"
STARTUP_FAILED = "起動に失敗しました！"
NO_FINDINGS = "監視処理を実行しましたが異常はありません。["
SEND_FAILED = "メール送信に失敗しました。["
SEND_OK = "メール送信を完了しました。["
KEPT_ONE = " 未送信 1 件"  # after the status while one alert waits in the outbox
# The sending window (src/mail/win32/send_window_ids.h): a dialog captioned with the title.
DIALOG_CLASS = "#32770"
IDC_SEND_LBLTITLE = 3001
READ_FAILED_CORRUPT = "ReadEventLog function fails.\r\nErrNumber = 0x000005DC\r\n"
# The system's short date and long time under the Japanese locale ("2026/12/8 5:19:58").
LOCALE_MOMENT = re.compile(r"^\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}:\d{2}\]$")
INVALID_OPTION = "Invalid command option"
STARTED = "稼動開始。["
STOPPED = "稼動停止。["
NO_HELP_FILE = "ヘルプファイルが見つかりません。"
FILE_MENU = [(IDM_FILE0, "スタート(&S)"), (IDM_FILE1, "ストップ(&E)"), (IDM_FILE2, "終了(&X)")]

RULES = "\r\n".join([
    "System;対象;エラー;*;*;*",
    "Application;除外;情報;zkQuorvane;*;*",
    "Service;Eventlog;開始;;;",
]).encode("cp932") + b"\r\n"


def settings(**changes) -> dict:
    """A settings file that starts the program normally; None drops a key."""
    values = {
        "SmtpServer": "127.0.0.1", "SmtpPort": "2525", "From": "monitor@example.jp",
        "To": "admin@example.jp;night@example.jp", "Subject": "監視警告",
        "DateStamp": "2020/01/02", "TimeStamp": "03:04:05", "Rules": "rules.txt",
        "Interval": "5", "AutoStart": "0", "IconStart": "0", "ServiceStart": "0",
    }
    values.update(changes)
    return values


def bare(status: str) -> str:
    """A status line without the folder the logs were read from, which every
    status names while EventLogDir is set."""
    return re.sub(r" \(ファイル: [^)]*\)", "", status, count=1)


def check(condition: bool, what: str) -> None:
    if not condition:
        raise HarnessError(what)


def equal(actual, expected, what: str) -> None:
    if actual != expected:
        raise HarnessError(f"{what}: expected {expected!r}, got {actual!r}")


class Tests:
    def __init__(self, args, session: Session):
        self.args = args
        self.s = session

    # helpers shared by the tests ------------------------------------------
    def launch(self, ini: bytes | None, arguments: str | None = None, rules: bytes | None = RULES):
        folder = self.s.program_folder(self.args.exe, ini, rules)
        d = self.s.start(folder / self.args.exe.name, arguments)
        return folder, d

    def main_window(self, d, timeout=15000):
        return d("wait-window", MAIN_CLASS, APP_TITLE, timeout)

    def shot_main(self, d, label):
        if d("visible"):
            d("repaint")
        self.s.screenshot(label, d("rect"))

    def expect_exit(self, d, what, timeout=10000):
        try:
            d("wait-exit", timeout)
        except HarnessError as e:
            raise HarnessError(f"{what}: the program did not end") from e

    def no_main_window(self, d, what):
        found = d("find-window", MAIN_CLASS, APP_TITLE)
        check(not found["visible"], f"{what}: the main window is showing")

    # the driver against a window with known contents ----------------------
    def driver_reads_controls(self):
        d = self.s.start(self.args.fixture)
        d("wait-window", "zkqE2eFixture", '"E2E 試験窓"', 10000)
        equal(d("caption"), "E2E 試験窓", "caption")
        cases = [  # id, text, enabled, checked
            (101, "件名：監視 テスト", True, None),
            (102, "起動時に自動スタート", True, True),
            (106, "起動時にアイコン化", True, False),
            (103, "ｽﾀｰﾄ(&S)", False, None),
        ]
        for cid, text, enabled, checked in cases:
            c = d("control", cid)
            equal(c["text"], text, f"text of {cid}")
            equal(c["enabled"], enabled, f"enabled state of {cid}")
            equal(c.get("checked"), checked, f"check state of {cid}")
        columns = d("list-columns", 104)
        equal([c["text"] for c in columns], ["指定", "種類", "ソース"], "list headers")
        equal([c["width"] for c in columns], [80, 120, 160], "list column widths")
        equal({c["align"] for c in columns}, {"left"}, "list alignment")
        rows = d("list-rows", 104)
        equal(rows, [["対象", "エラー", "*"], ["除外", "", "監" * 300]], "list rows")
        equal(d("status")["text"], "稼動開始。[2026/12/08 04:14:53]", "status line")
        self.s.screenshot("fixture", d("rect"))

    def driver_reads_message_boxes(self):
        d = self.s.start(self.args.fixture)
        d("wait-window", "zkqE2eFixture", '"E2E 試験窓"', 10000)
        cases = [(201, "exclamation"), (202, "information"), (203, "none"), (204, "error")]
        for n, (command, icon) in enumerate(cases, start=1):
            d("menu", command)
            box = d("wait-msgbox", 10000)
            equal(box["caption"], APP_TITLE, f"caption of box {command}")
            equal(box["text"], "試験の本文です。\r\n二行目", f"text of box {command}")
            equal(box["icon"], icon, f"icon of box {command}")
            equal([b["text"] for b in box["buttons"]], ["OK"], f"buttons of box {command}")
            if n == 1:
                self.s.screenshot("fixture-msgbox", box["rect"])
            d("msgbox-press")
            equal(d("status")["text"], f"閉じた数：{n}", "the box returned to its window")

    def driver_tray_and_popup(self):
        d = self.s.start(self.args.fixture)
        d("wait-window", "zkqE2eFixture", '"E2E 試験窓"', 10000)
        equal(self.tips(d), [], "tray before the icon is added")
        d("menu", 205)
        d("wait-hidden", 5000)
        d("wait-tray", APP_TITLE, 5000)
        equal(self.tips(d), [APP_TITLE], "tray icons")
        d("tray-dblclick", APP_TITLE)
        d("wait-visible", 5000)
        equal(d("status")["text"], "ダブルクリック", "what the window got")
        d("wait-no-tray", APP_TITLE, 5000)
        equal(self.tips(d), [], "tray after the double-click")
        d("menu", 205)
        d("wait-tray", APP_TITLE, 5000)
        d("tray-rclick", APP_TITLE)
        d("wait-popup", 5000)
        d("popup-key", "x")
        self.expect_exit(d, "choosing 終了(&X) from the pop-up")

    @staticmethod
    def settle_in_tray(d, timeout=10.0):
        """Waits for the end of minimising: the icon added, the window
        minimised (it may show for an instant as it is) and then hidden."""
        d("wait-tray", APP_TITLE, int(timeout * 1000))
        deadline = time.monotonic() + timeout
        while not d("iconic"):
            if time.monotonic() > deadline:
                raise HarnessError("the window is not minimised")
            time.sleep(0.05)
        d("wait-hidden", int(timeout * 1000))

    @staticmethod
    def tips(d):
        return [i["tip"] for i in d("tray-icons")]

    # the program -----------------------------------------------------------
    def normal_start(self):
        before = dt.datetime.now()
        folder, d = self.launch(ini_bytes(settings()))
        w = self.main_window(d)
        d("wait-visible", 10000)
        after = dt.datetime.now()
        check(w["visible"] or d("visible"), "the main window shows")
        self.shot_main(d, "main-window")
        equal(d("caption"), APP_TITLE, "caption")
        fields = [
            ("TXTSMTPSERVER", "127.0.0.1"), ("TXTSMTPPORT", "2525"),
            ("TXTSMTPFROM", "monitor@example.jp"), ("TXTSMTPTO", "admin@example.jp;night@example.jp"),
            ("TXTSMTPSUBJECT", "監視警告"), ("TXTINTERVAL", "5"),
            ("LBLCOMPUTERNAME", socket.gethostname().split(".")[0].upper()[:15]),
            ("LBLUSERNAME", getpass.getuser()),
        ]
        for name, text in fields:
            equal(d("text", IDC[name]), text, name)
        for name in ("CHKSETTING0", "CHKSETTING1", "CHKSETTING2"):
            equal(d("control", IDC[name]).get("checked"), False, f"{name} with the flag 0")

        shown = d("text", IDC["TXTSTARTDATETIME"])
        moment = parse_stamp(shown)
        check(within(moment, before, after),
              f"txtStartDateTime {shown} is not the moment of start-up ({before:%H:%M:%S}..{after:%H:%M:%S})")
        stored = read_ini((folder / "zkQuorvane.ini").read_bytes())
        equal(f"{stored.get('datestamp')} {stored.get('timestamp')}", shown,
              "the stamp in the settings file")

        for name, headers in LIST_HEADERS.items():
            columns = d("list-columns", IDC[name])
            equal([c["text"] for c in columns], headers, f"columns of {name}")
            check(all(c["width"] > 0 and c["align"] == "left" for c in columns),
                  f"{name}: every column has a width and is left-aligned")
        shown_rules = [
            ("LSTSYSTEM", [["対象", "エラー", "*", "*", "*"]]),
            ("LSTSECURITY", []),
            ("LSTAPPLICATION", [["除外", "情報", "zkQuorvane", "*", "*"]]),
            ("LSTSERVICES", [["Eventlog", "開始"]]),
        ]
        for name, rows in shown_rules:
            equal(d("list-rows", IDC[name]), rows, f"rules shown in {name}")

    # the monitoring cycle -------------------------------------------------
    def wait_status(self, d, prefix: str, timeout: float) -> str:
        """Polls the status line until it starts with prefix (a cycle runs once a minute)."""
        deadline = time.monotonic() + timeout
        text = ""
        while time.monotonic() < deadline:
            text = bare(d("status")["text"])
            if text.startswith(prefix):
                return text
            time.sleep(0.5)
        raise HarnessError(f"the status line never showed {prefix!r}; it shows {text!r}")

    def local_now(self) -> dt.datetime:
        """The present moment on the program's clock (its zone, --tz)."""
        zone = ZoneInfo(self.args.tz) if self.args.tz else None
        return dt.datetime.now(zone).replace(tzinfo=None)

    @staticmethod
    def next_second(after: float) -> None:
        """Waits until the clock has left the second of `after`: stamps and
        record times count whole seconds."""
        time.sleep(max(0.0, math.floor(after) + 1 - time.time()))

    @staticmethod
    def stamp(folder: Path) -> str:
        stored = read_ini((folder / "zkQuorvane.ini").read_bytes())
        return f"{stored.get('datestamp')} {stored.get('timestamp')}"

    def start_cycling(self, rules: bytes, logs: dict[str, bytes] | None = None, **changes):
        """Monitoring switched on at start-up, a cycle on every tick, the logs
        read from logs/ (each absent one is written empty)."""
        ini = ini_bytes(settings(Interval="1", AutoStart="1", EventLogDir="logs", **changes))
        folder = self.s.program_folder(self.args.exe, ini, rules,
                                       extra={f"logs/{name}": data for name, data in (logs or {}).items()})
        empty_logs(folder / "logs")
        d = self.s.start(folder / self.args.exe.name)
        self.main_window(d)
        d("wait-visible", 10000)
        self.wait_status(d, STARTED, 10)
        return folder, d, self.stamp(folder)

    @staticmethod
    def tick(d) -> tuple[str, list[str]]:
        """One tick of tmrCheck, handled: the status line after it, and the
        texts of the message boxes it showed, each answered with OK."""
        d("tick", 20000)
        boxes = []
        while len(boxes) < 5:
            try:
                box = d("wait-msgbox", 0)
            except HarnessError:
                break
            boxes.append(box["text"])
            d("msgbox-press")
            d("wait-idle", 20000)
        return bare(d("status")["text"]), boxes

    def cycle_without_findings(self, real_timer: bool = False):
        # An hour and eight hours old: before the start-up stamp in every zone,
        # unless record times (UTC) and the stamp (local time) were compared on
        # two clocks, which lets them through west of Japan.
        now = int(time.time())
        system = evt_file([
            record(1, now - 8 * 3600, 0xC0001B58, ERROR, "Service Control Manager", "E2E-PC", ["x"]),
            record(2, now - 3600, 0xC0001B58, ERROR, "Service Control Manager", "E2E-PC", ["y"]),
        ], oldest=1)
        folder, d, start_stamp = self.start_cycling(RULES, {"System.evt": system})
        equal(self.buttons(d), (False, True), "start/stop buttons while running")
        if real_timer:
            started = time.monotonic()
            status = self.wait_status_change(d, STARTED, 100)
            waited = time.monotonic() - started
            check(waited > 50, f"the first cycle came {waited:.0f} s after the start, not a minute")
            boxes = []
        else:
            self.next_second(time.time())
            status, boxes = self.tick(d)
        cycle_end = self.local_now()
        self.shot_main(d, "after-first-cycle")
        equal(boxes, [], "message boxes of the cycle")
        check(status.startswith(NO_FINDINGS) and LOCALE_MOMENT.match(status[len(NO_FINDINGS):]),
              f"the no-findings message with the system's date and time, got {status!r}")
        new_stamp = self.stamp(folder)
        check(parse_stamp(start_stamp) < parse_stamp(new_stamp) <= cycle_end,
              f"the cycle moved the stamp on from {start_stamp} to now ({cycle_end:%H:%M:%S}): "
              f"the file holds {new_stamp}")
        equal(d("text", IDC["TXTSTARTDATETIME"]), start_stamp, "txtStartDateTime is not changed by a cycle")
        equal(d("list-rows", IDC["LSTSYSTEM"]), [["対象", "エラー", "*", "*", "*"]], "rules in lstSystem")
        equal(d("list-rows", IDC["LSTSERVICES"]), [["Eventlog", "開始"]], "rules in lstServices")

    def cycle_on_the_minute_timer(self):
        self.cycle_without_findings(real_timer=True)

    def wait_status_change(self, d, leaving: str, timeout: float) -> str:
        deadline = time.monotonic() + timeout
        while (text := bare(d("status")["text"])).startswith(leaving):
            if time.monotonic() > deadline:
                raise HarnessError(f"the status line still shows {text!r}")
            time.sleep(0.5)
        return text

    def cycle_with_a_finding(self):
        # Records written just after the start: the first cycle alerts the one
        # its rules keep; the next cycle, whose bound is the first cycle's
        # stamp, has nothing new and does not alert it again.
        rules = "\r\n".join([
            "Application;対象;エラー;*;*;*",
            "Application;対象;情報;*;*;*",
            "Application;除外;情報;zkQuorvane;*;*",
        ]).encode("cp932") + b"\r\n"
        folder, d, _ = self.start_cycling(rules)
        written = int(time.time())
        (folder / "logs" / "Application.evt").write_bytes(evt_file([
            record(1, written, 0x40001B7C, INFORMATION, "zkQuorvane", "E2E-PC", []),
            record(2, written, 0xC0000BB8, ERROR, "Demo App", "E2E-PC", ["failed"]),
        ], oldest=1))
        self.next_second(written)
        status, boxes = self.tick(d)
        self.shot_main(d, "after-cycle-with-finding")
        equal(boxes, [], "message boxes of the first cycle")
        check(status.startswith(SEND_FAILED) and status.endswith(KEPT_ONE) and
              LOCALE_MOMENT.match(status[len(SEND_FAILED):-len(KEPT_ONE)]),
              f"the first cycle hands the record to the send command, status {status!r}")
        when = dt.datetime(1970, 1, 1, 9) + dt.timedelta(seconds=written)  # shown in Japan time
        equal(d("list-rows", IDC["LSTLOG2"]),
              [["エラー", f"{when:%Y/%m/%d}", f"{when:%H:%M:%S}", "Demo App", "なし", "3000", "N/A",
                "E2E-PC"]],
              "the Application records that passed the rules (the excluded one is not there)")
        _, boxes = self.tick(d)
        equal(boxes, [], "message boxes of the second cycle")
        status = self.wait_status(d, NO_FINDINGS, 30)
        check(status.endswith(KEPT_ONE), f"the second cycle alerts the record again, status {status!r}")
        equal(d("list-rows", IDC["LSTLOG2"]), [], "records that passed the rules in the second cycle")

    def cycle_with_a_corrupt_log(self):
        # A log cut short (copied while written, a full disk) is corrupt: the
        # cycle still alerts its complete records, reports the read failure,
        # and never claims a clean run.
        soon = int(time.time()) + 60  # at or after the start-up stamp in any zone
        whole = evt_file([
            record(1, soon, 0xC0001B58, ERROR, "Service Control Manager", "E2E-PC", ["Demo Service"]),
            record(2, soon + 1, 0x40001B7C, INFORMATION, "Service Control Manager", "E2E-PC", []),
        ], oldest=1)
        records_end = len(whole) - EOF_SIZE
        cuts = [("cut inside the newest record", records_end - 20),
                ("without its end-of-file record", records_end),
                ("cut inside its end-of-file record", records_end + 12)]
        for what, size in cuts:
            _, d, _ = self.start_cycling(RULES, {"System.evt": whole[:size]})
            status, boxes = self.tick(d)
            failures = [b for b in boxes if b.startswith(READ_FAILED_CORRUPT)]
            check(len(failures) == 1 and len(failures[0]) > len(READ_FAILED_CORRUPT),
                  f"a log {what}: one read failure with the system's text, got boxes {boxes!r}, "
                  f"status {status!r}")
            check(status.startswith("［システム］※ ログを読めませんでした: ") and SEND_FAILED in status,
                  f"a log {what}: the complete error record is alerted, status {status!r}")
            d("kill")

    @staticmethod
    def alert_text(sections: list[tuple[str, list[list[str]]]],
                   details: dict[str, str] | None = None) -> str:
        """The alert text of rows shown as list rows: per log a header line,
        then the type padded to six characters and the other fields; under a
        row whose event ID details names, that detail line, indented."""
        text = ""
        for name, rows in sections:
            text += f"［{name}］\r\n"
            for row in rows:
                text += f"{row[0]:<6} " + " ".join(row[1:]) + "\r\n"
                if details and row[5] in details:
                    text += f"    {details[row[5]]}\r\n"
        return text

    def check_mail(self, message: bytes, subject: str, body: str, what: str,
                   services: str | None = None) -> None:
        """services: a pattern for the services section that follows body."""
        mail = decoded(message)
        if services is not None:
            events, mark, rest = mail["body"].partition("［サービス］")
            check(re.fullmatch(services, mark + rest.rstrip("\r\n") + "\r\n"),
                  f"{what}: services section, got {mark + rest!r}")
            mail["body"] = events
        squeezed = lambda text: "".join(text.split())  # noqa: E731
        equal(squeezed(mail["subject"]), squeezed(subject), f"{what}: subject")
        check(mail["date"] and re.match(r"^\w{3}, \d{2} \w{3} \d{4} \d{2}:\d{2}:\d{2} [+-]\d{4}$",
                                        mail["date"]), f"{what}: a Date line, got {mail['date']!r}")
        check(mail["message_id"] and "@" in mail["message_id"], f"{what}: a Message-ID, got "
              f"{mail['message_id']!r}")
        # SMTP's data ends in an empty line of its own.
        equal(mail["body"].rstrip("\r\n"), body.rstrip("\r\n"), f"{what}: body")

    def mail_alert(self):
        # Records in two logs that their rules keep: the first cycle mails
        # them as one alert; with the server gone the next send fails and the
        # cycle after it starts afresh; the send button mails an empty body.
        inbox = Inbox(lifetime=240)
        holding = None
        try:
            rules = "\r\n".join(["System;対象;エラー;*;*;*", "Application;対象;エラー;*;*;*"]).encode(
                "cp932") + b"\r\n"
            folder, d, _ = self.start_cycling(rules, SmtpPort=str(inbox.port))
            computer = d("text", IDC["LBLCOMPUTERNAME"])
            subject = f"監視警告 - {computer}"
            written = int(time.time())
            (folder / "logs" / "System.evt").write_bytes(evt_file([
                record(1, written, 0xC0001B58, ERROR, "Service Control Manager", "E2E-PC", ["Demo"]),
            ], oldest=1))
            (folder / "logs" / "Application.evt").write_bytes(evt_file([
                record(1, written, 0x40001B7C, INFORMATION, "Demo App", "E2E-PC", []),
                record(2, written, 0xC0000BB8, ERROR, "Demo App", "E2E-PC", ["failed"]),
            ], oldest=1))
            self.next_second(written)
            d("tick", 20000)
            status = self.wait_status(d, SEND_OK, 90)
            check(LOCALE_MOMENT.match(status[len(SEND_OK):]), f"date and time after the message: {status!r}")
            self.shot_main(d, "after-alert-mail")
            check(inbox.wait(1, 10), "the SMTP server received no mail")
            equal(len(inbox.mails), 1, "mails of one cycle")
            sender, recipients, message = inbox.mails[0]
            equal((sender, recipients), ("monitor@example.jp", ["admin@example.jp", "night@example.jp"]),
                  "envelope")
            when = dt.datetime(1970, 1, 1, 9) + dt.timedelta(seconds=written)  # shown in Japan time
            system_row = ["エラー", f"{when:%Y/%m/%d}", f"{when:%H:%M:%S}", "Service Control Manager",
                          "なし", "7000", "N/A", "E2E-PC"]
            application_rows = d("list-rows", IDC["LSTLOG2"])
            equal(len(application_rows), 1, "Application records that passed the rules")
            self.check_mail(message, subject,
                            # No message module knows these sources: their strings follow.
                            self.alert_text([("システム", [system_row]), ("アプリケーション", application_rows)],
                                            {"7000": "Demo", "3000": "failed"}),
                            "the alert mail")

            inbox.stop()
            again = int(time.time())
            (folder / "logs" / "System.evt").write_bytes(evt_file([
                record(1, written, 0xC0001B58, ERROR, "Service Control Manager", "E2E-PC", ["Demo"]),
                record(2, again, 0xC0001B58, ERROR, "Service Control Manager", "E2E-PC", ["Again"]),
            ], oldest=1))
            self.next_second(again)
            d("tick", 20000)
            status = self.wait_status(d, SEND_FAILED, 90)
            waiting = KEPT_ONE
            check(status.endswith(waiting) and LOCALE_MOMENT.match(status[len(SEND_FAILED):-len(waiting)]),
                  f"date and time after the message, then the kept alert: {status!r}")
            _, boxes = self.tick(d)
            equal(boxes, [], "message boxes of the cycle after the failed send")
            status = self.wait_status(d, NO_FINDINGS, 30)
            check(status.endswith(waiting), f"the next cycle starts afresh and the alert waits: {status!r}")
            # The server back: the next cycle mails the kept alert.
            inbox = Inbox(port=inbox.port, lifetime=120)
            self.next_second(time.time())
            d("tick", 20000)
            check(inbox.wait(1, 30), "the kept alert never arrived")
            kept_row = f"{dt.datetime(1970, 1, 1, 9) + dt.timedelta(seconds=again):%Y/%m/%d %H:%M:%S}"
            check(kept_row in decoded(inbox.mails[0][2])["body"], "the kept alert holds the record")
            deadline = time.monotonic() + 30
            while (status := d("status")["text"]).endswith(waiting) and time.monotonic() < deadline:
                time.sleep(0.2)
            check(status.startswith(NO_FINDINGS) and not status.endswith(waiting),
                  f"the status once the kept alert went: {status!r}")
            inbox.stop()

            # The send button between cycles, to a server that takes its time
            # over DATA: the sending window shows the send under way.
            holding = HoldingServer(inbox.port, hold=4)
            d("click", IDC["CMDBUTTON0"])
            d("wait-window", DIALOG_CLASS, APP_TITLE, 10000)
            d("wait-visible", 10000)  # a dialog shows once its controls are made
            check(holding.data_asked.wait(20), "the send never reached DATA")
            equal(d("text", IDC_SEND_LBLTITLE), "メール送信中…", "lblTitle while sending")
            equal(d("status")["text"].strip(), "DATA", "the sending window's status while DATA waits")
            self.s.screenshot("sending-window", d("rect"))
            d("wait-gone", 30000)
            self.main_window(d)
            self.wait_status(d, SEND_OK, 30)
            check(holding.message is not None, "the held server got no message")
            self.check_mail(holding.message, subject, "", "the mail of the send button")
        finally:
            inbox.stop()
            if holding is not None:
                holding.stop()

    def mail_service_section(self):
        # The services of the real service manager are checked in each cycle:
        # Wine's print spooler is stopped, and no service has the second name.
        inbox = Inbox(lifetime=120)
        try:
            rules = "\r\n".join(["Service;Spooler;開始;;;", "Service;PlugPlay;開始;;;",
                                 "Service;zkqNoSuchService;開始;;;"]).encode("cp932") + b"\r\n"
            _, d, _ = self.start_cycling(rules, SmtpPort=str(inbox.port))
            subject = f"監視警告 - {d('text', IDC['LBLCOMPUTERNAME'])}"
            d("tick", 20000)
            self.wait_status(d, SEND_OK, 90)
            check(inbox.wait(1, 10), "the SMTP server received no mail")
            self.check_mail(inbox.mails[0][2], subject, "", "the services mail",
                            services="［サービス］\r\nSpooler  停止 [^\r\n]+\r\n"
                                     "zkqNoSuchService <--- Not found!\r\n")
        finally:
            inbox.stop()

    def command_lines(self):
        # The emptiness test reads the untrimmed command line, the -install
        # test the trimmed one, and -uninstall must stand alone.
        rejected = ["   ", " -uninstall", "-Install", "-uninstall ", "/install", "install"]
        for arguments in rejected:
            what = f"command line {arguments!r}"
            _, d = self.launch(ini_bytes(settings()), arguments)
            box = d("wait-msgbox", 15000)
            equal(box["text"], INVALID_OPTION, what)
            equal(box["caption"], APP_TITLE, f"{what}: caption")
            equal(box["icon"], "none", f"{what}: icon")
            self.no_main_window(d, what)
            if arguments == "   ":
                self.s.screenshot("invalid-option", box["rect"])
            d("msgbox-press")
            self.expect_exit(d, what)
        # Service registration and removal: the program reports the outcome
        # (or, while the service machinery is missing, that it cannot) in a
        # box about the service, and ends without showing the main window.
        for arguments in [" -install ", "-install", "-uninstall"]:
            what = f"command line {arguments!r}"
            _, d = self.launch(ini_bytes(settings()), arguments)
            boxes = self.answer_boxes(d, what)
            check(any(b["text"].startswith(APP_TITLE + "はサービス") for b in boxes),
                  f"{what}: the outcome of the service registration, got {[b['text'] for b in boxes]}")
            check(all(b["icon"] in ("information", "exclamation") for b in boxes),
                  f"{what}: icons {[b['icon'] for b in boxes]}")
            check(INVALID_OPTION not in [b["text"] for b in boxes], f"{what}: rejected")

    def answer_boxes(self, d, what, most=3):
        """Presses OK on each message box until the program ends; the boxes seen."""
        boxes = []
        while True:
            box = d("wait-msgbox", 15000)
            boxes.append(box)
            self.no_main_window(d, what)
            d("msgbox-press")
            if not d("running"):
                return boxes
            try:
                d("wait-exit", 2000)
                return boxes
            except HarnessError:
                if len(boxes) >= most:
                    raise HarnessError(f"{what}: the program goes on after {most} message boxes")

    def missing_settings_file(self):
        _, d = self.launch(None)
        box = d("wait-msgbox", 15000)
        equal(box["caption"], APP_TITLE, "caption")
        check(box["text"].startswith(SETTINGS_LOAD_FAILED + "\r\n"),
              f"the settings-load message, got {box['text']!r}")
        check(len(box["text"]) > len(SETTINGS_LOAD_FAILED) + 2, "a description follows the message")
        equal(box["icon"], "exclamation", "icon")
        self.s.screenshot("settings-load-failed", box["rect"])
        equal(d("find-window", MAIN_CLASS, APP_TITLE)["exists"], False, "a main window exists")
        d("msgbox-press")
        self.expect_exit(d, "after the settings-load message")

    def missing_icon_start(self):
        _, d = self.launch(ini_bytes(settings(IconStart=None)))
        box = d("wait-msgbox", 15000)
        check(box["text"].startswith(STARTUP_FAILED + "\r\n"),
              f"the start-up failure message, got {box['text']!r}")
        equal(box["icon"], "exclamation", "icon")
        self.s.screenshot("startup-failed", box["rect"])
        d("msgbox-press")
        self.main_window(d)
        d("wait-visible", 10000)
        # The failure came before the names, the lists and the rules.
        equal(d("text", IDC["TXTSMTPSUBJECT"]), "監視警告", "the mail fields filled before it")
        equal(d("text", IDC["LBLCOMPUTERNAME"]), "", "computer name")
        equal(d("text", IDC["LBLUSERNAME"]), "", "user name")
        for name in LIST_HEADERS:
            equal(d("list-columns", IDC[name]), [], f"columns of {name}")
        equal(d("list-rows", IDC["LSTSYSTEM"]), [], "rules in lstSystem")
        self.shot_main(d, "main-window-startup-failed")
        d("close")
        self.expect_exit(d, "closing the window after the failed start")

    def icon_start_tray(self):
        _, d = self.launch(ini_bytes(settings(IconStart="1")))
        self.main_window(d)
        self.settle_in_tray(d)
        equal(d("visible"), False, "window visible with IconStart = 1")
        equal(self.tips(d), [APP_TITLE], "tray icons")
        equal(d("control", IDC["CHKSETTING1"]).get("checked"), True, "chkSetting(1)")
        self.s.screenshot("iconised")
        d("tray-dblclick", APP_TITLE)
        d("wait-visible", 10000)
        equal(d("iconic"), False, "the window is restored, not minimised")
        d("wait-no-tray", APP_TITLE, 5000)
        self.shot_main(d, "restored-from-tray")

    def tray_popup_exit(self):
        _, d = self.launch(ini_bytes(settings(IconStart="1")))
        self.main_window(d)
        self.settle_in_tray(d)
        d("tray-rclick", APP_TITLE)
        popup = d("wait-popup", 10000)
        self.s.screenshot("tray-popup", {
            "left": popup["rect"]["left"] - 20, "top": popup["rect"]["top"] - 20,
            "right": popup["rect"]["right"] + 20, "bottom": popup["rect"]["bottom"] + 20})
        d("menu", IDM_FILE2)
        self.expect_exit(d, "終了(&X) from the pop-up menu")

    # starting and stopping by hand ----------------------------------------
    def status_moment(self, d, prefix: str, timeout: float = 10.0) -> dt.datetime:
        """The moment in a status line "<prefix>yyyy/mm/dd hh:mm:ss]"."""
        text = self.wait_status(d, prefix, timeout)
        check(text.endswith("]"), f"the status line ends in ']': {text!r}")
        return parse_stamp(text[len(prefix):-1])

    def buttons(self, d) -> tuple[bool, bool]:
        return d("enabled", IDC["CMDSTART"]), d("enabled", IDC["CMDSTOP"])

    def shot_popup(self, d, popup, label):
        r = popup["rect"]
        self.s.screenshot(label, {"left": r["left"] - 20, "top": r["top"] - 20,
                                  "right": r["right"] + 20, "bottom": r["bottom"] + 20})

    def tray_menu(self, d, label):
        """Right-clicks the tray icon; the File menu's items as the pop-up shows them."""
        d("tray-rclick", APP_TITLE)
        popup = d("wait-popup", 10000)
        items = d("popup-items")
        self.shot_popup(d, popup, label)
        items = [i for i in items if not i["separator"]]
        equal([(i["id"], i["text"]) for i in items], FILE_MENU, "the pop-up is the File menu")
        for i in items:  # an unavailable item is drawn grayed, not just refused
            equal(i["grayed"], not i["enabled"], f"grayed state of {i['text']}")
        return [i["enabled"] for i in items]

    def monitoring_popup_states(self):
        _, d = self.launch(ini_bytes(settings(AutoStart="1")))
        self.main_window(d)
        d("wait-visible", 10000)
        self.status_moment(d, STARTED)
        equal(self.buttons(d), (False, True), "start/stop buttons while monitoring")
        d("minimize")
        self.settle_in_tray(d)
        self.s.screenshot("monitoring-in-tray")
        states = self.tray_menu(d, "popup-monitoring")
        equal(states, [False, True, True],
              "enabled items (スタート, ストップ, 終了) of the pop-up while monitoring")
        d("popup-key", "escape")
        d("wait-no-popup", 5000)
        check(d("running"), "Escape on the pop-up ends the program")
        equal(d("visible"), False, "Escape on the pop-up shows the window")

        d("tray-dblclick", APP_TITLE)
        d("wait-visible", 10000)
        d("wait-no-tray", APP_TITLE, 5000)
        d("click", IDC["CMDSTOP"])
        self.status_moment(d, STOPPED)
        equal(self.buttons(d), (True, False), "start/stop buttons after stopping")
        self.shot_main(d, "stopped")
        d("minimize")
        self.settle_in_tray(d)
        states = self.tray_menu(d, "popup-stopped")
        equal(states, [True, False, True],
              "enabled items (スタート, ストップ, 終了) of the pop-up after stopping")
        d("popup-key", "escape")
        d("wait-no-popup", 5000)
        check(d("running"), "the program runs on after the second pop-up")

    def start_stop_buttons(self):
        folder, d = self.launch(ini_bytes(settings()))
        self.main_window(d)
        d("wait-visible", 10000)
        equal(self.buttons(d), (True, False), "start/stop buttons after a normal start")
        start_up = parse_stamp(d("text", IDC["TXTSTARTDATETIME"]))
        self.shot_main(d, "before-start")

        before = dt.datetime.now()
        d("click", IDC["CMDSTART"])
        started = self.status_moment(d, STARTED)
        after = dt.datetime.now()
        check(within(started, before, after),
              f"稼動開始 at {started} is not the moment of clicking ({before:%H:%M:%S}..{after:%H:%M:%S})")
        equal(self.buttons(d), (False, True), "start/stop buttons while monitoring")
        self.shot_main(d, "started")

        # Stopping in a later second than start-up tells the stop's stamp
        # from the one start-up wrote.
        while dt.datetime.now().replace(microsecond=0) <= start_up:
            time.sleep(0.05)
        before = dt.datetime.now()
        d("click", IDC["CMDSTOP"])
        stopped = self.status_moment(d, STOPPED)
        after = dt.datetime.now()
        check(within(stopped, before, after),
              f"稼動停止 at {stopped} is not the moment of clicking ({before:%H:%M:%S}..{after:%H:%M:%S})")
        equal(self.buttons(d), (True, False), "start/stop buttons after stopping")
        self.shot_main(d, "stopped")
        stamp = f"{stopped:%Y/%m/%d %H:%M:%S}"
        equal(d("text", IDC["TXTSTARTDATETIME"]), stamp, "txtStartDateTime after stopping")
        stored = read_ini((folder / "zkQuorvane.ini").read_bytes())
        equal(f"{stored.get('datestamp')} {stored.get('timestamp')}", stamp,
              "the stamp in the settings file after stopping")

    def help_without_help_file(self):
        folder, d = self.launch(ini_bytes(settings()))
        w = self.main_window(d)
        d("wait-visible", 10000)
        check(not (folder / "zkQuorvane.hlp").exists(), "the program folder has no help file")
        d("menu", IDM_HELP0)
        box = d("wait-msgbox", 10000)
        self.s.screenshot("no-help-file", box["rect"])
        equal(box["pid"], w["pid"], "the message box belongs to the program")
        equal(box["caption"], APP_TITLE, "caption")
        equal(box["text"], NO_HELP_FILE + "\r\n" + win_path(folder) + "\\zkQuorvane.hlp", "text")
        equal(box["icon"], "exclamation", "icon")
        equal([b["text"] for b in box["buttons"]], ["OK"], "buttons")
        d("msgbox-press")
        d("click", IDC["CMDSTART"])
        self.status_moment(d, STARTED)
        equal(self.buttons(d), (False, True), "start/stop buttons after starting")
        self.shot_main(d, "after-help")

    def exit_from_file_menu(self):
        _, d = self.launch(ini_bytes(settings()))
        self.main_window(d)
        d("wait-visible", 10000)
        d("menu", IDM_FILE2)
        self.expect_exit(d, "ファイル > 終了(&X)")

    def exit_from_close_box(self):
        _, d = self.launch(ini_bytes(settings()))
        self.main_window(d)
        d("wait-visible", 10000)
        d("close")
        self.expect_exit(d, "the close box")

    def exit_button(self):
        _, d = self.launch(ini_bytes(settings()))
        self.main_window(d)
        d("wait-visible", 10000)
        equal(d("text", IDC["CMDEXIT"]), "終了(&X)", "caption of cmdExit")
        d("click", IDC["CMDEXIT"])
        self.expect_exit(d, "the 終了(&X) button")


TEST_NAMES = [n for n in vars(Tests) if not n.startswith("_") and n not in
              ("launch", "main_window", "shot_main", "expect_exit", "no_main_window", "tips",
               "answer_boxes", "settle_in_tray", "wait_status", "start_cycling", "local_now",
               "next_second", "stamp", "tick", "wait_status_change", "alert_text", "check_mail",
               "status_moment", "buttons", "shot_popup", "tray_menu")]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--exe", type=Path)
    parser.add_argument("--driver", type=Path, required=True)
    parser.add_argument("--fixture", type=Path)
    parser.add_argument("--work", type=Path, default=Path("build/e2e-work"))
    parser.add_argument("--prefix", type=Path, default=Path("build/e2e-wineprefix"))
    parser.add_argument("--screenshots", type=Path, default=Path("build/screenshots"))
    parser.add_argument("--displays", default=os.environ.get("ZKQ_E2E_DISPLAYS"),
                        help="X displays to use, N or N-M (default: ZKQ_E2E_DISPLAYS, else the "
                             "one after ZKQ_DISPLAY, else 88-99)")
    parser.add_argument("--tz", help="the time zone the program runs in (a TZ name such as UTC "
                                     "or Asia/Tokyo; default: the machine's)")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("tests", nargs="*", help="tests to run (default: all): " + ", ".join(TEST_NAMES))
    args = parser.parse_args()
    names = args.tests or TEST_NAMES
    try:
        displays = display_numbers(args.displays, os.environ.get("ZKQ_DISPLAY"))
    except HarnessError as e:
        parser.error(str(e))
    for n in names:
        if n not in TEST_NAMES:
            parser.error(f"unknown test {n}")
    for a in ("exe", "driver", "fixture", "work", "prefix", "screenshots"):
        if getattr(args, a) is not None:
            setattr(args, a, getattr(args, a).resolve())

    passed = failed = 0
    for name in names:
        needs = "fixture" if name.startswith("driver_") else "exe"
        if getattr(args, needs) is None:
            print(f"FAIL {name}: --{needs} not given")
            failed += 1
            continue
        lines: list[str] = []
        log = (print if args.verbose else lines.append)
        session = None
        try:
            session = Session(name, work=args.work, prefix=args.prefix, driver_exe=args.driver,
                              screenshots=args.screenshots, displays=displays, tz=args.tz, log=log)
            getattr(Tests(args, session), name)()
            print(f"PASS {name}")
            passed += 1
        except Exception as e:  # every failure is reported, then the next test runs
            failed += 1
            print(f"FAIL {name}: {e}")
            if not args.verbose:
                print("\n".join(lines[-40:]))
            if not isinstance(e, HarnessError):
                traceback.print_exc()
            if session is not None:
                try:
                    session.screenshot("at-failure")
                except Exception:
                    pass
        finally:
            if session is not None:
                session.stop()
    print(f"e2e: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
