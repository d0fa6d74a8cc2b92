#!/usr/bin/python3
"""Writes Windows XML event logs (.evtx) from a list of events, laid out as
Windows lays them out: a 4 KiB file header, then 64 KiB chunks, each with its
header, its table of names (64 buckets by the names' hash) and of templates
(32 buckets by the templates' GUID), and records whose Binary XML is a
template instance. As in a real log, a chunk defines each name and template
where it is first used and refers back to it after that; the System part is
one template per provider, channel and computer, the EventData and the
RenderingInfo nested instances of templates of their own. Every checksum is
right. append_evtx() adds records to a log written here, as Windows does:
into the last chunk while it has room, then into new ones, each with the
next record ID.

    make_evtx.py defender OUT.evtx [--count N]     a Defender Operational log
    make_evtx.py forwarded OUT.evtx [--count N]    a ForwardedEvents log

Standard library only.
"""
from __future__ import annotations

import argparse
import datetime as dt
import functools
import hashlib
import os
import struct
import uuid
import zlib
from dataclasses import dataclass, field
from pathlib import Path

HEADER, CHUNK, CHUNK_HEADER = 4096, 65536, 512
EVENT_NS = "http://schemas.microsoft.com/win/2004/08/events/event"
FRAGMENT = b"\x0f\x01\x01\x00"
# Value types of Binary XML.
NULL, STRING, UINT8, UINT16, UINT32, UINT64 = 0x00, 0x01, 0x04, 0x06, 0x08, 0x0A
GUID, FILETIME, SID, HEXINT64, BINXML = 0x0F, 0x11, 0x13, 0x15, 0x21
# Keywords as Windows sets them: the classic bit, the audit results.
KEYWORDS_CLASSIC = 0x80000000000000
AUDIT_SUCCESS, AUDIT_FAILURE = 0x20000000000000, 0x10000000000000
_EPOCH_FILETIME = 116444736000000000


@dataclass
class Rendering:
    """RenderingInfo as a forwarded event in the RenderedText format carries it."""
    message: str
    level: str | None = None
    task: str | None = None
    opcode: str | None = None
    channel: str | None = None
    provider: str | None = None
    keywords: list[str] = field(default_factory=list)
    culture: str = "en-US"


@dataclass
class Event:
    provider: str
    event_id: int
    time_created: int  # FILETIME (100 ns since 1601, UTC); see filetime()
    channel: str
    computer: str
    provider_guid: str | None = None  # "{…}"
    event_source_name: str | None = None
    qualifiers: int | None = None
    version: int = 0
    level: int = 4
    task: int = 0
    opcode: int = 0
    keywords: int = 0x8000000000000000
    activity_id: str | None = None
    related_activity_id: str | None = None
    process_id: int = 4
    thread_id: int = 8
    user_id: str | None = None  # "S-1-5-18"
    # EventData: (Name, value); a str is a string, an int an unsigned 32-bit number.
    data: list[tuple[str, str | int]] = field(default_factory=list)
    rendering: Rendering | None = None
    written: int | None = None  # the record's written time; time_created when absent


def filetime(moment: dt.datetime | float) -> int:
    """A FILETIME from an aware datetime or Unix seconds."""
    if isinstance(moment, dt.datetime):
        delta = moment - dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc)
        ticks = (delta.days * 86400 + delta.seconds) * 10**7 + delta.microseconds * 10
    else:
        ticks = round(moment * 10**7)
    return _EPOCH_FILETIME + ticks


def filetime_text(ft: int) -> str:
    """The SystemTime as Event Viewer shows it: 2024-05-01T10:22:33.1234567Z."""
    seconds, rest = divmod(ft - _EPOCH_FILETIME, 10**7)
    moment = dt.datetime(1970, 1, 1) + dt.timedelta(seconds=seconds)
    return f"{moment:%Y-%m-%dT%H:%M:%S}.{rest:07d}Z"


# --- encodings ------------------------------------------------------------

def _utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


def _units(text: str) -> int:
    return len(_utf16(text)) // 2


def name_hash(text: str) -> int:
    """The hash a chunk keeps with each name: its UTF-16 units, times 65599."""
    h = 0
    for i in range(0, len(b := _utf16(text)), 2):
        h = (h * 65599 + b[i] + 256 * b[i + 1]) & 0xFFFFFFFF
    return h & 0xFFFF


