#!/usr/bin/env bash
# Builds the Windows program in Release and writes the release zip and the
# installer,
#   build/dist/zkQuorvane-<version>-win64.zip   (packaging/make_zip.py)
#   build/dist/zkQuorvane-<version>-x64.msi     (packaging/make_msi.py) ZKQ_PACKAGE_BUILD chooses the build
# folder (default build/package-build, apart from the test builds).
#   scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh >/dev/null

bin=${ZKQ_PACKAGE_BUILD:-$root/build/package-build}
echo "Building zkQuorvane.exe and zkq.exe (Release) in $bin ..."
mkdir -p "$root/build"
cmake -S "$root" -B "$bin" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >"$root/build/package-configure.log" 2>&1 \
  || { cat "$root/build/package-configure.log"; exit 1; }
cmake --build "$bin" --target zkQuorvane zkq -j2

zip=$(/usr/bin/python3 packaging/make_zip.py --zkquorvane "$bin/src/app/win32/zkQuorvane.exe" \
  --zkq "$bin/src/tool/zkq.exe" --version-header "$bin/src/app/win32/app_version.h" \
  --out "$root/build/dist")
echo "Wrote $zip"
msi=$(/usr/bin/python3 packaging/make_msi.py --zkquorvane "$bin/src/app/win32/zkQuorvane.exe" \
  --zkq "$bin/src/tool/zkq.exe" --version-header "$bin/src/app/win32/app_version.h" \
  --out "$root/build/dist")
echo "Wrote $msi"
