#!/usr/bin/python3
"""Reads the .evtx logs that make_evtx.py writes back with three readers that
share no code with it, and with the project's own: every record must come
back with the values it was written with.

- Debian's evtxexport (libevtx-utils) and python3-evtx's evtx_dump.py read
  every field of every record: System, the EventData names and values, the
  RenderingInfo texts.
- python3-evtx checks the file header's and each chunk's checksums and reads
  each chunk's name and template tables, which must list exactly the names
  and templates the chunk's records define.
- zkq rows gives the rows the monitor lists, zkq rows --xml the same fields
  as the readers above, and zkq rows --messages each record's rendered
  message (or, without one, its strings) under its row; zkq tells no damage.

The log is written in three steps (a new file, then records appended twice),
so that records land in the last chunk's free room and in new chunks. The
names' hash and the templates' buckets are checked against a real log of the
shared samples.

usage: make_evtx_check.py PATH/TO/zkq SAMPLES_FOLDER
"""
from __future__ import annotations

import datetime as dt
import io
import logging
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_evtx as mx  # noqa: E402

ZKQ, SAMPLES = sys.argv[1], Path(sys.argv[2])
NS = "{" + mx.EVENT_NS + "}"
JAPAN = dt.timedelta(hours=9)
failures: list[str] = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def events_of(xml_text: str) -> list[ET.Element]:
    """Each <Event> of a reader's output; XML 1.0 allows no control characters."""
    xml_text = re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f]", "?", xml_text)
    docs = re.split(r"(?=<Event[ >])", xml_text)
    out = []
    for d in docs:
        d = d.strip()
        if d.startswith("<Event"):
            out.append(ET.fromstring(d[:d.rindex("</Event>") + len("</Event>")]))
    return out


def text(s: str | None) -> str | None:
    """XML reads a line end as LF; an empty text or attribute is an absent one."""
    if s is None or s == "":
        return None
    return s.replace("\r\n", "\n").replace("\r", "\n")


def fields_read(event: ET.Element) -> dict:
    s = event.find(NS + "System")

    def attr(element, name):
        e = s.find(NS + element)
        return text(e.get(name)) if e is not None else None

    def number(element, base=10):
        t = text(s.findtext(NS + element))
        return int(t, base) if t is not None else None

    def guid(element, name):
        g = attr(element, name)
        return g.upper() if g else None

    data = event.find(NS + "EventData")
    rendering = event.find(NS + "RenderingInfo")
    rendered = None
    if rendering is not None:
        rendered = {n: text(rendering.findtext(NS + n.capitalize())) for n in mx._RENDERED}
        rendered["keywords"] = [text(k.text) for k in rendering.iter(NS + "Keyword")]
        rendered["culture"] = rendering.get("Culture")
    return {
        "provider": attr("Provider", "Name"), "guid": guid("Provider", "Guid"),
        "source": attr("Provider", "EventSourceName"),
        "event_id": number("EventID"), "qualifiers": attr("EventID", "Qualifiers"),
        "version": number("Version"), "level": number("Level"), "task": number("Task"),
        "opcode": number("Opcode"), "keywords": number("Keywords", 16),
        "time": attr("TimeCreated", "SystemTime"), "record_id": number("EventRecordID"),
        "activity": guid("Correlation", "ActivityID"),
        "related": guid("Correlation", "RelatedActivityID"),
        "pid": attr("Execution", "ProcessID"), "tid": attr("Execution", "ThreadID"),
        "channel": text(s.findtext(NS + "Channel")), "computer": text(s.findtext(NS + "Computer")),
        "user": attr("Security", "UserID"),
        "data": None if data is None else [(d.get("Name"), text(d.text) or "")
                                           for d in data.iter(NS + "Data")],
        "rendering": rendered,
    }


def fields_written(ev: mx.Event, record_id: int) -> dict:
    r = ev.rendering
    return {
        "provider": ev.provider, "guid": ev.provider_guid and ev.provider_guid.upper(),
        "source": ev.event_source_name, "event_id": ev.event_id,
        "qualifiers": None if ev.qualifiers is None else str(ev.qualifiers),
        "version": ev.version, "level": ev.level, "task": ev.task, "opcode": ev.opcode,
        "keywords": ev.keywords, "time": ev.time_created, "record_id": record_id,
        "activity": ev.activity_id and ev.activity_id.upper(),
        "related": ev.related_activity_id and ev.related_activity_id.upper(),
        "pid": str(ev.process_id), "tid": str(ev.thread_id), "channel": ev.channel,
        "computer": ev.computer, "user": ev.user_id,
        "data": [(n, text(str(v)) or "") for n, v in ev.data] or None,
        "rendering": None if r is None else {
            **{n: text(getattr(r, n)) for n in mx._RENDERED},
            "keywords": [text(k) for k in r.keywords], "culture": r.culture},
    }