def template_bucket(guid: bytes) -> int:
    h = 0
    for i in range(0, 16, 2):
        h = (h * 65599 + guid[i] + 256 * guid[i + 1]) & 0xFFFFFFFF
    return h % 32


def guid_bytes(text: str) -> bytes:
    return uuid.UUID(text.strip("{}")).bytes_le


def sid_bytes(text: str) -> bytes:
    parts = text.split("-")
    if parts[0] != "S" or len(parts) < 3:
        raise ValueError(f"not a SID: {text!r}")
    subs = [int(p) for p in parts[3:]]
    return (bytes([int(parts[1]), len(subs)]) + int(parts[2]).to_bytes(6, "big")
            + b"".join(struct.pack("<I", s) for s in subs))


# --- the template trees ---------------------------------------------------

@dataclass
class _E:  # an element: attributes (name, _T or _S), children (None: an empty element)
    name: str
    attrs: list
    children: list | None


@dataclass
class _T:  # a text
    text: str


@dataclass
class _S:  # a substitution
    index: int
    type: int
    optional: bool = True


def _system_tree(ev: Event) -> _E:
    return _system_template(ev.provider, ev.provider_guid, ev.event_source_name, ev.channel,
                            ev.computer, bool(ev.data), ev.rendering is not None)


# The trees of the templates are made once for each shape: a log of a million
# records has a few hundred of them.
@functools.lru_cache(maxsize=None)
def _system_template(provider_name, guid, source, channel, computer, data, rendering) -> _E:
    provider = [("Name", _T(provider_name))]
    if guid:
        provider.append(("Guid", _T(guid.upper())))
    if source:
        provider.append(("EventSourceName", _T(source)))
    system = _E("System", [], [
        _E("Provider", provider, None),
        _E("EventID", [("Qualifiers", _S(4, UINT16))], [_S(3, UINT16)]),
        _E("Version", [], [_S(11, UINT8)]),
        _E("Level", [], [_S(0, UINT8)]),
        _E("Task", [], [_S(2, UINT16)]),
        _E("Opcode", [], [_S(1, UINT8)]),
        _E("Keywords", [], [_S(5, HEXINT64)]),
        _E("TimeCreated", [("SystemTime", _S(6, FILETIME))], None),
        _E("EventRecordID", [], [_S(10, UINT64)]),
        _E("Correlation", [("ActivityID", _S(7, GUID)), ("RelatedActivityID", _S(13, GUID))], None),
        _E("Execution", [("ProcessID", _S(8, UINT32)), ("ThreadID", _S(9, UINT32))], None),
        _E("Channel", [], [_T(channel)]),
        _E("Computer", [], [_T(computer)]),
        _E("Security", [("UserID", _S(12, SID))], None),
    ])
    # An event without data has a template without EventData, as Windows
    # writes it: a BinXml substitution left empty is no record to libevtx.
    body = [system]
    if data:
        body.append(_S(14, BINXML))
    if rendering:
        body.append(_S(15, BINXML))
    return _E("Event", [("xmlns", _T(EVENT_NS))], body)


def _data_value(value: str | int) -> tuple[int, bytes]:
    if isinstance(value, int):
        return UINT32, struct.pack("<I", value)
    return STRING, _utf16(value)


def _data_tree(data) -> _E:
    return _data_template(tuple((name, _data_value(value)[0]) for name, value in data))


@functools.lru_cache(maxsize=None)
def _data_template(names) -> _E:
    return _E("EventData", [], [
        _E("Data", [("Name", _T(name))], [_S(i, kind, optional=False)])
        for i, (name, kind) in enumerate(names)])


_RENDERED = ("message", "level", "task", "opcode", "channel", "provider")


def _rendering_tree(r: Rendering) -> _E:
    return _rendering_template(r.culture, len(r.keywords))


@functools.lru_cache(maxsize=None)
def _rendering_template(culture: str, keywords: int) -> _E:
    children = [_E(n.capitalize(), [], [_S(i, STRING)]) for i, n in enumerate(_RENDERED)]
    if keywords:
        children.append(_E("Keywords", [], [_E("Keyword", [], [_S(len(_RENDERED) + i, STRING)])
                                            for i in range(keywords)]))
    return _E("RenderingInfo", [("Culture", _T(culture))], children)


