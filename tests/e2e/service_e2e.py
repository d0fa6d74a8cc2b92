#!/usr/bin/python3
"""End to end: zkQuorvane.exe registered with Wine's service manager, run by
it, paused, continued and stopped, and removed again.

    service_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe --probe zkq_e2e_service_probe.exe

An automatic-start service would start with every wineserver of the prefix,
so the service is deleted whatever happens.
"""
from __future__ import annotations

import contextlib
import json
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (APP_TITLE, MAIN_CLASS, WINE, HarnessError, Session, run_single,  # noqa: E402
                     ini_bytes, read_ini, win_path)

SERVICE = "zkQuorvane"
STOPPED, RUNNING, PAUSED = 1, 4, 7
OWN_PROCESS_INTERACTIVE = 0x10 | 0x100
AUTO_START = 2
IDM_FILE0, IDM_FILE1, IDM_SETTING0 = 2000, 2001, 2010  # start, stop, monitoring rules
INSTALLED = "zkQuorvaneはサービスとして登録されました！"
UNINSTALLED = "zkQuorvaneはサービスから削除されました！"
NOT_INSTALLED = "zkQuorvaneはサービスとして登録されませんでした！"
STARTED = "稼動開始。["
INFORMATION, WARNING = 4, 2  # event-log entry types
DESCRIPTION = "イベントログとサービスの状態を監視し、異常をメールで通知します。"
# Stop, pause and continue, shutdown, pre-shutdown.
ACCEPTED = 0x1 | 0x2 | 0x4 | 0x100
SERVICE_SPECIFIC_ERROR, STARTUP_FAILED = 1066, 1
RULES_FAILED = "監視ルールをロードできません！\r\n設定ファイルのフォーマットが間違っている可能性があります！"


def wait_for_box(d):
    """The message box that shows within 1.5 s, or None."""
    try:
        return d("wait-msgbox", 1500)
    except HarnessError:
        return None


def entries(record: Path, count: int, timeout: float = 10) -> list[str]:
    """The recorded entries, once there are count of them (or the time is up)."""
    deadline = time.monotonic() + timeout
    while True:
        lines = record.read_text(encoding="utf-8").splitlines() if record.exists() else []
        if len(lines) >= count or time.monotonic() > deadline:
            return lines
        time.sleep(0.05)


def equal(actual, expected, what: str) -> None:
    if actual != expected:
        raise HarnessError(f"{what}: expected {expected!r}, got {actual!r}")


