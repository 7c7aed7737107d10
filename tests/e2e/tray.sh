#!/usr/bin/env bash
# The notification-area icon of the real program, with trayer as the
# notification area: the icon with its tip; "&Hide" hides; only a press of
# the right button opens the menu, at the pointer; "Show Interface " chosen
# with either button brings the window back. Without a notification area
# "&Hide" leaves the window reachable, and the icon arrives when one appears.
# Usage: tray.sh PROGRAM [SCREENSHOT-DIR]
# shellcheck source=tests/e2e/lib.sh
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
hidden() { ! shown; }
no_others() { [ -z "$(others)" ]; }
some_other() { [ -n "$(others)" ]; }
# The program's visible windows other than WIN and the icon: menus, tips.
others() {
  xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vxF -e "$win" -e "$icon" || true
}
start_trayer() {
  trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 \
    --transparent false &
  E2E_PIDS+=($!)
  panel() { [ -n "$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n 1)" ]; }
  wait_for 5 "trayer shows no panel" panel
}
# Waits for the icon in trayer's panel and sets icon, ix, iy (its centre).
# The icon's window may show before trayer has docked it: only a centre
# inside the panel is where a click reaches it.
find_icon() {
  # shellcheck disable=SC2034  # set by the eval, only some are read
  local X Y WIDTH HEIGHT SCREEN WINDOW
  icon_docked() {
    icon=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vxF "$win" | head -n 1 || true)
    [ -n "$icon" ] || return 1
    local panel px py pw ph
    panel=$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n 1 || true)
    [ -n "$panel" ] || return 1
    eval "$(xdotool getwindowgeometry --shell "$panel")"
    px=$X py=$Y pw=$WIDTH ph=$HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    ix=$(( X + WIDTH / 2 )); iy=$(( Y + HEIGHT / 2 ))
    (( ix >= px && ix < px + pw && iy >= py && iy < py + ph ))
  }
  wait_for "${1:-5}" "no icon in the notification area" icon_docked
}
hide() {
  click_at "$win" 10800 5880                            # &Hide
}
# Right press on the icon: a menu opens and touches the pointer. The hand
# rests on the icon before pressing, as a hand does: a press in the very
# instant the pointer arrives sometimes has the toolkit open the menu and
# close it again at once.
open_menu() {
  xdotool mousemove "$ix" "$iy"
  sleep 0.3
  xdotool mousedown 3
  wait_for 5 "the right button opened no menu ($1)" some_other
  xdotool mouseup 3
  menu=$(others | head -n 1)
  # shellcheck disable=SC2034  # set by the eval, only some are read
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$menu")"
  mx=$(( X + WIDTH / 2 )); my=$(( Y + HEIGHT / 2 ))
  (( ix >= X - 2 && ix <= X + WIDTH + 2 && iy >= Y - 2 && iy <= Y + HEIGHT + 2 )) \
    || fail "the menu at ${X},${Y} ${WIDTH}x${HEIGHT} is not at the pointer ${ix},${iy}"
}

# -- without a notification area ---------------------------------------
(cd "$d" && exec "$d/prog/quillmere") &
app=$!
E2E_PIDS+=("$app")
win=$(wait_window "Quillmere") || fail "no window"
icon=none
hide
wait_window "Information" 5 >/dev/null || fail "no word that the window is minimised instead"
shot no-tray-box
answer "Information" Return
shown || fail "&Hide made the window unreachable"
hide
no_word() { [ -z "$(find_window Information)" ]; }
stays 1 "the word came twice" no_word
shown || fail "the second &Hide made the window unreachable"

# A notification area appears: the icon goes into it and "&Hide" hides.
start_trayer
find_icon 6
shot tray-late
hide
wait_for 5 "&Hide left the window shown once a notification area appeared" hidden
open_menu "late area"
xdotool mousemove "$mx" "$my" click 1
wait_for 5 "Show Interface did not bring the window back" shown
kill "$app"; wait "$app" 2>/dev/null || true

# -- with trayer from the start ---------------------------------------------
(cd "$d" && exec "$d/prog/quillmere") &
app=$!
E2E_PIDS+=("$app")
win=$(wait_window "Quillmere") || fail "no window"
find_icon
# The tip shows on a hover, and goes with the pointer.
xdotool mousemove "$ix" "$iy"
wait_for 5 "no tip over the icon" some_other
shot tray-tip
xdotool mousemove 5 5
wait_for 5 "the tip stayed when the pointer left" no_others

hide
wait_for 5 "&Hide left the window shown" hidden
# A left click, a double click and a middle click open nothing.
for gesture in "click 1" "click --repeat 2 --delay 80 1" "click 2"; do
  # shellcheck disable=SC2086
  xdotool mousemove "$ix" "$iy" $gesture mousemove 5 5
  nothing_opened() { no_others && hidden; }
  stays 0.6 "'$gesture' on the icon opened something or showed the window" nothing_opened
done

# The right button's press opens the menu; its item, chosen with the right
# button, shows the window.
open_menu hidden
shot tray-menu
xdotool mousemove "$mx" "$my" click 3
wait_for 5 "Show Interface (right button) did not bring the window back" shown
wait_for 5 "the menu stayed open" no_others
# On a shown window the menu opens too; chosen with the left button it
# changes nothing.
open_menu shown
xdotool mousemove "$mx" "$my" click 1
wait_for 5 "the menu stayed open" no_others
shown || fail "Show Interface hid the window"
# A dismissed menu leaves a hidden window hidden.
hide
wait_for 5 "&Hide left the window shown" hidden
open_menu dismissed
xdotool key Escape
wait_for 5 "Escape left the menu open" no_others
stays 0.5 "a dismissed menu showed the window" hidden
echo "tray: ok"
