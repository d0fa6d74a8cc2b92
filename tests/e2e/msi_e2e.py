#!/usr/bin/python3
"""End to end: the installer as an administrator deploys it. The MSI is made
from the built executables and installed silently by Wine's msiexec with the
mail properties: the program lands in Program Files, its first settings in
ProgramData, the service is registered and started and mails the alert of a
cycle, and its event-log entries read as their sentences from the registered
message file; a major upgrade keeps the settings; the removal takes the service, the
event source and the binaries, and leaves the state folder.

    msi_e2e.py --exe zkQuorvane.exe --zkq zkq.exe --version-header app_version.h \
        --driver zkq_e2e_driver.exe --probe zkq_e2e_service_probe.exe \
        --recorder zkq_e2e_event_recorder.dll
"""
from __future__ import annotations

import contextlib
import json
import shutil
import subprocess
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
sys.path.insert(0, str(here))
sys.path.insert(0, str(here.parent.parent / "packaging"))
from harness import (APP_TITLE, MAIN_CLASS, WINE, HarnessError, Session, read_ini,  # noqa: E402
                     run_single, win_path)
from service_e2e import (IDM_FILE0, IDM_FILE1, IDM_SETTING0, RULES_FAILED, RUNNING,  # noqa: E402
                         STOPPED, ServiceTest, entries, equal)
from smtp_servers import Inbox, decoded  # noqa: E402
import make_msi  # noqa: E402
import make_zip  # noqa: E402

SERVICE = "zkQuorvane"
SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\zkQuorvane"


