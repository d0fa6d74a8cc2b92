#!/usr/bin/python3
"""Runs zkQuorvane.exe from a prepared folder under Wine and follows it from
the terminal: prints the main window's status line whenever it changes and,
without a display of the user's, saves a screenshot of the window each time.
With --smtp-port it also runs the local SMTP server the program mails to and
prints every mail it receives, decoded (subject, sender, body), with a line
that says whether any of its records was in an earlier mail. With --grow-log
it writes that exported log (see make_evt.py) and appends an error record to
it every 20 to 40 seconds, as Windows would while the monitor runs.
Ctrl+C (or the program ending) stops everything that was started here.

    follow.py --exe FOLDER/zkQuorvane.exe --driver zkq_e2e_driver.exe --prefix PREFIX
              [--screenshots DIR] [--headless] [--smtp-port PORT] [--grow-log FOLDER/System.evt]
"""
from __future__ import annotations

import argparse
import datetime as dt
import os
import random
import shutil
import signal
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import APP_TITLE, MAIN_CLASS, HarnessError, Session  # noqa: E402
from make_evt import GrowingLog  # noqa: E402
from smtp_servers import Inbox, decoded  # noqa: E402

RECORD_TYPES = ("エラー", "警告", "情報", "成功の監査", "失敗の監査")


def print_mail(when: str, mail: tuple[str, list[str], bytes], seen: set[str]) -> None:
    """Prints one mail and says whether any record line of it was in an
    earlier one; seen gathers the record lines of the mails so far."""
    sender, recipients, message = mail
    parts = decoded(message)
    print(f"{when}  mail received for {', '.join(recipients)} (envelope from {sender})", flush=True)
    print(f"          Subject: {parts['subject']}", flush=True)
    print(f"          From:    {parts['from']}", flush=True)
    lines = parts["body"].splitlines()
    for line in lines or ["(empty body)"]:
        print(f"          | {line}", flush=True)
    records = [line for line in lines if line.startswith(RECORD_TYPES)]
    repeated = [line for line in records if line in seen]
    seen.update(records)
    if repeated:
        print(f"          REPEATED: {len(repeated)} of its {len(records)} records were in an "
              f"earlier mail", flush=True)
    else:
        print(f"          {len(records)} records, none of them in an earlier mail", flush=True)


class Appender:
    """Appends an error to the log every 20 to 40 seconds, whenever it falls:
    the monitor keeps the number of the newest record it examined, so a record
    written during a cycle is read by the next one, once."""

    def __init__(self, log: GrowingLog):
        self.log = log
        self.due = time.monotonic() + random.uniform(20, 40)

    def poll(self, stamp: str) -> None:
        now = time.monotonic()
        if now < self.due:
            return
        number, _ = self.log.append_error()
        print(f"{stamp}  System log: error record {number} appended", flush=True)
        self.due = now + random.uniform(20, 40)