def same_moment(shown: str | None, ft: int) -> bool:
    """A SystemTime as a reader shows it ("2024-05-01T10:22:33.1234567Z",
    "2024-05-01 10:22:33.123456"), to the digits it shows, is the FILETIME."""
    m = re.fullmatch(r"(\d{4}-\d\d-\d\d)[T ](\d\d:\d\d:\d\d)(?:\.(\d+))?Z?", shown or "")
    if not m:
        return False
    exact = mx.filetime_text(ft)  # 7 digits
    digits = (m.group(3) or "")[:7]
    return (f"{m.group(1)}T{m.group(2)}" == exact[:19]
            and digits.ljust(7, "0")[:len(digits)] == exact[20:20 + len(digits)]
            and (m.group(3) or "").rstrip("0")[7:] == "")


def compare(reader: str, read: list[ET.Element], written: dict[int, dict]) -> None:
    got = {}
    for e in read:
        f = fields_read(e)
        got[f["record_id"]] = f
    check(sorted(got) == sorted(written),
          f"{reader}: record IDs {sorted(got)[:5]}… ({len(got)}), written {len(written)}")
    for number, want in written.items():
        have = got.get(number)
        if have is None:
            continue
        for key, value in want.items():
            if key == "time":
                ok = same_moment(have[key], value)
            else:
                ok = have[key] == value
            check(ok, f"{reader} #{number}: {key} {have[key]!r}, written {value!r}")


def zkq(*args) -> subprocess.CompletedProcess:
    return subprocess.run([ZKQ, *args], capture_output=True, env={"TZ": "Asia/Tokyo"})


def expected_row(ev: mx.Event) -> tuple:
    if ev.keywords & mx.AUDIT_FAILURE:
        kind = "失敗"
    elif ev.keywords & mx.AUDIT_SUCCESS:
        kind = "成功"
    else:
        kind = {1: "エラー", 2: "エラー", 3: "警告"}.get(ev.level, "情報")
    seconds = (ev.time_created - mx._EPOCH_FILETIME) // 10**7
    moment = dt.datetime(1970, 1, 1) + dt.timedelta(seconds=seconds) + JAPAN
    return (kind, f"{moment:%Y/%m/%d}", f"{moment:%H:%M:%S}", ev.event_source_name or ev.provider,
            "なし", str(ev.event_id), ev.user_id or "N/A", ev.computer)


def detail_line(ev: mx.Event) -> str:
    """The first line zkq prints under the row: the rendered message, or the
    record's strings that are not empty joined with " / ", indented, a TAB
    as a blank."""
    if ev.rendering is not None:
        first = ev.rendering.message.replace("\r\n", "\n").split("\n")[0]
    else:
        first = " / ".join(str(v) for _, v in ev.data if str(v))
    first = "    " + first.replace("\t", " ")
    return first if len(first) <= 1004 else first[:1003]


# --- the events ----------------------------------------------------------

BASE = mx.filetime(dt.datetime(2024, 5, 1, 1, 2, 3, 456789, tzinfo=dt.timezone.utc)) + 1


def odd_events() -> list[mx.Event]:
    """One of each shape a log holds, beside the fixtures' events."""
    t = BASE
    return [
        # A classic source: qualifiers, EventSourceName, no GUID, no user.
        mx.Event(provider="Service Control Manager", event_source_name="Service Control Manager",
                 qualifiers=16384, event_id=7036, level=4, keywords=0x8080000000000000,
                 time_created=t, channel="System", computer="SRV-01",
                 data=[("param1", "Windows Update"), ("param2", "running")]),
        # Nothing optional: no GUID, no qualifiers, no correlation, user or data.
        mx.Event(provider="Minimal", event_id=1, level=0, keywords=0, time_created=t + 1,
                 channel="Application", computer="m"),
        # A critical event with every optional field, an empty and a numeric value.
        mx.Event(provider="Microsoft-Windows-Kernel-Power",
                 provider_guid="{331c3b3a-2005-44c2-ac5e-77220c37d6b4}", event_id=41, version=8,
                 level=1, task=63, opcode=0, keywords=0x8000400000000002, time_created=t + 2,
                 activity_id="{01234567-89ab-cdef-0123-456789abcdef}",
                 related_activity_id="{fedcba98-7654-3210-fedc-ba9876543210}",
                 process_id=4, thread_id=8, channel="System", computer="SRV-01.example.jp",
                 user_id="S-1-5-21-3623811015-3361044348-30300820-1013",
                 data=[("BugcheckCode", 0), ("BugcheckParameter1", "0x0"), ("SleepInProgress", ""),
                       ("PowerButtonTimestamp", 4294967295)]),
        # Audit results in the keywords.
        mx.Event(provider="Microsoft-Windows-Security-Auditing",
                 provider_guid="{54849625-5478-4994-A5BA-3E3B0328C30D}", event_id=4624, version=2,
                 level=0, task=12544, keywords=mx.AUDIT_SUCCESS | 0x8000000000000000,
                 time_created=t + 3, channel="Security", computer="DC01.corp.example.jp",
                 data=[("TargetUserName", "山田 太郎"), ("LogonType", "10")]),
        mx.Event(provider="Microsoft-Windows-Security-Auditing", event_id=4625, level=0,
                 task=12544, keywords=mx.AUDIT_FAILURE | 0x8000000000000000, time_created=t + 4,
                 channel="Security", computer="DC01.corp.example.jp",
                 data=[("TargetUserName", "<guest> & \"admin\"")]),
        # Markup, line ends and tabs in a rendered message; a text left out.
        mx.Event(provider="Contoso-App", event_id=500, level=2, time_created=t + 5,
                 channel="Application", computer="APP-7", data=[("Detail", "a < b & c > d")],
                 rendering=mx.Rendering(message="Line 1 <tag> & more\r\n\tLine 2: 設定の読み込み",
                                        level="Error", task=None, opcode="Info",
                                        channel="Application", provider="Contoso",
                                        keywords=["Classic", "Response Time"],
                                        culture="ja-JP")),
    ]