class MsiTest(ServiceTest):
    def __init__(self, args, session: Session):
        super().__init__(args, session)
        drive = session.prefix / "drive_c"
        self.program = drive / "Program Files" / "zkQuorvane"
        self.state = drive / "ProgramData" / "zkQuorvane"
        self.installers: list[Path] = []

    def msiexec(self, *words, check=True, exits=(0,)) -> None:
        run = subprocess.run([WINE, "msiexec", *words], env=self.s.env, stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=180)
        self.s.log(f"  msiexec {' '.join(words)} -> {run.returncode}")
        if check and run.returncode not in exits:
            raise HarnessError(f"msiexec {words[0]} ended with {run.returncode}, not {exits}")

    def source_registered(self) -> str | None:
        run = subprocess.run([WINE, "reg", "query", SOURCE_KEY, "/v", "EventMessageFile"],
                             env=self.s.env, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=60)
        text = run.stdout.decode("utf-8", "replace")
        return next((line.split(None, 2)[2].strip() for line in text.splitlines()
                     if "EventMessageFile" in line), None)

    def entry_reads_as_its_sentence(self, d, pid, message_file: str) -> None:
        """An entry the service writes, read back from the registered message
        file as Event Viewer reads it. The entries are recorded in the service's
        process (Wine's event log keeps none): a rules file gone missing makes
        the rules editor's message one."""
        recorder = Path(shutil.copy(self.args.recorder, self.s.work / "msi-recorder.dll"))
        record = recorder.with_suffix(".jsonl")
        record.unlink(missing_ok=True)
        self.probe("inject", str(pid), win_path(recorder))
        rules = self.state / "rules.txt"
        kept = rules.read_bytes()
        rules.unlink()
        d("menu", IDM_FILE1)
        d("menu", IDM_SETTING0)
        lines = entries(record, 1)
        entry = json.loads(lines[-1]) if lines else {}
        equal((entry.get("event"), entry.get("strings")), (100, [RULES_FAILED]),
              "the entry of the rules message")
        d("wait-window", "#32770", f'"監視ルールの設定 - {APP_TITLE}"', 10000)
        d("wait-visible", 10000)
        d("close")
        d("wait-gone", 10000)
        rules.write_bytes(kept)
        d("wait-window", MAIN_CLASS, APP_TITLE, 10000)
        d("menu", IDM_FILE0)
        # Each message of the table ends with its own line end.
        equal(self.probe("message", message_file, str(entry["event"]), entry["strings"][0]),
              RULES_FAILED + "\r\n", "the entry as the registered message file gives it")

    def stop_service(self, d) -> None:
        """Wine's msiexec asks the service to stop but does not wait until it
        has (Windows Installer does): its executable would still be in use when
        the files are replaced or removed. So the test waits, as Windows would."""
        self.probe("control", SERVICE, "stop")
        self.probe("wait", SERVICE, str(STOPPED), "20000")
        d("wait-gone", 10000)

    def clean(self) -> None:
        """Nothing of an earlier run, and nothing left for the other tests: an
        installed product that stays registered would keep its components."""
        for msi in self.installers:
            self.msiexec("/x", str(msi), "/qn", check=False)
        self.remove_service()
        for folder in (self.program, self.state):
            shutil.rmtree(folder, ignore_errors=True)

    def run(self) -> None:
        version = make_zip.version_of(self.args.version_header)
        dist = self.s.work / "msi-dist"
        shutil.rmtree(dist, ignore_errors=True)
        first = make_msi.make_msi(self.args.exe, self.args.zkq, version, dist / "first")
        equal(first.name, f"zkQuorvane-{version}-x64.msi", "the installer's name")
        major, minor, patch = (int(n) for n in version.split("."))
        newer = make_msi.make_msi(self.args.exe, self.args.zkq, f"{major}.{minor}.{patch + 1}",
                                  dist / "newer")
        self.installers = [first, newer]
        tables = subprocess.run(["msiinfo", "tables", str(first)], capture_output=True, text=True,
                                check=True).stdout.split()
        for table in ("ServiceInstall", "ServiceControl", "CustomAction", "Upgrade"):
            if table not in tables:
                raise HarnessError(f"the installer has no {table} table")
        for table, needed in (("Directory", "ProgramFiles64Folder\tzkQuorvane"),
                              ("ServiceInstall", "\tzkQuorvane\tzkQuorvane\t")):
            exported = subprocess.run(["msiinfo", "export", str(first), table], capture_output=True,
                                      text=True, check=True).stdout
            if needed not in exported:
                raise HarnessError(f"the installer's {table} table lacks {needed!r}: {exported!r}")
        self.clean()
        # The driver keeps the Wine server up from here on: the service the
        # installer starts then stays the one process it is.
        d = self.s.open_driver()

        inbox = Inbox()
        try:
            self.msiexec("/i", str(first), "/qn", "SMTPSERVER=127.0.0.1", f"SMTPPORT={inbox.port}",
                         "MAILTO=a@example.jp")
            for name in ("zkQuorvane.exe", "zkq.exe"):
                if not (self.program / name).is_file():
                    raise HarnessError(f"{name} is not in Program Files\\zkQuorvane")
            ini = read_ini((self.state / "zkQuorvane.ini").read_bytes())
            equal({k: ini.get(k) for k in ("smtpserver", "smtpport", "to", "from", "servicestart")},
                  {"smtpserver": "127.0.0.1", "smtpport": str(inbox.port), "to": "a@example.jp",
                   "from": "zkquorvane@example.jp", "servicestart": "1"},
                  "the first settings")
            if not (self.state / "rules.txt").is_file():
                raise HarnessError("no rules.txt in the state folder")
            exe = r"C:\Program Files\zkQuorvane\zkQuorvane.exe"
            equal(self.source_registered(), exe, "the event source's message file")
            config = self.probe("query", SERVICE)
            equal((config["exists"], config["path"].strip('"')), (True, exe), "the service")

            # Started by the installer; once running it says what the tables could not.
            self.probe("wait", SERVICE, str(RUNNING), "20000")
            running = self.probe("query", SERVICE)
            equal(running["description"], "イベントログとサービスの状態を監視し、異常をメールで通知します。",
                  "the service's description once it has run")
            pid = d("wait-process", "zkQuorvane.exe", 20000)
            d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
            for _ in range(5):  # Interval=5: the fifth tick is a cycle
                d("tick", 20000)
            # Wine's service manager reports Schedule stopped: the default rules alert it.
            if not inbox.wait(1, 60):
                raise HarnessError(f"no alert mail from the installed service: {d('status')}")
            mail = decoded(inbox.mails[0][2])
            self.s.log(f"  mail subject {mail['subject']!r}")
            equal(inbox.mails[0][1], ["a@example.jp"], "the alert's recipients")
            written = (self.state / "zkQuorvane.ini").read_bytes()
            if b"DateStamp=\r\n" in written:
                raise HarnessError("the cycle kept no stamp in the state folder")
        finally:
            inbox.stop()
        self.entry_reads_as_its_sentence(d, pid, exe)

        # A major upgrade: the newer binaries, the same settings.
        self.stop_service(d)
        self.msiexec("/i", str(newer), "/qn", "SMTPSERVER=other.example.jp", "MAILTO=b@example.jp")
        ini = read_ini((self.state / "zkQuorvane.ini").read_bytes())
        equal((ini.get("smtpserver"), ini.get("to")), ("127.0.0.1", "a@example.jp"),
              "the settings after the upgrade")
        equal(self.probe("query", SERVICE)["exists"], True, "the service after the upgrade")
        if not (self.program / "zkQuorvane.exe").is_file():
            raise HarnessError("no zkQuorvane.exe after the upgrade")

        self.probe("wait", SERVICE, str(RUNNING), "20000")
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        self.stop_service(d)
        self.msiexec("/x", str(newer), "/qn")
        equal(self.probe("query", SERVICE), {"exists": False}, "the service after the removal")
        left = sorted(p.name for p in self.program.iterdir()) if self.program.exists() else []
        equal(left, [], "what the removal left in Program Files\\zkQuorvane")
        equal(self.source_registered(), None, "the event source after the removal")
        equal(read_ini((self.state / "zkQuorvane.ini").read_bytes()).get("smtpserver"), "127.0.0.1",
              "the settings kept after the removal")


def main() -> int:
    def make(args, session):
        test = MsiTest(args, session)

        def cleanup():
            with contextlib.suppress(Exception):
                test.clean()
        return test.run, cleanup
    return run_single("msi", __doc__, ("exe", "zkq", "version-header", "driver", "probe", "recorder"),
                      make)


if __name__ == "__main__":
    sys.exit(main())
