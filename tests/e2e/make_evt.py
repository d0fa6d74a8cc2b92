#!/usr/bin/python3
"""Writes a small exported event log (.evt) for the demo: a few records from
the minutes before now, as a log holds when the monitor starts. GrowingLog
then appends records as time passes, each written at the moment it is added,
the way Windows writes its log.

    make_evt.py OUT.evt [--computer NAME]
"""
from __future__ import annotations

import argparse
import os
import struct
import time
from pathlib import Path

SIGNATURE = 0x654C664C  # "LfLe"
HEADER_SIZE = 0x30
EOF_SIZE = 0x28
ERROR, WARNING, INFORMATION = 1, 2, 4


def utf16z(text: str) -> bytes:
    return (text + "\0").encode("utf-16-le")


def record(number: int, when: int, event_id: int, event_type: int, source: str,
           computer: str, strings: list[str], category: int = 0) -> bytes:
    """One EVENTLOGRECORD, without a user SID or data."""
    names = utf16z(source) + utf16z(computer)
    fixed = 56
    body = names + b"\0" * (-(fixed + len(names)) % 4)
    sid_offset = fixed + len(body)
    string_offset = sid_offset
    text = b"".join(utf16z(s) for s in strings)
    data_offset = string_offset + len(text)
    tail = text + b"\0" * (-(data_offset) % 4)
    length = fixed + len(body) + len(tail) + 4
    head = struct.pack("<IIIIIIHHHHIIIIII", length, SIGNATURE, number, when, when, event_id,
                       event_type, len(strings), category, 0, 0, string_offset, 0, sid_offset,
                       0, data_offset)
    return head + body + tail + struct.pack("<I", length)


def evt_file(records: list[bytes], oldest: int) -> bytes:
    current = oldest + len(records)
    end = HEADER_SIZE + sum(len(r) for r in records)
    eof = struct.pack("<IIIIIIIIII", EOF_SIZE, 0x11111111, 0x22222222, 0x33333333, 0x44444444,
                      HEADER_SIZE, end, current, oldest, EOF_SIZE)
    size = end + EOF_SIZE
    header = struct.pack("<IIIIIIIIIIII", HEADER_SIZE, SIGNATURE, 1, 1, HEADER_SIZE, end, current,
                         oldest, size, 0, 0, HEADER_SIZE)
    return header + b"".join(records) + eof


def empty_logs(folder) -> None:
    """The folder of EventLogDir with an empty System.evt, Security.evt and
    Application.evt where none is: a missing file is a log the program could
    not read."""
    from pathlib import Path
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for name in ("System", "Security", "Application"):
        path = folder / f"{name}.evt"
        if not path.exists():
            path.write_bytes(evt_file([], oldest=1))


KINDS = [(ERROR, 0xC0001B58, "Service Control Manager", ["Demo Service", "%%1053"]),
         (WARNING, 0x80000008, "W32Time", ["time.example.jp"]),
         (INFORMATION, 0x40001B7C, "Service Control Manager", ["Demo Service", "running"])]


def demo_records(now: int, computer: str) -> list[bytes]:
    """Errors, warnings and information from the ten minutes before now."""
    out = []
    for i in range(6):
        kind, event_id, source, strings = KINDS[i % len(KINDS)]
        out.append(record(1 + i, now - 600 + 90 * i, event_id, kind, source, computer, strings))
    return out


class GrowingLog:
    """An exported log that gains records while the monitor reads it. Every
    change replaces the file whole (a new file renamed over the old one), so a
    reader never meets half a record."""

    def __init__(self, path: Path, computer: str = "DEMO-PC", now: int | None = None):
        self.path = path
        self.computer = computer
        self.records = demo_records(int(time.time()) if now is None else now, computer)
        self._write()

    def append_error(self, when: int | None = None) -> tuple[int, int]:
        """Appends an error written at `when` (now by default): (number, when)."""
        when = int(time.time()) if when is None else when
        number = len(self.records) + 1
        self.records.append(record(number, when, 0xC0001B58, ERROR, "Service Control Manager",
                                   self.computer, [f"Demo Service {number}", "%%1053"]))
        self._write()
        return number, when

    def _write(self) -> None:
        temporary = self.path.with_name(self.path.name + ".new")
        temporary.write_bytes(evt_file(self.records, oldest=1))
        os.replace(temporary, self.path)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("out")
    parser.add_argument("--computer", default="DEMO-PC")
    args = parser.parse_args()
    GrowingLog(Path(args.out), args.computer)


if __name__ == "__main__":
    main()
