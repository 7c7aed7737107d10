#!/usr/bin/env bash
# A run that fails with the log off is told without it: a target file the
# user made read-only is kept, and the icon in trayer's notification area
# shows one notification for the run; its tip names the run and the file.
# A run that only copies shows none.
# Usage: failed_run.sh PROGRAM [SCREENSHOT-DIR]
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog" "$d/s" "$d/t"
cp "$prog" "$d/prog/quillmere"
echo new > "$d/s/kept.txt"
echo copied > "$d/s/copied.txt"
echo "the user's own" > "$d/t/kept.txt"
touch -d '2020-01-01' "$d/t/kept.txt"
chmod a-w "$d/t/kept.txt"
printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' "$d/s" "$d/t" > "$d/prog/BATCH.INI"

shot() { [ -z "$shots" ] || import -window root "$shots/$1.png"; }
# The program's visible windows other than its window and its icon: the
# notification, a tip.
others() {
  xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vxF -e "$win" -e "$icon" || true
}
some_other() { [ -n "$(others)" ]; }
no_others() { [ -z "$(others)" ]; }

trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 \
  --transparent false &
E2E_PIDS+=($!)
panel() { [ -n "$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n 1)" ]; }
wait_for 5 "trayer shows no panel" panel

# A tick every fifth of a second: with the slider at 1 a run follows soon.
(cd "$d" && QUILLMERE_TICK_MS=200 exec "$d/prog/quillmere") &
app=$!
E2E_PIDS+=("$app")
win=$(wait_window "Quillmere") || fail "no window"
icon_shown() {
  icon=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vxF "$win" | head -n 1 || true)
  [ -n "$icon" ]
}
wait_for 10 "no icon in the notification area" icon_shown
# shellcheck disable=SC2034  # set by the eval, only some are read
eval "$(xdotool getwindowgeometry --shell "$icon")"
ix=$((X + WIDTH / 2)) iy=$((Y + HEIGHT / 2))
no_others || fail "something besides the window and the icon before any run"

# The slider to 1 (Home takes it to 0, which springs to 1); the log stays off.
click_at "$win" 300 6135
xdotool key Home
copied_over() { file_is "$d/t/copied.txt" copied; }
wait_for 30 "the batch did not run" copied_over
wait_for 10 "no notification after a run that kept a read-only target" some_other
shot failed-run-notification
file_is "$d/t/kept.txt" "the user's own" || fail "the read-only target was replaced"
[ ! -e "$d/prog/syncfile.log" ] || fail "the log was written with its box unticked"

# The slider to its end: no run for a while. The notification goes with a
# click; the tip comes with the pointer over the icon.
click_at "$win" 300 6135
xdotool key End
# A run under way when the slider moved may still show its notification.
dismissed() {
  local n
  for n in $(others); do xdotool mousemove --window "$n" 20 20 click 1 2>/dev/null || true; done
  sleep 0.3
  no_others
}
wait_for 15 "the notification stayed after a click" dismissed
xdotool mousemove "$ix" "$iy"
wait_for 5 "no tip over the icon" some_other
shot failed-run-tip
stays 1 "the tip went while the pointer stayed" some_other
xdotool mousemove 5 5
wait_for 5 "the tip stayed when the pointer left" no_others

# A run without failures: none is shown.
chmod u+w "$d/t/kept.txt"
rm "$d/t/kept.txt"
click_at "$win" 300 6135
xdotool key Home
kept_over() { file_is "$d/t/kept.txt" new; }
wait_for 30 "the second run did not copy" kept_over
click_at "$win" 300 6135
xdotool key End
stays 4 "a notification after a run without failures" no_others
echo "failed run: ok"
