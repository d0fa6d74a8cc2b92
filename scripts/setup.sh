#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 fonts-wine xvfb x11-utils x11-apps imagemagick fonts-ipafont-gothic
  python3 python3-aiosmtpd libevt-utils locales libssl-dev openssl
  libcurl4-openssl-dev nlohmann-json3-dev libevtx-utils python3-evtx
  msitools wixl
)

# Wine runs the program in a Japanese locale (code page 932); file names with
# Japanese characters need the glibc locale itself, not only its name.
have_ja_locale() { locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! have_ja_locale; then
  $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
