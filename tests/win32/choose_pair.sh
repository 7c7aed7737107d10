#!/usr/bin/env bash
# A new user of the Windows program in a fresh folder: answers "First time",
# chooses a source and a target with the drive lists, the keyboard and the
# mouse, confirms both, answers the subdirectory question, removes the
# placeholder entry, and is refused the removal of the last entry.
# Usage: choose_pair.sh [SCREENSHOT-DIR]
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
mkdir -p "$d/src" "$d/dst"
# A drive that is not ready: Y: names a folder that does not exist.
notready=$WINEPREFIX/dosdevices/y:
[ -e "$notready" ] || [ -L "$notready" ] && fail "$notready is in the way"
ln -s "$d/no-such-volume" "$notready"
trap 'rm -f "$notready"; cleanup' EXIT
start_program "$d/prog" "$d"

# answer TITLE TEXT KEY: the box so titled says TEXT; KEY answers it.
answer() {
  local said
  said=$(wait_box "$1") || fail "no '$1' box"
  [ "$said" = "$2" ] || fail "the '$1' box says '$said', not '$2'"
  xdotool key "$3"
  sleep 0.5
}
# choose_drive LIST KEY: gives the drive list the focus and moves in it with
# a key (Down: the next drive, End: the last).
choose_drive() {
  click "$1"
  xdotool key Escape
  xdotool key "$2"
  sleep 0.5
}
# open_in LIST PATH: opens PATH in a directory list that shows its drive's
# root, as a user would: one line at a time, highlighted with the arrow keys
# and opened with Enter; the last one opened with a double click.
open_in() {
  local list=$1 path=$2 part i sel n=0 count
  IFS=/ read -ra parts <<<"${path#/}"
  count=${#parts[@]}
  for part in "${parts[@]}"; do
    n=$((n + 1))
    snap
    i=$(index_of "$list" "$part")
    [ -n "$i" ] || fail "no line '$part' in the list: $(items "$list" | tr '\n' '|')"
    sel=$(selected "$list")
    if [ "$n" -lt "$count" ]; then
      # shellcheck disable=SC2046
      xdotool mousemove $(line_at "$list" "$sel") click 1
      xdotool key --delay 15 --repeat $((i - sel)) Down
      xdotool key Return
    else
      # shellcheck disable=SC2046
      xdotool mousemove $(line_at "$list" "$i") click --repeat 2 --delay 80 1
    fi
    sleep 0.5
  done
  snap
  [ "$(items "$list" | sed -n "$(( $(selected "$list") + 1 ))p")" = "${parts[-1]}" ] \
    || fail "the list did not open $path: $(items "$list" | tr '\n' '|')"
}

answer "First time" 'Please select Source and Target directory...\r\nThen remove initial batch entry...' Return
wait_shown || fail "no window"
sleep 0.5
snap
click $ID_Command1                                     # &Source
snap
[ "$(items $ID_BronDrive | tr '\n' ' ')" = "C: Y: Z: " ] || fail "the drives: $(items $ID_BronDrive | tr '\n' ' ')"
# The drive that is not ready springs back, silently, to the tree's drive.
choose_drive $ID_BronDrive Down
snap
[ "$(selected $ID_BronDrive)" = 0 ] || fail "the drive list stayed on $(selected $ID_BronDrive)"
[ "$(items $ID_BronTree | head -n 1)" = 'C:\' ] || fail "BronTree left C:\: $(items $ID_BronTree | head -n 1)"
inspect box Information 1 >/dev/null && fail "a drive that is not ready was reported"
choose_drive $ID_BronDrive End
snap
[ "$(items $ID_BronTree | head -n 1)" = 'Z:\' ] || fail "BronTree is not on Z: $(items $ID_BronTree | head -n 3)"
open_in $ID_BronTree "$d/src"
click $ID_Command5                                     # OK of the source
answer "Information" "Please select target directory..." Return
snap
[ "$(text_of $ID_Text3)" = "$(winpath "$d/src")" ] || fail "Text3 shows $(text_of $ID_Text3)"
enabled $ID_Doeltree || fail "choosing the target did not start"
choose_drive $ID_Doeldrive End
open_in $ID_Doeltree "$d/dst"
[ -n "$shots" ] && import -window root "$shots/win-chosen.png"
click $ID_Command4                                     # OK of the target
answer "Question" "Include Sub Directory's on this item ?" y
grep -qF "Source:$(winpath "$d/src")" "$d/prog/batch.ini" || fail "entry not added: $(cat "$d/prog/batch.ini")"
snap
[ "$(items $ID_List1 | wc -l)" = 8 ] || fail "List1 holds: $(items $ID_List1 | tr '\n' '|')"

# Select the first line (the placeholder's) and remove it.
# shellcheck disable=SC2046
xdotool mousemove $(line_at $ID_List1 0) click 1
sleep 0.3
click $ID_Command7                                     # &Remove from batch
sleep 0.5
expected=$(printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$(winpath "$d/src")" "$(winpath "$d/dst")")
[ "$(cat "$d/prog/batch.ini")" = "${expected%$'\n'}" ] || fail "BATCH.INI holds: $(cat -A "$d/prog/batch.ini")"
snap
[ "$(items $ID_List1 | head -n 1)" = " 1. Source:$(winpath "$d/src")" ] || fail "List1 holds: $(items $ID_List1 | tr '\n' '|')"
# The last entry cannot be removed.
# shellcheck disable=SC2046
xdotool mousemove $(line_at $ID_List1 0) click 1
sleep 0.3
click $ID_Command7
[ -n "$shots" ] && { sleep 0.5; import -window root "$shots/win-refusal.png"; }
answer "Information" 'It is not possible to remove this entry from the batch.\r\nPlease add new entry and then remove this one...' Return
[ "$(cat "$d/prog/batch.ini")" = "${expected%$'\n'}" ] || fail "the last entry was touched"
echo "choose pair: ok"
