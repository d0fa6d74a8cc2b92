#!/usr/bin/python3
"""Runs zkQuorvane.exe from a prepared folder under Wine and follows it from
the terminal: prints the main window's status line whenever it changes and,
without a display of the user's, saves a screenshot of the window each time.
With --smtp-port it also runs the local SMTP server the program mails to and
prints every mail it receives, decoded (subject, sender, body).
Ctrl+C (or the program ending) stops everything that was started here.

    follow.py --exe FOLDER/zkQuorvane.exe --driver zkq_e2e_driver.exe --prefix PREFIX
              [--screenshots DIR] [--headless] [--smtp-port PORT]
"""
from __future__ import annotations

import argparse
import datetime as dt
import os
import signal
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import APP_TITLE, MAIN_CLASS, HarnessError, Session  # noqa: E402
from smtp_servers import Inbox, decoded  # noqa: E402


def print_mail(when: str, mail: tuple[str, list[str], bytes]) -> None:
    sender, recipients, message = mail
    parts = decoded(message)
    print(f"{when}  mail received for {', '.join(recipients)} (envelope from {sender})", flush=True)
    print(f"          Subject: {parts['subject']}", flush=True)
    print(f"          From:    {parts['from']}", flush=True)
    for line in parts["body"].splitlines() or ["(empty body)"]:
        print(f"          | {line}", flush=True)


def follow(session: Session, exe: Path, screenshots: bool, inbox: Inbox | None = None) -> None:
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
            print_mail(stamp(), inbox.mails[mails_shown])
            mails_shown += 1
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
        follow(session, args.exe.resolve(), screenshots=headless and args.screenshots is not None,
               inbox=inbox)
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