def batches() -> list[list[mx.Event]]:
    start = (BASE - mx._EPOCH_FILETIME) // 10**7
    computers = [f"WKS-{n:04d}.corp.example.jp" for n in range(1, 8)]
    forwarded = [mx.forwarded_event(i, start + 30 * i, computers[i % 7]) for i in range(140)]
    defender = mx.defender_events(start + 10_000, 60)
    first = odd_events() + forwarded[:100] + defender[:40]
    return [first, forwarded[100:] + defender[40:], odd_events()[2:3]]


# --- the checks ----------------------------------------------------------

def check_tables_against_a_real_log() -> None:
    """The hash of each name and the bucket of each template are those a
    real log keeps."""
    data = (SAMPLES / "system.evtx").read_bytes()
    names = templates = 0
    for at in range(mx.HEADER, len(data) - mx.CHUNK + 1, mx.CHUNK):
        chunk = data[at:at + mx.CHUNK]
        if chunk[:8] != b"ElfChnk\0":
            continue
        for bucket in range(64):
            offset = struct.unpack_from("<I", chunk, 128 + 4 * bucket)[0]
            while offset:
                following, stored, count = struct.unpack_from("<IHH", chunk, offset)
                name = chunk[offset + 8:offset + 8 + 2 * count].decode("utf-16-le")
                check(mx.name_hash(name) == stored and stored % 64 == bucket,
                      f"the hash of {name!r}: {mx.name_hash(name)}, the log's {stored}")
                names += 1
                offset = following
        for bucket in range(32):
            offset = struct.unpack_from("<I", chunk, 384 + 4 * bucket)[0]
            while offset:
                guid = chunk[offset + 4:offset + 20]
                check(mx.template_bucket(guid) == bucket,
                      f"template {guid.hex()}: bucket {mx.template_bucket(guid)}, the log's {bucket}")
                templates += 1
                offset = struct.unpack_from("<I", chunk, offset)[0]
    check(names > 500 and templates > 100, f"names {names}, templates {templates} compared")


def check_structure(path: Path, chunks_wanted: int) -> None:
    """python3-evtx: header and chunk checksums; each chunk's tables list
    what its records define."""
    from Evtx.Evtx import Evtx
    warnings = io.StringIO()
    handler = logging.StreamHandler(warnings)
    logging.getLogger().addHandler(handler)
    try:
        with Evtx(str(path)) as log:
            header = log.get_file_header()
            check(header.verify(), f"{path.name}: the file header (checksum, version) is not sound")
            check(not header.is_dirty(), f"{path.name}: the header says dirty")
            count = 0
            for chunk in header.chunks():
                count += 1
                check(chunk.verify(), f"{path.name} chunk {count}: checksums wrong")
                listed = (set(chunk.strings()), set(chunk.templates()))
                for record in chunk.records():
                    record.xml()  # defines the chunk's names and templates as it goes
                defined = (set(chunk.strings()), set(chunk.templates()))
                check(listed == defined and listed[0] and listed[1],
                      f"{path.name} chunk {count}: the tables list {len(listed[0])} names and "
                      f"{len(listed[1])} templates, the records define {len(defined[0])} and "
                      f"{len(defined[1])}")
            check(count == chunks_wanted == header.chunk_count(),
                  f"{path.name}: {count} chunks, the header says {header.chunk_count()}, "
                  f"wanted {chunks_wanted}")
    finally:
        logging.getLogger().removeHandler(handler)
    check(warnings.getvalue() == "", f"python3-evtx warned: {warnings.getvalue()[:300]}")


