#!/usr/bin/env bash
# Cross-builds the Qt-free core and its tests with MinGW-w64 and runs every
# test program under Wine, in a Wine prefix of its own inside the build
# folder. Ends with "windows: N passed, M failed"; fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"

build=$PWD/build/mingw
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# The prefix is made once and kept; waiting for the server to end saves
# its registry.
if [ ! -f "$WINEPREFIX/.qm-ready" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  # Otherwise Wine marks every name that starts with a dot hidden.
  wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.qm-ready"
fi

# One wineserver for every program, or each one waits seconds at start.
wineserver -p

passed=0
failed=0
broken=0
while IFS= read -r exe; do
  name=$(basename "$exe" .exe)
  work=$(mktemp -d)
  log=$work.log
  set +e
  (cd "$work" && wine "$exe" --gtest_color=no) >"$log" 2>&1
  rc=$?
  set -e
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | tail -1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below.*/\1/p' "$log" | tail -1)
  p=${p:-0}
  f=${f:-0}
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
    # Crashed or never started: no gtest summary to go by.
    broken=$((broken + 1))
    f=1
  fi
  echo "$name: $p passed, $f failed"
  if [ "$rc" -ne 0 ]; then
    grep -E -A12 '^\[ RUN      \]' "$log" | grep -E -B1 -A10 'Failure' | head -80 || true
    grep -E '^\[  FAILED  \]' "$log" || tail -20 "$log"
  fi
  passed=$((passed + p))
  failed=$((failed + f))
  rm -rf "$work" "$log"
done < <(find "$build/tests" -name '*.exe' -type f | sort)

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
