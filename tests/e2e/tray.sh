#!/usr/bin/env bash
# The notification-area icon of the real program, with trayer as the
# notification area: the icon with its tip; "&Hide" hides; only a press of
# the right button opens the menu, at the pointer; "Show Interface " chosen
# with either button brings the window back. Without a notification area
# "&Hide" leaves the window reachable, and the icon arrives when one appears.
# Usage: tray.sh PROGRAM [SCREENSHOT-DIR]
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog"
cp "$prog" "$d/prog/quillmere"
printf '[batch]\r\nSource:/\r\nTarget:/\r\nSubs:NO\r\n' > "$d/prog/BATCH.INI"

shot() { [ -z "$shots" ] || import -window root "$shots/$1.png"; }
shown() { xdotool search --onlyvisible --name '^Quillmere$' >/dev/null; }
# The program's visible windows other than WIN and the icon: menus, tips.
others() {
  xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vxF -e "$win" -e "$icon" || true
}
start_trayer() {
  trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 \
    --transparent false &
  E2E_PIDS+=($!)
  for _ in $(seq 50); do
    tw=$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n 1 || true)
    [ -n "$tw" ] && return 0
    sleep 0.1
  done
  fail "trayer shows no panel"
}
# Waits for the icon in trayer's panel and sets icon, ix, iy (its centre).
find_icon() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  for _ in $(seq ${1:-50}); do
    icon=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vxF "$win" | head -n 1 || true)
    [ -n "$icon" ] && break
    sleep 0.1
  done
  [ -n "$icon" ] || fail "no icon in the notification area"
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  ix=$(( X + WIDTH / 2 )); iy=$(( Y + HEIGHT / 2 ))
}
hide() {
  click_at "$win" 10800 5880                            # &Hide
  sleep 0.5
}
# Right press on the icon: a menu opens and touches the pointer.
open_menu() {
  xdotool mousemove "$ix" "$iy" mousedown 3
  sleep 0.8
  xdotool mouseup 3
  menu=$(others | head -n 1)
  [ -n "$menu" ] || fail "the right button opened no menu ($1)"
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$menu")"
  mx=$(( X + WIDTH / 2 )); my=$(( Y + HEIGHT / 2 ))
  (( ix >= X - 2 && ix <= X + WIDTH + 2 && iy >= Y - 2 && iy <= Y + HEIGHT + 2 )) \
    || fail "the menu at ${X},${Y} ${WIDTH}x${HEIGHT} is not at the pointer ${ix},${iy}"
}

# -- without a notification area ---------------------------------------
(cd "$d" && exec "$d/prog/quillmere") &
app=$!
E2E_PIDS+=($app)
win=$(wait_window "Quillmere") || fail "no window"
icon=none
sleep 0.5
hide
box=$(wait_window "Information" 5) || fail "no word that the window is minimised instead"
shot no-tray-box
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
sleep 0.5
shown || fail "&Hide made the window unreachable"
hide
wait_window "Information" 1 >/dev/null 2>&1 && fail "the word came twice"
shown || fail "the second &Hide made the window unreachable"

# A notification area appears: the icon goes into it and "&Hide" hides.
start_trayer
find_icon 60
shot tray-late
hide
shown && fail "&Hide left the window shown once a notification area appeared"
open_menu "late area"
xdotool mousemove "$mx" "$my" click 1
sleep 0.5
shown || fail "Show Interface did not bring the window back"
kill "$app"; wait "$app" 2>/dev/null || true

# -- with trayer from the start ---------------------------------------------
(cd "$d" && exec "$d/prog/quillmere") &
app=$!
E2E_PIDS+=($app)
win=$(wait_window "Quillmere") || fail "no window"
find_icon
# The tip shows on a hover, and goes with the pointer.
xdotool mousemove "$ix" "$iy"
sleep 1.5
[ -n "$(others)" ] || fail "no tip over the icon"
shot tray-tip
xdotool mousemove 5 5
sleep 1

hide
shown && fail "&Hide left the window shown"
# A left click, a double click and a middle click open nothing.
for gesture in "click 1" "click --repeat 2 --delay 80 1" "click 2"; do
  # shellcheck disable=SC2086
  xdotool mousemove "$ix" "$iy" $gesture mousemove 5 5
  sleep 0.6
  [ -z "$(others)" ] || fail "'$gesture' on the icon opened something"
  shown && fail "'$gesture' on the icon showed the window"
done

# The right button's press opens the menu; its item, chosen with the right
# button, shows the window.
open_menu hidden
shot tray-menu
xdotool mousemove "$mx" "$my" click 3
sleep 0.5
shown || fail "Show Interface (right button) did not bring the window back"
[ -z "$(others)" ] || fail "the menu stayed open"
# On a shown window the menu opens too; chosen with the left button it
# changes nothing.
open_menu shown
xdotool mousemove "$mx" "$my" click 1
sleep 0.5
shown || fail "Show Interface hid the window"
# A dismissed menu leaves a hidden window hidden.
hide
open_menu dismissed
xdotool key Escape
sleep 0.5
[ -z "$(others)" ] || fail "Escape left the menu open"
shown && fail "a dismissed menu showed the window"
echo "tray: ok"
