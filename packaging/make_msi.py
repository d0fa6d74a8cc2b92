#!/usr/bin/python3
"""Makes the per-machine installer from built executables:

    make_msi.py --zkquorvane zkQuorvane.exe --zkq zkq.exe --version-header app_version.h --out DIR

writes DIR/zkQuorvane-<version>-x64.msi (from zkQuorvane.wxs beside this
script, with wixl) and prints its path. It installs both executables,
stripped, into Program Files\\zkQuorvane, registers the service and the event
source, and writes the first settings into ProgramData\\zkQuorvane from the
properties SMTPSERVER, SMTPPORT, MAILFROM, MAILTO and SMTPSECURITY."""
from __future__ import annotations

import shutil
import subprocess
import tempfile
import uuid
from pathlib import Path

from make_zip import STRIP, run_command_line

HERE = Path(__file__).resolve().parent
UPGRADE_CODE = uuid.UUID("6F0C7B52-31D4-4E8A-9B1D-5A2C0E7F4D19")


def product_code(version: str) -> str:
    return str(uuid.uuid5(UPGRADE_CODE, version)).upper()


def make_msi(zkquorvane: Path, zkq: Path, version: str, out: Path) -> Path:
    with tempfile.TemporaryDirectory() as tmp:
        stage = Path(tmp)
        for exe, name in ((zkquorvane, "zkQuorvane.exe"), (zkq, "zkq.exe")):
            subprocess.run([STRIP, "-o", str(stage / name), str(exe)], check=True)
        out.mkdir(parents=True, exist_ok=True)
        target = out / f"zkQuorvane-{version}-x64.msi"
        partial = stage / target.name
        # wixl takes the files' sources relative to the folder it runs in.
        run = subprocess.run(["wixl", "-a", "x64", "-D", f"Version={version}",
                              "-D", f"ProductCode={product_code(version)}", "-o", str(partial),
                              str(HERE / "zkQuorvane.wxs")], cwd=stage, capture_output=True,
                             text=True)
        if run.returncode != 0 or not partial.exists():
            raise SystemExit(f"make_msi: wixl failed\n{run.stdout}{run.stderr}")
        shutil.move(partial, target)
        return target


def main() -> None:
    run_command_line(__doc__, make_msi)


if __name__ == "__main__":
    main()
