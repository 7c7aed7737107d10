#!/usr/bin/env bash
# The real Windows program started with QUILLMERE_TICK_MS=1500: Timer1 ticks
# every 1.5 s in place of every 65.5 s. The countdown goes down by a minute
# at each tick, and with the slider at 1 the next tick runs the batch: the
# target holds the source's file with its time, and syncfile.log its line.
# Usage: tick_period.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog" "$d/lists" "$d/src" "$d/dst"
echo one >"$d/src/one.txt"
touch -d '2021-05-06 07:08:09' "$d/src/one.txt"
printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' "$(winpath "$d/src")" \
  "$(winpath "$d/dst")" >"$d/prog/BATCH.INI"

t0=$(now_ms)
start_program "$d/prog" "$d" "winbootdir=$(winpath "$d/lists")" QUILLMERE_TICK_MS=1500
wait_shown 20
countdown() { text_of "$ID_Label1" | sed -n 's/.*approx\.  *\([0-9]*\) minutes from now\.\.\.$/\1/p'; }
# Two ticks: the count is down to 58 minutes, well before one long period.
wait_for 20 "the countdown did not go down by two ticks" snapped is 58 countdown
took=$(($(now_ms) - t0))
((took < 30000)) || fail "two ticks took ${took} ms"
echo "two ticks within ${took} ms of the start"

# The slider at 1 and the log ticked: the next tick runs the batch.
click "$ID_Slider1"
xdotool key Home
wait_for 10 "the slider did not come to 1" snapped is 1 value_of "$ID_Slider1" position
click "$ID_Check2"
wait_for 10 "Write to syncfile.log is not ticked" snapped is 1 value_of "$ID_Check2" checked
t1=$(now_ms)
replicated() { [ "$(cat "$d/dst/one.txt" 2>/dev/null)" = one ]; }
wait_for 20 "the batch did not run at the short tick" replicated
echo "the run came $(($(now_ms) - t1)) ms after the slider came to 1"
[ "$(stat -c %Y "$d/src/one.txt")" = "$(stat -c %Y "$d/dst/one.txt")" ] \
  || fail "the copy has the time $(stat -c %y "$d/dst/one.txt")"
logged() { grep -q -e '- 1 files copied/moved' "$d/prog/syncfile.log" 2>/dev/null; }
wait_for 10 "syncfile.log has no line for the run" logged
if [ -n "$shots" ]; then import -window root "$shots/win-tick-run.png"; fi
echo "tick period: ok"
