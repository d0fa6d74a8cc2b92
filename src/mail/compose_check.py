#!/usr/bin/python3
"""Reads what `zkq compose` writes with an independent mail decoder: Python's
email package, its Base64 and its iso2022_jp codec. Python follows JIS X 0208,
Windows code page 932 does not everywhere: where Python reads a JIS pair as
another character than Windows (0x2141 is U+301C, not U+FF5E) it is mapped back,
and where Python refuses a pair (NEC row 13, the NEC-selected IBM rows) the pair
is turned back into Shift-JIS and read with code page 932, as Windows mail
clients do.

usage: compose_check.py PATH/TO/zkq"""
import email
import email.header
import email.policy
import email.utils
import datetime
import os
import re
import subprocess
import sys
import tempfile

ZKQ = sys.argv[1]
JIS_TO_WINDOWS = str.maketrans("\u301c\u2016\u2212\u00a2\u00a3\u00ac",
                               "\uff5e\u2225\uff0d\uffe0\uffe1\uffe2")
ESC_RUN = re.compile(rb"\x1b\$B(.*?)\x1b\(B", re.S)

# (text for subject and body, body as it arrives, subject as it arrives); None: unchanged.
CASES = [
    ("あいうえお かきくけこ", None, None),
    ("監視対象のイベントが発生しました。", None, None),
    ("ｶﾞｷﾞｸﾞﾊﾟﾋﾟｳﾞｱﾞｰｽﾃｨｯｸ", "ガギグパピヴア゛ースティック", "カ゛キ゛ク゛ハ゜ヒ゜ウ゛ア゛ースティック"),
    ("記号～∥－￠￡￢①Ⅰ№㈱〒※→【】", None, None),
    ("髙橋さんと﨑山さん ⅰⅱ￤＇＂", None, None),
    ("Server WKS01: エラー 7036 (Service Control Manager) は停止しました", None, None),
    ("あ" * 18, None, None),
    ("あ" * 19, None, None),
    ("イベントログ監視" * 12 + " and ASCII words " * 6 + "最後", None, None),
    ("All quiet on WKS01, nothing to report.", None, None),
    ("利用者定義\ue000 é", "利用者定義? e", "利用者定義? e"),
    ("制御\x1b文字\x07です", "制御?文字?です", "制御?文字?です"),
]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def decode_jis(data):
    """ISO-2022-JP bytes to text: Python's codec where it reads the pairs,
    code page 932 for the rows it refuses; both must agree where both read."""
    def own(match):
        pairs = match.group(1)
        sjis = bytearray()
        for i in range(0, len(pairs) - 1, 2):
            j1, j2 = pairs[i], pairs[i + 1]
            sjis.append((j1 + 1) // 2 + (0x70 if j1 <= 0x5E else 0xB0))
            sjis.append(j2 + ((0x20 if j2 >= 0x60 else 0x1F) if j1 % 2 else 0x7E))
        return bytes(sjis).decode("cp932").encode("utf-8")
    mine = ESC_RUN.sub(own, data).decode("utf-8")
    try:
        python = data.decode("iso2022_jp").translate(JIS_TO_WINDOWS)
    except UnicodeDecodeError:
        return mine  # rows Python does not know
    check(python == mine, "Python and code page 932 read %r differently: %r %r" % (data, python, mine))
    return python


def compose(subject, body, attach=None):
    with tempfile.NamedTemporaryFile("wb", suffix=".txt", delete=False) as f:
        f.write(body.encode("utf-8"))
    args = [ZKQ, "compose", "--from", "monitor@example.com", "--to", "admin@example.com;ops@example.com",
            "--subject", subject, "--body-file", f.name]
    if attach:
        args += ["--attach", attach]
    try:
        done = subprocess.run(args, capture_output=True, timeout=60)
    finally:
        os.unlink(f.name)
    check(done.returncode == 0, "zkq compose %r exited %d: %s" % (subject, done.returncode, done.stderr))
    return done.stdout


def check_header(raw, name):
    header = raw.split(b"\r\n\r\n", 1)[0]
    for line in header.split(b"\r\n"):
        check(len(line) <= 76, "%s: header line of %d characters" % (name, len(line)))
        for word in re.findall(rb"=\?ISO-2022-JP\?B\?[^?]*\?=", line):
            check(len(word) <= 74, "%s: encoded word of %d characters" % (name, len(word)))
    check(all(b < 0x80 for b in raw), "%s: 8-bit byte in the message" % name)


def subject_of(raw):
    value = raw.split(b"\r\n\r\n", 1)[0].decode("ascii")
    value = re.search(r"^Subject:(.*?)\r\n(?! )", value, re.S | re.M).group(1).replace("\r\n", "")
    text = ""
    for part, charset in email.header.decode_header(value):
        # Without any encoded word the parts come back as text.
        text += decode_jis(part) if charset else part if isinstance(part, str) else part.decode("ascii")
    return text, value


ids = set()
now = datetime.datetime.now(datetime.timezone.utc)
for text, body_expected, subject_expected in CASES:
    body_expected = body_expected or text
    subject_expected = subject_expected or body_expected
    raw = compose(text, text)
    name = repr(text[:20])
    check_header(raw, name)
    message = email.message_from_bytes(raw)
    japanese = any(ord(c) > 127 for c in text)
    check(message.get_content_charset() == ("iso-2022-jp" if japanese else "us-ascii"), name + ": charset")
    check(message["MIME-Version"] == "1.0", name + ": MIME-Version")
    sent = email.utils.parsedate_to_datetime(message["Date"])
    check(sent.tzinfo is not None and abs((sent - now).total_seconds()) < 600, name + ": Date " + message["Date"])
    check(re.fullmatch(r"<\d{14}\.[0-9a-f]{16}@[^@<>\s]+>", message["Message-ID"] or "") is not None
          and message["Message-ID"] not in ids, name + ": Message-ID %r" % message["Message-ID"])
    ids.add(message["Message-ID"])
    body = decode_jis(message.get_payload(decode=True))
    check(body == body_expected + "\r\n", "%s: body %r" % (name, body))
    subject, value = subject_of(raw)
    # The encoder sets each encoded stretch (with the blanks inside it) off with
    # one blank on either side; the characters must come back exactly.
    squeeze = lambda s: re.sub(" +", " ", s).strip()
    spaced = re.sub(r"([^\x00-\x7f](?:[^\x00-\x7f ]| +(?=[^\x00-\x7f]))*)", r" \1 ", subject_expected)
    check(squeeze(subject) == squeeze(spaced), "%s: subject %r" % (name, subject))
    if text in ("あ" * 18, "あ" * 19):
        words = re.findall(r"=\?ISO-2022-JP\?B\?[^?]*\?=", value)
        check([len(decode_jis(email.header.decode_header(w)[0][0])) for w in words] ==
              ([18] if len(text) == 18 else [18, 1]), name + ": encoded words " + value)

# Two attachments: their Base64 lines stay within 76 characters and decode to the files.
with tempfile.TemporaryDirectory() as folder:
    files = {"data.bin": bytes(range(256)) * 40, "empty.log": b"", "監視ログ" * 12 + ".txt": b"x"}
    for file_name, content in files.items():
        with open(os.path.join(folder, file_name), "wb") as f:
            f.write(content)
    raw = compose("添付 ｶﾅ", "本文\n2行目\n", ",".join(os.path.join(folder, n) for n in files))
    check_header(raw, "multipart")
    check(max(len(line) for line in raw.split(b"\r\n")) <= 76, "multipart: a line over 76 characters")
    message = email.message_from_bytes(raw)
    parts = message.get_payload()
    check(message.is_multipart() and len(parts) == 4, "multipart: %d parts" % len(parts))
    check(decode_jis(parts[0].get_payload(decode=True)) == "本文\r\n2行目\r\n", "multipart: text part")
    for part, (file_name, content) in zip(parts[1:], files.items()):
        check(part.get_payload(decode=True) == content, "multipart: %s differs" % file_name)
        # Here the name is the whole path: "\\" is the only separator it knows.
        name = email.utils.collapse_rfc2231_value(part.get_param("name"))
        check(name == os.path.join(folder, file_name), "multipart: name %r" % name)
    check(subject_of(raw)[0].replace(" ", "") == "添付カナ", "multipart: subject")

# A record with a 2,000-character field: no line over 998 octets, each body
# line well-formed ISO-2022-JP on its own, the text joined back unchanged; a
# subject word too long to fold comes back whole; the To header is an address
# list that the strict parser reads whole.
field = ("イベントID 7036: サービスが停止しました。" * 100)[:2000]
long_word = "x" * 1200
raw = compose(long_word + " 長い件名", field)
check(max(len(line) for line in raw.split(b"\r\n")) <= 998, "long field: a line over 998 octets")
check(all(b < 0x80 for b in raw), "long field: 8-bit byte")
body_lines = raw.split(b"\r\n\r\n", 1)[1].split(b"\r\n")[:-1]
check(len(body_lines) > 2, "long field: body not broken (%d lines)" % len(body_lines))
for line in body_lines:
    check(line.rfind(b"\x1b$B") < line.rfind(b"\x1b(B") or b"\x1b$B" not in line,
          "long field: a line ends in JIS mode")
check("".join(decode_jis(line) for line in body_lines) == field, "long field: text differs")
strict = email.message_from_bytes(raw, policy=email.policy.default)
check([a.addr_spec for a in strict["To"].addresses] == ["admin@example.com", "ops@example.com"],
      "To header: %r" % strict["To"])
check(re.sub(r"\s", "", str(strict["Subject"])) == long_word + "長い件名",
      "long subject: %r" % str(strict["Subject"])[:80])

# The alert's subject reads as the settings' Subject, " - " and the computer
# name, with one blank on either side.
raw = compose("監視警告 - VM01", "本文")
alert_subject = str(email.message_from_bytes(raw, policy=email.policy.default)["Subject"])
check(alert_subject == "監視警告 - VM01", "alert subject: %r" % alert_subject)

for failure in failures:
    print("FAIL:", failure)
total = len(CASES) + 3
print("compose_check: %d cases, %d problems" % (total, len(failures)))
sys.exit(1 if failures else 0)
