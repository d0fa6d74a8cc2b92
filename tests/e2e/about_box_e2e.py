#!/usr/bin/python3
"""End to end: the about box opened from the Help menu and closed by keyboard, its
texts, the system information button with and without the tool registered,
and the main window's cycle running while the box is up.

    about_box_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe --fixture zkq_e2e_fixture.exe --version 1.0.0
"""
from __future__ import annotations

import contextlib
import re
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from make_evt import empty_logs  # noqa: E402
from harness import (APP_TITLE, MAIN_CLASS, WINE, HarnessError, Session, run_single,  # noqa: E402
                     ini_bytes, win_path)

IDM_HELP3 = 2023
IDC_TITLE, IDC_VERSION, IDC_COPYRIGHT, IDC_MEMORY, IDC_SYSINFO = 702, 703, 704, 705, 708
IDOK = 1
CAPTION = "zkQuorvaneのﾊﾞｰｼﾞｮﾝ情報"
UNAVAILABLE = "現時点ではｼｽﾃﾑ情報を使用できません"
MEMORY = re.compile(r"^Windowsが使用できる物理ﾒﾓﾘ: [1-9]\d{0,2}(,\d{3})* KB$")
STARTED = "稼動開始。["
MSINFO_KEY = r"HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO"


def equal(actual, expected, what: str) -> None:
    if actual != expected:
        raise HarnessError(f"{what}: expected {expected!r}, got {actual!r}")


class AboutTest:
    def __init__(self, args, session: Session):
        self.args = args
        self.s = session

    def reg(self, *words):
        subprocess.run([WINE, "reg", *words], env=self.s.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=60, check=False)

    def open_box(self, d):
        d("wait-window", "#32770", CAPTION, 10000)
        d("wait-visible", 10000)  # a dialog shows once its controls are made

    def run(self):
        values = {
            "SmtpServer": "127.0.0.1", "SmtpPort": "2525", "From": "monitor@example.jp",
            "To": "admin@example.jp", "Subject": "監視警告", "DateStamp": "2020/01/02",
            "TimeStamp": "03:04:05", "Rules": "rules.txt", "Interval": "1", "AutoStart": "1",
            "IconStart": "0", "ServiceStart": "0", "EventLogDir": "logs",
        }
        rules = "System;対象;エラー;*;*;*\r\n".encode("cp932")
        folder = self.s.program_folder(self.args.exe, ini_bytes(values), rules)
        empty_logs(folder / "logs")
        self.reg("delete", MSINFO_KEY, "/f")
        d = self.s.start(folder / self.args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        deadline = time.monotonic() + 10
        while not (status := d("status")["text"]).startswith(STARTED):
            if time.monotonic() > deadline:
                raise HarnessError(f"monitoring did not start: {status!r}")
            time.sleep(0.2)

        # From the Help menu entry.
        d("menu", IDM_HELP3)
        self.open_box(d)
        equal(d("text", IDC_TITLE), APP_TITLE, "lblTitle")
        equal(d("text", IDC_VERSION), f"Version {self.args.version}", "lblVersion")
        equal(d("text", IDC_COPYRIGHT), "Copyright (C) 2026 zkQuorvane developers", "lblCopyright")
        memory = d("text", IDC_MEMORY)
        if not MEMORY.match(memory):
            raise HarnessError(f"the memory line: {memory!r}")
        equal(d("text", IDC_SYSINFO), "ｼｽﾃﾑ情報(&S)...", "cmdSysInfo")
        equal(d("focused"), IDOK, "the focus on OK")
        rect = d("rect")
        centre = ((rect["left"] + rect["right"]) // 2, (rect["top"] + rect["bottom"]) // 2)
        if abs(centre[0] - 512) > 2 or abs(centre[1] - 384) > 2:
            raise HarnessError(f"the box is not centred on the 1024x768 desktop: {rect}")
        d("repaint")
        self.s.screenshot("about-box", rect)

        # The main window's cycle runs while the box is open.
        d("wait-window", MAIN_CLASS, APP_TITLE, 5000)
        d("tick", 20000)
        after = d("status")["text"]
        if after.startswith(STARTED) or after == status:
            raise HarnessError(f"no cycle ran while the box was open: {after!r}")
        self.open_box(d)

        # No tool registered under Wine: the message, with only OK.
        d("key", "alt+s")  # the access key of cmdSysInfo
        box = d("wait-msgbox", 10000)
        equal(box["caption"], APP_TITLE, "caption of the message")
        equal(box["text"], UNAVAILABLE, "the message")
        equal(box["icon"], "none", "no icon on the message")
        equal([b["text"] for b in box["buttons"]], ["OK"], "only OK on the message")
        self.s.screenshot("about-unavailable", box["rect"])
        d("msgbox-press")
        self.open_box(d)

        # Esc closes; Enter on OK closes; the box opens again each time.
        for key in ("escape", "enter"):
            d("key", key)
            d("wait-gone", 5000)
            d("wait-window", MAIN_CLASS, APP_TITLE, 5000)
            d("menu", IDM_HELP3)
            self.open_box(d)

        # The tool registered: it starts, and the box does not wait for it.
        self.reg("add", MSINFO_KEY, "/v", "PATH", "/d", win_path(self.args.fixture), "/f")
        d("click", IDC_SYSINFO)
        deadline = time.monotonic() + 15
        while not d("find-window", "zkqE2eFixture", '"E2E 試験窓"')["visible"]:
            if time.monotonic() > deadline:
                raise HarnessError("the registered tool did not start")
            time.sleep(0.2)
        self.open_box(d)
        equal(d("text", IDC_TITLE), APP_TITLE, "the box answers while the tool runs")

        # The tool took the focus, as it should; OK's command closes the box.
        d("menu", IDOK)
        d("wait-gone", 5000)

    def cleanup(self):
        with contextlib.suppress(Exception):
            self.reg("delete", MSINFO_KEY, "/f")


def main() -> int:
    def make(args, session):
        test = AboutTest(args, session)
        return test.run, test.cleanup
    return run_single("about_box", __doc__, ("exe", "driver", "fixture"), make, texts=("version",))

if __name__ == "__main__":
    sys.exit(main())
