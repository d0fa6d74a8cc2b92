"""SMTP servers on 127.0.0.1 for the end-to-end tests and the demo: a real
aiosmtpd that keeps every mail it receives, and a small scripted server that
holds its reply to DATA. Both stop by themselves after their lifetime.
Debian's /usr/bin/python3 (aiosmtpd and email from its packages).
"""
from __future__ import annotations

import email
import email.header
import email.policy
import socket
import threading
import time


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Inbox:
    """aiosmtpd on 127.0.0.1:port; mails holds (sender, recipients, bytes).
    While refusal is set, it is the reply to every mail's data, and the mail
    goes to refused instead; an address in gone is refused at RCPT TO."""

    def __init__(self, port: int | None = None, lifetime: float = 300.0):
        from aiosmtpd.controller import Controller

        inbox = self
        self.port = port or free_port()
        self.mails: list[tuple[str, list[str], bytes]] = []
        self.refusal: str | None = None
        self.refused: list[bytes] = []
        # Recipients refused for good at RCPT TO, each with a 550.
        self.gone: set[str] = set()
        self._arrived = threading.Condition()

        class Handler:
            async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
                if address in inbox.gone:
                    return "550 5.1.1 User unknown"
                envelope.rcpt_tos.append(address)
                return "250 OK"

            async def handle_DATA(self, server, session, envelope):
                if inbox.refusal:
                    inbox.refused.append(envelope.content)
                    return inbox.refusal
                with inbox._arrived:
                    inbox.mails.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.content))
                    inbox._arrived.notify_all()
                return "250 Message accepted for delivery"

        self._controller = Controller(Handler(), hostname="127.0.0.1", port=self.port)
        self._controller.start()
        self._stopper = threading.Timer(lifetime, self.stop)
        self._stopper.daemon = True
        self._stopper.start()
        self._stopped = False

    def wait(self, count: int, timeout: float) -> bool:
        """Whether count mails have come within timeout seconds."""
        with self._arrived:
            return self._arrived.wait_for(lambda: len(self.mails) >= count, timeout)

    def stop(self) -> None:
        if not self._stopped:
            self._stopped = True
            self._stopper.cancel()
            self._controller.stop()


class HoldingServer:
    """Accepts one client on 127.0.0.1:port, answers like a willing server, but
    waits hold seconds before its reply to DATA. data_asked is set when DATA
    came; message holds the data once it is in."""

    def __init__(self, port: int, hold: float, lifetime: float = 60.0):
        self.port = port
        self.hold = hold
        self.data_asked = threading.Event()
        self.message: bytes | None = None
        self._deadline = time.monotonic() + lifetime
        self._listener = socket.socket()
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", port))
        self._listener.listen(1)
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _left(self) -> float:
        return max(0.1, self._deadline - time.monotonic())

    def _serve(self) -> None:
        try:
            self._listener.settimeout(self._left())
            conn, _ = self._listener.accept()
        except OSError:
            return
        with conn:
            conn.settimeout(self._left())
            buffer = b""

            def line() -> bytes:
                nonlocal buffer
                while b"\r\n" not in buffer:
                    chunk = conn.recv(65536)
                    if not chunk:
                        raise OSError("closed")
                    buffer += chunk
                head, buffer = buffer.split(b"\r\n", 1)
                return head

            try:
                conn.sendall(b"220 holding server ready\r\n")
                while True:
                    command = line().upper()
                    if command.startswith(b"DATA"):
                        self.data_asked.set()
                        time.sleep(self.hold)
                        conn.sendall(b"354 go ahead\r\n")
                        while b"\r\n.\r\n" not in buffer:
                            chunk = conn.recv(65536)
                            if not chunk:
                                raise OSError("closed")
                            buffer += chunk
                        self.message = buffer.split(b"\r\n.\r\n", 1)[0] + b"\r\n"
                        conn.sendall(b"250 queued\r\n")
                        conn.recv(1)  # until the client hangs up, or the lifetime ends
                        return
                    conn.sendall(b"250 ok\r\n")
            except OSError:
                return

    def stop(self) -> None:
        self._listener.close()
        self._thread.join(timeout=5)


def decoded(message: bytes) -> dict:
    """The parts of a mail a reader sees: subject (its encoded words decoded),
    sender, date, message id and the body as text."""
    parsed = email.message_from_bytes(message, policy=email.policy.compat32)
    subject = str(email.header.make_header(email.header.decode_header(parsed.get("Subject", ""))))
    sender = str(email.header.make_header(email.header.decode_header(parsed.get("From", ""))))
    charset = parsed.get_content_charset() or "us-ascii"
    payload = parsed.get_payload(decode=True) or b""
    return {"subject": subject, "from": sender, "date": parsed.get("Date"),
            "message_id": parsed.get("Message-ID"), "charset": charset,
            "body": payload.decode(charset)}
