#!/usr/bin/python3
"""The monitor on a Windows Event Forwarding collector: one cycle of the real
program under Wine over a ForwardedEvents log that gained a million records
since the last cycle, 1 % of them alerted (errors, audit failures and
warnings of twenty computers, the rest information).

It measures the cycle from the timer's tick to its status line (read
through the end-to-end driver), the program's peak working set (the peak
resident size of its Wine process) beside the log's size, and checks that
the mail holds every alerted record. Then the same records through the
native `zkq check` from the same bookmark, as a proxy that a profiler can
look into (`--perf`: perf record, the hottest functions).

    /usr/bin/python3 bench/collector_bench.py --exe build/windows-cross/src/app/win32/zkQuorvane.exe \\
        --driver build/windows-cross/tests/e2e/zkq_e2e_driver.exe --zkq build/linux/src/tool/zkq \\
        [--records 1000000] [--perf]

Not a test: it takes minutes (writing the log alone takes one or two).
"""
from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
import make_evtx as mx  # noqa: E402
from harness import APP_TITLE, MAIN_CLASS, HarnessError, Session, ini_bytes  # noqa: E402
from make_evt import empty_logs  # noqa: E402
from run_e2e import NO_FINDINGS, SEND_OK, STARTED, bare, settings  # noqa: E402
from smtp_servers import Inbox, decoded, free_port  # noqa: E402

RULES = "\r\n".join(["ForwardedEvents;対象;エラー;*;*;*", "ForwardedEvents;対象;失敗;*;*;*",
                     "ForwardedEvents;対象;警告;*;*;*"]).encode("cp932") + b"\r\n"
COMPUTERS = [f"WKS-{n:04d}.corp.example.jp" for n in range(1, 21)]


def program_pid(folder: Path) -> int:
    """The Linux process of the program this run started from its folder."""
    wanted = str(folder).replace("/", "\\").encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read()
        except OSError:
            continue
        if b"zkQuorvane.exe" in cmdline and wanted in cmdline.replace(b"/", b"\\"):
            return int(entry)
    raise HarnessError("the program's process was not found")


def memory_kib(pid: int, key: str) -> int:
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def status_text(d) -> str:
    """The status line; a program busy with a long cycle answers nothing for a while."""
    while True:
        try:
            return bare(d("status", timeout=120)["text"])
        except HarnessError as e:
            if "did not answer" not in str(e) and "does not answer" not in str(e):
                raise


def wait_status(d, prefix: str, before: str, timeout: float) -> str:
    deadline = time.monotonic() + timeout
    while True:
        text = status_text(d)
        if text != before and prefix in text:
            return text
        if time.monotonic() > deadline:
            raise HarnessError(f"the status line shows {text!r}, not {prefix!r}")
        time.sleep(0.05)


