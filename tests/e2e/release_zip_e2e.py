#!/usr/bin/python3
"""End to end: the release zip as an administrator gets it. It is made from the
built executables, unzipped into a fresh folder, its checksums verified with
sha256sum, its sample files read as Windows reads them, and zkQuorvane.exe
started from it under Wine: the main window opens with the sample settings and
rules, shows no message box, and leaves the settings file's safe values as
they were.

    release_zip_e2e.py --exe zkQuorvane.exe --zkq zkq.exe --version-header app_version.h --driver zkq_e2e_driver.exe
"""
from __future__ import annotations

import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

here = Path(__file__).resolve().parent
sys.path.insert(0, str(here))
sys.path.insert(0, str(here.parent.parent / "packaging"))
from harness import APP_TITLE, MAIN_CLASS, HarnessError, Session, read_ini, run_single  # noqa: E402
import make_zip  # noqa: E402

IDC_LSTSYSTEM, IDC_LSTSECURITY, IDC_LSTAPPLICATION, IDC_LSTSERVICES = 1020, 1021, 1022, 1023
IDC_CHKSETTING0, IDC_TXTSMTPSERVER = 1030, 1046
CONTENTS = ["SHA256SUMS", "rules.txt", "zkQuorvane.exe", "zkQuorvane.ini", "zkq.exe",
            make_zip.README_NAME]


def equal(actual, expected, what: str) -> None:
    if actual != expected:
        raise HarnessError(f"{what}: expected {expected!r}, got {actual!r}")


def run_test(args, session: Session) -> None:
    version = make_zip.version_of(args.version_header)
    dist = session.work / "release_zip-dist"
    shutil.rmtree(dist, ignore_errors=True)
    archive = make_zip.make_zip(args.exe, args.zkq, version, dist)
    equal(archive.name, f"zkQuorvane-{version}-win64.zip", "the zip's name")

    folder = session.work / "release_zip-unzipped"
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(archive) as z:
        equal(sorted(z.namelist()), sorted(CONTENTS), "the zip's contents")
        z.extractall(folder)
    check = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=folder, capture_output=True,
                           text=True)
    equal(check.returncode, 0, f"sha256sum -c in the unzipped folder ({check.stdout}{check.stderr})")
    equal(len(check.stdout.splitlines()), len(CONTENTS) - 1, "files that SHA256SUMS checks")

    readme = (folder / make_zip.README_NAME).read_bytes()
    equal(readme[:3], b"\xef\xbb\xbf", "the read-me's byte order mark")
    text = readme[3:].decode("utf-8")
    for needed in (version, "-install", "zkQuorvane.ini", "rules.txt", "Event Log Readers", "msiexec"):
        if needed not in text:
            raise HarnessError(f"the read-me does not mention {needed!r}")
    if "\n" in text.replace("\r\n", ""):
        raise HarnessError("the read-me has a line end other than CR LF")
    settings = read_ini((folder / "zkQuorvane.ini").read_bytes())
    equal((settings.get("autostart"), settings.get("eventlogdir")), ("0", None),
          "AutoStart and EventLogDir of the sample settings")

    d = session.start(folder / "zkQuorvane.exe")
    d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
    d("wait-visible", 10000)
    session.screenshot("main-window", d("rect"))
    equal(d("list-rows", IDC_LSTSYSTEM),
          [["対象", "エラー", "*", "*", "*"], ["除外", "エラー", "DCOM", "なし", "10016"]],
          "sample System rules")
    equal(d("list-rows", IDC_LSTSECURITY), [["対象", "失敗", "*", "*", "*"]], "sample Security rules")
    equal(d("list-rows", IDC_LSTAPPLICATION), [["対象", "エラー", "*", "*", "*"]],
          "sample Application rules")
    equal(d("list-rows", IDC_LSTSERVICES), [["EventLog", "開始"], ["Schedule", "開始"]],
          "sample service rules")
    equal(d("text", IDC_TXTSMTPSERVER), "smtp.example.com", "the placeholder server")
    equal(d("control", IDC_CHKSETTING0).get("checked"), False, "automatic start")
    try:
        box = d("wait-msgbox", 3000)
    except HarnessError:
        box = None
    equal(box, None, "a message box at the first start")
    equal(read_ini((folder / "zkQuorvane.ini").read_bytes()).get("autostart"), "0",
          "AutoStart after the first start")


def main() -> int:
    return run_single("release_zip", __doc__, ("exe", "zkq", "version-header", "driver"),
                      lambda args, session: (lambda: run_test(args, session), None))


if __name__ == "__main__":
    sys.exit(main())