def check_zkq(path: Path, written: dict[int, mx.Event]) -> None:
    rows = zkq("rows", str(path))
    lines = rows.stdout.decode().splitlines()
    check(rows.returncode == 0 and rows.stderr == b"",
          f"zkq rows: status {rows.returncode}, {rows.stderr.decode()[:200]}")
    newest_first = [written[n] for n in sorted(written, reverse=True)]
    ours = [tuple(line.split("\t")) for line in lines]
    check(len(ours) == len(newest_first), f"zkq rows: {len(ours)} rows, {len(newest_first)} written")
    for i, (row, ev) in enumerate(zip(ours, newest_first)):
        check(row == expected_row(ev), f"zkq row {i}: {row}, expected {expected_row(ev)}")

    xml = zkq("rows", "--xml", str(path))
    check(xml.returncode == 0, f"zkq rows --xml: status {xml.returncode}")
    compare("zkq rows --xml", events_of(xml.stdout.decode()),
            {n: fields_written(e, n) for n, e in written.items()})

    messages = zkq("rows", "--messages", str(path)).stdout.decode().replace("\r\n", "\n")
    blocks = [b for b in re.split(r"\n(?=\S)", messages) if b.strip()]
    check(len(blocks) == len(newest_first), f"zkq rows --messages: {len(blocks)} rows")
    for block, ev in zip(blocks, newest_first):
        below = block.split("\n")[1:]
        want = detail_line(ev)
        if ev.rendering is None and not ev.data:
            check(not below, f"nothing under a record without strings: {below!r}")
        else:
            check(below[:1] == [want], f"under {block.split(chr(10))[0]!r}: {below[:1]!r}, "
                                       f"wanted {want!r}")


def main() -> int:
    check_tables_against_a_real_log()
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "Mixed.evtx"
        steps = batches()
        written: dict[int, mx.Event] = {}
        chunk_counts = []
        for i, batch in enumerate(steps):
            ids = (mx.write_evtx if i == 0 else mx.append_evtx)(path, batch)
            check(ids == list(range(len(written) + 1, len(written) + 1 + len(batch))),
                  f"step {i}: record IDs {ids[:3]}…, not on from {len(written)}")
            written.update(zip(ids, batch))
            chunk_counts.append((path.stat().st_size - mx.HEADER) // mx.CHUNK)
        check(chunk_counts[0] >= 2 and chunk_counts[1] > chunk_counts[0]
              and chunk_counts[2] == chunk_counts[1],
              f"chunks after each step {chunk_counts}: the log should span chunks, grow into "
              "a new one, and take the last record into the last chunk's room")
        check((path.stat().st_size - mx.HEADER) % mx.CHUNK == 0, "the file is whole chunks")

        fields = {n: fields_written(e, n) for n, e in written.items()}
        export = subprocess.run(["evtxexport", "-f", "xml", str(path)], capture_output=True)
        check(export.returncode == 0, f"evtxexport: status {export.returncode}")
        compare("evtxexport", events_of(export.stdout.decode("utf-8", "replace")), fields)
        info = subprocess.run(["evtxinfo", str(path)], capture_output=True).stdout.decode()
        check(f"Number of records\t\t: {len(written)}" in info
              and "Number of recovered records\t: 0" in info, f"evtxinfo: {info!r}")

        dump = subprocess.run(["/usr/bin/python3", "/usr/bin/evtx_dump.py", str(path)],
                              capture_output=True)
        check(dump.returncode == 0, f"evtx_dump.py: {dump.stderr.decode()[-300:]}")
        compare("evtx_dump.py", events_of(dump.stdout.decode()), fields)
        check_structure(path, chunk_counts[-1])
        check_zkq(path, written)

        # The fixtures' own files, as the end-to-end runs write them.
        for name, events in (("defender", mx.defender_events(1714500000, 12)),
                             ("forwarded", [mx.forwarded_event(i, 1714500000 + i, f"PC{i % 4}")
                                            for i in range(9)])):
            one = Path(folder) / f"{name}.evtx"
            ids = mx.write_evtx(one, events)
            got = events_of(subprocess.run(["evtxexport", "-f", "xml", str(one)],
                                           capture_output=True).stdout.decode())
            compare(f"evtxexport {name}", got, {n: fields_written(e, n) for n, e in zip(ids, events)})
    print("evtx writer:", "FAILED" if failures else "ok", f"({len(written)} records)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
