#!/usr/bin/env bash
# The real program, copied alone into an empty directory and started there:
# the "First time" box, BATCH.INI beside the executable, then the window with
# the placeholder entry in the path fields, the pickers and the list.
# Usage: first_start.sh PROGRAM [SCREENSHOT-DIR]
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
prog=$1
shots=${2:-}
start_x
mkdir "$E2E_DIR/prog" "$E2E_DIR/work"
cp "$prog" "$E2E_DIR/prog/quillmere"
(cd "$E2E_DIR/work" && exec "$E2E_DIR/prog/quillmere") &
E2E_PIDS+=($!)

box=$(wait_window "First time") || fail "no First time box"
[ -e "$E2E_DIR/prog/BATCH.INI" ] && fail "BATCH.INI written before the box was answered"
xdotool search --onlyvisible --name '^Quillmere$' >/dev/null && fail "the window showed before the load ended"
[ -z "$shots" ] || import -window root "$shots/first-time.png"
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return

win=$(wait_window "Quillmere") || fail "the window did not appear"
expected=$'[batch]\r\nSource:/\r\nTarget:/\r\nSubs:YES\r\n'
[ "$(od -An -c "$E2E_DIR/prog/BATCH.INI")" = "$(printf '%s' "$expected" | od -An -c)" ] \
  || fail "BATCH.INI holds: $(od -c "$E2E_DIR/prog/BATCH.INI")"
[ -n "$(ls -A "$E2E_DIR/work")" ] && fail "files written into the working directory: $(ls -A "$E2E_DIR/work")"
[ -z "$shots" ] || import -window root "$shots/window.png"
xdotool getwindowgeometry "$win"

# What the window shows, read back through the clipboard.
expect() {  # expect WHAT ACTUAL WANTED
  [ "$2" = "$3" ] || fail "$1 shows '$2', not '$3'"
}
click_at "$win" 1500 1220                               # Text3
expect Text3 "$(copied ctrl+a)" "/"
click_at "$win" 7500 460                                # first line of List1
expect "List1 line 1" "$(copied)" " 1. Source:/"
click_at "$win" 4700 1220                               # Text4
expect Text4 "$(copied ctrl+a)" "/"
click_at "$win" 7500 460
expect "List1 line 2" "$(copied Down)" " 1. Target:/"
expect "List1 line 3" "$(copied Down)" " 1. Include Subs:YES"
expect "List1 line 4" "$(copied Down)" "$(printf '%.0s-' $(seq 91))"
[ "$(copied Down)" = "$(printf '%.0s-' $(seq 91))" ] || fail "List1 holds more than one entry"
# The source picker, opened with "&Source": its open line is the root.
click_at "$win" 600 4980                                # &Source
click_at "$win" 600 1680                                # first line of BronTree
expect "BronTree" "$(copied)" "/"
echo "first start: ok"
