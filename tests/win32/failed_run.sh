#!/usr/bin/env bash
# The real Windows program, the log off, its target file read-only: the run
# keeps that file and the icon's balloon names it. (The tip is not read here:
# under Wine with trayer the icon now and then leaves the panel after its
# balloons, and a pointer over the empty panel shows nothing.)
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

echo "failed run: ok"
