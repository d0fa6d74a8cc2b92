"""The world of one end-to-end run: an X display, the Wine prefix, a program
folder, the driver process, screenshots, and the teardown that stops all of it
by process id. Standard library only; used by run_e2e.py and by the demo.
"""
from __future__ import annotations

import datetime as _dt
import fcntl
import json
import os
import re
import selectors
import shutil
import signal
import subprocess
import time
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64" if os.path.exists("/usr/lib/wine/wineserver64") else "wineserver"
APP_TITLE = "zkQuorvane"
MAIN_CLASS = "zkQuorvaneMain"
SECTION = "zkQuorvane"

# The virtual desktop: without a window manager every closing window would
# otherwise cost seconds, and the screenshots get one coherent desktop.
_DESKTOP_REG = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
"""


class HarnessError(Exception):
    """Something the test looked for is not so; the message says what."""


# --- pure helpers ---------------------------------------------------------

def win_path(path: os.PathLike | str) -> str:
    """The Windows name of a Linux path under Wine's Z: drive."""
    p = os.path.abspath(os.fspath(path))
    return "Z:" + p.replace("/", "\\")


def ini_bytes(values: dict[str, str | None], section: str = SECTION) -> bytes:
    """A settings file in code page 932; a key whose value is None is left out."""
    lines = [f"[{section}]"]
    lines += [f"{k}={v}" for k, v in values.items() if v is not None]
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


def read_ini(data: bytes, section: str = SECTION) -> dict[str, str]:
    """The keys of one section (names folded to lower case, values trimmed)."""
    out: dict[str, str] = {}
    current = None
    for raw in data.decode("cp932").splitlines():
        line = raw.strip()
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].strip().lower()
        elif current == section.lower() and "=" in line:
            key, value = line.split("=", 1)
            out.setdefault(key.strip().lower(), value.strip())
    return out


_STAMP = re.compile(r"^(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})$")


def parse_stamp(text: str) -> _dt.datetime:
    """A moment written "yyyy/mm/dd hh:mm:ss"; anything else is refused."""
    m = _STAMP.match(text)
    if not m:
        raise HarnessError(f"not a yyyy/mm/dd hh:mm:ss moment: {text!r}")
    return _dt.datetime(*map(int, m.groups()))


def within(moment: _dt.datetime, earliest: _dt.datetime, latest: _dt.datetime) -> bool:
    """Whether a moment written to the second lies between two exact ones."""
    return earliest.replace(microsecond=0) <= moment <= latest


def parse_reply(line: str):
    """The value of one driver answer; a refused command raises HarnessError."""
    try:
        reply = json.loads(line)
    except json.JSONDecodeError as e:
        raise HarnessError(f"the driver answered garbage: {line!r}") from e
    if not isinstance(reply, dict) or "ok" not in reply:
        raise HarnessError(f"the driver answered garbage: {line!r}")
    if not reply["ok"]:
        raise HarnessError(reply.get("error", "the driver refused the command"))
    return reply.get("value")


def quote_word(text: str) -> str:
    """One word of a driver command; blanks survive inside quotes."""
    if '"' in text or "\n" in text:
        raise ValueError(f"cannot pass {text!r} to the driver")
    return f'"{text}"'


def free_display(candidates, exists=os.path.exists) -> int:
    """The first display number without a running X server."""
    for n in candidates:
        if not exists(f"/tmp/.X11-unix/X{n}") and not exists(f"/tmp/.X{n}-lock"):
            return n
    raise HarnessError("no free X display among " + ", ".join(map(str, candidates)))


WINE_RUN_DISPLAY = 91  # scripts/wine-run.sh's display without ZKQ_DISPLAY