_GUIDS: dict[int, bytes] = {}


def _template_guid(tree: _E) -> bytes:
    """Templates of the same shape get the same GUID, in every chunk (the
    trees live as long as their caches: an id is never reused)."""
    guid = _GUIDS.get(id(tree))
    if guid is None:
        guid = _GUIDS[id(tree)] = hashlib.md5(repr(tree).encode("utf-8")).digest()
    return guid


# --- chunks ---------------------------------------------------------------

class _Chunk:
    def __init__(self):
        self.data = bytearray(CHUNK)
        self.free = CHUNK_HEADER
        self.names: dict[str, int] = {}
        self.templates: dict[bytes, int] = {}
        self.string_heads = [0] * 64
        self.template_heads = [0] * 32
        self.first_id = self.last_id = None
        self.last_record = 0
        self._undo: list = []

    @classmethod
    def parse(cls, raw: bytes) -> "_Chunk":
        """A chunk of a log, its names and templates read from its tables."""
        c = cls()
        c.data[:] = raw
        first, last, _, _, _, c.last_record, c.free = struct.unpack_from("<QQQQIII", raw, 8)
        if c.free > CHUNK_HEADER:
            c.first_id, c.last_id = first, last
        c.string_heads = list(struct.unpack_from("<64I", raw, 128))
        c.template_heads = list(struct.unpack_from("<32I", raw, 384))
        for head in c.string_heads:
            while head:
                following, _, count = struct.unpack_from("<IHH", raw, head)
                c.names.setdefault(raw[head + 8:head + 8 + 2 * count].decode("utf-16-le"), head)
                head = following
        for head in c.template_heads:
            while head:
                c.templates.setdefault(bytes(raw[head + 4:head + 20]), head)
                head = struct.unpack_from("<I", raw, head)[0]
        return c

    def add_name(self, text: str, offset: int) -> int:
        """The next offset a new name links to; the name becomes its bucket's head."""
        return self._link(self.names, self.string_heads, text, name_hash(text) % 64, offset)

    def add_template(self, guid: bytes, offset: int) -> int:
        return self._link(self.templates, self.template_heads, guid, template_bucket(guid), offset)

    def _link(self, table: dict, heads: list[int], key, bucket: int, offset: int) -> int:
        following = heads[bucket]
        self._undo.append((table, heads, key, bucket, following))
        table[key] = offset
        heads[bucket] = offset
        return following

    def try_add(self, record_id: int, event: Event) -> bool:
        """Appends the record when it fits; the chunk is unchanged when not."""
        self._undo = []
        record = _record(self, self.free, record_id, event)
        if self.free + len(record) > CHUNK:
            for table, heads, key, bucket, following in reversed(self._undo):
                del table[key]
                heads[bucket] = following
            return False
        self.data[self.free:self.free + len(record)] = record
        self.last_record = self.free
        self.free += len(record)
        if self.first_id is None:
            self.first_id = record_id
        self.last_id = record_id
        return True

    def finish(self) -> bytes:
        d = self.data
        first = self.first_id or 0
        last = self.last_id or 0
        d[:8] = b"ElfChnk\0"
        struct.pack_into("<QQQQIIII", d, 8, first, last, first, last, 128, self.last_record,
                         self.free, zlib.crc32(bytes(d[CHUNK_HEADER:self.free])))
        d[56:120] = bytes(64)
        struct.pack_into("<I", d, 120, 1)
        struct.pack_into("<64I", d, 128, *self.string_heads)
        struct.pack_into("<32I", d, 384, *self.template_heads)
        struct.pack_into("<I", d, 124, zlib.crc32(bytes(d[128:512]), zlib.crc32(bytes(d[:120]))))
        return bytes(d)


