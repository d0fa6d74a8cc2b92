#!/usr/bin/python3
"""The runner's pure helpers: what a test reads and writes must be exact, or an
end-to-end test would pass or fail for the wrong reason."""
import datetime as dt
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (HarnessError, display_numbers, free_display, ini_bytes, parse_reply,  # noqa: E402
                     parse_stamp, quote_word, read_ini, win_path, within)
import make_evt  # noqa: E402


class WinPathTest(unittest.TestCase):
    def test_linux_paths_map_to_the_z_drive(self):
        cases = [
            ("/work/main/a.exe", r"Z:\work\main\a.exe"),
            ("/", "Z:\\"),
            ("/tmp/with blank/x.ini", r"Z:\tmp\with blank\x.ini"),
        ]
        for linux, windows in cases:
            with self.subTest(linux=linux):
                self.assertEqual(win_path(linux), windows)


class SettingsFileTest(unittest.TestCase):
    def test_written_in_code_page_932_with_crlf(self):
        data = ini_bytes({"Subject": "監視警告", "Interval": "5"})
        self.assertEqual(data, b"[zkQuorvane]\r\nSubject=\x8a\xc4\x8e\x8b\x8cx\x8d\x90\r\nInterval=5\r\n")

    def test_a_key_set_to_none_has_no_line(self):
        data = ini_bytes({"AutoStart": "0", "IconStart": None, "ServiceStart": "0"})
        self.assertNotIn(b"IconStart", data)
        self.assertEqual(read_ini(data), {"autostart": "0", "servicestart": "0"})

    def test_read_back(self):
        cases = [
            ("keys are found whatever their case",
             b"[ZKQUORVANE]\r\nDATESTAMP = 2026/12/08\r\n", {"datestamp": "2026/12/08"}),
            ("other sections are not read",
             b"[other]\r\nTimeStamp=01:02:03\r\n[zkQuorvane]\r\nTimeStamp=04:05:06\r\n",
             {"timestamp": "04:05:06"}),
            ("the first of two equal keys wins",
             b"[zkQuorvane]\r\nTo=a@x\r\nTo=b@x\r\n", {"to": "a@x"}),
            ("an empty value stays empty", b"[zkQuorvane]\r\nFrom=\r\n", {"from": ""}),
            ("Japanese values decode", "[zkQuorvane]\nSubject=件名\n".encode("cp932"),
             {"subject": "件名"}),
        ]
        for what, data, expected in cases:
            with self.subTest(what):
                self.assertEqual(read_ini(data), expected)


class StampTest(unittest.TestCase):
    def test_only_the_fixed_form_is_a_stamp(self):
        self.assertEqual(parse_stamp("2026/12/08 04:14:53"), dt.datetime(2026, 12, 8, 4, 14, 53))
        for text in ["2026/12/8 4:14:53", "2026-12-08 04:14:53", "2026/12/08  04:14:53",
                     "2026/12/08 04:14:53 ", "", "2026/12/08"]:
            with self.subTest(text=text):
                with self.assertRaises(HarnessError):
                    parse_stamp(text)

    def test_a_moment_to_the_second_lies_within_the_start(self):
        earliest = dt.datetime(2026, 12, 8, 4, 14, 53, 900000)
        latest = dt.datetime(2026, 12, 8, 4, 14, 56, 100000)
        cases = [
            (dt.datetime(2026, 12, 8, 4, 14, 53), True),   # the second in which it started
            (dt.datetime(2026, 12, 8, 4, 14, 56), True),
            (dt.datetime(2026, 12, 8, 4, 14, 52), False),  # before the start
            (dt.datetime(2026, 12, 8, 4, 14, 57), False),  # after the window showed
            (dt.datetime(2025, 12, 8, 4, 14, 54), False),  # the stamp the file held before
        ]
        for moment, expected in cases:
            with self.subTest(moment=moment):
                self.assertEqual(within(moment, earliest, latest), expected)


class DriverReplyTest(unittest.TestCase):
    def test_values_and_refusals(self):
        self.assertEqual(parse_reply('{"ok":true,"value":["指定","種類"]}'), ["指定", "種類"])
        self.assertEqual(parse_reply('{"ok":true,"value":false}'), False)
        with self.assertRaisesRegex(HarnessError, "no message box"):
            parse_reply('{"ok":false,"error":"no message box"}')
        for garbage in ["", "ok", '["ok"]', '{"value":1}']:
            with self.subTest(garbage=garbage):
                with self.assertRaises(HarnessError):
                    parse_reply(garbage)

    def test_words_keep_their_blanks_and_refuse_quotes(self):
        self.assertEqual(quote_word("   "), '"   "')
        self.assertEqual(quote_word(" -install "), '" -install "')
        with self.assertRaises(ValueError):
            quote_word('a"b')


class DisplayTest(unittest.TestCase):
    def test_the_first_display_without_a_server(self):
        taken = {"/tmp/.X11-unix/X88", "/tmp/.X89-lock"}
        self.assertEqual(free_display(range(88, 92), taken.__contains__), 90)
        with self.assertRaises(HarnessError):
            free_display([88, 89], taken.__contains__)

    def test_the_displays_a_run_may_use(self):
        cases = [  # given, ZKQ_DISPLAY, displays
            ("79", None, [79]),
            (" 78-80 ", "88", [78, 79, 80]),
            (None, "78", [79]),
            ("", "88", [89]),
            (None, None, [60, 61]),
            (None, "x", [60, 61]),
        ]
        for given, wine, expected in cases:
            with self.subTest(given=given, wine=wine):
                self.assertEqual(display_numbers(given, wine, default=range(60, 62)), expected)
        for bad in ("80-78", "7a", "-3", "1-2-3"):
            with self.subTest(bad=bad), self.assertRaises(HarnessError):
                display_numbers(bad, None)


@unittest.skipUnless(shutil.which("evtexport"), "libevt-utils is not installed")
class GeneratedLogTest(unittest.TestCase):
    """The demo's generated log, read back by an independent reader."""

    def test_every_record_reads_back(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = Path(tmp) / "System.evt"
            log = make_evt.GrowingLog(path, "DEMO-PC", now=1_800_000_000)
            self.assertEqual(log.append_error(1_800_000_100), (7, 1_800_000_100))
            self.assertEqual(list(Path(tmp).iterdir()), [path])  # no temporary file left
            out = subprocess.run(["evtexport", str(path)], capture_output=True, text=True,
                                 check=True).stdout
        events = [e for e in out.split("Event number")[1:]]
        self.assertEqual(len(events), 7)
        first = dict(re.split(r"\t+: ", line, maxsplit=1) for line in events[0].splitlines()
                     if "\t: " in line)
        self.assertEqual(first["Event type"], "Error event (1)")
        self.assertEqual(first["Source name"], "Service Control Manager")
        self.assertEqual(first["Computer name"], "DEMO-PC")
        self.assertEqual(first["Event identifier"], "0xc0001b58 (3221232472)")
        self.assertEqual(first["String: 1"], "Demo Service")
        self.assertIn("Warning event (2)", events[1])
        self.assertIn("Information event (4)", events[2])
        self.assertIn("Demo Service 7", events[6])


if __name__ == "__main__":
    unittest.main(verbosity=1)
