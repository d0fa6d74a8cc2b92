#!/usr/bin/python3
"""End to end: rules that name channels, the real program under Wine.

- EventLogDir holds a Defender Operational log and a collector's
  ForwardedEvents log, both written by make_evtx.py, and a System.evtx. The
  first cycle sets the channels' bookmarks under [Bookmarks]; the records
  appended then are mailed once, in a section of each channel after the
  System section, each with its strings or, for a forwarded record, its own
  computer and its rendered message; records the rules do not name are not
  mailed; a third cycle mails nothing.
- A channel that cannot be read (its file missing from EventLogDir, or,
  without EventLogDir, the live channel) is told in the mail and on the
  status line, never as nothing found, and only the channels count as unread
  in the daily report; the three logs are read as before.

    channels_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe --scenario from-files|file-missing|without-folder
"""
from __future__ import annotations

import datetime as dt
import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_evtx as mx  # noqa: E402
from harness import APP_TITLE, MAIN_CLASS, HarnessError, Session, ini_bytes, run_single  # noqa: E402
from make_evt import empty_logs  # noqa: E402
from run_e2e import NO_FINDINGS, SEND_OK, STARTED, bare, check, equal, settings  # noqa: E402
from smtp_servers import Inbox, decoded, free_port  # noqa: E402

DEFENDER_LOG = "Microsoft-Windows-Windows Defender%4Operational.evtx"
DEFENDER_SECTION = "［" + mx.DEFENDER_CHANNEL + "］"
FORWARDED_SECTION = "［ForwardedEvents］"
LOGS_UNREADABLE = "監視処理でイベントログを読み込めませんでした。["
UNREAD_NOTICE = "※ ログを読めませんでした: "
JAPAN = dt.timedelta(hours=9)
COMPUTERS = ["WKS-0101.corp.example.jp", "WKS-0102.corp.example.jp", "SRV-FILE01.corp.example.jp",
             "SRV-SQL02.corp.example.jp", "LAPTOP-7F3K.corp.example.jp"]
RULES = "\r\n".join([
    "System;対象;エラー;*;*;*",
    f"{mx.DEFENDER_CHANNEL};対象;警告;*;*;*",
    f"{mx.DEFENDER_CHANNEL};対象;情報;{mx.DEFENDER};なし;1117",
    "ForwardedEvents;対象;エラー;*;*;*",
    "ForwardedEvents;対象;失敗;*;*;*",
    "ForwardedEvents;対象;警告;*;*;*",
]).encode("cp932") + b"\r\n"


def alert_line(ev: mx.Event) -> re.Pattern:
    """An alerted event's line: type, date and time in Japan time, source,
    category, event ID, user (looked up or the SID) and computer."""
    kind = ("失敗" if ev.keywords & mx.AUDIT_FAILURE else
            {1: "エラー", 2: "エラー", 3: "警告"}.get(ev.level, "情報"))
    seconds = (ev.time_created - mx._EPOCH_FILETIME) // 10**7
    moment = dt.datetime(1970, 1, 1) + dt.timedelta(seconds=seconds) + JAPAN
    user = "N/A" if ev.user_id is None else r"(?:SYSTEM|S-1-5-18)"
    return re.compile(rf"{kind} +{moment:%Y/%m/%d %H:%M:%S} "
                      rf"{re.escape(ev.event_source_name or ev.provider)} なし {ev.event_id} "
                      rf"{user} {re.escape(ev.computer)}")


def detail(ev: mx.Event) -> list[str]:
    """The lines under the event's line: the first lines of its rendered
    message (a TAB as a blank, no empty lines) or else its strings."""
    if ev.rendering is not None:
        lines = [line for line in ev.rendering.message.replace("\t", " ").split("\r\n") if line]
        return ["    " + line for line in lines[:3]]
    return ["    " + " / ".join(str(v) for _, v in ev.data if str(v))]