class _Emitter:
    """Binary XML written at a known offset of a chunk."""

    def __init__(self, chunk: _Chunk, base: int):
        self.c = chunk
        self.base = base
        self.b = bytearray()

    def pos(self) -> int:
        return self.base + len(self.b)

    def name(self, text: str) -> None:
        known = self.c.names.get(text)
        if known is not None:
            self.b += struct.pack("<I", known)
            return
        at = self.pos() + 4
        self.b += struct.pack("<I", at)
        following = self.c.add_name(text, at)
        self.b += struct.pack("<IHH", following, name_hash(text), _units(text))
        self.b += _utf16(text) + b"\0\0"

    def content(self, node) -> None:
        if isinstance(node, _T):
            self.b += struct.pack("<BBH", 0x05, STRING, _units(node.text)) + _utf16(node.text)
        elif isinstance(node, _S):
            self.b += struct.pack("<BHB", 0x0E if node.optional else 0x0D, node.index, node.type)
        else:
            self.element(node)

    def element(self, e: _E) -> None:
        start = len(self.b)
        only = e.children[0] if e.children and len(e.children) == 1 else None
        depends = only.index if isinstance(only, _S) else 0xFFFF
        self.b += struct.pack("<BHI", 0x41 if e.attrs else 0x01, depends, 0)
        self.name(e.name)
        if e.attrs:
            at = len(self.b)
            self.b += b"\0\0\0\0"
            for i, (name, value) in enumerate(e.attrs):
                self.b.append(0x46 if i + 1 < len(e.attrs) else 0x06)
                self.name(name)
                self.content(value)
            struct.pack_into("<I", self.b, at, len(self.b) - at - 4)
        if e.children is None:
            self.b.append(0x03)
        else:
            self.b.append(0x02)
            for child in e.children:
                self.content(child)
            self.b.append(0x04)
        struct.pack_into("<I", self.b, start + 3, len(self.b) - start - 7)

    def instance(self, tree: _E, values: list) -> None:
        """A template instance; values are (type, bytes) or (BINXML, tree, values)."""
        guid = _template_guid(tree)
        self.b += b"\x0c\x01" + guid[:4]
        known = self.c.templates.get(guid)
        if known is not None:
            self.b += struct.pack("<I", known)
        else:
            at = self.pos() + 4
            self.b += struct.pack("<I", at)
            self.b += struct.pack("<I", self.c.add_template(guid, at)) + guid
            size_at = len(self.b)
            self.b += b"\0\0\0\0" + FRAGMENT
            self.element(tree)
            self.b.append(0x00)
            struct.pack_into("<I", self.b, size_at, len(self.b) - size_at - 4)
        self.b += struct.pack("<I", len(values))
        table = len(self.b)
        self.b += bytes(4 * len(values))
        for i, value in enumerate(values):
            start = len(self.b)
            if value[0] == BINXML:
                self.b += FRAGMENT
                self.instance(value[1], value[2])
            else:
                self.b += value[1]
            struct.pack_into("<HBB", self.b, table + 4 * i, len(self.b) - start, value[0], 0)


def _event_values(ev: Event, record_id: int) -> list:
    def maybe(kind, value, encode):
        return (kind, encode(value)) if value is not None else (NULL, b"")
    values = [
        (UINT8, bytes([ev.level])), (UINT8, bytes([ev.opcode])),
        (UINT16, struct.pack("<H", ev.task)), (UINT16, struct.pack("<H", ev.event_id)),
        maybe(UINT16, ev.qualifiers, lambda q: struct.pack("<H", q)),
        (HEXINT64, struct.pack("<Q", ev.keywords)), (FILETIME, struct.pack("<Q", ev.time_created)),
        maybe(GUID, ev.activity_id, guid_bytes),
        (UINT32, struct.pack("<I", ev.process_id)), (UINT32, struct.pack("<I", ev.thread_id)),
        (UINT64, struct.pack("<Q", record_id)), (UINT8, bytes([ev.version])),
        maybe(SID, ev.user_id, sid_bytes),
        maybe(GUID, ev.related_activity_id, guid_bytes),
        (BINXML, _data_tree(ev.data), [_data_value(v) for _, v in ev.data]) if ev.data
        else (NULL, b""),
    ]
    r = ev.rendering
    if r is not None:
        texts = [getattr(r, n) for n in _RENDERED] + list(r.keywords)
        values.append((BINXML, _rendering_tree(r),
                       [(NULL, b"") if t is None else (STRING, _utf16(t)) for t in texts]))
    return values


