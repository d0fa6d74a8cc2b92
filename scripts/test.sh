#!/usr/bin/env bash
# Runs every test: installs what is missing, builds and tests the portable core
# natively, builds the Windows program and runs its adapter and end-to-end tests
# under Wine, checks the layering rule and runs each fuzz target for a short
# fixed time. Prints the counts and exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZKQ_WERROR=ON
fuzz_seconds=${ZKQ_FUZZ_SECONDS:-15}
logs=$root/build/test-logs
mkdir -p "$logs"

passed=0
failed=0
failures=()

note() { printf '\n=== %s\n' "$*"; }

# ctest_counts LOG: adds ctest's "N tests failed out of M" to the totals.
ctest_counts() {
  local line total bad
  line=$(grep -E 'tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1)); failures+=("$2: ctest ran no test")
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
  [ "$bad" -eq 0 ] || failures+=("$2: $bad of $total tests failed")
}

step() {  # step NAME COMMAND...: a build step; its failure counts as one failed test
  local name=$1; shift
  if ! "$@" >"$logs/$name.log" 2>&1; then
    tail -n 60 "$logs/$name.log"
    failed=$((failed + 1)); failures+=("$name failed (log: build/test-logs/$name.log)")
    return 1
  fi
}

note "Installing packages"
step setup bash scripts/setup.sh || { echo "0 passed, 1 failed"; exit 1; }

note "Layering: Windows headers only under win32/"
if scripts/check-layers.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("layering"); fi

note "Linux: portable core and unit tests"
if step linux-configure cmake --preset linux && step linux-build cmake --build --preset linux; then
  ctest --preset linux 2>&1 | tee "$logs/linux-ctest.log" | grep -E '% tests passed|\*\*\*|\((Failed|Timeout)\)|^FAIL' || true
  ctest_counts "$logs/linux-ctest.log" linux
fi

note "Windows: cross build, adapter and end-to-end tests under Wine"
if step windows-configure cmake --preset windows-cross && step windows-build cmake --build --preset windows-cross; then
  scripts/wine-run.sh --prepare
  ctest --preset windows-cross 2>&1 | tee "$logs/windows-ctest.log" | grep -E '% tests passed|\*\*\*|\((Failed|Timeout)\)|^FAIL' || true
  ctest_counts "$logs/windows-ctest.log" windows
  scripts/wine-run.sh --stop
fi

note "Fuzzing: each target for ${fuzz_seconds}s"
if step fuzz-configure env CC=clang CXX=clang++ cmake -S . -B build/fuzz -DZKQ_FUZZ=ON -DZKQ_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
   && step fuzz-build cmake --build build/fuzz -j2; then
  for target in build/fuzz/tests/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    seeds=tests/fuzz/seeds/${name%_fuzz}
    args=("$corpus")
    [ -d "$seeds" ] && args+=("$seeds")
    if "$target" -max_total_time="$fuzz_seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
         -artifact_prefix="$logs/$name-" "${args[@]}" >"$logs/$name.log" 2>&1; then
      echo "$name: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$logs/$name.log" | tail -n 1 || echo ok)"
      passed=$((passed + 1))
    else
      tail -n 40 "$logs/$name.log"
      failed=$((failed + 1)); failures+=("$name found a fault (log: build/test-logs/$name.log)")
    fi
  done
fi

note "Summary"
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
