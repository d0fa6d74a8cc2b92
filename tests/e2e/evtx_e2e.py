#!/usr/bin/python3
"""End to end: the real program with EventLogDir holding a System.evtx, a
real Windows log of the shared samples. The first cycle sets its bookmark; the
log then grows by the records of its last chunk, and the next cycle mails the
errors among them, each once with its strings, exactly those that evtxexport
reads as level 1 or 2 there; a third cycle finds nothing new.

    evtx_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe --samples DIR
"""
from __future__ import annotations

import re
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import APP_TITLE, MAIN_CLASS, Session, ini_bytes, run_single  # noqa: E402
from outbox_e2e import wait_status  # noqa: E402
from run_e2e import NO_FINDINGS, SEND_OK, STARTED, check, equal, settings  # noqa: E402
from smtp_servers import Inbox, decoded, free_port  # noqa: E402

RULES = "System;対象;エラー;*;*;*\r\n".encode("cp932")
HEADER, CHUNK = 4096, 65536
NS = "{http://schemas.microsoft.com/win/2004/08/events/event}"


def independent_errors(path: Path, after: int) -> list[tuple[int, str, list[str]]]:
    """(record ID, event ID, EventData values) of the errors after a record
    ID, as evtxexport reads them."""
    import xml.etree.ElementTree as ET
    out = subprocess.run(["evtxexport", "-f", "xml", str(path)], capture_output=True).stdout
    text = re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f]", "?", out.decode("utf-8", "replace"))
    errors = []
    for doc in re.split(r"(?=<Event[ >])", text):
        if not doc.strip().startswith("<Event"):
            continue
        event = ET.fromstring(doc.strip())
        system = event.find(NS + "System")
        number = int(system.findtext(NS + "EventRecordID"))
        if number > after and system.findtext(NS + "Level") in ("1", "2"):
            data = [d.text or "" for d in event.iter(NS + "Data")]
            errors.append((number, system.findtext(NS + "EventID"), data))
    return sorted(errors, reverse=True)


def evtx(s: Session, args) -> None:
    sample = (Path(args.samples) / "system.evtx").read_bytes()
    grown = sample[:HEADER + 15 * CHUNK]
    first = grown[:HEADER + 14 * CHUNK]  # the log before its newest chunk
    inbox = Inbox(port=free_port(), lifetime=200)
    try:
        ini = settings(Interval="1", AutoStart="1", EventLogDir="logs", SmtpPort=str(inbox.port))
        folder = s.program_folder(args.exe, ini_bytes(ini), RULES)
        logs = folder / "logs"
        logs.mkdir()
        (logs / "System.evtx").write_bytes(first)
        # An .evt beside it is not read: the .evtx is today's log.
        (logs / "System.evt").write_bytes(b"not read")

        d = s.start(folder / args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        status = wait_status(d, STARTED, 0, timeout=10)

        def cycle(prefix: str, before: str) -> str:
            time.sleep(1.1)  # the status line counts whole seconds
            d("tick", 20000)
            return wait_status(d, prefix, 0, before)

        # The log's records are older than the start: the first cycle only
        # sets the bookmark.
        status = cycle(NO_FINDINGS, status)
        check(not inbox.wait(1, 1), "the first cycle mailed old records")

        (logs / "System.evtx").write_bytes(grown)
        wanted = independent_errors(logs / "System.evtx", 1828)
        check(len(wanted) >= 5, f"errors in the grown chunk: {wanted!r}")
        status = cycle(SEND_OK, status)
        check(inbox.wait(1, 10), "the new errors were not mailed")
        body = decoded(inbox.mails[0][2])["body"]
        lines = body.split("\r\n")
        rows = [line for line in lines if line.startswith("エラー")]
        # type, date, time, source (it may hold blanks), "なし", event ID, user, computer
        equal([re.search(r" なし (\d+) ", line).group(1) for line in rows],
              [event_id for _, event_id, _ in wanted],
              "event IDs of the alerted errors, newest first")
        # Under each error its strings, as the record holds them.
        for line, (_, _, data) in zip(rows, wanted):
            detail = lines[lines.index(line) + 1]
            check(detail.startswith("    ") and all(d in detail for d in data if d),
                  f"strings {data!r} under {line!r}: {detail!r}")
        check("DESKTOP-2KGM189" in rows[0] and "Service Control Manager" in rows[0],
              f"the newest error's line: {rows[0]!r}")

        status = cycle(NO_FINDINGS, status)
        check(not inbox.wait(2, 2), "an error was mailed twice")
        equal(len(inbox.mails), 1, "mails")
        d("kill")
    finally:
        inbox.stop()


def main() -> int:
    return run_single("evtx", __doc__, ("exe", "driver", "samples"),
                      lambda args, session: (lambda: evtx(session, args), None))


if __name__ == "__main__":
    sys.exit(main())
