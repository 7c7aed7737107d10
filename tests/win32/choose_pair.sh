#!/usr/bin/env bash
# A new user of the Windows program in a fresh folder: answers "First time",
# chooses a source and a target with the drive lists, the keyboard and the
# mouse, confirms both, answers the subdirectory question, removes the
# placeholder entry, and is refused the removal of the last entry.
# Usage: choose_pair.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
mkdir -p "$d/src" "$d/dst"
# A drive that is not ready: Y: names a folder that does not exist.
notready=$WINEPREFIX/dosdevices/y:
if [ -e "$notready" ] || [ -L "$notready" ]; then fail "$notready is in the way"; fi
ln -s "$d/no-such-volume" "$notready"
trap 'rm -f "$notready"; cleanup' EXIT
start_program "$d/prog" "$d"

# sprang_back: the source drive list is back on C:, its tree too, and
# nothing was said.
sprang_back() {
  [ "$(selected "$ID_BronDrive")" = 0 ] && [ "$(items "$ID_BronTree" | head -n 1)" = "C:\\" ] \
    && no_box Information
}
batch_is() { [ "$(cat "$d/prog/batch.ini")" = "$1" ]; }

answer "First time" 'Please select Source and Target directory...\r\nThen remove initial batch entry...' Return
wait_shown 20
click "$ID_Command1" # &Source
wait_for 10 "&Source left the drive list disabled" snapped enabled "$ID_BronDrive"
[ "$(items "$ID_BronDrive" | tr '\n' ' ')" = "C: Y: Z: " ] || fail "the drives: $(items "$ID_BronDrive" | tr '\n' ' ')"
# The drive that is not ready springs back, silently, to the tree's drive.
choose_drive "$ID_BronDrive" Down
stays 2 "the drive list or its tree left C:, or a drive that is not ready was reported" \
  snapped sprang_back
choose_drive "$ID_BronDrive" End
wait_for 10 "BronTree is not on Z:" snapped is "Z:\\" first_line "$ID_BronTree"
open_in "$ID_BronTree" "$d/src"
xdotool key alt+o # "&OK" of the source, which shares its letter with "&Options"
answer "Information" "Please select target directory..." Return
wait_for 10 "Text3 does not show the source" snapped is "$(winpath "$d/src")" text_of "$ID_Text3"
wait_for 10 "choosing the target did not start" snapped enabled "$ID_Doeltree"
choose_drive "$ID_Doeldrive" End
wait_for 10 "Doeltree is not on Z:" snapped is "Z:\\" first_line "$ID_Doeltree"
open_in "$ID_Doeltree" "$d/dst"
if [ -n "$shots" ]; then import -window root "$shots/win-chosen.png"; fi
click "$ID_Command4" # OK of the target
answer "Question" "Include Sub Directory's on this item ?" y
entry_added() { grep -qF "Source:$(winpath "$d/src")" "$d/prog/batch.ini"; }
wait_for 10 "the entry was not added to BATCH.INI" entry_added
wait_for 10 "List1 does not show both entries" snapped is 8 count_of "$ID_List1"

# Select the first line (the placeholder's) and remove it.
click "$ID_List1" 0
wait_for 10 "the first line of List1 was not selected" snapped is 0 selected "$ID_List1"
click "$ID_Command7" # &Remove from batch
expected=$(printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$(winpath "$d/src")" "$(winpath "$d/dst")")
wait_for 10 "the placeholder entry stayed in BATCH.INI" batch_is "${expected%$'\n'}"
wait_for 10 "List1 does not show the entry left" \
  snapped is " 1. Source:$(winpath "$d/src")" first_line "$ID_List1"
# The last entry cannot be removed.
click "$ID_List1" 0
wait_for 10 "the first line of List1 was not selected" snapped is 0 selected "$ID_List1"
click "$ID_Command7"
if [ -n "$shots" ]; then
  wait_box Information >/dev/null || fail "no refusal"
  import -window root "$shots/win-refusal.png"
fi
answer "Information" 'It is not possible to remove this entry from the batch.\r\nPlease add new entry and then remove this one...' Return
batch_is "${expected%$'\n'}" || fail "the last entry was touched"
echo "choose pair: ok"
