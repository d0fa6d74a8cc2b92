#!/usr/bin/python3
"""Compares `zkq rows` on .evtx files with rows built from an independent
reading: the XML that Debian's evtxexport (libevtx-utils) prints for every
record. For each file in the folder, the rows of zkq, newest first by record
ID, must hold every record evtxexport reads, in order; for an undamaged file
exactly those. A damaged file is told once on stderr and ends with status 1.
Then `zkq check` over security.evtx as Security.evtx with an audit-success
rule for 4624 must alert exactly those records, and `zkq rows --xml` must
give XML that parses, with the System fields evtxexport shows.

usage: evtx_rows_check.py PATH/TO/zkq FOLDER"""
import datetime
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

ZKQ, FOLDER = sys.argv[1], sys.argv[2]
NS = "{http://schemas.microsoft.com/win/2004/08/events/event}"
AUDIT_FAILURE, AUDIT_SUCCESS = 0x10000000000000, 0x20000000000000
JAPAN = datetime.timedelta(hours=9)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def events(xml_text):
    """Each record's XML as an element, in the order given. evtxexport writes
    control characters as they are, which XML 1.0 does not allow."""
    xml_text = re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f]", "?", xml_text)
    docs = re.split(r"(?=<Event[ >])", xml_text)
    return [ET.fromstring(d.strip()) for d in docs if d.strip().startswith("<Event")]


def system(event):
    return event.find(NS + "System")


def independent_rows(path):
    """(record ID, eight texts) per record, from evtxexport's XML."""
    out = subprocess.run(["evtxexport", "-f", "xml", path], capture_output=True).stdout
    rows = []
    for event in events(out.decode("utf-8", "replace")):
        s = system(event)
        provider = s.find(NS + "Provider")
        keywords = int(s.findtext(NS + "Keywords") or "0", 16)
        level = int(s.findtext(NS + "Level") or "0")
        if keywords & AUDIT_FAILURE:
            kind = "失敗"
        elif keywords & AUDIT_SUCCESS:
            kind = "成功"
        else:
            kind = {1: "エラー", 2: "エラー", 3: "警告"}.get(level, "情報")
        created = s.find(NS + "TimeCreated").get("SystemTime")
        moment = datetime.datetime.strptime(created[:19], "%Y-%m-%dT%H:%M:%S") + JAPAN
        sid = (s.find(NS + "Security").get("UserID") if s.find(NS + "Security") is not None
               else None)
        # Without an account to look up, the monitor shows the SID as "S-1-5"
        # and its sub-authorities.
        user = "N/A" if not sid else "S-1-5" + "".join("-" + p for p in sid.split("-")[3:])
        source = provider.get("EventSourceName") or provider.get("Name")
        rows.append((int(s.findtext(NS + "EventRecordID")),
                     (kind, moment.strftime("%Y/%m/%d"), moment.strftime("%H:%M:%S"), source,
                      "なし", s.findtext(NS + "EventID"), user,
                      s.findtext(NS + "Computer"))))
    rows.sort(key=lambda r: -r[0])
    return rows


def zkq(*args):
    return subprocess.run([ZKQ, *args], capture_output=True)


def holds_in_order(ours, theirs):
    at = 0
    for row in theirs:
        while at < len(ours) and ours[at] != row:
            at += 1
        if at == len(ours):
            return row
        at += 1
    return None


