#!/usr/bin/env bash
# Only files under a win32/ folder may include Windows headers: everything else
# is portable and built natively on Linux as well.
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#\s*include\s*[<"](windows|winsock2?|ws2tcpip|winsvc|commctrl|shellapi|shlobj|winreg|winbase|winuser|wingdi|winnls|windowsx|winevt|sddl|lmcons|psapi|tlhelp32|objbase|ole2|mmsystem)\.h[>"]'
bad=$(grep -rlEi "$pattern" src tests bench 2>/dev/null | grep -v '/win32/' || true)
if [ -n "$bad" ]; then
  echo "Windows headers outside a win32/ folder:"
  echo "$bad"
  echo "layering: 0 passed, 1 failed"
  exit 1
fi
echo "layering: 1 passed, 0 failed"
