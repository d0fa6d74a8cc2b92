#!/usr/bin/env bash
# Runs a Windows executable under Wine with the project's private prefix and a
# headless X display, creating both on first use:
#   wine-run.sh PROGRAM.exe [ARGS...]   run it, with its exit code
#   wine-run.sh --prepare               only make sure prefix, display and server are up
#   wine-run.sh --stop                  stop the wineserver and the Xvfb this script started
# ZKQ_WINEPREFIX (default build/wineprefix) and ZKQ_DISPLAY (default 91) choose
# the prefix and the display number, so that several runs can stay apart.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
export WINEPREFIX=${ZKQ_WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=ja_JP.UTF-8
display_no=${ZKQ_DISPLAY:-91}
export DISPLAY=:$display_no
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
state=$WINEPREFIX.state
mkdir -p "$(dirname "$WINEPREFIX")" "$state"

server_socket() {
  [ -d "$WINEPREFIX" ] || return 1
  local id
  id=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  [ -S "/tmp/.wine-$(id -u)/$id/socket" ]
}

start_display() {
  if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    return
  fi
  if [ -e "/tmp/.X11-unix/X$display_no" ] && ! [ -f "$state/xvfb.pid" ]; then
    return   # somebody else's server on this display; use it
  fi
  rm -f "/tmp/.X$display_no-lock" "/tmp/.X11-unix/X$display_no"
  setsid Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$display_no" ] && return
    sleep 0.05
  done
  echo "wine-run: Xvfb did not start on $DISPLAY" >&2
  exit 1
}

# What prepare starts must not inherit fd 9, the lock: a server that keeps it
# open would make every later run wait for the lock forever.
prepare() {
  start_display
  if [ ! -f "$WINEPREFIX/.zkq-ready" ]; then
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    # A virtual desktop: without a window manager each closing window costs seconds.
    cat >"$state/desktop.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
REG
    "$wine" regedit /S "$(winepath_of "$state/desktop.reg")" </dev/null >/dev/null 2>&1 9>&- || true
    "$wineserver" -w || true
    touch "$WINEPREFIX/.zkq-ready"
  fi
  if ! server_socket; then
    # Started outside the caller's pipes, so that ctest does not wait for
    # Wine's background processes to close them.
    setsid "$wineserver" -p </dev/null >/dev/null 2>&1 9>&- || true
    setsid "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
}

winepath_of() { echo "Z:${1//\//\\}"; }

stop() {
  if [ -d "$WINEPREFIX" ]; then "$wineserver" -k 2>/dev/null || true; fi
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid"
  fi
}

case "${1:-}" in
  --stop) stop; exit 0 ;;
  --prepare) exec 9>"$state/lock"; flock 9; prepare; exit 0 ;;
  "") echo "usage: wine-run.sh PROGRAM.exe [ARGS...] | --prepare | --stop" >&2; exit 2 ;;
esac

( flock 9; prepare ) 9>"$state/lock"
exec "$wine" "$@"
