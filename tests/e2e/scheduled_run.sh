#!/usr/bin/env bash
# The real program beside a batch of two real pairs (one with
# subdirectories), the slider moved to 1 and the log ticked: after one timer
# period the targets hold the files, syncfile.log its lines, and the
# directory list files are gone.
# Usage: scheduled_run.sh PROGRAM [SCREENSHOT-DIR]
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog" "$d/lists" "$d/s1/sub/deeper" "$d/t1" "$d/s2/skipped" "$d/t2"
cp "$prog" "$d/prog/quillmere"
echo one > "$d/s1/one.txt"
echo deep > "$d/s1/sub/deeper/deep.txt"
echo two > "$d/s2/two.txt"
echo not-walked > "$d/s2/skipped/x.txt"
printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' \
  "$d/s1" "$d/t1" "$d/s2" "$d/t2" > "$d/prog/BATCH.INI"

(cd "$d" && winbootdir="$d/lists" exec "$d/prog/quillmere") &
E2E_PIDS+=($!)
win=$(wait_window "Quillmere") || fail "the window did not appear"
# The slider: a click gives it focus, Home takes it to 0, which springs to 1.
click_at "$win" 300 6135
xdotool key Home
# "Write to syncfile.log".
click_at "$win" 6825 6375
[ -z "$shots" ] || import -window root "$shots/slider-at-1.png"
start=$(date +%s)

replicated() { [ -f "$d/t2/two.txt" ] && [ -f "$d/t1/sub/deeper/deep.txt" ]; }
wait_for 100 "the batch did not run" replicated
took=$(( $(date +%s) - start ))
[ -z "$shots" ] || import -window root "$shots/after-run.png"
[ "$(cat "$d/t1/one.txt" 2>/dev/null)" = one ] || fail "entry 1 not replicated after ${took}s"
[ "$(cat "$d/t1/sub/deeper/deep.txt")" = deep ] || fail "subdirectories of entry 1 not replicated"
[ "$(cat "$d/t2/two.txt")" = two ] || fail "entry 2 not replicated"
[ -e "$d/t2/skipped" ] && fail "entry 2 has Subs:NO but was walked"
(( took >= 55 )) || fail "the run came after ${took}s, before one timer period"
log_lines() {
  local n
  n=$(grep -c 'files copied/moved' "$d/prog/syncfile.log" 2>/dev/null) || true
  echo "${n:-0}"
}
# The run ends with the list files' removal; the log lines come before.
run_over() { [ -z "$(ls "$d/lists")" ] && [ "$(log_lines)" -ge 3 ]; }
wait_for 10 "the run did not end with its log lines and without list files" run_over
lines=$(log_lines)
[ "$lines" = 3 ] || fail "syncfile.log holds $lines lines: $(cat "$d/prog/syncfile.log" 2>/dev/null)"
grep -Eq '^[0-9]{2}-[0-9]{2}-[0-9]{4}/[0-9]{2}:[0-9]{2}:[0-9]{2}- 1 files copied/moved'$'\r''$' "$d/prog/syncfile.log" \
  || fail "log line format: $(od -c "$d/prog/syncfile.log" | head -3)"
[ -z "$(ls "$d/lists")" ] || fail "list files left: $(ls "$d/lists")"
echo "scheduled run after ${took}s: ok"
