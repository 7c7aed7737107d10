#!/usr/bin/env bash
# A new user in a fresh program directory: answers "First time", chooses a
# source and a target with the keyboard and mouse, confirms both, answers
# the subdirectory question, removes the placeholder entry, and is refused
# the removal of the last entry.
# Usage: choose_pair.sh PROGRAM [SCREENSHOT-DIR]
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog" "$d/dst" "$d/src"
cp "$prog" "$d/prog/quillmere"
(cd "$d" && exec "$d/prog/quillmere") &
E2E_PIDS+=($!)

# open_in X Y PATH: opens PATH in the directory list at twips X,Y, from "/",
# as a user would: type a line's name to highlight it, Enter to open it.
open_in() {
  local x=$1 y=$2 path=$3 part
  IFS=/ read -ra parts <<< "${path#/}"
  for part in "${parts[@]}"; do
    click_at "$win" "$x" "$y"
    # The toolkit joins keys typed within its type-ahead interval (0.4 s)
    # into one search: this wait is for that timer, not for the program.
    sleep 0.5
    xdotool type --delay 30 "$part"
    xdotool key Return
  done
}

answer "First time" Return
win=$(wait_window "Quillmere") || fail "no window"
click_at "$win" 600 4980                                 # &Source
open_in 900 1980 "$d/src"
# Alt+O: "&OK" of the source, which shares its letter with "&Options".
xdotool key alt+o
answer "Information" Return                              # "Please select target directory..."
open_in 4050 1980 "$d/dst"
[ -z "$shots" ] || import -window root "$shots/chosen.png"
click_at "$win" 6000 4980                                # OK of the target
answer "Question" y                                      # include subdirectories: Yes
added() { grep -q "Source:$d/src" "$d/prog/BATCH.INI"; }
wait_for 10 "the entry was not added to BATCH.INI" added

# Select the first item (the placeholder's) and remove it.
click_at "$win" 7800 480
click_at "$win" 9180 5880                                # &Remove from batch
expected=$(printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$d/src" "$d/dst")
removed() { file_is "$d/prog/BATCH.INI" "${expected%$'\n'}"; }
wait_for 10 "the placeholder was not removed" removed
# The last entry cannot be removed.
click_at "$win" 7800 480
click_at "$win" 9180 5880
wait_window "Information" 5 >/dev/null || fail "no refusal"
[ -z "$shots" ] || import -window root "$shots/refusal.png"
answer "Information" Return
removed || fail "the last entry was touched: $(cat -A "$d/prog/BATCH.INI")"
echo "choose pair: ok"