def append_records(path: Path, count: int) -> tuple[int, float]:
    """count new records, 1 in 100 of them alerted; (alerted, seconds)."""
    start = time.perf_counter()
    now = int(time.time())
    alerted = 0
    with mx.EvtxWriter(path, append=True) as w:
        for i in range(count):
            computer = COMPUTERS[i % len(COMPUTERS)]
            if i % 100 == 50:
                w.add(mx.forwarded_event(alerted, now + i // 1000, computer))
                alerted += 1
            else:
                w.add(mx.forwarded_info(now + i // 1000, computer))
    return alerted, time.perf_counter() - start


def print_profile(data: Path, title: str, options: list[str]) -> None:
    report = subprocess.run(["perf", "report", "-i", str(data), "--stdio", *options],
                            capture_output=True, text=True).stdout
    print(title)
    for line in report.splitlines():
        if re.match(r"\s+\d+\.\d+%", line):
            print("  " + line.strip()[:150])


def native(zkq: Path, folder: Path, perf: bool) -> None:
    """zkq check over the same records from the program's bookmark."""
    logs = folder / "logs"
    runs = []
    for n in range(3):
        state = folder / f"state-{n}.ini"
        shutil.copy(folder / "state-before.ini", state)
        argv = [str(zkq), "check", "--rules", str(folder / "rules.txt"), "--dir", str(logs),
                "--state", str(state)]
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out = child.stdout.read()
        child.stderr.read()
        _, code, usage = os.wait4(child.pid, 0)
        runs.append((time.perf_counter() - start, usage.ru_maxrss, len(out)))
        if os.waitstatus_to_exitcode(code) != 0:
            sys.exit(f"zkq check failed: {os.waitstatus_to_exitcode(code)}")
    best = min(runs)
    print(f"zkq check (native, same records): {best[0]:.2f} s (best of 3), "
          f"peak {best[1] / 1024:.1f} MiB, alert {best[2] / 2**20:.1f} MiB")
    if best[2] < 1000:
        sys.exit("zkq check alerted nothing: it did not start from the bookmark before the records")
    nomsg = folder / "state-nomsg.ini"
    shutil.copy(folder / "state-before.ini", nomsg)
    start = time.perf_counter()
    subprocess.run([str(zkq), "check", "--rules", str(folder / "rules.txt"), "--dir", str(logs),
                    "--state", str(nomsg), "--no-messages"], stdout=subprocess.DEVNULL, check=True)
    print(f"zkq check --no-messages: {time.perf_counter() - start:.2f} s")
    if perf:
        state = folder / "state-perf.ini"
        shutil.copy(folder / "state-before.ini", state)
        data = folder / "perf.data"
        subprocess.run(["perf", "record", "-g", "-o", str(data), "--", str(zkq), "check",
                        "--rules", str(folder / "rules.txt"), "--dir", str(logs), "--state",
                        str(state)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)
        print_profile(data, "perf, functions above 2 % of the samples:",
                      ["--no-children", "--percent-limit", "2", "-g", "none"])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--exe", type=Path, required=True)
    parser.add_argument("--driver", type=Path, required=True)
    parser.add_argument("--zkq", type=Path)
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--work", type=Path, default=Path("build/bench-work"))
    parser.add_argument("--prefix", type=Path, default=Path("build/windows-cross/e2e-wineprefix"))
    parser.add_argument("--perf", action="store_true")
    parser.add_argument("--keep", action="store_true", help="leave the program folder and its log")
    args = parser.parse_args()
    for a in ("exe", "driver", "work", "prefix"):
        setattr(args, a, getattr(args, a).resolve())

    display = os.environ.get("ZKQ_DISPLAY")
    displays = [int(display) + 1] if display and display.isdigit() else list(range(88, 100))
    session = Session("collector-bench", work=args.work, prefix=args.prefix,
                      driver_exe=args.driver, screenshots=None, displays=displays, log=lambda _: None)
    inbox = Inbox(port=free_port(), lifetime=3600)
    folder = None
    try:
        ini = settings(Interval="1", AutoStart="1", EventLogDir="logs", SmtpPort=str(inbox.port))
        folder = session.program_folder(args.exe, ini_bytes(ini), RULES)
        logs = folder / "logs"
        log = logs / "ForwardedEvents.evtx"
        logs.mkdir()
        old = int(time.time()) - 3600
        mx.write_evtx(log, [mx.forwarded_info(old + i, COMPUTERS[i % 20]) for i in range(100)])
        empty_logs(logs)
        d = session.start(folder / args.exe.name)
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)
        status = wait_status(d, STARTED, "", 20)
        time.sleep(1.1)
        d("tick", 60000)
        status = wait_status(d, NO_FINDINGS, status, 60)  # the bookmark: the newest old record
        # The state before the new records, for zkq check to start from.
        shutil.copy(folder / "zkQuorvane.ini", folder / "state-before.ini")

        alerted, writing = append_records(log, args.records)
        size = log.stat().st_size
        print(f"log: {args.records + 100:,} records, {size / 2**20:.0f} MiB "
              f"({args.records:,} new, {alerted:,} alerted); written in {writing:.0f} s")

        pid = program_pid(folder)
        before = memory_kib(pid, "VmRSS")
        peak = [before]
        done = threading.Event()

        def sample():
            while not done.is_set():
                try:
                    peak[0] = max(peak[0], memory_kib(pid, "VmRSS"))
                except OSError:
                    return
                time.sleep(0.05)
        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()
        profiler = None
        if args.perf:  # which modules of the Wine process the cycle spends its time in
            profiler = subprocess.Popen(["perf", "record", "-F", "999", "-p", str(pid), "-o",
                                         str(folder / "wine.data")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.1)  # the status line counts whole seconds
        start = time.perf_counter()
        d("tick", 3_600_000)
        ticked = time.perf_counter() - start
        status = wait_status(d, SEND_OK, status, 3600)
        cycle = time.perf_counter() - start
        done.set()
        sampler.join()
        high = memory_kib(pid, "VmHWM")
        if profiler is not None:
            profiler.send_signal(2)
            profiler.wait(timeout=60)
            print_profile(folder / "wine.data",
                          "perf of the program's process during the cycle, by module "
                          "(Wine's heap is in ntdll.dll, the program's own code shows as [JIT]):",
                          ["--sort", "dso", "--percent-limit", "1"])
        print(f"cycle (tick to status line): {cycle:.2f} s; the tick was handled after "
              f"{ticked:.2f} s; status {status!r}")
        print(f"working set: {before / 1024:.0f} MiB before the cycle, peak "
              f"{max(high, peak[0]) / 1024:.0f} MiB, log {size / 2**20:.0f} MiB")
        if not inbox.wait(1, 60):
            raise HarnessError("the alert did not arrive")
        body = decoded(inbox.mails[0][2])["body"]
        rows = [line for line in body.split("\r\n") if line and not line.startswith((" ", "［"))]
        print(f"mail: {len(inbox.mails[0][2]) / 2**20:.1f} MiB, {len(rows):,} alerted records")
        if len(rows) != alerted:
            raise HarnessError(f"the mail holds {len(rows)} records, {alerted} were alerted")
        d("kill")
        if args.zkq:
            native(args.zkq.resolve(), folder, args.perf)
        return 0
    except HarnessError as e:
        print(f"FAILED: {e}")
        return 1
    finally:
        inbox.stop()
        session.stop()
        if folder is not None and not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