def follow(session: Session, exe: Path, screenshots: bool, inbox: Inbox | None = None,
           appender: Appender | None = None) -> None:
    d = session.start(exe)
    shots = 0

    def stamp() -> str:
        return dt.datetime.now().strftime("%H:%M:%S")

    def report_boxes() -> None:
        try:
            box = d("wait-msgbox", 0)
        except HarnessError:
            return
        print(f"{stamp()}  message box: {box['text']!r} (answer it on the window)", flush=True)

    try:
        d("wait-window", MAIN_CLASS, APP_TITLE, 30000)
    except HarnessError:
        report_boxes()
        raise HarnessError("the main window did not open")
    # The window exists before its controls: wait until its status line answers.
    deadline = time.monotonic() + 15
    while True:
        try:
            d("status")
            break
        except HarnessError:
            if time.monotonic() > deadline or not d("running"):
                raise
            time.sleep(0.2)
    print(f"{stamp()}  the main window is open", flush=True)
    last = None
    last_box = None
    mails_shown = 0
    seen: set[str] = set()
    while d("running"):
        try:
            status = d("status")["text"]
        except HarnessError as e:
            if d("running"):
                raise HarnessError(f"cannot read the status line: {e}")
            break  # the window closed between the two questions
        if status != last:
            last = status
            line = f"{stamp()}  status: {status or '(empty)'}"
            if screenshots:
                shots += 1
                path = session.screenshot(f"{shots:03d}", d("rect"))
                line += f"  [{path}]"
            print(line, flush=True)
        try:
            box = d("wait-msgbox", 0)
            if box["text"] != last_box:
                last_box = box["text"]
                print(f"{stamp()}  message box: {box['text']!r}", flush=True)
        except HarnessError:
            last_box = None
        while inbox is not None and mails_shown < len(inbox.mails):
            print_mail(stamp(), inbox.mails[mails_shown], seen)
            mails_shown += 1
        if appender is not None:
            appender.poll(stamp())
        time.sleep(0.5)
    print(f"{stamp()}  the program has ended", flush=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--exe", type=Path, required=True)
    parser.add_argument("--driver", type=Path, required=True)
    parser.add_argument("--prefix", type=Path, required=True)
    parser.add_argument("--screenshots", type=Path)
    parser.add_argument("--headless", action="store_true", help="own Xvfb even when DISPLAY is set")
    parser.add_argument("--verbose", action="store_true", help="show the driver's dialogue")
    parser.add_argument("--smtp-port", type=int, help="run the SMTP server for the mails on 127.0.0.1:PORT")
    parser.add_argument("--grow-log", type=Path, help="write this .evt log and append errors to it")
    parser.add_argument("--message-module", type=Path,
                        help="register this message module for the log's source, Service Control Manager")
    args = parser.parse_args()

    # Ctrl+C and a plain kill both end in the teardown below, even when the
    # shell that started this had interrupts ignored.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    headless = args.headless or not os.environ.get("DISPLAY")
    def quiet(line: str) -> None:  # the driver's dialogue is not for the user
        if args.verbose:
            print(line, file=sys.stderr, flush=True)

    session = None
    inbox = None
    try:
        if args.smtp_port:
            # Lives as long as a demo may reasonably run, then stops by itself.
            inbox = Inbox(args.smtp_port, lifetime=4 * 3600)
            print(f"Mails go to the SMTP server on 127.0.0.1:{args.smtp_port}; each is shown here.",
                  flush=True)
        session = Session(
            "demo", work=args.exe.parent, prefix=args.prefix.resolve(), driver_exe=args.driver.resolve(),
            screenshots=args.screenshots.resolve() if headless and args.screenshots else None,
            display=None if headless else os.environ["DISPLAY"],
            virtual_desktop=headless, log=quiet)
        where = f"its own X display {session.display}" if headless else f"your display {session.display}"
        print(f"zkQuorvane runs on {where}; Ctrl+C stops it.", flush=True)
        if headless and args.screenshots:
            print(f"Screenshots of the main window go to {args.screenshots.resolve()}/", flush=True)
        if args.message_module:
            # Wine has no message files of its own: a stand-in with the same
            # kind of messages lets the alerts show each event's text.
            shutil.copy2(args.message_module, session.prefix / "drive_c" / "windows" / args.message_module.name)
            session.register_event_sources("System", {"Service Control Manager": {
                "EventMessageFile": rf"%SystemRoot%\{args.message_module.name}"}})
            print(f"Service Control Manager's messages come from {args.message_module.name}, "
                  f"registered in the Wine prefix.", flush=True)
        appender = None
        if args.grow_log:
            appender = Appender(GrowingLog(args.grow_log.resolve()))
            print(f"System log {args.grow_log}: {len(appender.log.records)} records from before the "
                  f"start; an error is appended every 20 to 40 seconds.", flush=True)
        follow(session, args.exe.resolve(), screenshots=headless and args.screenshots is not None,
               inbox=inbox, appender=appender)
        return 0
    except KeyboardInterrupt:
        print("\nstopping", flush=True)
        return 0
    except HarnessError as e:
        print(f"demo: {e}", file=sys.stderr)
        return 1
    finally:
        if session is not None:
            session.stop()
        if inbox is not None:
            inbox.stop()


if __name__ == "__main__":
    sys.exit(main())
