#!/usr/bin/python3
"""End to end: no alert is lost. The SMTP server is down for two cycles and
the program is restarted in between: both alerts wait in outbox/, the status
line and the tray tip count them, a 451 reply to the data keeps them, and
when the server takes mail again both arrive once each, in order, each with
the Date of its composition.

    outbox_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe
"""
from __future__ import annotations

import email.utils
import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (APP_TITLE, MAIN_CLASS, HarnessError, Session, ini_bytes, quote_word,  # noqa: E402
                     run_single)
from make_evt import ERROR, evt_file, record, empty_logs  # noqa: E402
from run_e2e import NO_FINDINGS, SEND_FAILED, STARTED, check, equal, settings  # noqa: E402
from smtp_servers import Inbox, decoded, free_port  # noqa: E402

RULES = "System;対象;エラー;*;*;*\r\n".encode("cp932")
GREYLISTED = "451 4.7.1 Greylisted, try again later"


def waiting(count: int) -> str:
    return f" 未送信 {count} 件" if count else ""


def wait_status(d, prefix: str, kept: int, before: str = "", timeout: float = 60) -> str:
    """The status line once it is a new one that starts with prefix and counts kept mails."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            text = d("status")["text"]
        except HarnessError as e:
            # A program busy with a long cycle answers no message for a while.
            if "does not answer" not in str(e) or time.monotonic() > deadline:
                raise
            continue
        counted = re.search(r" 未送信 (\d+) 件$", text)
        if text != before and text.startswith(prefix) and (int(counted[1]) if counted else 0) == kept:
            return text
        if time.monotonic() > deadline:
            raise HarnessError(f"the status line shows {text!r}, not {prefix!r}…{waiting(kept)!r}")
        time.sleep(0.2)


def outbox(s: Session, args) -> None:
    port = free_port()  # nobody listens there yet: every connection is refused
    ini = settings(Interval="1", AutoStart="1", EventLogDir="logs", SmtpPort=str(port))
    folder = s.program_folder(args.exe, ini_bytes(ini), RULES)
    empty_logs(folder / "logs")
    kept_files = lambda: sorted(p.name for p in (folder / "outbox").glob("*.mail"))  # noqa: E731
    records = []

    def start():
        d = s.start(folder / args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        return d, wait_status(d, STARTED, len(kept_files()), timeout=10)

    def cycle(d, prefix: str, kept: int, before: str, new_record: str | None = None) -> str:
        written = int(time.time())
        if new_record is not None:
            # The alert names the record's source.
            records.append(record(len(records) + 1, written, 0xC0001B58, ERROR, new_record, "E2E-PC", []))
            (folder / "logs" / "System.evt").write_bytes(evt_file(records, oldest=1))
        # Record times and the status line count whole seconds.
        time.sleep(max(0.0, written + 1 - time.time()))
        d("tick", 20000)
        return wait_status(d, prefix, kept, before)

    d, status = start()
    status = cycle(d, SEND_FAILED, 1, status, "FirstAlert")
    equal(len(kept_files()), 1, "alerts on disk after the first failed cycle")

    restart = email.utils.localtime().replace(microsecond=0)
    d("kill")
    d, status = start()
    check(status.endswith(waiting(1)), f"the start-up status counts the kept alert: {status!r}")
    status = cycle(d, SEND_FAILED, 2, status, "SecondAlert")
    files = kept_files()
    equal(len(files), 2, "alerts on disk after the second failed cycle")
    d("minimize")
    d("wait-tray", quote_word(APP_TITLE + waiting(2)), 10000)
    s.screenshot("two-alerts-waiting")
    d("tray-dblclick", quote_word(APP_TITLE + waiting(2)))
    d("wait-visible", 10000)
    d("repaint")
    s.screenshot("status-two-alerts-waiting", d("rect"))

    inbox = Inbox(port=port, lifetime=200)
    try:
        inbox.refusal = GREYLISTED
        status = cycle(d, NO_FINDINGS, 2, status)
        # A refusal of one mail's data lets the next be tried; a second one ends the round.
        equal(len(inbox.refused), 2, "tries that met the 451: the oldest, the next, no other")
        equal(kept_files(), files, "the outbox after the 451")
        check("FirstAlert" in decoded(inbox.refused[0])["body"], "the oldest alert goes first")
        check("SecondAlert" in decoded(inbox.refused[1])["body"], "the next alert is tried")

        inbox.refusal = None
        status = cycle(d, NO_FINDINGS, 0, status)
        check(inbox.wait(2, 10), f"{len(inbox.mails)} of the two alerts arrived")
        bodies = [decoded(m)["body"] for _, _, m in inbox.mails]
        check("FirstAlert" in bodies[0] and "SecondAlert" not in bodies[0], f"first mail: {bodies[0]!r}")
        check("SecondAlert" in bodies[1] and "FirstAlert" not in bodies[1], f"second mail: {bodies[1]!r}")
        equal(inbox.mails[0][2], inbox.refused[0], "the first alert, as composed before the 451")
        dates = [email.utils.parsedate_to_datetime(decoded(m)["date"]) for _, _, m in inbox.mails]
        check(dates[0] <= restart <= dates[1], f"each alert has the Date of its composition: {dates}")
        equal(inbox.mails[0][:2], ("monitor@example.jp", ["admin@example.jp", "night@example.jp"]),
              "the envelope of the kept alert")
        equal(kept_files(), [], "the outbox once the server took both")

        cycle(d, NO_FINDINGS, 0, status)
        check(not inbox.wait(3, 3), "a third mail arrived: an alert went twice")
    finally:
        inbox.stop()


def main() -> int:
    return run_single("outbox", __doc__, ("exe", "driver"),
                      lambda args, session: (lambda: outbox(session, args), None))


if __name__ == "__main__":
    sys.exit(main())
