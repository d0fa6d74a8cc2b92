#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 xvfb x11-utils x11-apps imagemagick fonts-ipafont-gothic
  python3 python3-aiosmtpd libevt-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