def sections(body: str) -> dict[str, list[str]]:
    """The alert's sections by their heading line."""
    out: dict[str, list[str]] = {}
    current = None
    for line in body.split("\r\n"):
        if line.startswith("［"):
            current = line
            out[current] = []
        elif current is not None:
            out[current].append(line)
    return out


def check_section(lines: list[str], wanted: list[mx.Event], what: str) -> None:
    """Exactly the wanted events, newest first, each with its detail lines."""
    rows = [i for i, line in enumerate(lines) if line and not line.startswith(" ")]
    equal(len(rows), len(wanted), f"{what}: events alerted ({[lines[i] for i in rows]!r})")
    for at, ev in zip(rows, wanted):
        check(alert_line(ev).fullmatch(lines[at]) is not None,
              f"{what}: {lines[at]!r} is not the line of {ev.provider} {ev.event_id} "
              f"({ev.computer})")
        for k, expected in enumerate(detail(ev)):
            shown = lines[at + 1 + k] if at + 1 + k < len(lines) else None
            check(shown == expected, f"{what}: under {lines[at]!r}, line {k + 1}: {shown!r}, "
                                     f"expected {expected!r}")


class Program:
    """The program in a fresh folder, a cycle on every tick."""

    def __init__(self, s: Session, args, inbox_port: int, **changes):
        self.s = s
        ini = settings(Interval="1", AutoStart="1", SmtpPort=str(inbox_port), **changes)
        self.folder = s.program_folder(args.exe, ini_bytes(ini), RULES)
        self.exe = self.folder / args.exe.name

    def start(self):
        d = self.s.start(self.exe)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        return d, self.wait(d, STARTED, "")

    @staticmethod
    def wait(d, wanted: str, before: str, timeout: float = 90) -> str:
        """The status line once it is a new one that holds wanted (notices
        come before the message)."""
        deadline = time.monotonic() + timeout
        while True:
            text = bare(d("status")["text"])
            if text != before and wanted in text:
                return text
            if time.monotonic() > deadline:
                raise HarnessError(f"the status line shows {text!r}, not {wanted!r}")
            time.sleep(0.2)

    def cycle(self, d, wanted: str, before: str) -> str:
        time.sleep(1.1)  # the status line counts whole seconds
        d("tick", 20000)
        return self.wait(d, wanted, before)

    def bookmarks(self) -> dict[str, str]:
        """The [Bookmarks] section of the settings file."""
        out, inside = {}, False
        for line in (self.folder / "zkQuorvane.ini").read_bytes().decode("cp932").split("\r\n"):
            if line.startswith("["):
                inside = line == "[Bookmarks]"
            elif inside and "=" in line:
                key, value = line.split("=", 1)
                out[key] = value
        return out


def defender_more(start: int) -> list[mx.Event]:
    """Records Defender writes besides detections: the service up and
    running (1150) and a changed setting (5007), both information, and a
    failed update of the security intelligence (2001, a warning)."""
    base = dict(provider=mx.DEFENDER, provider_guid=mx.DEFENDER_GUID, channel=mx.DEFENDER_CHANNEL,
                computer="WKS-0042", user_id=mx.SYSTEM_SID, process_id=3988, thread_id=5120)
    return [
        mx.Event(event_id=1150, level=4, time_created=mx.filetime(start), **base,
                 data=[("Product Name", "Microsoft Defender Antivirus"),
                       ("Platform version", "4.18.24030.9"), ("Unused", ""),
                       ("Engine version", "1.1.24030.4"),
                       ("Security intelligence version", "1.409.1234.0")]),
        mx.Event(event_id=5007, level=4, time_created=mx.filetime(start + 1), **base,
                 data=[("Product Name", "Microsoft Defender Antivirus"),
                       ("Product Version", "4.18.24030.9"),
                       ("Old Value", r"HKLM\SOFTWARE\Microsoft\Windows Defender\Exclusions\Paths\C:\Temp = 0x0"),
                       ("New Value", "")]),
        mx.Event(event_id=2001, level=3, time_created=mx.filetime(start + 2), **base,
                 data=[("Product Name", "Microsoft Defender Antivirus"),
                       ("Product Version", "4.18.24030.9"),
                       ("Previous Security intelligence version", "1.409.1234.0"),
                       ("Update Source", "Microsoft Update Server"),
                       ("Error Code", "0x80072ee2"),
                       ("Error Description", "The operation timed out")]),
    ]


