#!/usr/bin/python3
"""End to end: the alert says what happened. Sources registered in Wine's
registry with the test message modules (the event message file a list whose
first module is missing, behind %SystemRoot%; a parameter file for %%n) give
each alerted record its message lines under the record's line; a source
whose message file is missing gives the record's strings; no box is shown.
zkq.exe check over the same logs prints the same alert text.

    event_messages_e2e.py --exe zkQuorvane.exe --zkq zkq.exe --modules DIR --driver zkq_e2e_driver.exe
"""
from __future__ import annotations

import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import APP_TITLE, MAIN_CLASS, WINE, HarnessError, Session, ini_bytes, run_single, win_path  # noqa: E402
from make_evt import ERROR, evt_file, record, empty_logs  # noqa: E402
from outbox_e2e import wait_status  # noqa: E402
from run_e2e import SEND_OK, STARTED, Tests, check, equal, settings  # noqa: E402
from smtp_servers import Inbox, decoded, free_port  # noqa: E402

RULES = "System;対象;エラー;*;*;*\r\n".encode("cp932")
MODULES = ("zkq_test_messages.dll", "zkq_test_parameters.dll")
WITH_MODULE, WITHOUT_MODULE = "zkqE2eMessages", "zkqE2eNoModule"
VALUES = {
    WITH_MODULE: {
        "EventMessageFile": r"%SystemRoot%\zkq_e2e_not_installed.dll;%SystemRoot%\zkq_test_messages.dll",
        "ParameterMessageFile": r"%SystemRoot%\zkq_test_parameters.dll",
    },
    WITHOUT_MODULE: {"EventMessageFile": r"%SystemRoot%\zkq_e2e_not_installed.dll"},
}


def event_messages(s: Session, args) -> None:
    windows = s.prefix / "drive_c" / "windows"
    inbox = Inbox(port=free_port(), lifetime=200)
    try:
        for module in MODULES:
            shutil.copy2(args.modules / module, windows / module)
        s.register_event_sources("System", VALUES)
        ini = settings(Interval="1", AutoStart="1", EventLogDir="logs", SmtpPort=str(inbox.port))
        folder = s.program_folder(args.exe, ini_bytes(ini), RULES)
        empty_logs(folder / "logs")
        d = s.start(folder / args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        status = wait_status(d, STARTED, 0, timeout=10)

        written = int(time.time())
        (folder / "logs" / "System.evt").write_bytes(evt_file([
            record(1, written, 0x40001B7C, ERROR, WITH_MODULE, "E2E-PC", ["Print Spooler", "stopped"]),
            record(2, written, 0xC0001B58, ERROR, WITH_MODULE, "E2E-PC", ["Demo Service", "%%5001"]),
            record(3, written, 0x80001C20, ERROR, WITH_MODULE, "E2E-PC", ["Disk Monitor", "C:"]),
            record(4, written, 0xC0000064, ERROR, WITHOUT_MODULE, "E2E-PC", ["a", "b"]),
            record(5, written, 0xC0000065, ERROR, WITHOUT_MODULE, "E2E-PC", []),
        ], oldest=1))
        Tests.next_second(written)
        d("tick", 20000)
        wait_status(d, SEND_OK, 0, status, timeout=60)
        try:
            box = d("wait-msgbox", 0)
        except HarnessError:
            box = None
        equal(box, None, "a message box during the cycle")
        check(inbox.wait(1, 10), "the alert did not arrive")
        body = decoded(inbox.mails[0][2])["body"]
        s.log("the alert:\n" + body)
        lines = body.split("\r\n")

        def under(source: str, shown_id: int) -> list[str]:
            """The indented lines under the record's line."""
            at = [i for i, line in enumerate(lines) if f" {source} なし {shown_id} " in line]
            equal(len(at), 1, f"lines of {source} {shown_id} in {body!r}")
            block = []
            for line in lines[at[0] + 1:]:
                if not line.startswith("    "):
                    break
                block.append(line)
            return block

        equal(under(WITH_MODULE, 7036), ["    The Print Spooler service entered the stopped state."],
              "the message of a module found behind a missing one")
        failed = under(WITH_MODULE, 7000)
        check(failed[0].startswith("    The Demo Service service failed to start") and
              "    The test device is not ready." in failed and "%%" not in "".join(failed),
              f"the %%n parameter from the parameter file: {failed!r}")
        report = under(WITH_MODULE, 7200)
        check(len(report) == 10 and report[0] == "    Report of Disk Monitor, line 1" and
              report[-1].endswith("…") and not any("line 12" in line for line in report),
              f"a long message cut to 10 lines: {report!r}")
        equal(under(WITHOUT_MODULE, 100), ["    a / b"], "the strings of a source without a module")
        equal(under(WITHOUT_MODULE, 101), [], "a record with neither message nor strings")

        printed = subprocess.run(
            [WINE, str(args.zkq), "check", "--rules", win_path(folder / "rules.txt"),
             "--dir", win_path(folder / "logs")],
            env=s.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        equal(printed.returncode, 0, f"zkq check's exit status ({printed.stderr!r})")
        equal(printed.stdout.decode("utf-8").rstrip("\r\n"), body.rstrip("\r\n"),
              "zkq check against the mailed alert")
    finally:
        inbox.stop()
        for module in MODULES:
            (windows / module).unlink(missing_ok=True)
        try:
            s.register_event_sources("System", VALUES, remove=True)
        except (OSError, subprocess.SubprocessError):
            pass


def main() -> int:
    return run_single("event_messages", __doc__, ("exe", "zkq", "modules", "driver"),
                      lambda args, session: (lambda: event_messages(session, args), None))


if __name__ == "__main__":
    sys.exit(main())
