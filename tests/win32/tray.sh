#!/usr/bin/env bash
# The notification-area icon of the real Windows program, with trayer as the
# notification area: the tip; "&Hide" hides; only a press of the right
# button on the icon opens the menu, at the pointer; "Show Interface "
# chosen with either button brings the window back; a dismissed menu
# changes nothing.
# Usage: tray.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
start_trayer
d=$E2E_DIR
mkdir -p "$d/prog"
printf '[batch]\r\nSource:C:\\\r\nTarget:C:\\\r\nSubs:NO\r\n' >"$d/prog/BATCH.INI"
start_program "$d/prog" "$d"
wait_shown 20

shot() { if [ -n "$shots" ]; then import -window root "$shots/$1.png"; fi; }
# The icon: trayer's panel holds it alone (its width comes with the icon).
# shellcheck disable=SC2034  # set by the eval, only some are read
panel() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$tray_win")"
  ((WIDTH > 0 && WIDTH <= 64)) || return 1
  ix=$((X + WIDTH / 2))
  iy=$((Y + HEIGHT / 2))
}
wait_for 10 "trayer's panel holds no icon, or more than one" panel
menu_open() { inspect menu - >/dev/null; }
menu_closed() { ! menu_open; }
# Right press on the icon: a menu opens and touches the pointer.
open_menu() {
  # A press that comes while the menu before lets go of the pointer is lost;
  # the user presses again.
  local try
  for try in 1 2 3; do
    xdotool mousemove "$ix" "$iy" mousedown 3
    wait_quietly 3 menu_open && break
    xdotool mouseup 3
    [ "$try" = 3 ] && fail "the right button opened no menu ($1)"
  done
  xdotool mouseup 3
  if [ "$try" != 1 ]; then echo "the menu ($1) opened at press $try" >&2; fi
  local r
  r=$(inspect menu - | head -n 1) || fail "the menu closed when the button was let go ($1)"
  read -r mx0 my0 mw mh <<<"$(cut -f1 <<<"$r")"
  ((ix >= mx0 - 2 && ix <= mx0 + mw + 2 && iy >= my0 - 2 && iy <= my0 + mh + 2)) \
    || fail "the menu at ${mx0},${my0} ${mw}x${mh} is not at the pointer ${ix},${iy}"
  mx=$((mx0 + mw / 2))
  my=$((my0 + mh / 2))
}
tips=
tip_shown() {
  tips=$(inspect tips - || true)
  [ -n "$tips" ]
}
no_tip() { ! tip_shown; }
# nothing_opened: no menu, and the window still hidden.
nothing_opened() { menu_closed && hidden; }

# Wine may keep a size of trayer's panel that it read while the panel grew
# to take the icon; for Wine the pointer is then over no icon, and no move
# or press reaches it. Moving the panel away and back makes Wine read its
# place again.
# shellcheck disable=SC2034  # set by the eval, only some are read
settle_panel() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$tray_win")"
  xdotool windowmove "$tray_win" $((X - 1)) "$Y" windowmove "$tray_win" "$X" "$Y"
  sleep 0.3
  wait_for 10 "trayer's panel lost its icon" panel
}
# The tip shows when the pointer comes onto the icon (a busy machine may
# take its time).
hover() {
  xdotool mousemove 5 500
  sleep 0.3
  xdotool mousemove "$ix" "$iy"
}
settle_panel
hover
if ! wait_quietly 4 tip_shown; then
  echo "no tip at the first hover: the panel is placed again" >&2
  settle_panel
  hover
  wait_for 8 "no tip over the icon" tip_shown
fi
grep -q $'\tQuillmere v1.2$' <<<"$tips" || fail "no tip 'Quillmere v1.2' over the icon: '$tips'"
shot win-tray-tip
xdotool mousemove 5 500
wait_for 10 "the tip stayed when the pointer left" no_tip

click "$ID_Command3" # &Hide
wait_hidden 10
# A left click, a double click and a middle click open nothing.
for gesture in "click 1" "click --repeat 2 --delay 80 1" "click 2"; do
  # shellcheck disable=SC2086
  xdotool mousemove "$ix" "$iy" $gesture mousemove 5 500
  stays 1 "'$gesture' on the icon opened a menu or showed the window" nothing_opened
done

# The right button's press opens the menu; its item, chosen with the right
# button, shows the window.
open_menu hidden
shot win-tray-menu
xdotool mousemove "$mx" "$my" click 3
wait_for 10 "Show Interface (right button) did not bring the window back" shown
wait_for 10 "the menu stayed open" menu_closed
# On a shown window the menu opens too; chosen with the left button it
# changes nothing.
open_menu shown
xdotool mousemove "$mx" "$my" click 1
wait_for 10 "the menu stayed open" menu_closed
stays 1 "Show Interface hid the window" shown
# A dismissed menu leaves a hidden window hidden. "&Hide" by its access key.
xdotool key alt+h
wait_for 10 "Alt+H did not hide the window" hidden
open_menu dismissed
xdotool key Escape
wait_for 10 "Escape left the menu open" menu_closed
stays 1 "a dismissed menu showed the window" hidden
# And the left button brings it back.
open_menu "hidden again"
xdotool mousemove "$mx" "$my" click 1
wait_for 10 "Show Interface (left button) did not bring the window back" shown
echo "tray: ok"