def system_error(when: int) -> mx.Event:
    return mx.Event(provider="Service Control Manager", event_source_name="Service Control Manager",
                    provider_guid="{555908D1-A6D7-4695-8E1E-26931D2012F4}", qualifiers=49152,
                    event_id=7000, level=2, keywords=0x8080000000000000,
                    time_created=mx.filetime(when), channel="System", computer="COLLECTOR01",
                    data=[("param1", "Contoso Agent"), ("param2", "%%2")])


def channels_from_files(s: Session, args) -> None:
    inbox = Inbox(port=free_port(), lifetime=240)
    try:
        p = Program(s, args, inbox.port, EventLogDir="logs")
        logs = p.folder / "logs"
        logs.mkdir()
        old = int(time.time()) - 7200
        mx.write_evtx(logs / DEFENDER_LOG, mx.defender_events(old, 30))
        mx.write_evtx(logs / "ForwardedEvents.evtx",
                      [mx.forwarded_event(i, old + 20 * i, COMPUTERS[i % 3]) for i in range(60)])
        mx.write_evtx(logs / "System.evtx", [system_error(old)])
        empty_logs(logs)  # Security and Application, empty
        d, status = p.start()

        # Everything in the logs is older than the start: the first cycle only
        # sets the channels' bookmarks, at their newest records.
        status = p.cycle(d, NO_FINDINGS, status)
        check(not inbox.wait(1, 1), "the first cycle mailed old records")
        marks = p.bookmarks()
        check(marks.get(mx.DEFENDER_CHANNEL, "").startswith("30:")
              and marks.get("ForwardedEvents", "").startswith("60:"),
              f"the bookmarks after the first cycle: {marks!r}")

        now = int(time.time())
        detections = mx.defender_events(now - 60, 4, computer="WKS-0042")
        more = defender_more(now - 30)
        new_defender = [detections[0], detections[1], more[0], more[1], detections[2], more[2],
                        detections[3]]
        check(mx.append_evtx(logs / DEFENDER_LOG, new_defender) == list(range(31, 38)),
              "the Defender records appended")
        new_forwarded = [mx.forwarded_event(i, now - 50 + i, COMPUTERS[i % 5]) for i in range(6)]
        new_forwarded.insert(3, mx.forwarded_info(now - 47, COMPUTERS[4]))
        mx.append_evtx(logs / "ForwardedEvents.evtx", new_forwarded)
        mx.append_evtx(logs / "System.evtx", [system_error(now - 40)])

        status = p.cycle(d, SEND_OK, status)
        check(inbox.wait(1, 10), "the new records were not mailed")
        s.screenshot("channels-mailed", d("rect"))
        body = decoded(inbox.mails[0][2])["body"]
        found = sections(body)
        headings = [h for h in found]
        equal(headings, ["［システム］", DEFENDER_SECTION, FORWARDED_SECTION],
              "the alert's sections: the System log, then each channel in the order of its rules")
        newest_first = lambda events: events[::-1]  # by record ID  # noqa: E731
        check_section(found["［システム］"], [system_error(now - 40)], "System")
        # The warnings (1116, 2001) and Defender's 1117 with no category; not
        # 1150 or 5007, information of other IDs.
        check_section(found[DEFENDER_SECTION],
                      newest_first([e for e in new_defender if e.level == 3 or e.event_id == 1117]),
                      "Defender")
        # Each forwarded record with its own computer and its rendered message;
        # not the 7036, information no rule names.
        check_section(found[FORWARDED_SECTION],
                      newest_first([e for e in new_forwarded if e.event_id != 7036]),
                      "ForwardedEvents")
        check(len({e.computer for e in new_forwarded if e.event_id != 7036}) >= 4,
              "the forwarded records come from several computers")
        marks = p.bookmarks()
        check(marks.get(mx.DEFENDER_CHANNEL, "").startswith("37:")
              and marks.get("ForwardedEvents", "").startswith("67:"),
              f"the bookmarks after the second cycle: {marks!r}")

        status = p.cycle(d, NO_FINDINGS, status)
        check(not inbox.wait(2, 2), "records were mailed twice")
        equal(len(inbox.mails), 1, "mails")
        d("kill")
    finally:
        inbox.stop()


