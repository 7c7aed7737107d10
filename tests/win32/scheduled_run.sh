#!/usr/bin/env bash
# The real Windows program beside a batch of two real pairs (one with
# subdirectories), the slider moved to 1 and the log ticked with the mouse
# and keyboard: after one timer period (65.5 s) the targets hold the files
# with their times, the subdirectories, syncfile.log its lines, and the
# directory list files are gone.
# Usage: scheduled_run.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog" "$d/lists" "$d/s1/sub/deeper" "$d/t1" "$d/s2/skipped" "$d/t2"
echo one >"$d/s1/one.txt"
echo deep >"$d/s1/sub/deeper/deep.txt"
echo two >"$d/s2/two.txt"
echo not-walked >"$d/s2/skipped/x.txt"
touch -d '2021-05-06 07:08:09' "$d/s1/one.txt" "$d/s1/sub/deeper/deep.txt"
touch -d '2020-01-02 03:04:05' "$d/s2/two.txt"
printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' \
  "$(winpath "$d/s1")" "$(winpath "$d/t1")" "$(winpath "$d/s2")" "$(winpath "$d/t2")" \
  >"$d/prog/BATCH.INI"

start_program "$d/prog" "$d" "winbootdir=$(winpath "$d/lists")"
wait_shown 20
# The slider: a click gives it focus, Home takes it to 0, which springs to 1.
click "$ID_Slider1"
xdotool key Home
wait_for 10 "the slider did not come to 1" snapped is 1 value_of "$ID_Slider1" position
click "$ID_Check2"
wait_for 10 "Write to syncfile.log is not ticked" snapped is 1 value_of "$ID_Check2" checked
[ "$(text_of "$ID_Label1")" = "Interval in minutes 1-60 /Next update approx.  1 minutes from now..." ] \
  || fail "the countdown shows: $(text_of "$ID_Label1")"
if [ -n "$shots" ]; then import -window root "$shots/win-slider-at-1.png"; fi
start=$(date +%s)

replicated() { [ -f "$d/t2/two.txt" ] && [ -f "$d/t1/sub/deeper/deep.txt" ]; }
wait_for 100 "the batch was not replicated" replicated
took=$(($(date +%s) - start))
[ "$(cat "$d/t1/one.txt" 2>/dev/null)" = one ] || fail "entry 1 not replicated after ${took}s"
[ "$(cat "$d/t1/sub/deeper/deep.txt")" = deep ] || fail "subdirectories of entry 1 not replicated"
[ "$(cat "$d/t2/two.txt")" = two ] || fail "entry 2 not replicated"
[ -e "$d/t2/skipped" ] && fail "entry 2 has Subs:NO but was walked"
for f in s1/one.txt s1/sub/deeper/deep.txt s2/two.txt; do
  t=t${f#s}
  [ "$(stat -c %Y "$d/$f")" = "$(stat -c %Y "$d/$t")" ] \
    || fail "$t has the time $(stat -c %y "$d/$t"), its source $(stat -c %y "$d/$f")"
done
((took >= 55)) || fail "the run came after ${took}s, before one timer period"

# The run ends: its log lines written, its list files gone, and the window
# shows the countdown again with the pickers free.
log_lines() { grep -c 'files copied/moved' "$d/prog/syncfile.log" 2>/dev/null || true; }
wait_for 20 "syncfile.log does not hold 3 lines" is 3 log_lines
lists_gone() { [ -z "$(ls "$d/lists")" ]; }
wait_for 20 "list files are left" lists_gone
grep -Eq '^[0-9]{2}-[0-9]{2}-[0-9]{4}/[0-9]{2}:[0-9]{2}:[0-9]{2}- 1 files copied/moved'$'\r''$' "$d/prog/syncfile.log" \
  || fail "log line format: $(od -c "$d/prog/syncfile.log" | head -3)"
run_shown_over() {
  [ "$(text_of "$ID_Label1")" = "Interval in minutes 1-60/Next update approx.  1 minutes from now..." ] \
    && ! visible "$ID_ProgressBar1" && enabled "$ID_Command1"
}
wait_for 10 "after the run the window does not show its end" snapped run_shown_over
if [ -n "$shots" ]; then import -window root "$shots/win-after-run.png"; fi
echo "scheduled run after ${took}s: ok"
