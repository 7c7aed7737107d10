#!/usr/bin/env bash
# The notification-area icon of the real program, with trayer as the
# notification area: hide, bring back through the icon's menu; left and
# double clicks open nothing. Without a notification area "&Hide" leaves the
# window reachable.
# Usage: tray.sh PROGRAM [SCREENSHOT-DIR]
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog"
cp "$prog" "$d/prog/quillmere"
printf '[batch]\r\nSource:/\r\nTarget:/\r\nSubs:NO\r\n' > "$d/prog/BATCH.INI"

visible_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | wc -l; }

# -- without a notification area ---------------------------------------
(cd "$d" && exec "$d/prog/quillmere") &
app=$!
E2E_PIDS+=($app)
win=$(wait_window "Quillmere") || fail "no window"
sleep 0.5
xdotool mousemove --window "$win" 720 411 click 1     # &Hide
box=$(wait_window "Information" 5) || fail "no word that the window is minimised instead"
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
sleep 0.5
xdotool search --name '^Quillmere$' >/dev/null || fail "the window is gone"
kill "$app"; wait "$app" 2>/dev/null || true

# -- with trayer -----------------------------------------------------------
trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 --transparent false &
E2E_PIDS+=($!)
sleep 1
(cd "$d" && exec "$d/prog/quillmere") &
app=$!
E2E_PIDS+=($app)
win=$(wait_window "Quillmere") || fail "no window"
sleep 1.5
tw=$(xdotool search --onlyvisible --class trayer | head -n 1)
[ -n "$tw" ] || fail "trayer has no window"
eval "$(xdotool getwindowgeometry --shell "$tw")"
ix=$((X + WIDTH - HEIGHT / 2)); iy=$((Y + HEIGHT / 2))
[ -n "$shots" ] && import -window root "$shots/tray-icon.png"
xdotool mousemove --window "$win" 720 411 click 1     # &Hide
sleep 0.5
xdotool search --onlyvisible --name '^Quillmere$' >/dev/null && fail "&Hide left the window shown"
base=$(visible_of "$app")
xdotool mousemove "$ix" "$iy" click 1
sleep 0.5
xdotool mousemove "$ix" "$iy" click --repeat 2 --delay 80 1
sleep 0.5
[ "$(visible_of "$app")" = "$base" ] || fail "a left click or double click opened something"
xdotool mousemove "$ix" "$iy" mousedown 3
sleep 0.8
[ "$(visible_of "$app")" -gt "$base" ] || fail "the right button opened no menu"
[ -n "$shots" ] && import -window root "$shots/tray-menu.png"
xdotool mouseup 3
xdotool key Down Return                                # "Show Interface "
sleep 0.8
xdotool search --onlyvisible --name '^Quillmere$' >/dev/null || fail "Show Interface did not bring the window back"
echo "tray: ok"