def channel_not_read(s: Session, args, folder: bool) -> None:
    """Channels the program cannot read: without EventLogDir (the live
    channels of Wine), or with an EventLogDir that has no file for them."""
    inbox = Inbox(port=free_port(), lifetime=200)
    try:
        # The report is due at this minute: it goes with the first cycle.
        p = Program(s, args, inbox.port, Heartbeat=time.strftime("%H:%M"),
                    EventLogDir="logs" if folder else None)
        if folder:
            empty_logs(p.folder / "logs")  # the three logs, and no channel's file
        d, status = p.start()
        status = p.cycle(d, "[", status)  # the cycle's status, whatever it says
        check(NO_FINDINGS not in status,
              f"channels that were not read are no all-clear: {status!r}")
        check(status.startswith(DEFENDER_SECTION + UNREAD_NOTICE),
              f"the status names the channel it could not read: {status!r}")
        check(inbox.wait(2, 20), f"{len(inbox.mails)} of the alert and the report arrived")
        mails = [decoded(m) for _, _, m in inbox.mails]
        alert = next(m for m in mails if "稼動報告" not in m["subject"])
        report = next(m for m in mails if "稼動報告" in m["subject"])
        found = sections(alert["body"])
        for heading, lines in found.items():
            unread = [line for line in lines if line.startswith(UNREAD_NOTICE)]
            if heading in (DEFENDER_SECTION, FORWARDED_SECTION):
                check(len(unread) == 1, f"{heading}: the notice once: {lines!r}")
            else:
                check(not unread, f"{heading} could be read: {lines!r}")
        check(DEFENDER_SECTION in found and FORWARDED_SECTION in found,
              f"both channels are told in the alert: {alert['body']!r}")
        unread_logs = re.search(r"読めなかったログ: ([^\r\n]*)", report["body"])
        check(unread_logs is not None
              and set(unread_logs[1].split(", ")) >= {mx.DEFENDER_CHANNEL, "ForwardedEvents"}
              and not {"System", "Security", "Application"} & set(unread_logs[1].split(", ")),
              f"the report names the channels, and only them, as unread: {report['body']!r}")
        check("読み込んだ記録: System " in report["body"], f"the report: {report['body']!r}")

        # Told once: the next cycle mails nothing and still says it could not read.
        status = p.cycle(d, "[", status)
        check(LOGS_UNREADABLE in status and NO_FINDINGS not in status,
              f"the second cycle says it could not read: {status!r}")
        check(not inbox.wait(3, 2), "the notice was mailed twice")
        check(d("running"), "the program runs on")
        d("kill")
    finally:
        inbox.stop()


SCENARIOS = {
    "from-files": channels_from_files,
    "file-missing": lambda s, args: channel_not_read(s, args, folder=True),
    "without-folder": lambda s, args: channel_not_read(s, args, folder=False),
}


def main() -> int:
    # Each scenario's screenshots under its own name.
    scenario = sys.argv[sys.argv.index("--scenario") + 1] if "--scenario" in sys.argv else ""
    return run_single(f"channels-{scenario}", __doc__, ("exe", "driver"),
                      lambda args, session: (lambda: SCENARIOS[args.scenario](session, args), None),
                      texts=("scenario",))


if __name__ == "__main__":
    sys.exit(main())
