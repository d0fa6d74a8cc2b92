#!/usr/bin/env bash
# The layers, checked on the includes:
# - only files under a win32/ folder include Windows headers: everything else is
#   portable and built natively on Linux as well;
# - no subsystem, nor zkq or the benchmarks, includes the main window's app/;
# - one subsystem's win32/ does not include another's (base/win32 is shared),
#   except where the program and zkq.exe are put together from every adapter.
set -euo pipefail
cd "$(dirname "$0")/.."
failed=0
complain() {
  echo "$1"
  sed 's/^/  /' <<<"$2"
  failed=1
}

pattern='#\s*include\s*[<"](windows|winsock2?|ws2tcpip|winsvc|commctrl|shellapi|shlobj|winreg|winbase|winuser|wingdi|winnls|windowsx|winevt|sddl|lmcons|psapi|tlhelp32|objbase|ole2|mmsystem)\.h[>"]'
bad=$(grep -rlEi "$pattern" src tests bench 2>/dev/null | grep -v '/win32/' || true)
[ -z "$bad" ] || complain "Windows headers outside a win32/ folder:" "$bad"

bad=$(grep -rnE '#\s*include\s*"app/' src bench tests/fuzz 2>/dev/null | grep -vE '^src/app/' || true)
[ -z "$bad" ] || complain "Includes of app/ from a subsystem, zkq or the benchmarks:" "$bad"

# Where the program is assembled: the entry point and the adapters that hand a
# subsystem's Windows side to the main window's ports.
assembly='^src/app/win32/(win_main\.cpp|[a-z_]*(wiring|sender)[a-z_]*\.(h|cpp)):|^src/tool/win32/'
bad=$(grep -rnE '#\s*include\s*"[a-z]+/win32/' src 2>/dev/null | grep -vE "$assembly" |
      awk -F: '{ split($1, p, "/"); match($0, /"[a-z]+\/win32\//); inc = substr($0, RSTART + 1, RLENGTH - 8);
                 if (inc != "base" && inc != p[2]) print }' || true)
[ -z "$bad" ] || complain "One subsystem's win32/ including another's:" "$bad"

if [ "$failed" -ne 0 ]; then
  echo "layering: 0 passed, 1 failed"
  exit 1
fi
echo "layering: 1 passed, 0 failed"
