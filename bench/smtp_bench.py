#!/usr/bin/python3
"""Sends a 10,000-line alert to a local aiosmtpd, with the program's SMTP
session (smtp_bench) and with Python's smtplib, in turns, and prints the median
time of each and their ratio.

    /usr/bin/python3 bench/smtp_bench.py build/bench/bench/smtp_bench [LINES] [RUNS] [--starttls]

With --starttls the server requires STARTTLS, with a certificate of a test CA
made for the run; both clients trust that CA (smtp_bench through its CA file
argument, as zkq send --ca-file) and secure the session before MAIL FROM.
"""
import os
import socket
import smtplib
import ssl
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def test_certificates(folder):
    """The test CA and the server certificate of the TLS engine tests."""
    sys.path.insert(0, os.path.join(HERE, "..", "src", "mail", "testing"))
    import tls_test_server
    tls_test_server.make_certificates(folder)
    return (os.path.join(folder, "ca.pem"), os.path.join(folder, "server.pem"),
            os.path.join(folder, "server.key"))


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
    args = [a for a in sys.argv[1:] if a != "--starttls"]
    starttls = "--starttls" in sys.argv
    bench = args[0]
    lines = int(args[1]) if len(args) > 1 else 10000
    runs = int(args[2]) if len(args) > 2 else 5
    message = alert(lines)
    port = free_port()
    scratch = tempfile.TemporaryDirectory(prefix="zkq-bench-")
    command = [sys.executable, "-m", "aiosmtpd", "-n", "-c", "aiosmtpd.handlers.Sink",
               "-l", f"127.0.0.1:{port}"]
    ours_extra, context = [], None
    if starttls:
        ca, cert, key = test_certificates(scratch.name)
        command += ["--tlscert", cert, "--tlskey", key]
        ours_extra = [ca]
        context = ssl.create_default_context(cafile=ca)
    server = subprocess.Popen(command)
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
                run = subprocess.run([bench, str(port), f.name, "1"] + ours_extra, timeout=120,
                                     capture_output=True, text=True)
                if run.returncode != 0:
                    sys.exit(f"smtp_bench failed: {run.stderr.strip()}")
                ours.append(float(run.stdout.split()[0]))
                start = time.perf_counter()
                with smtplib.SMTP("127.0.0.1", port, local_hostname="BENCH", timeout=60) as smtp:
                    if context is not None:
                        smtp.starttls(context=context)
                        smtp.ehlo("BENCH")
                    smtp.sendmail("zkq@example.jp", ["admin@example.jp"], message)
                theirs.append(time.perf_counter() - start)
    finally:
        server.terminate()
        server.wait(timeout=10)
        scratch.cleanup()
    a, b = statistics.median(ours), statistics.median(theirs)
    print(f"{lines} lines, {len(message)} bytes, median of {runs}"
          f"{' over STARTTLS' if starttls else ''}:")
    print(f"  zkQuorvane session  {a * 1000:8.1f} ms")
    print(f"  Python smtplib      {b * 1000:8.1f} ms")  # with starttls() when asked
    print(f"  ratio (session / smtplib) {a / b:.2f}")


if __name__ == "__main__":
    main()
