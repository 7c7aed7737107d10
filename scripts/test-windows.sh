#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64 and runs
# them under Wine on a private X server, in a Wine prefix of its own inside
# the build folder: every test program, then the end-to-end tests of the
# real quillmere.exe (tests/win32/*.sh). Ends with
# "windows: N passed, M failed"; fails on any failure.
# QM_SHOTS=DIR keeps the end-to-end tests' screenshots there.
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

xvfb=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -f "$build/display"
}
trap cleanup EXIT

# The prefix is made once and kept; waiting for the server to end saves
# its registry.
if [ ! -f "$WINEPREFIX/.qm-ready-gui" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  # Otherwise Wine marks every name that starts with a dot hidden.
  wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
  # Without a window manager, Wine would wait at every show and hide.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.qm-ready-gui"
fi

# The window's tests need a display.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$build/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$build/display" ] || kill -0 "$xvfb" 2>/dev/null || break
  [ -s "$build/display" ] && break
  sleep 0.1
done
if ! kill -0 "$xvfb" 2>/dev/null || [ ! -s "$build/display" ]; then
  echo "windows: the X server did not start" >&2
  exit 1
fi
DISPLAY=":$(cat "$build/display")"
export DISPLAY

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
  # A program that hangs is a failure named here, not a run that never ends.
  (cd "$work" && timeout --kill-after=10 1500 wine "$exe" --gtest_color=no) >"$log" 2>&1
  rc=$?
  [ "$rc" -eq 124 ] && echo "$name: did not end within 1500 s" >>"$log"
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
done < <(find "$build/tests" -name '*_tests.exe' -type f | sort)
wineserver -k >/dev/null 2>&1 || true
kill "$xvfb" 2>/dev/null || true
wait "$xvfb" 2>/dev/null || true
xvfb=

# The real program, one test at a time: each has its own X server and Wine
# server.
export QM_EXE=$build/app/quillmere.exe
export QM_INSPECT=$build/tests/win32/qm-inspect.exe
[ -n "${QM_SHOTS:-}" ] && mkdir -p "$QM_SHOTS"
for t in first_start choose_pair drive_mouse tray failed_run scheduled_run tick_period single absent_drive unicode_names; do
  log=$(mktemp)
  start=$(date +%s)
  if timeout --kill-after=10 600 bash tests/win32/$t.sh ${QM_SHOTS:+"$QM_SHOTS"} >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "e2e $t: passed ($(( $(date +%s) - start )) s)"
  else
    failed=$((failed + 1))
    echo "e2e $t: FAILED"
    tail -20 "$log"
  fi
  rm -f "$log"
done

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
