#!/usr/bin/env bash
# Two starts of the real Windows program from one folder: the second runs
# nothing, brings the first one's hidden window back to the front and ends
# at once with code 0, and BATCH.INI is left as it was. A copy in another
# folder runs alongside; a start after the first was killed runs; a second
# start while the first shows its "First time" box leaves that box alone.
# Usage: single.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
start_trayer
d=$E2E_DIR
mkdir -p "$d/src" "$d/dst" "$d/a" "$d/b"
batch=$(printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' "$(winpath "$d/src")" \
  "$(winpath "$d/dst")")
printf '%s' "$batch" >"$d/a/BATCH.INI"
printf '%s' "$batch" >"$d/b/BATCH.INI"

shot() { if [ -n "$shots" ]; then import -window root "$shots/$1.png"; fi; }
windows() { inspect count Quillmere; }
front() { inspect front -; }
alive() { kill -0 "$1" 2>/dev/null; }
# start DIR: the program in DIR (copied there), started as from a menu;
# sets pid to its process.
start() {
  start_program "$1" "$d"
  pid=${E2E_PIDS[-1]}
}
# second_start DIR: a start of the program already in DIR that must end by
# itself within 5 s with code 0.
second_start() {
  local rc=0 t0
  t0=$(now_ms)
  (cd "$d" && exec wine "$1/quillmere.exe" >>"$E2E_DIR/wine.log" 2>&1) &
  pid=$!
  E2E_PIDS+=("$pid")
  ended() { ! alive "$pid"; }
  wait_for 5 "the second start in $1 still runs" ended
  wait "$pid" || rc=$?
  ((rc == 0)) || fail "the second start in $1 ended with code $rc"
  echo "second start in $1: ended after $(($(now_ms) - t0)) ms"
}
# The folder as the first instance keeps it: names, lengths, times.
folder() { (cd "$1" && stat -c '%n %s %y' -- *); }

# -- the first start, hidden; the second brings it back ---------------------
start "$d/a"
first=$pid
wait_shown 30
click "$ID_Command3" # &Hide
wait_hidden 10
shot win-single-hidden
before=$(folder "$d/a")
second_start "$d/a"
wait_shown 5
wait_for 5 "the first window is not in front: $(front)" is Quillmere front
shot win-single-shown-again
alive "$first" || fail "the first instance ended"
[ "$(windows)" = 1 ] || fail "$(windows) windows shown, not the first one alone"
[ "$(folder "$d/a")" = "$before" ] || fail "the second start changed the folder: $(folder "$d/a")"
[ "$(cat "$d/a/BATCH.INI")" = "$batch" ] || fail "BATCH.INI changed: $(od -c "$d/a/BATCH.INI")"
# A start while the window is shown ends too, and leaves it shown.
second_start "$d/a"
stays 0.5 "the first window went" shown
[ "$(windows)" = 1 ] || fail "$(windows) windows shown after a start over a shown window"

# -- a copy in another folder runs alongside ----------------------------------
start "$d/b"
beside=$pid
wait_for 20 "the copy in another folder shows no window" is 2 windows
stays 1 "the copy in another folder ended" alive "$beside"
shot win-single-two-folders
kill "$beside"
wait "$beside" 2>/dev/null || true
wait_for 10 "the copy in another folder left its window" is 1 windows

# -- killed, the first leaves nothing that stops the next start ---------------
kill -KILL "$first"
wait "$first" 2>/dev/null || true
wait_for 10 "the killed instance left its window" is 0 windows
start "$d/a"
again=$pid
wait_shown 20
stays 1 "the start after a killed instance ended" alive "$again"
# And it is the one a further start wakes.
click "$ID_Command3"
wait_hidden 10
second_start "$d/a"
wait_shown 5
[ "$(cat "$d/a/BATCH.INI")" = "$batch" ] || fail "BATCH.INI changed: $(od -c "$d/a/BATCH.INI")"
kill "$again"
wait "$again" 2>/dev/null || true
wait_for 10 "the instance did not end" is 0 windows

# -- a second start during the first one's "First time" box ------------------
start "$d/c"
wait_box "First time" 30 >/dev/null || fail "no First time box"
second_start "$d/c"
wait_for 5 "the First time box is not in front: $(front)" is "First time" front
[ -z "$(find "$d/c" -maxdepth 1 -iname batch.ini)" ] \
  || fail "BATCH.INI written before the box was answered"
shown && fail "the window showed before the load ended"
shot win-single-first-time
xdotool key Return
wait_shown 20
[ -n "$(find "$d/c" -maxdepth 1 -iname batch.ini -size +0)" ] || fail "no BATCH.INI after the box"
echo "single: ok"