def _record(chunk: _Chunk, offset: int, record_id: int, ev: Event) -> bytes:
    e = _Emitter(chunk, offset + 24)
    e.b += FRAGMENT
    e.instance(_system_tree(ev), _event_values(ev, record_id))
    e.b.append(0x00)
    size = 24 + len(e.b) + 4
    size += -size % 8  # records keep 8-byte alignment
    written = ev.written if ev.written is not None else ev.time_created
    return (struct.pack("<IIQQ", 0x2A2A, size, record_id, written) + e.b
            + bytes(size - 28 - len(e.b)) + struct.pack("<I", size))


# --- files ----------------------------------------------------------------

class EvtxWriter:
    """Writes a log chunk by chunk; close() writes the file header. With
    append=True it goes on from the last record of a log written here."""

    def __init__(self, path: os.PathLike | str, first_record_id: int = 1, append: bool = False,
                 dirty: bool = False):
        self.path = Path(path)
        self.dirty = dirty
        if append:
            self.f = open(self.path, "r+b")
            header = self.f.read(HEADER)
            if header[:8] != b"ElfFile\0":
                raise ValueError(f"{path}: no .evtx file")
            self.next_id = struct.unpack_from("<Q", header, 24)[0]
            count = struct.unpack_from("<H", header, 42)[0]
            self.chunks = count - 1
            self.f.seek(HEADER + self.chunks * CHUNK)
            self.chunk = _Chunk.parse(self.f.read(CHUNK))
            self.f.seek(HEADER + self.chunks * CHUNK)
        else:
            self.f = open(self.path, "wb")
            self.f.write(bytes(HEADER))
            self.next_id = first_record_id
            self.chunks = 0
            self.chunk = _Chunk()

    def add(self, event: Event) -> int:
        """Writes the event as the next record; its record ID."""
        record_id = self.next_id
        if not self.chunk.try_add(record_id, event):
            self.f.write(self.chunk.finish())
            self.chunks += 1
            self.chunk = _Chunk()
            if not self.chunk.try_add(record_id, event):
                raise ValueError("an event too large for a chunk")
        self.next_id += 1
        return record_id

    def close(self) -> None:
        self.f.write(self.chunk.finish())
        self.f.truncate()
        count = self.chunks + 1
        header = bytearray(128)
        header[:8] = b"ElfFile\0"
        struct.pack_into("<QQQIHHHH", header, 8, 0, count - 1, self.next_id, 128, 1, 3, HEADER, count)
        struct.pack_into("<I", header, 120, 1 if self.dirty else 0)
        struct.pack_into("<I", header, 124, zlib.crc32(bytes(header[:120])))
        self.f.seek(0)
        self.f.write(header)
        self.f.close()

    def __enter__(self):
        return self

    def __exit__(self, kind, *_):
        if kind is None:
            self.close()
        else:
            self.f.close()


def write_evtx(path, events, first_record_id: int = 1) -> list[int]:
    """Writes a new log of the events, oldest first; their record IDs."""
    with EvtxWriter(path, first_record_id) as w:
        return [w.add(e) for e in events]


def append_evtx(path, events) -> list[int]:
    """Adds the events to a log written by write_evtx; their record IDs."""
    with EvtxWriter(path, append=True) as w:
        return [w.add(e) for e in events]


# --- fixtures -------------------------------------------------------------

DEFENDER = "Microsoft-Windows-Windows Defender"
DEFENDER_GUID = "{11CD958A-C507-4EF3-B3F2-5FD9DFBD2C78}"
DEFENDER_CHANNEL = "Microsoft-Windows-Windows Defender/Operational"
SYSTEM_SID = "S-1-5-18"
_THREATS = [  # name, ID, severity ID and name, category ID and name, file
    ("Trojan:Win32/Wacatac.B!ml", 2147735503, 5, "Severe", 8, "Trojan",
     r"C:\Users\yamada\Downloads\請求書_2024.exe"),
    ("Virus:DOS/EICAR_Test_File", 2147519003, 5, "Severe", 42, "Virus",
     r"C:\Users\yamada\Desktop\eicar.com"),
    ("PUA:Win32/Presenoker", 261712, 1, "Low", 46, "Potentially Unwanted Software",
     r"C:\Program Files (x86)\FreeTool\setup.exe"),
]


