#!/usr/bin/env bash
# The real Windows program with a batch entry on a drive whose medium is
# missing (M: names a folder that does not exist, as an empty card reader
# answers): the entry is kept in BATCH.INI at every start, each run names it
# in syncfile.log as not replicated, and the other entry is replicated.
# Usage: absent_drive.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog" "$d/src" "$d/dst"
echo one >"$d/src/one.txt"
notready=$WINEPREFIX/dosdevices/m:
if [ -e "$notready" ] || [ -L "$notready" ]; then fail "$notready is in the way"; fi
ln -s "$d/no-medium" "$notready"
trap 'rm -f "$notready"; cleanup' EXIT
printf '[batch]\r\nSource:%s\r\nTarget:M:\\backup\r\nSubs:YES\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' \
  "$(winpath "$d/src")" "$(winpath "$d/src")" "$(winpath "$d/dst")" >"$d/prog/BATCH.INI"
cp "$d/prog/BATCH.INI" "$d/batch.before"

# run_once: the program started with a tick of a second (the first run
# would come after 60 of them), the log ticked, then the slider taken to 1:
# the batch runs at the next tick and the program is ended after it.
run_once() {
  rm -f "$d/dst/one.txt"
  start_program "$d/prog" "$d" QUILLMERE_TICK_MS=1000
  local pid=${E2E_PIDS[-1]}
  wait_shown 20
  cmp -s "$d/prog/BATCH.INI" "$d/batch.before" \
    || fail "BATCH.INI changed at start: $(od -c "$d/prog/BATCH.INI" | head -5)"
  # The log first: the run comes at the next tick once the slider is at 1.
  click "$ID_Check2"
  wait_for 10 "Write to syncfile.log is not ticked" snapped is 1 value_of "$ID_Check2" checked
  click "$ID_Slider1"
  xdotool key Home
  wait_for 10 "the slider did not come to 1" snapped is 1 value_of "$ID_Slider1" position
  replicated() { [ -f "$d/dst/one.txt" ] && grep -q 'files copied/moved' "$d/prog/syncfile.log" 2>/dev/null; }
  wait_for 60 "the second entry was not replicated" replicated
  named() { [ "$(grep -c 'M:.* is not ready' "$d/prog/syncfile.log")" -ge "$1" ]; }
  wait_for 10 "syncfile.log does not name the drive: $(cat "$d/prog/syncfile.log")" named "$2"
  if [ -n "$shots" ]; then import -window root "$shots/win-absent-drive-$2.png"; fi
  kill "$pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p
}
run_once first 1
run_once second 2
cmp -s "$d/prog/BATCH.INI" "$d/batch.before" || fail "BATCH.INI changed"
echo "syncfile.log:"
tr -d '\r' <"$d/prog/syncfile.log"
echo "absent drive kept across two starts: ok"
