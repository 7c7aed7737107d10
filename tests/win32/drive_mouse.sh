#!/usr/bin/env bash
# The source drive list of the real Windows program, chosen with the mouse
# alone: the list opened with a click, a drive clicked in it. A drive that
# is not ready springs back to the tree's drive without a word; a list closed
# with Escape, or with a click beside it, leaves the drive as it was; a
# clicked drive takes, and its tree moves to it.
# Usage: drive_mouse.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
# A drive that is not ready: Y: names a folder that does not exist.
notready=$WINEPREFIX/dosdevices/y:
if [ -e "$notready" ] || [ -L "$notready" ]; then fail "$notready is in the way"; fi
ln -s "$d/no-such-volume" "$notready"
trap 'rm -f "$notready"; cleanup' EXIT
mkdir -p "$d/prog"
printf '[batch]\r\nSource:C:\\\r\nTarget:C:\\\r\nSubs:NO\r\n' >"$d/prog/BATCH.INI"
start_program "$d/prog" "$d"
wait_shown 20

shot() { if [ -n "$shots" ]; then import -window root "$shots/$1.png"; fi; }
# The open list of a drop-down list: its place, item height, top item, items.
dropped() { L=$(inspect dropped -); }
closed() { ! inspect dropped - >/dev/null; }
# open_list ID: a click on the drop-down list opens its list.
open_list() {
  click "$1"
  wait_for 5 "a click on the drive list did not open it" dropped
}
# point_at DRIVE: moves the pointer onto DRIVE's line in the open list.
point_at() {
  local lx ly lw lh ih top i
  read -r lx ly lw lh <<<"$(awk -F'\t' '$1 == "list" { print $2 }' <<<"$L")"
  read -r ih top <<<"$(awk -F'\t' '$1 == "list" { print $3, $4 }' <<<"$L")"
  i=$(awk -F'\t' -v t="$1" '$2 == "item" && $4 == t { print $3; exit }' <<<"$L")
  [ -n "$i" ] || fail "no line $1 in the open list: $(cut -f4 <<<"$L" | tr '\n' ' ')"
  ((lh > 0 && ih > 0)) || fail "the open list has no room: $L"
  xdotool mousemove $((lx + lw / 2)) $((ly + (i - top) * ih + ih / 2))
}
# on DRIVE: the list shows DRIVE, and the tree is at its root.
on() {
  [ "$(items "$ID_BronDrive" | sed -n "$(($(selected "$ID_BronDrive") + 1))p")" = "$1" ] \
    && [ "$(first_line "$ID_BronTree")" = "$1\\" ]
}
# stays_on DRIVE WHAT: the list and its tree stay on DRIVE, and no box opens.
stays_on() { stays 1.5 "$2" snapped on_quietly "$1"; }
on_quietly() { closed && on "$1" && no_box Information; }

click "$ID_Command1" # &Source
wait_for 10 "&Source left the drive list disabled" snapped enabled "$ID_BronDrive"
[ "$(items "$ID_BronDrive" | tr '\n' ' ')" = "C: Y: Z: " ] \
  || fail "the drives: $(items "$ID_BronDrive" | tr '\n' ' ')"
on "C:" || fail "the source does not start on C:"

# A drive that is not ready, clicked: back to C:, silently.
open_list "$ID_BronDrive"
shot win-drive-list-open
point_at "Y:"
xdotool click 1
stays_on "C:" "the drive that is not ready did not spring back to C: silently"

# Pointed at, then let go with Escape or a click beside the list: no choice.
open_list "$ID_BronDrive"
point_at "Z:"
xdotool key Escape
stays_on "C:" "Escape took the drive under the pointer"
open_list "$ID_BronDrive"
point_at "Z:"
read -r x y <<<"$(center "$ID_Label1")"
xdotool mousemove "$x" "$y" click 1
stays_on "C:" "a click beside the open list took the drive under the pointer"

# Clicked: the drive takes, and the tree moves to it.
open_list "$ID_BronDrive"
point_at "Z:"
xdotool click 1
wait_for 10 "the clicked drive Z: did not take" snapped on "Z:"
stays_on "Z:" "the list or its tree left Z:"
shot win-drive-clicked
# And back, the same way.
open_list "$ID_BronDrive"
point_at "C:"
xdotool click 1
wait_for 10 "the clicked drive C: did not take" snapped on "C:"
echo "drive by mouse: ok"