def display_numbers(given: str | None, wine_display: str | None, default=range(88, 100)) -> list[int]:
    """The X displays a run may use: "N" or "N-M" when given; otherwise the one
    after the display the Wine helper script keeps (ZKQ_DISPLAY), so that two
    engineers' runs with different ZKQ_DISPLAY never meet; else the default,
    less the display that scripts/wine-run.sh keeps by default (91): an end-to-end
    run's Xvfb there would be taken over by the unit tests' runs under Wine and
    pulled from under them when the end-to-end run stops."""
    if given:
        m = re.fullmatch(r"\s*(\d+)\s*(?:-\s*(\d+)\s*)?", given)
        if not m or (m.group(2) and int(m.group(2)) < int(m.group(1))):
            raise HarnessError(f"not a display number or range N-M: {given!r}")
        first = int(m.group(1))
        return list(range(first, int(m.group(2) or first) + 1))
    if wine_display and wine_display.strip().isdigit():
        return [int(wine_display) + 1]
    return [n for n in default if n != WINE_RUN_DISPLAY]


# --- processes ------------------------------------------------------------

def stop_process(proc: subprocess.Popen | None, grace: float = 3.0) -> None:
    """Ends one process that this harness started, by its id."""
    if proc is None or proc.poll() is not None:
        return
    try:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=grace)
    except ProcessLookupError:
        pass


