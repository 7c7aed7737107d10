#!/usr/bin/env bash
# The notification-area icon of the real Windows program, with trayer as the
# notification area: the tip; "&Hide" hides; only a press of the right
# button on the icon opens the menu, at the pointer; "Show Interface "
# chosen with either button brings the window back; a dismissed menu
# changes nothing.
# Usage: tray.sh [SCREENSHOT-DIR]
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
start_trayer
d=$E2E_DIR
mkdir -p "$d/prog"
printf '[batch]\r\nSource:C:\\\r\nTarget:C:\\\r\nSubs:NO\r\n' > "$d/prog/BATCH.INI"
start_program "$d/prog" "$d"
wait_shown || fail "no window"
sleep 1
snap

shot() { [ -z "$shots" ] || import -window root "$shots/$1.png"; }
# The icon: trayer's panel holds it alone.
eval "$(xdotool getwindowgeometry --shell "$tray_win")"
ix=$(( X + WIDTH / 2 )); iy=$(( Y + HEIGHT / 2 ))
(( WIDTH > 0 && WIDTH <= 64 )) || fail "trayer's panel is ${WIDTH} wide: no icon, or more than one"
menu_open() { inspect menu - >/dev/null; }
# Right press on the icon: a menu opens and touches the pointer.
open_menu() {
  xdotool mousemove "$ix" "$iy" mousedown 3
  sleep 0.8
  xdotool mouseup 3
  sleep 0.3
  local r
  r=$(inspect menu - | head -n 1) || fail "the right button opened no menu ($1)"
  read -r mx0 my0 mw mh <<<"$(cut -f1 <<<"$r")"
  [ "$(cut -f2 <<<"$r")" = "" ] || true
  (( ix >= mx0 - 2 && ix <= mx0 + mw + 2 && iy >= my0 - 2 && iy <= my0 + mh + 2 )) \
    || fail "the menu at ${mx0},${my0} ${mw}x${mh} is not at the pointer ${ix},${iy}"
  mx=$(( mx0 + mw / 2 )); my=$(( my0 + mh / 2 ))
}

# The tip shows on a hover (a busy machine may take its time).
tips=
for i in $(seq 12); do
  xdotool mousemove "$ix" $(( iy + i % 2 ))
  sleep 0.5
  tips=$(inspect tips - || true)
  [ -n "$tips" ] && break
done
grep -q $'\tQuillmere v1.2$' <<<"$tips" || fail "no tip 'Quillmere v1.2' over the icon: '$tips'"
shot win-tray-tip
xdotool mousemove 5 500
sleep 0.5

click $ID_Command3                                       # &Hide
sleep 0.5
shown && fail "&Hide left the window shown"
# A left click, a double click and a middle click open nothing.
for gesture in "click 1" "click --repeat 2 --delay 80 1" "click 2"; do
  # shellcheck disable=SC2086
  xdotool mousemove "$ix" "$iy" $gesture mousemove 5 500
  sleep 0.6
  menu_open && fail "'$gesture' on the icon opened a menu"
  shown && fail "'$gesture' on the icon showed the window"
done

# The right button's press opens the menu; its item, chosen with the right
# button, shows the window.
open_menu hidden
shot win-tray-menu
xdotool mousemove "$mx" "$my" click 3
sleep 0.5
shown || fail "Show Interface (right button) did not bring the window back"
menu_open && fail "the menu stayed open"
# On a shown window the menu opens too; chosen with the left button it
# changes nothing.
open_menu shown
xdotool mousemove "$mx" "$my" click 1
sleep 0.5
shown || fail "Show Interface hid the window"
# A dismissed menu leaves a hidden window hidden. "&Hide" by its access key.
xdotool key alt+h
sleep 0.5
shown && fail "Alt+H did not hide the window"
open_menu dismissed
xdotool key Escape
sleep 0.5
menu_open && fail "Escape left the menu open"
shown && fail "a dismissed menu showed the window"
# And the left button brings it back.
open_menu "hidden again"
xdotool mousemove "$mx" "$my" click 1
sleep 0.5
shown || fail "Show Interface (left button) did not bring the window back"
echo "tray: ok"
