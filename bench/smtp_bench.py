#!/usr/bin/python3
"""Sends a 10,000-line alert to a local aiosmtpd, with the program's SMTP
session (smtp_bench) and with Python's smtplib, in turns, and prints the median
time of each and their ratio.

    /usr/bin/python3 bench/smtp_bench.py build/bench/bench/smtp_bench [LINES] [RUNS]
"""
import socket
import smtplib
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def alert(lines):
    header = ("Subject:=?ISO-2022-JP?B?GyRCJTclOSVGJWAbKEI=?=\r\nFrom:\"\" <zkq@example.jp>\r\n"
              "To:admin@example.jp\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n")
    body = "".join(
        f"エラー\t2026/12/08\t10:{i // 60 % 60:02}:{i % 60:02}\tService Control Manager\tなし\t7034\tN/A\tPC01\r\n"
        for i in range(lines))
    return (header + body).encode("iso2022_jp")


def main():
    bench = sys.argv[1]
    lines = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    message = alert(lines)
    port = free_port()
    server = subprocess.Popen([sys.executable, "-m", "aiosmtpd", "-n", "-c", "aiosmtpd.handlers.Sink",
                               "-l", f"127.0.0.1:{port}"])
    try:
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        with tempfile.NamedTemporaryFile(suffix=".eml") as f:
            f.write(message)
            f.flush()
            ours, theirs = [], []
            for _ in range(runs):
                out = subprocess.run([bench, str(port), f.name, "1"], check=True, timeout=120,
                                     capture_output=True, text=True).stdout
                ours.append(float(out.split()[0]))
                start = time.perf_counter()
                with smtplib.SMTP("127.0.0.1", port, local_hostname="BENCH", timeout=60) as smtp:
                    smtp.sendmail("zkq@example.jp", ["admin@example.jp"], message)
                theirs.append(time.perf_counter() - start)
    finally:
        server.terminate()
        server.wait(timeout=10)
    a, b = statistics.median(ours), statistics.median(theirs)
    print(f"{lines} lines, {len(message)} bytes, median of {runs}:")
    print(f"  zkQuorvane session  {a * 1000:8.1f} ms")
    print(f"  Python smtplib      {b * 1000:8.1f} ms")
    print(f"  ratio (session / smtplib) {a / b:.2f}")


if __name__ == "__main__":
    main()
