#!/usr/bin/python3
"""Times `zkq rows` on a large .evtx file beside Debian's `evtxexport -f text`
on the same file, in turns, and prints the median wall time of each, their
ratio and the peak memory of zkq. Then times two `zkq check --state` runs: the
first reads the whole log, the second, after the bookmark, only what is new.

    /usr/bin/python3 bench/evtx_bench.py PATH/TO/zkq [FILE.evtx | MEGABYTES] [PAIRS]

Without a file, one of about 100 MB is made from the shared security.evtx
(bench/make_big_evtx.py).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "shared", "testdata", "evtx", "security.evtx")


def timed(argv, out=subprocess.DEVNULL):
    """Wall seconds and peak resident KiB of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=out, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed")
    return wall, usage.ru_maxrss


def main():
    zkq = sys.argv[1]
    arg = sys.argv[2] if len(sys.argv) > 2 else "100"
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory() as folder:
        if arg.endswith(".evtx"):
            path = arg
        else:
            path = os.path.join(folder, "Security.evtx")
            subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_big_evtx.py"), SAMPLE,
                            path, arg], check=True)
        size = os.path.getsize(path)
        ours, theirs, peak = [], [], 0
        for _ in range(pairs):
            wall, rss = timed([zkq, "rows", path])
            ours.append(wall)
            peak = max(peak, rss)
            theirs.append(timed(["evtxexport", "-f", "text", path])[0])
        a, b = statistics.median(ours), statistics.median(theirs)
        print(f"file: {size / 2**20:.1f} MiB")
        print(f"zkq rows:            median {a:.3f} s  ({size / 2**20 / a:.0f} MiB/s)")
        print(f"evtxexport -f text:  median {b:.3f} s  ({size / 2**20 / b:.1f} MiB/s)")
        print(f"ratio: {b / a:.1f}x (target 40x)")
        limit = size / 1024 + 64 * 1024
        print(f"zkq peak memory: {peak / 1024:.1f} MiB (limit {limit / 1024:.1f} MiB)"
              f" {'ok' if peak <= limit else 'OVER'}")

        # The bookmarked cycle: zkq check keeps the bookmarks as the monitor does.
        logs = os.path.join(folder, "logs")
        os.mkdir(logs)
        os.symlink(os.path.abspath(path), os.path.join(logs, "Security.evtx"))
        rules = os.path.join(folder, "rules.txt")
        with open(rules, "w", encoding="cp932", newline="") as f:
            f.write("Security;対象;*;*;*;*\r\n")
        state = os.path.join(folder, "state.ini")
        check = [zkq, "check", "--rules", rules, "--dir", logs, "--state", state, "--no-messages"]
        first, _ = timed(check)
        second, _ = timed(check)
        print(f"zkq check: first cycle {first:.3f} s, after the bookmark {second:.3f} s")


main()
