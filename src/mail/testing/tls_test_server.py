#!/usr/bin/python3
"""TLS servers on 127.0.0.1 for the tests of the TLS engines, with a test CA
made by openssl for this run only, around one test command:

    tls_test_server.py [--wine] -- COMMAND [ARGS...]

The command runs with these in its environment and its exit status is this
script's:
  ZKQ_TLS_CA         the test CA's certificate (PEM); a Windows path with --wine
  ZKQ_TLS_ROOTS      a hashed certificate directory (openssl rehash) holding it
  ZKQ_TLS_PORT       TLS 1.2 and newer, certificate for localhost and 127.0.0.1:
                     "BIG n" answers n letters and "END"; "BYE" ends the TLS
                     session (close_notify); any other line comes back
  ZKQ_TLS_OLD_PORT   the same certificate, but TLS 1.1 at most
  ZKQ_TLS_RENEG_PORT TLS 1.2 only (openssl s_server): after "RENEG" the server
                     renegotiates and sends "AFTER"; "AGAIN" is answered "DONE"
"""
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import warnings

# The old server is old on purpose.
warnings.filterwarnings("ignore", category=DeprecationWarning)


def run(*args, cwd):
    subprocess.run(args, cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
        "-out", "ca.pem", "-days", "2", "-subj", "/CN=zkQuorvane test CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
        "-out", "server.csr", "-subj", "/CN=localhost", cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    run("openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext",
        cwd=folder)


def listener():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(8)
    return s


def serve_lines(connection):
    reader = connection.makefile("rb")
    for line in reader:
        text = line.strip().decode("ascii", "replace")
        if text.startswith("BIG "):
            n = int(text[4:])
            connection.sendall(bytes(ord("a") + i % 26 for i in range(n)) + b"END\r\n")
        elif text == "BYE":
            connection.unwrap()
            return
        else:
            connection.sendall(line)


def serve(sock, context):
    def one(raw):
        try:
            with raw:
                raw.settimeout(30)
                with context.wrap_socket(raw, server_side=True) as tls:
                    serve_lines(tls)
        except (OSError, ssl.SSLError, ValueError):
            pass

    while True:
        try:
            raw, _ = sock.accept()
        except OSError:
            return
        threading.Thread(target=one, args=(raw,), daemon=True).start()


def context(folder, newest, oldest=None):
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if oldest is not None:
        c.set_ciphers("DEFAULT:@SECLEVEL=0")
        c.minimum_version = oldest
    else:
        c.minimum_version = ssl.TLSVersion.TLSv1_2
    c.maximum_version = newest
    c.load_cert_chain(os.path.join(folder, "server.pem"), os.path.join(folder, "server.key"))
    return c


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_renegotiating(folder):
    """openssl s_server, driven through its standard input: "r" renegotiates."""
    port = free_port()
    server = subprocess.Popen(
        ["openssl", "s_server", "-accept", f"127.0.0.1:{port}", "-tls1_2", "-cert",
         os.path.join(folder, "server.pem"), "-key", os.path.join(folder, "server.key")],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def drive():
        for line in server.stdout:
            if b"RENEG" in line:
                server.stdin.write(b"r\n")
                server.stdin.flush()
                time.sleep(0.2)
                server.stdin.write(b"AFTER\n")
                server.stdin.flush()
            elif b"AGAIN" in line:
                server.stdin.write(b"DONE\n")
                server.stdin.flush()

    threading.Thread(target=drive, daemon=True).start()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    return server, port


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def main():
    args = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="zkq-tls-") as scratch:
        wine = args[:1] == ["--wine"]
        command = args[args.index("--") + 1:]
        make_certificates(scratch)
        modern, old = listener(), listener()
        for sock, c in ((modern, context(scratch, ssl.TLSVersion.MAXIMUM_SUPPORTED)),
                        (old, context(scratch, ssl.TLSVersion.TLSv1_1, ssl.TLSVersion.TLSv1))):
            threading.Thread(target=serve, args=(sock, c), daemon=True).start()
        renegotiating, reneg_port = start_renegotiating(scratch)
        ca = os.path.join(scratch, "ca.pem")
        roots = os.path.join(scratch, "roots")
        os.mkdir(roots)
        with open(ca) as source, open(os.path.join(roots, "test-ca.pem"), "w") as copy:
            copy.write(source.read())
        run("openssl", "rehash", roots, cwd=scratch)
        env = dict(os.environ, ZKQ_TLS_CA=windows_path(ca) if wine else ca, ZKQ_TLS_ROOTS=roots,
                   ZKQ_TLS_PORT=str(modern.getsockname()[1]),
                   ZKQ_TLS_OLD_PORT=str(old.getsockname()[1]),
                   ZKQ_TLS_RENEG_PORT=str(reneg_port))
        try:
            return subprocess.run(command, env=env, timeout=240).returncode
        finally:
            renegotiating.kill()
            renegotiating.wait()


if __name__ == "__main__":
    sys.exit(main())