class ServiceTest:
    def __init__(self, args, session: Session):
        self.args = args
        self.s = session

    def probe(self, *words, check=True):
        result = subprocess.run([WINE, str(self.args.probe), *words], env=self.s.env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        line = result.stdout.decode("utf-8", "replace").strip().splitlines()
        reply = json.loads(line[-1]) if line else {"ok": False, "error": "no answer"}
        self.s.log(f"  probe {' '.join(words)} -> {reply}")
        if check and not reply["ok"]:
            raise HarnessError(f"service_probe {' '.join(words)}: {reply}")
        return reply.get("value")

    def answer_box(self, d, text: str, icon: str, what: str, ends=True):
        box = d("wait-msgbox", 15000)
        equal(box["caption"], APP_TITLE, f"caption of the {what} message")
        equal(box["text"], text, f"the {what} message")
        equal(box["icon"], icon, f"icon of the {what} message")
        self.s.screenshot(f"{what}-message", box["rect"])
        d("msgbox-press")
        if ends:
            d("wait-exit", 10000)

    def remove_service(self):
        """Stops and deletes the service, whether or not the test got so far."""
        with contextlib.suppress(Exception):
            self.probe("control", SERVICE, "stop", check=False)
            self.probe("delete", SERVICE, check=False)

    def service_mode(self):
        values = {
            "SmtpServer": "127.0.0.1", "SmtpPort": "2525", "From": "monitor@example.jp",
            "To": "admin@example.jp", "Subject": "監視警告", "DateStamp": "2020/01/02",
            "TimeStamp": "03:04:05", "Rules": "missing.txt", "Interval": "5",
            "AutoStart": "0", "IconStart": "0", "ServiceStart": "0",
        }
        # No rules file: on the desktop its message would wait for OK.
        folder = self.s.program_folder(self.args.exe, ini_bytes(values))
        exe = folder / self.args.exe.name
        self.remove_service()  # left over by an interrupted run

        # A folder everyone may write to is refused: its program would run as SYSTEM.
        folder.chmod(0o777)
        d = self.s.start(exe, "-install")
        self.answer_box(d, RULES_FAILED, "exclamation", "rules", ends=False)
        box = d("wait-msgbox", 15000)
        refused = f"{NOT_INSTALLED}\r\n{win_path(folder)} は Everyone が書き換えられるため"
        if not box["text"].startswith(refused):
            raise HarnessError(f"the refusal of a folder anyone may change: {box['text']!r}")
        self.s.screenshot("unsafe-folder-refused", box["rect"])
        d("msgbox-press")
        d("wait-exit", 10000)
        equal(self.probe("query", SERVICE), {"exists": False}, "the service after the refusal")
        folder.chmod(0o755)

        d = self.s.start(exe, "-install")
        self.answer_box(d, RULES_FAILED, "exclamation", "rules", ends=False)  # on the desktop
        self.answer_box(d, INSTALLED, "information", "install")
        # A registered service that never monitored would look like a quiet machine.
        equal(read_ini((folder / "zkQuorvane.ini").read_bytes()).get("servicestart"), "1",
              "ServiceStart after -install")
        values["ServiceStart"] = "1"
        config = self.probe("query", SERVICE)
        equal(config["exists"], True, "the service after -install")
        equal(config["type"], OWN_PROCESS_INTERACTIVE, "service type")
        equal(config["start"], AUTO_START, "start type")
        equal(config["path"], f'"{win_path(exe)}"', "the service's command")
        equal(config["display"], SERVICE, "display name")
        equal(config["description"], DESCRIPTION, "description")
        equal(config["state"], STOPPED, "state before the start")

        # Started by the manager: ServiceStart=1, as -install left it, minimises it and
        # starts monitoring.
        self.probe("start", SERVICE)
        self.probe("wait", SERVICE, str(RUNNING), "20000")
        pid = d("wait-process", exe.name, 20000)
        running = self.probe("query", SERVICE)
        equal(running["pid"], int(pid), "the service's process")
        equal(running["accepted"], ACCEPTED, "the controls the running service accepts")
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-tray", APP_TITLE, 10000)
        d("wait-hidden", 10000)
        status = d("status")["text"]
        if not status.startswith(STARTED):
            raise HarnessError(f"monitoring is not running: the status line shows {status!r}")
        equal(d("enabled", 1001), False, "cmdStart while monitoring")  # IDC_CMDSTART
        # The rules message went to the event log: no box waits on a desktop nobody sees.
        equal(wait_for_box(d), None, "a message box of the service")

        # The entries as the program hands them to ReportEventW, recorded in its process.
        recorder = Path(shutil.copy(self.args.recorder, folder))
        record = recorder.with_suffix(".jsonl")
        self.probe("inject", str(pid), win_path(recorder))
        for control, state, entry in (
                ("pause", PAUSED, {"type": INFORMATION, "category": 1, "event": 109,
                                   "strings": ["Service paused"]}),
                ("continue", RUNNING, {"type": INFORMATION, "category": 4, "event": 110,
                                       "strings": ["Service continued"]})):
            self.probe("control", SERVICE, control)
            self.probe("wait", SERVICE, str(state), "10000")
            lines = entries(record, 1 if control == "pause" else 2)
            equal(json.loads(lines[-1]) if lines else None, entry, f"the event-log entry of {control}")
        equal(d("status")["text"], status, "the status line after pause and continue")

        # A box shown while running as a service becomes an entry, and nothing waits
        # for OK: the rules editor (opened while monitoring is stopped) finds the
        # rules file missing, and so does the reload after it has closed.
        rules_entry = {"type": WARNING, "category": 0, "event": 100, "strings": [RULES_FAILED]}
        d("menu", IDM_FILE1)
        d("menu", IDM_SETTING0)
        lines = entries(record, 3)
        equal(json.loads(lines[-1]), rules_entry, "the entry of the rules editor's message")
        d("wait-window", "#32770", f'"監視ルールの設定 - {APP_TITLE}"', 10000)
        d("wait-visible", 10000)  # a dialog shows once its controls are made
        d("close")
        d("wait-gone", 10000)
        lines = entries(record, 4)
        equal(json.loads(lines[-1]), rules_entry, "the entry of the reloaded rules' message")
        # The editor is a dialog itself: boxes are looked for once it has gone.
        equal(wait_for_box(d), None, "a message box of the rules editor or the reload")
        d("wait-window", MAIN_CLASS, APP_TITLE, 10000)
        d("menu", IDM_FILE0)

        began = time.monotonic()
        self.probe("control", SERVICE, "stop")
        self.probe("wait", SERVICE, str(STOPPED), "10000")
        d("wait-gone", 10000)
        if time.monotonic() - began > 8:
            raise HarnessError("the stop took more than a few seconds")
        stopped = self.probe("query", SERVICE)
        equal((stopped["pid"], stopped["exit"]), (0, 0), "the service's process and exit code after the stop")

        # A start that fails (an Interval that is no number) ends the service at
        # once with its own exit code, not with the controller's time-out.
        ini = folder / "zkQuorvane.ini"
        good = ini.read_bytes()
        ini.write_bytes(ini_bytes({**values, "Interval": "abc"}))
        began = time.monotonic()
        self.probe("start", SERVICE, check=False)
        self.probe("wait", SERVICE, str(STOPPED), "20000")
        failed = self.probe("query", SERVICE)
        equal((failed["state"], failed["exit"], failed["specific_exit"]),
              (STOPPED, SERVICE_SPECIFIC_ERROR, STARTUP_FAILED), "the service after a failed start")
        if time.monotonic() - began > 10:
            raise HarnessError("the failed start took more than a few seconds")
        ini.write_bytes(good)

        d = self.s.start(exe, "-uninstall")
        self.answer_box(d, RULES_FAILED, "exclamation", "rules", ends=False)
        self.answer_box(d, UNINSTALLED, "information", "uninstall")
        equal(self.probe("query", SERVICE), {"exists": False}, "the service after -uninstall")


def main() -> int:
    def make(args, session):
        test = ServiceTest(args, session)
        return test.service_mode, test.remove_service
    return run_single("service_mode", __doc__, ("exe", "driver", "probe", "recorder"), make)

if __name__ == "__main__":
    sys.exit(main())
