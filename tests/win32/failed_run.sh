#!/usr/bin/env bash
# The real Windows program, the log off, its target file read-only: the run
# keeps that file, the icon's balloon names it, and the icon's tip tells the
# run with its count of failures.
# Usage: failed_run.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
start_trayer
d=$E2E_DIR
mkdir -p "$d/prog" "$d/lists" "$d/src" "$d/dst"
echo new >"$d/src/kept.txt"
echo copied >"$d/src/copied.txt"
echo "the user's own" >"$d/dst/kept.txt"
touch -d '2020-01-01' "$d/dst/kept.txt"
chmod a-w "$d/dst/kept.txt"
printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:NO\r\n' "$(winpath "$d/src")" \
  "$(winpath "$d/dst")" >"$d/prog/BATCH.INI"
shot() { if [ -n "$shots" ]; then import -window root "$shots/$1.png"; fi; }

start_program "$d/prog" "$d" "winbootdir=$(winpath "$d/lists")" QUILLMERE_TICK_MS=1500
wait_shown 20
tips=
tip_with() {
  tips=$(inspect tips - || true)
  grep -qF -- "$1" <<<"$tips"
}
click "$ID_Slider1"
xdotool key Home
replicated() { [ "$(cat "$d/dst/copied.txt" 2>/dev/null)" = copied ]; }
wait_for 30 "the batch did not run" replicated
wait_for 15 "no balloon names the read-only target" tip_with "kept.txt: not copied, its target"
shot win-failed-run-balloon
[ "$(cat "$d/dst/kept.txt")" = "the user's own" ] || fail "the read-only target was replaced"
[ ! -e "$d/prog/syncfile.log" ] || fail "the log was written with its box unticked"

# No run for a while; the tip over the icon tells the last run.
click "$ID_Slider1"
xdotool key End
# shellcheck disable=SC2034  # set by the eval, only some are read
icon_at() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$tray_win")"
  ix=$((X + WIDTH / 2))
  iy=$((Y + HEIGHT / 2))
}
icon_at
hovered() {
  xdotool mousemove 5 500
  sleep 0.3
  xdotool mousemove "$ix" "$iy"
  wait_quietly 3 tip_with "1 failed"
}
wait_for 30 "no tip telling the failed run over the icon" hovered
grep -q $'\tQuillmere v1.2\\\\nLast run [0-9][0-9]:[0-9][0-9]: [0-9]* copied/moved, 1 failed\\\\nnot copied: ' <<<"$tips" \
  || fail "the tip: '$tips'"
shot win-failed-run-tip
echo "failed run: ok"
