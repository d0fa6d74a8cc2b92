#!/usr/bin/env bash
# Builds zkQuorvane.exe and runs it under Wine from a demo folder: settings and
# rules that work, the System log read from an exported .evt file that holds a
# few records from before the start and gains an error every 20 to 40 seconds
# while the demo runs, monitoring switched on with a one-minute interval, and a
# local SMTP server that receives the alert mails: each cycle mails the errors
# written since the cycle before, and every mail is printed here with a line
# that says whether any of its records was mailed before.
#
# With a display (DISPLAY set) the main window opens on it. Without one it runs
# on its own Xvfb and follows the program from the terminal: each new status
# line is printed and a screenshot of the window saved in build/demo-screenshots/.
# Ctrl+C stops the program and everything this script started.
#   scripts/demo.sh [--headless]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
headless=()
prefix=$root/build/demo-wineprefix
if [ "${1:-}" = "--headless" ] || [ -z "${DISPLAY:-}" ]; then
  # Its own Xvfb: a prefix with a virtual desktop, so the screenshots show one desktop.
  headless=(--headless)
  prefix=$root/build/demo-wineprefix-headless
fi

bash scripts/setup.sh
mkdir -p "$root/build"
# Its own build folder, so that a test run going on at the same time is not disturbed.
bin=${ZKQ_DEMO_BUILD:-$root/build/demo-build}
echo "Building zkQuorvane.exe with mingw-w64 in $bin ..."
cmake -S "$root" -B "$bin" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >"$root/build/demo-configure.log" 2>&1 \
  || { cat "$root/build/demo-configure.log"; exit 1; }
cmake --build "$bin" --target zkQuorvane zkq_e2e_driver zkq_test_message_modules -j2
exe=$bin/src/app/win32/zkQuorvane.exe
driver=$bin/tests/e2e/zkq_e2e_driver.exe

# A fresh demo folder: the program reads its settings from its own folder.
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/logs"
cp "$exe" "$demo/"
# Security and Application are there, empty: a missing file is a log the
# program could not read, and it would say so in every status.
/usr/bin/python3 -c "import sys; sys.path.insert(0, '$root/tests/e2e'); from make_evt import empty_logs; empty_logs('$demo/logs')"

# A free local port for the SMTP server.
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

to_cp932() { /usr/bin/python3 -c 'import sys; sys.stdout.buffer.write(sys.stdin.read().replace("\n", "\r\n").encode("cp932"))'; }
to_cp932 >"$demo/zkQuorvane.ini" <<INI
[zkQuorvane]
SmtpServer=127.0.0.1
SmtpPort=$port
From=zkquorvane@localhost
To=admin@localhost
Subject=監視警告
DateStamp=$(date +%Y/%m/%d)
TimeStamp=$(date +%H:%M:%S)
Rules=rules.txt
Interval=1
AutoStart=1
IconStart=0
ServiceStart=0
EventLogDir=logs
INI
# Errors of the System log, and a service that must run: Wine runs its event
# log service, so it is checked every cycle and is never alerted.
to_cp932 >"$demo/rules.txt" <<'RULES'
System;対象;エラー;*;*;*
Service;Eventlog;開始;;;
RULES

echo "Demo folder: $demo (settings zkQuorvane.ini, rules rules.txt, logs/System.evt)"

# The follower runs the SMTP server too, and prints each mail beside the status lines.
/usr/bin/python3 tests/e2e/follow.py --exe "$demo/zkQuorvane.exe" --driver "$driver" \
  --prefix "$prefix" --smtp-port "$port" --grow-log "$demo/logs/System.evt" \
  --message-module "$bin/src/eventlog/win32/zkq_test_messages.dll" \
  --screenshots "$root/build/demo-screenshots" "${headless[@]}"
