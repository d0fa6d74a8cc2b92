#!/usr/bin/python3
"""Makes the release zip from built executables:

    make_zip.py --zkquorvane zkQuorvane.exe --zkq zkq.exe --version-header app_version.h --out DIR

writes DIR/zkQuorvane-<version>-win64.zip and prints its path. The zip holds
the two executables, stripped; a sample zkQuorvane.ini in code page 932 that
starts safely (no automatic start, no exported-log folder, a placeholder
server); a sample rules file; the Japanese read-me in UTF-8 with a BOM, so that
Notepad shows it; and SHA256SUMS of the other files, for `sha256sum -c`. The
version is the one the version resource is built from."""
from __future__ import annotations

import argparse
import hashlib
import re
import shutil
import subprocess
import tempfile
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
STRIP = "x86_64-w64-mingw32-strip"

SETTINGS = """[zkQuorvane]
SmtpServer=smtp.example.com
SmtpPort=25
From=zkquorvane@example.com
To=admin@example.com
Subject=監視警告
DateStamp=
TimeStamp=
Rules=rules.txt
Interval=5
AutoStart=0
IconStart=0
ServiceStart=0
Heartbeat=08:30
"""

# The common cases: errors of System and Application, failed audits of
# Security, one well-known harmless error left out, two services that must run.
RULES = """System;対象;エラー;*;*;*
System;除外;エラー;DCOM;なし;10016
Security;対象;失敗;*;*;*
Application;対象;エラー;*;*;*
Service;EventLog;開始;;;
Service;Schedule;開始;;;
"""

README_NAME = "はじめにお読みください.txt"


def windows_text(text: str, encoding: str) -> bytes:
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode(encoding)


def version_of(header: Path) -> str:
    found = re.search(r'^#define ZKQ_VERSION_TEXT "([^"]+)"$', header.read_text(), re.M)
    if not found:
        raise SystemExit(f"make_zip: no version in {header}")
    return found.group(1)


def make_zip(zkquorvane: Path, zkq: Path, version: str, out: Path) -> Path:
    with tempfile.TemporaryDirectory() as tmp:
        stage = Path(tmp)
        for exe in (zkquorvane, zkq):
            subprocess.run([STRIP, "-o", str(stage / exe.name), str(exe)], check=True)
        (stage / "zkQuorvane.ini").write_bytes(windows_text(SETTINGS, "cp932"))
        (stage / "rules.txt").write_bytes(windows_text(RULES, "cp932"))
        readme = (HERE / "readme-ja.txt").read_text(encoding="utf-8").replace("@VERSION@", version)
        (stage / README_NAME).write_bytes(b"\xef\xbb\xbf" + windows_text(readme, "utf-8"))
        files = sorted(p.name for p in stage.iterdir())
        sums = "".join(f"{hashlib.sha256((stage / n).read_bytes()).hexdigest()}  {n}\n"
                       for n in files)
        (stage / "SHA256SUMS").write_text(sums, encoding="utf-8")
        out.mkdir(parents=True, exist_ok=True)
        target = out / f"zkQuorvane-{version}-win64.zip"
        partial = target.with_suffix(".zip.part")
        with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
            for name in [*files, "SHA256SUMS"]:
                z.write(stage / name, name)  # a non-ASCII name is stored as flagged UTF-8
        shutil.move(partial, target)
        return target


def run_command_line(description: str, make) -> None:
    """The main() of a packaging script: make(zkquorvane, zkq, version, out)
    writes the package and gives its path, which is printed."""
    parser = argparse.ArgumentParser(description=description,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--zkquorvane", type=Path, required=True)
    parser.add_argument("--zkq", type=Path, required=True)
    parser.add_argument("--version-header", type=Path, required=True)
    parser.add_argument("--out", type=Path, required=True)
    args = parser.parse_args()
    print(make(args.zkquorvane, args.zkq, version_of(args.version_header), args.out))


def main() -> None:
    run_command_line(__doc__, make_zip)


if __name__ == "__main__":
    main()