def defender_detection(i: int, when: int, computer: str, action: bool) -> Event:
    """A 1116 (the antimalware platform detected malware: a warning) or a 1117
    (it took action: information), with the EventData names Windows uses."""
    name, threat_id, severity, severity_name, category, category_name, path = _THREATS[i % 3]
    detection = str(uuid.UUID(int=0x6C1F8B0A_3D5E_4B7C_9A2E_000000000000 + i)).upper()
    data = [
        ("Product Name", "Microsoft Defender Antivirus"),
        ("Product Version", "4.18.24030.9"),
        ("Detection ID", "{" + detection + "}"),
        ("Detection Time", filetime_text(filetime(when))[:23] + "Z"),
        ("Unused", ""), ("Unused2", ""),
        ("Threat ID", str(threat_id)),
        ("Threat Name", name),
        ("Severity ID", str(severity)),
        ("Severity Name", severity_name),
        ("Category ID", str(category)),
        ("Category Name", category_name),
        ("FWLink", f"https://go.microsoft.com/fwlink/?linkid=37020&name={name}&threatid={threat_id}"
                   "&enterprise=0"),
        ("Status Code", "3" if action else "1"),
        ("Status Description", ""),
        ("State", "2"),
        ("Source ID", "3"),
        ("Source Name", "Real-Time Protection"),
        ("Process Name", r"C:\Windows\explorer.exe"),
        ("Detection User", rf"{computer}\yamada"),
        ("Unused3", ""),
        ("Path", f"file:_{path}"),
        ("Origin ID", "4"),
        ("Origin Name", "Internet"),
        ("Execution ID", "1"),
        ("Execution Name", "Suspended"),
        ("Type ID", "0"),
        ("Type Name", "Concrete"),
        ("Pre Execution Status", "0"),
        ("Action ID", "2" if action else "9"),
        ("Action Name", "Quarantine" if action else "Not Applicable"),
        ("Unused4", ""),
        ("Error Code", "0x00000000"),
        ("Error Description", "この操作を正しく終了しました。"),
        ("Unused5", ""),
        ("Post Clean Status", "0"),
        ("Additional Actions ID", "0"),
        ("Additional Actions String", "No additional actions required"),
        ("Remediation User", "NT AUTHORITY\\SYSTEM" if action else ""),
        ("Unused6", ""),
        ("Security intelligence Version", "AV: 1.409.1234.0, AS: 1.409.1234.0, NIS: 1.409.1234.0"),
        ("Engine Version", "AM: 1.1.24030.4, NIS: 1.1.24030.4"),
    ]
    return Event(
        provider=DEFENDER, provider_guid=DEFENDER_GUID, event_id=1117 if action else 1116,
        version=0, level=4 if action else 3, task=0, opcode=0, keywords=0x8000000000000000,
        time_created=filetime(when), process_id=3988, thread_id=7112 + i, channel=DEFENDER_CHANNEL,
        computer=computer, user_id=SYSTEM_SID, data=data)