class Driver:
    """One zkq_e2e_driver.exe kept open for a whole test: a command a line in,
    one JSON answer a line out."""

    def __init__(self, exe: Path, env: dict[str, str], log):
        self._log = log
        self.proc = subprocess.Popen(
            [WINE, str(exe)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, env=env, start_new_session=True)
        self._buffer = b""
        self._selector = selectors.DefaultSelector()
        self._selector.register(self.proc.stdout, selectors.EVENT_READ)

    def __call__(self, *words, timeout: float = 30.0):
        """Runs one command; its own time-out (ms), if any, is added to timeout."""
        line = " ".join(str(w) for w in words)
        self._log(f"  > {line}")
        self.proc.stdin.write((line + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        waits = [int(w) for w in words[1:] if isinstance(w, int) and w >= 100]
        deadline = time.monotonic() + timeout + sum(waits) / 1000.0
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise HarnessError(f"the driver did not answer {line!r}")
            if not self._selector.select(left):
                continue
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise HarnessError(f"the driver ended while running {line!r}")
            self._buffer += chunk
        raw, self._buffer = self._buffer.split(b"\n", 1)
        text = raw.decode("utf-8").rstrip("\r")
        self._log(f"  < {text[:300]}")
        return parse_reply(text)

    def close(self) -> None:
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.flush()
                self.proc.wait(timeout=5)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                pass
        stop_process(self.proc)
        self._selector.close()


class Session:
    """Xvfb, the Wine prefix and one program folder; stop() undoes all of it."""

    def __init__(self, name: str, *, work: Path, prefix: Path, driver_exe: Path,
                 screenshots: Path | None, displays=range(88, 100), display: str | None = None,
                 virtual_desktop: bool = True, tz: str | None = None, log=print):
        self.name = name
        self.work = work
        self.prefix = prefix
        self.driver_exe = driver_exe
        self.screenshots = screenshots
        self.log = log
        self.virtual_desktop = virtual_desktop
        self.xvfb: subprocess.Popen | None = None
        self.driver: Driver | None = None
        self._folders = 0
        self._lock = self._take_prefix(prefix)
        if screenshots is not None and screenshots.is_dir():
            for old in screenshots.glob(f"{name}-*.png"):  # a rerun leaves no stale pictures
                old.unlink()
        if display is None:
            self.display = self._start_xvfb_on_free(list(displays))
        else:
            self.display = display
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display,
                        LC_ALL="ja_JP.UTF-8")
        # Wine takes local time and the time-zone information of a process
        # from the TZ of its Linux process, and a program started by another
        # one inherits that process's Linux TZ: a TZ set in the Windows
        # environment of CreateProcess is ignored, and the wineserver's TZ
        # plays no part. So the zone is set for the driver, which starts the
        # program.
        if tz is not None:
            self.env["TZ"] = tz
        self._prepare_prefix()

    # the display and the prefix
    def _start_xvfb_on_free(self, candidates: list[int]) -> str:
        """Xvfb on the first free display; one that another run takes between
        the look and the start is passed over."""
        left = list(candidates)
        while True:
            number = free_display(left)
            try:
                self._start_xvfb(number)
                return f":{number}"
            except HarnessError:
                stop_process(self.xvfb)
                self.xvfb = None
                left = left[left.index(number) + 1:]
                if not left:
                    raise

    def _start_xvfb(self, number: int) -> None:
        self.xvfb = subprocess.Popen(
            ["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        deadline = time.monotonic() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            if self.xvfb.poll() is not None or time.monotonic() > deadline:
                raise HarnessError(f"Xvfb did not start on :{number}")
            time.sleep(0.05)

    def _wine(self, *args, timeout=120) -> None:
        subprocess.run([WINE, *args], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)

    def _take_prefix(self, prefix: Path):
        """Holds the prefix for the whole run: two runs from one build tree (two
        terminals, a test run beside another) take turns instead of stopping
        each other's Wine server, program folders and screenshots."""
        prefix.parent.mkdir(parents=True, exist_ok=True)
        lock = open(str(prefix) + ".lock", "w")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            self.log(f"waiting for another run that uses {prefix}")
            fcntl.flock(lock, fcntl.LOCK_EX)
        return lock

    def _prepare_prefix(self) -> None:
        ready = self.prefix / ".zkq-e2e-ready"
        if ready.exists():
            return
        self.log(f"creating the Wine prefix {self.prefix} (once)")
        self._wine("wineboot", "-i")
        if self.virtual_desktop:
            reg = self.prefix / "zkq-desktop.reg"
            reg.write_text(_DESKTOP_REG)
            self._wine("regedit", "/S", win_path(reg))
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=120)
        ready.touch()

    def register_event_sources(self, log: str, sources: dict[str, dict[str, str]],
                               remove: bool = False) -> None:
        """Registers (or removes) event sources of log in the prefix's registry,
        each with its values as REG_EXPAND_SZ ("EventMessageFile" and the like)."""
        key = rf"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\{log}"
        lines = ["Windows Registry Editor Version 5.00", ""]
        for source, values in sources.items():
            lines.append(f"[{'-' if remove else ''}{key}\\{source}]")
            for name, value in ({} if remove else values).items():
                hex2 = ",".join(f"{b:02x}" for b in (value + "\0").encode("utf-16-le"))
                lines.append(f'"{name}"=hex(2):{hex2}')
            lines.append("")
        self.work.mkdir(parents=True, exist_ok=True)
        reg = self.work / f"{self.name}-sources.reg"
        # Wine's regedit reads hex(2) values right only from a UTF-16 file.
        reg.write_text("\r\n".join(lines), encoding="utf-16")
        subprocess.run([WINE, "regedit", "/S", win_path(reg)], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)

    # program folders
    def program_folder(self, exe: Path, ini: bytes | None, rules: bytes | None = None,
                       rules_name: str = "rules.txt", extra: dict[str, bytes] | None = None) -> Path:
        """A fresh folder with the program copied in, its settings and rules."""
        self._folders += 1
        folder = self.work / f"{self.name}-{self._folders}"
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        shutil.copy2(exe, folder / exe.name)
        if ini is not None:
            (folder / "zkQuorvane.ini").write_bytes(ini)
        if rules is not None:
            (folder / rules_name).write_bytes(rules)
        for rel, data in (extra or {}).items():
            target = folder / rel
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        return folder

    def open_driver(self) -> Driver:
        if self.driver is None:
            self.driver = Driver(self.driver_exe, self.env, self.log)
            if self.virtual_desktop:
                self.driver("wait-taskbar", 20000)
        return self.driver

    def start(self, exe_in_folder: Path, arguments: str | None = None) -> Driver:
        """Starts the program through the driver, which then watches that process."""
        d = self.open_driver()
        words = ["start", quote_word(win_path(exe_in_folder))]
        if arguments is not None:
            words.append(quote_word(arguments))
        d(*words)
        return d

    # screenshots
    def screenshot(self, label: str, rect: dict | None = None) -> Path | None:
        """A PNG of the desktop, or of one window's rectangle on it."""
        if self.screenshots is None:
            return None
        self.screenshots.mkdir(parents=True, exist_ok=True)
        out = self.screenshots / f"{self.name}-{label}.png"
        cmd = ["import", "-display", self.display, "-window", "root"]
        if rect is None and self.virtual_desktop and self.xvfb is not None:
            rect = {"left": 0, "top": 0, "right": 1024, "bottom": 768}  # the Wine desktop
        if rect:
            w, h = rect["right"] - rect["left"], rect["bottom"] - rect["top"]
            if w > 0 and h > 0:
                cmd += ["-crop", f"{w}x{h}+{max(rect['left'], 0)}+{max(rect['top'], 0)}", "+repage"]
        cmd.append(str(out))
        result = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, timeout=30)
        if result.returncode != 0:
            raise HarnessError(f"screenshot failed: {result.stderr.decode(errors='replace')}")
        self.log(f"  screenshot {out}")
        return out

    def stop(self) -> None:
        """Stops the program, the driver, the Wine server and Xvfb."""
        if self.driver is not None:
            try:
                self.driver("kill", timeout=10)
            except HarnessError:
                pass
            self.driver.close()
            self.driver = None
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run([WINESERVER, "-w"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        stop_process(self.xvfb)
        self.xvfb = None
        if self._lock is not None:
            self._lock.close()  # lets the next run that waits for the prefix go on
            self._lock = None


def run_single(name: str, description: str | None, paths: tuple[str, ...], make_test,
               texts: tuple[str, ...] = ()) -> int:
    """The main() of a script that runs one end-to-end test. paths and texts
    name its required options besides the common ones; make_test(args, session)
    gives the test's run and its cleanup (or None). A failure is reported with
    the last lines of the log and a screenshot, taken before the cleanup."""
    import argparse
    import contextlib
    import traceback
    parser = argparse.ArgumentParser(description=description,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    for a in paths:
        parser.add_argument(f"--{a}", type=Path, required=True)
    for a in texts:
        parser.add_argument(f"--{a}", required=True)
    parser.add_argument("--work", type=Path, default=Path("build/e2e-work"))
    parser.add_argument("--prefix", type=Path, default=Path("build/e2e-wineprefix"))
    parser.add_argument("--screenshots", type=Path, default=Path("build/screenshots"))
    parser.add_argument("--displays", default=os.environ.get("ZKQ_E2E_DISPLAYS"))
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    for a in (*paths, "work", "prefix", "screenshots"):
        a = a.replace("-", "_")
        setattr(args, a, getattr(args, a).resolve())
    displays = display_numbers(args.displays, os.environ.get("ZKQ_DISPLAY"))

    lines: list[str] = []
    session = None
    try:
        session = Session(name, work=args.work, prefix=args.prefix, driver_exe=args.driver,
                          screenshots=args.screenshots, displays=displays,
                          log=print if args.verbose else lines.append)
        run, cleanup = make_test(args, session)
        try:
            run()
        except Exception:
            with contextlib.suppress(Exception):
                session.screenshot("at-failure")
            raise
        finally:
            if cleanup is not None:
                cleanup()
        print(f"PASS {name}")
        return 0
    except Exception as e:
        report = [f"FAIL {name}: {e}", *([] if args.verbose else lines[-40:])]
        if not isinstance(e, HarnessError):
            report.append(traceback.format_exc())
        print("\n".join(report))
        return 1
    finally:
        if session is not None:
            session.stop()
