#!/usr/bin/env bash
# Two starts of the real program from one folder: the second runs nothing,
# brings the first one's hidden window back and ends at once with code 0,
# and BATCH.INI is left as it was. A copy in another folder runs alongside;
# a start after the first was killed runs; a second start while the first
# shows its "First time" box leaves that box alone with the user.
# Usage: single.sh PROGRAM [SCREENSHOT-DIR]
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
d=$E2E_DIR
mkdir -p "$d/a" "$d/b" "$d/c" "$d/src" "$d/dst"
for f in a b c; do cp "$prog" "$d/$f/quillmere"; done
batch=$(printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' "$d/src" "$d/dst")
printf '%s' "$batch" >"$d/a/BATCH.INI"
printf '%s' "$batch" >"$d/b/BATCH.INI"

shot() { [ -z "$shots" ] || import -window root "$shots/$1.png"; }
# start DIR: the program in DIR, started as from a menu; sets pid.
start() {
  (cd "$d" && exec "$1/quillmere") &
  pid=$!
  E2E_PIDS+=("$pid")
}
# The visible main windows of one process, of all.
windows_of() { xdotool search --all --onlyvisible --pid "$1" --name '^Quillmere$' 2>/dev/null || true; }
all_windows() { xdotool search --onlyvisible --name '^Quillmere$' 2>/dev/null | wc -l; }
shown_by() { [ -n "$(windows_of "$1")" ]; }
hidden_by() { [ -z "$(windows_of "$1")" ]; }
alive() { kill -0 "$1" 2>/dev/null; }
# The window that has the keyboard: the one brought to the front.
focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
# wait_window_of PID: prints the id of PID's window once it shows.
wait_window_of() {
  wait_for 20 "process $1 shows no window" shown_by "$1"
  windows_of "$1" | head -n 1
}
# The icon of PID in trayer's panel: only then does "&Hide" hide.
docked() {
  local icon
  icon=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | grep -vxF "$(windows_of "$1")" | head -n 1)
  [ -n "$icon" ]
}
hide() {
  wait_for 10 "process $1 has no icon in the notification area" docked "$1"
  click_at "$2" 10800 5880                            # &Hide
  wait_for 5 "&Hide left the window of process $1 shown" hidden_by "$1"
}
# second_start DIR: a start in DIR that must end by itself within 5 s with
# code 0, showing no window of its own.
second_start() {
  local rc=0 t0
  t0=$(now_ms)
  start "$1"
  ended() { ! alive "$pid"; }
  wait_for 5 "the second start in $1 still runs" ended
  wait "$pid" || rc=$?
  ((rc == 0)) || fail "the second start in $1 ended with code $rc"
  echo "second start in $1: ended after $(($(now_ms) - t0)) ms"
}

trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 --transparent false &
E2E_PIDS+=($!)
panel() { [ -n "$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n 1)" ]; }
wait_for 5 "trayer shows no panel" panel

# -- the first start, hidden; the second brings it back ---------------------
start "$d/a"
first=$pid
win=$(wait_window_of "$first")
hide "$first" "$win"
shot single-hidden
# The folder as the first instance keeps it: names, lengths, times.
folder() { (cd "$d/a" && stat -c '%n %s %y' -- *); }
before=$(folder)
second_start "$d/a"
wait_for 5 "the second start did not bring the first window back" shown_by "$first"
wait_for 5 "the first window came back without the keyboard" focused "$win"
shot single-shown-again
alive "$first" || fail "the first instance ended"
[ "$(all_windows)" = 1 ] || fail "$(all_windows) windows shown, not the first one alone"
[ "$(cat "$d/a/BATCH.INI")" = "$batch" ] || fail "BATCH.INI changed: $(od -c "$d/a/BATCH.INI")"
[ "$(folder)" = "$before" ] || fail "the second start changed the folder: $(folder)"
# A start while the window is shown ends too, and leaves it shown.
second_start "$d/a"
stays 0.5 "the first window went" shown_by "$first"
[ "$(all_windows)" = 1 ] || fail "$(all_windows) windows shown after a start over a shown window"

# -- a copy in another folder runs alongside ----------------------------------
start "$d/b"
beside=$pid
wait_window_of "$beside" >/dev/null
stays 1 "the copy in another folder ended" alive "$beside"
[ "$(all_windows)" = 2 ] || fail "$(all_windows) windows shown, not one of each copy"
shot single-two-folders

# -- killed, the first leaves nothing that stops the next start ---------------
kill -KILL "$first"
wait "$first" 2>/dev/null || true
start "$d/a"
again=$pid
win=$(wait_window_of "$again")
stays 1 "the start after a killed instance ended" alive "$again"
# And it is the one a further start wakes (the killed one's socket replaced).
hide "$again" "$win"
second_start "$d/a"
wait_for 5 "the start after a kill was not woken" shown_by "$again"
[ "$(cat "$d/a/BATCH.INI")" = "$batch" ] || fail "BATCH.INI changed: $(od -c "$d/a/BATCH.INI")"
kill "$again" "$beside"

# -- a second start during the first one's "First time" box ------------------
start "$d/c"
first=$pid
box=$(wait_window "First time") || fail "no First time box"
second_start "$d/c"
wait_for 5 "the First time box is not in front" focused "$box"
boxes=$(xdotool search --onlyvisible --name '^First time$' | wc -l)
[ "$boxes" = 1 ] || fail "$boxes First time boxes"
[ -e "$d/c/BATCH.INI" ] && fail "BATCH.INI written before the box was answered"
shot single-first-time
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
wait_window_of "$first" >/dev/null
[ -s "$d/c/BATCH.INI" ] || fail "no BATCH.INI after the box"
echo "single: ok"