def defender_events(start: int, count: int, computer: str = "WKS-0042", spacing: int = 7) -> list[Event]:
    """Detections and the actions on them, in turn: 1116, 1117, 1116, …"""
    return [defender_detection(i // 2, start + spacing * i, computer, action=i % 2 == 1)
            for i in range(count)]


FORWARDED = "ForwardedEvents"
_FORWARDED_KINDS = [  # provider, guid, event ID, level, task, channel, data, message, rendered texts
    ("Service Control Manager", "{555908D1-A6D7-4695-8E1E-26931D2012F4}", 7031, 2, 0, "System",
     [("param1", "Print Spooler"), ("param2", "{n}"), ("param3", "60000"), ("param4", "1"),
      ("param5", "サービスを再起動します。"), ("param6", "Spooler")],
     "The Print Spooler service terminated unexpectedly.  It has done this {n} time(s).  "
     "The following corrective action will be taken in 60000 milliseconds: Restart the service.",
     ("Error", None, "Info", "System", "Microsoft-Windows-Service Control Manager", ["Classic"])),
    ("Microsoft-Windows-Security-Auditing", "{54849625-5478-4994-A5BA-3E3B0328C30D}", 4625, 0,
     12544, "Security",
     [("SubjectUserSid", "S-1-0-0"), ("TargetUserName", "administrator"),
      ("Status", "0xc000006d"), ("LogonType", "3"), ("IpAddress", "198.51.100.{n}")],
     "An account failed to log on.\r\n\r\nAccount For Which Logon Failed:\r\n"
     "\tAccount Name:\t\tadministrator\r\n\tSource Network Address:\t198.51.100.{n}\r\n\r\nFailure Information:\r\n"
     "\tFailure Reason:\t\tUnknown user name or bad password.",
     ("Information", "Logon", "Info", "Security", "Microsoft Windows security auditing.",
      ["Audit Failure"])),
    (DEFENDER, DEFENDER_GUID, 1116, 3, 0, DEFENDER_CHANNEL,
     [("Threat Name", "Virus:DOS/EICAR_Test_File"), ("Severity Name", "Severe"),
      ("Path", r"file:_C:\Users\sato\Desktop\eicar.com")],
     "Microsoft Defender Antivirus has detected malware or other potentially unwanted software.\r\n"
     " Name: Virus:DOS/EICAR_Test_File\r\n Severity: Severe\r\n Path: file:_C:\\Users\\sato\\Desktop\\eicar.com",
     ("Warning", "None", "Info", "Microsoft-Windows-Windows Defender/Operational",
      "Microsoft-Windows-Windows Defender", [])),
]


def forwarded_event(i: int, when: int, computer: str, kind: int | None = None) -> Event:
    """A record of ForwardedEvents: an event another computer sent, with the
    RenderingInfo that the RenderedText format carries."""
    provider, guid, event_id, level, task, channel, data, message, texts = \
        _FORWARDED_KINDS[i % len(_FORWARDED_KINDS) if kind is None else kind]
    keywords = 0x8010000000000000 if event_id == 4625 else (
        0x8080000000000000 if provider == "Service Control Manager" else 0x8000000000000000)
    rendered_level, rendered_task, opcode, rendered_channel, rendered_provider, words = texts
    return Event(
        provider=provider, provider_guid=guid, event_id=event_id,
        qualifiers=49152 if provider == "Service Control Manager" else None,
        event_source_name="Service Control Manager" if provider == "Service Control Manager" else None,
        level=level, task=task, keywords=keywords, time_created=filetime(when),
        process_id=640 + i % 50, thread_id=1200 + i % 97, channel=channel, computer=computer,
        user_id=SYSTEM_SID if event_id == 1116 else None,
        data=[(k, v.format(n=i + 1)) for k, v in data],
        activity_id="{C2E8F4B0-5A1D-4C2B-8E7F-0A0B0C0D0E0F}" if event_id == 4625 else None,
        rendering=Rendering(message=message.format(n=i + 1), level=rendered_level,
                            task=rendered_task, opcode=opcode, channel=rendered_channel,
                            provider=rendered_provider, keywords=words))


def forwarded_info(when: int, computer: str) -> Event:
    """A forwarded record of information: a service entered the running state."""
    return Event(
        provider="Service Control Manager", provider_guid="{555908D1-A6D7-4695-8E1E-26931D2012F4}",
        event_source_name="Service Control Manager", qualifiers=16384, event_id=7036, level=4,
        keywords=0x8080000000000000, time_created=filetime(when), channel="System",
        computer=computer, data=[("param1", "Windows Update"), ("param2", "running")],
        rendering=Rendering(message="The Windows Update service entered the running state.",
                            level="Information", opcode="Info", channel="System",
                            provider="Microsoft-Windows-Service Control Manager",
                            keywords=["Classic"]))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=("defender", "forwarded"))
    parser.add_argument("out")
    parser.add_argument("--count", type=int, default=20)
    args = parser.parse_args()
    start = int(dt.datetime.now(dt.timezone.utc).timestamp()) - 60 * args.count
    if args.kind == "defender":
        events = defender_events(start, args.count)
    else:
        computers = [f"WKS-{n:04d}.corp.example.jp" for n in range(1, 6)]
        events = [forwarded_event(i, start + 60 * i, computers[i % len(computers)])
                  for i in range(args.count)]
    ids = write_evtx(args.out, events)
    print(f"{args.out}: {len(ids)} records")


if __name__ == "__main__":
    main()
