#!/usr/bin/python3
"""End to end: one monitor per machine. A second zkQuorvane.exe, started while
the first is monitoring (from another folder as well as from the same one),
says that the program already runs and ends without touching the settings;
the first keeps monitoring.

    single_instance_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe
"""
from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import APP_TITLE, MAIN_CLASS, HarnessError, run_single, ini_bytes  # noqa: E402

ALREADY_RUNNING = "zkQuorvaneは既に起動しています！"
STARTED = "稼動開始。["
RULES = "Application;除外;情報;zkQuorvane;*;*\r\n".encode("cp932")


def equal(actual, expected, what: str) -> None:
    if actual != expected:
        raise HarnessError(f"{what}: expected {expected!r}, got {actual!r}")


def settings(**changes) -> bytes:
    values = {
        "SmtpServer": "127.0.0.1", "SmtpPort": "2525", "From": "monitor@example.jp",
        "To": "admin@example.jp", "Subject": "監視警告", "DateStamp": "2020/01/02",
        "TimeStamp": "03:04:05", "Rules": "rules.txt", "Interval": "5",
        "AutoStart": "1", "IconStart": "0", "ServiceStart": "0",
    }
    values.update(changes)
    return ini_bytes(values)


def make(args, s):
    def run():
        first = s.program_folder(args.exe, settings(), RULES)
        d = s.start(first / args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        status = d("status")["text"]
        if not status.startswith(STARTED):
            raise HarnessError(f"the first instance is not monitoring: {status!r}")

        other = s.program_folder(args.exe, settings(DateStamp="2021/02/03"), RULES)
        for folder, what in ((other, "another folder"), (first, "the same folder")):
            ini_before = (folder / "zkQuorvane.ini").read_bytes()
            d = s.start(folder / args.exe.name)
            box = d("wait-msgbox", 15000)
            equal(box["text"], ALREADY_RUNNING, f"the refusal of a second start from {what}")
            equal(box["caption"], APP_TITLE, "its caption")
            equal(box["icon"], "exclamation", "its icon")
            s.screenshot(f"refused-from-{'other' if folder == other else 'same'}-folder", box["rect"])
            d("msgbox-press")
            equal(d("wait-exit", 10000), 2, f"the exit code of the refused start from {what}")
            equal((folder / "zkQuorvane.ini").read_bytes(), ini_before,
                  f"the settings file after the refused start from {what}")

        # The first instance still runs and monitors.
        d("wait-process", args.exe.name, 5000)
        d("wait-window", MAIN_CLASS, APP_TITLE, 5000)
        equal(d("status")["text"], status, "the first instance's status line")
        equal(d("find-window", MAIN_CLASS, APP_TITLE)["visible"], True, "the first main window")
    return run, None


if __name__ == "__main__":
    sys.exit(run_single("single_instance", __doc__, ("exe", "driver"), make))