for name in sorted(os.listdir(FOLDER)):
    if not name.endswith(".evtx"):
        continue
    path = os.path.join(FOLDER, name)
    expected = independent_rows(path)
    result = zkq("rows", path)
    ours = [tuple(line.split("\t")) for line in result.stdout.decode().splitlines()]
    theirs = [row for _, row in expected]
    told = result.stderr.decode().count("ReadEventLog function fails.")
    check(expected, f"{name}: evtxexport read records")
    missing = holds_in_order(ours, theirs)
    check(missing is None, f"{name}: row {missing} of evtxexport missing or out of order")
    damaged = "bad_chunk" in name
    if damaged:
        check(result.returncode == 1 and told == 1,
              f"{name}: damage told once ({told}), status {result.returncode}")
    else:
        check(ours == theirs, f"{name}: {len(ours)} rows, evtxexport {len(theirs)}")
        check(result.returncode == 0 and told == 0, f"{name}: status {result.returncode}")

    # The XML view: it parses, and each record's System fields are evtxexport's.
    xml = zkq("rows", "--xml", path)
    try:
        mine = events(xml.stdout.decode())
    except ET.ParseError as e:
        check(False, f"{name}: --xml does not parse: {e}")
        continue
    reference = {int(system(e).findtext(NS + "EventRecordID")): e
                 for e in events(subprocess.run(["evtxexport", "-f", "xml", path],
                                                capture_output=True).stdout.decode("utf-8",
                                                                                    "replace"))}
    check(len(mine) == len(ours), f"{name}: --xml gives {len(mine)} records for {len(ours)} rows")
    compared = 0
    for event in mine:
        number = int(system(event).findtext(NS + "EventRecordID"))
        if number not in reference:
            continue
        compared += 1
        theirs_s, mine_s = system(reference[number]), system(event)
        for field in ("EventID", "Level", "Task", "Keywords", "Channel", "Computer"):
            a, b = mine_s.findtext(NS + field), theirs_s.findtext(NS + field)
            if field == "Keywords" and a and b:
                a, b = int(a, 16), int(b, 16)
            check(a == b, f"{name} #{number}: {field} {a!r}, evtxexport {b!r}")
        for field, attribute in (("Provider", "Name"), ("TimeCreated", "SystemTime"),
                                 ("Execution", "ProcessID"), ("Security", "UserID")):
            a = mine_s.find(NS + field)
            b = theirs_s.find(NS + field)
            a = a.get(attribute) if a is not None else None
            b = b.get(attribute) if b is not None else None
            if field == "TimeCreated" and a and b:
                a, b = a[:26], b[:26]  # evtxexport adds two digits beyond the 100 ns
            check(a == b, f"{name} #{number}: {field}/@{attribute} {a!r}, evtxexport {b!r}")
    check(compared == len(reference), f"{name}: --xml compared {compared} of {len(reference)}")

# zkq check over a folder of .evtx logs.
with tempfile.TemporaryDirectory() as folder:
    with open(os.path.join(FOLDER, "security.evtx"), "rb") as src, \
            open(os.path.join(folder, "Security.evtx"), "wb") as dst:
        dst.write(src.read())
    rules = os.path.join(folder, "rules.txt")
    with open(rules, "w", encoding="cp932", newline="") as f:
        f.write("Security;対象;成功;Microsoft-Windows-Security-Auditing;なし;4624\r\n")
    result = zkq("check", "--rules", rules, "--dir", folder, "--no-messages")
    lines = result.stdout.decode().split("\r\n")
    alerted = [tuple(line.split()) for line in lines[1:] if line]
    wanted = [row for _, row in independent_rows(os.path.join(folder, "Security.evtx"))
              if row[0] == "成功" and row[5] == "4624"]
    check(result.returncode == 0 and lines[0] == "［セキュリティ］", f"check: {lines[:1]}")
    check(len(wanted) > 100 and alerted == wanted,
          f"check alerted {len(alerted)} lines, the independent reading {len(wanted)}")

# A channel's log under the name Windows gives its file; with --state the
# second run alerts nothing.
with tempfile.TemporaryDirectory() as folder:
    channel = "Microsoft-Windows-Sysmon/Operational"
    path = os.path.join(folder, channel.replace("/", "%4") + ".evtx")
    with open(os.path.join(FOLDER, "sysmon.evtx"), "rb") as src, open(path, "wb") as dst:
        dst.write(src.read())
    rules = os.path.join(folder, "rules.txt")
    with open(rules, "w", encoding="cp932", newline="") as f:
        f.write(f"{channel};対象;情報;Microsoft-Windows-Sysmon;なし;1\r\n")
    state = os.path.join(folder, "state.ini")
    runs = [zkq("check", "--rules", rules, "--dir", folder, "--no-messages", "--state", state)
            for _ in range(2)]
    lines = runs[0].stdout.decode().split("\r\n")
    alerted = [tuple(line.split()) for line in lines[1:] if line]
    wanted = [row for _, row in independent_rows(path) if row[0] == "情報" and row[5] == "1"]
    check(lines[0] == f"［{channel}］", f"channel check: {lines[:1]}")
    check(len(wanted) > 10 and alerted == wanted,
          f"channel check alerted {len(alerted)} lines, the independent reading {len(wanted)}")
    check(runs[1].stdout == b"", f"channel check again: {runs[1].stdout[:200]!r}")
    with open(state, encoding="cp932") as f:
        check(f"{channel}=" in f.read(), "channel bookmark kept under its name")

print("evtx rows:", "FAILED" if failures else "ok")
sys.exit(1 if failures else 0)
