#!/usr/bin/env bash
# The real program, copied alone into an empty directory and started there:
# the "First time" box, BATCH.INI beside the executable, then the window.
# Usage: first_start.sh PROGRAM [SCREENSHOT-DIR]
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
mkdir "$E2E_DIR/prog"
cp "$prog" "$E2E_DIR/prog/quillmere"
(cd "$E2E_DIR" && exec "$E2E_DIR/prog/quillmere") &
E2E_PIDS+=($!)

box=$(wait_window "First time") || fail "no First time box"
[ -e "$E2E_DIR/prog/BATCH.INI" ] && fail "BATCH.INI written before the box was answered"
[ -n "$shots" ] && import -window root "$shots/first-time.png"
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return

win=$(wait_window "Quillmere") || fail "the window did not appear"
expected=$'[batch]\r\nSource:/\r\nTarget:/\r\nSubs:YES\r\n'
[ "$(cat "$E2E_DIR/prog/BATCH.INI")" = "${expected%$'\n'}" ] || fail "BATCH.INI holds: $(od -c "$E2E_DIR/prog/BATCH.INI")"
[ -e "$E2E_DIR/BATCH.INI" ] && fail "BATCH.INI written into the working directory"
sleep 0.5
[ -n "$shots" ] && import -window root "$shots/window.png"
geometry=$(xdotool getwindowgeometry "$win")
echo "$geometry"
echo "first start: ok"
