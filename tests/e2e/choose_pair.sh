#!/usr/bin/env bash
# A new user in a fresh program directory: answers "First time", chooses a
# source and a target with the keyboard and mouse, confirms both, answers
# the subdirectory question, removes the placeholder entry, and is refused
# the removal of the last entry.
# Usage: choose_pair.sh PROGRAM [SCREENSHOT-DIR]
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
d=$E2E_DIR
mkdir -p "$d/prog" "$d/dst" "$d/src"
cp "$prog" "$d/prog/quillmere"
(cd "$d" && exec "$d/prog/quillmere") &
E2E_PIDS+=($!)

answer() {  # answer TITLE KEY
  local id
  id=$(wait_window "$1") || fail "no '$1' box"
  xdotool windowfocus --sync "$id" 2>/dev/null || true
  xdotool key "$2"
  sleep 0.5
}
# open_in X Y PATH: opens PATH in the directory list at X,Y, from "/", as a
# user would: type a line's name to highlight it, Enter to open it.
open_in() {
  local x=$1 y=$2 path=$3 part
  IFS=/ read -ra parts <<< "${path#/}"
  for part in "${parts[@]}"; do
    xdotool mousemove --window "$win" "$x" "$y" click 1
    sleep 0.5                                            # a fresh type-ahead
    xdotool type --delay 30 "$part"
    xdotool key Return
    sleep 0.6
  done
}

answer "First time" Return
win=$(wait_window "Quillmere") || fail "no window"
sleep 0.5
xdotool mousemove --window "$win" 40 351 click 1       # &Source
sleep 0.3
open_in 60 150 "$d/src"
xdotool mousemove --window "$win" 184 351 click 1      # OK of the source
answer "Information" Return                              # "Please select target directory..."
open_in 270 150 "$d/dst"
[ -n "$shots" ] && import -window root "$shots/chosen.png"
xdotool mousemove --window "$win" 400 351 click 1      # OK of the target
answer "Question" y                                      # include subdirectories: Yes
grep -q "Source:$d/src" "$d/prog/BATCH.INI" || fail "entry not added: $(cat "$d/prog/BATCH.INI")"

# Select the first item (the placeholder's) and remove it.
xdotool mousemove --window "$win" 520 50 click 1
xdotool mousemove --window "$win" 612 411 click 1      # &Remove from batch
sleep 0.5
expected=$(printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$d/src" "$d/dst")
[ "$(cat "$d/prog/BATCH.INI")" = "${expected%$'\n'}" ] || fail "BATCH.INI holds: $(cat -A "$d/prog/BATCH.INI")"
# The last entry cannot be removed.
xdotool mousemove --window "$win" 520 50 click 1
xdotool mousemove --window "$win" 612 411 click 1
refusal=$(wait_window "Information" 5) || fail "no refusal"
[ -n "$shots" ] && import -window root "$shots/refusal.png"
xdotool windowfocus --sync "$refusal" 2>/dev/null || true
xdotool key Return
sleep 0.3
[ "$(cat "$d/prog/BATCH.INI")" = "${expected%$'\n'}" ] || fail "the last entry was touched"
echo "choose pair: ok"
