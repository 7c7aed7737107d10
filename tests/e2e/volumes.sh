#!/usr/bin/env bash
# The real program onto the test volume standing for a USB stick: it folds
# case and keeps times to two seconds. In move mode, A.txt and a.txt of one
# source directory: the first is moved, the second stays and is named in
# the log. Then the stick is pulled out in the middle of a run: every source
# file is still at the source or whole on the stick, and nothing is written
# onto the directory the stick was mounted on.
# Usage: volumes.sh PROGRAM TESTVOL [SCREENSHOT-DIR]
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
prog=$1
testvol=$2
shots=${3:-}
if [ ! -x "$testvol" ] || [ ! -e /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
  echo "skipped: no test volume here (FUSE)"
  exit 0
fi
d=$E2E_DIR
mkdir -p "$d/prog" "$d/lists" "$d/s/sub" "$d/backing/t" "$d/stick"
cp "$prog" "$d/prog/quillmere"
printf 'upper case' > "$d/s/A.txt"
printf 'lower case!' > "$d/s/a.txt"
printf 'b' > "$d/s/B.txt"
printf 'c' > "$d/s/sub/c.txt"
touch -d '2024-01-01 10:00:00' "$d/s"/*.txt "$d/s/sub/c.txt"
printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$d/s" "$d/stick/t" > "$d/prog/BATCH.INI"

VOL=
mount_stick() {  # mount_stick OPTIONS...: the stick, plugged in
  "$testvol" --fold-case --time-step-ns=2000000000 "$@" "$d/backing" "$d/stick" 2>"$d/testvol.log" &
  VOL=$!
  E2E_PIDS+=("$VOL")
  mounted() { grep -q " $d/stick fuse" /proc/self/mounts; }
  wait_for 10 "the test volume did not come up: $(cat "$d/testvol.log")" mounted
}
unmount_stick() {
  fusermount3 -uz "$d/stick" 2>/dev/null || umount -l "$d/stick" 2>/dev/null || true
  kill "$VOL" 2>/dev/null || true
  wait "$VOL" 2>/dev/null || true
}
cleanup_stick() { unmount_stick; cleanup; }
trap cleanup_stick EXIT

start_program() {
  (cd "$d" && QUILLMERE_TICK_MS=1500 winbootdir="$d/lists" exec "$d/prog/quillmere") &
  PROG=$!
  E2E_PIDS+=("$PROG")
  win=$(wait_window "Quillmere") || fail "the window did not appear"
  # The slider to 1, the log ticked, move mode.
  click_at "$win" 300 6135
  xdotool key Home
  click_at "$win" 6825 6375
  xdotool key alt+o m
}
log_has() { grep -qF -- "$1" "$d/prog/syncfile.log" 2>/dev/null; }

start_x
mount_stick
start_program
moved() { [ ! -e "$d/s/A.txt" ] && [ ! -e "$d/s/sub/c.txt" ] && log_has "same file as"; }
wait_for 60 "A.txt was not moved onto the stick" moved
[ -z "$shots" ] || import -window root "$shots/folding-move.png"
[ "$(cat "$d/s/a.txt")" = 'lower case!' ] || fail "a.txt left the source: $(ls "$d/s")"
[ "$(cat "$d/backing/t/A.txt")" = 'upper case' ] || fail "the stick does not hold A.txt: $(ls "$d/backing/t")"
[ "$(cat "$d/backing/t/B.txt")" = b ] || fail "B.txt not moved"
[ "$(cat "$d/backing/t/sub/c.txt")" = c ] || fail "sub/c.txt not moved"
log_has "$d/s/a.txt: not replicated, on the target it would be the same file as $d/s/A.txt" \
  || fail "the log does not name a.txt: $(cat "$d/prog/syncfile.log")"
grep -F 'same file as' "$d/prog/syncfile.log" | head -n 1
kill "$PROG"
wait "$PROG" 2>/dev/null || true
unmount_stick

# A slow stick with many files; pulled out once a few have been moved.
for i in $(seq 1 400); do head -c 20000 /dev/urandom > "$d/s/f$i.bin"; done
sha256sum "$d"/s/f*.bin | sed "s#$d/s/##" > "$d/sums"
: > "$d/prog/syncfile.log"
mount_stick --delay-us=3000
start_program
some_moved() { [ "$(find "$d/backing/t" -name 'f*.bin' | wc -l)" -ge 20 ]; }
wait_for 60 "nothing was moved onto the slow stick" some_moved
kill -USR1 "$VOL"
fusermount3 -uz "$d/stick" 2>/dev/null || umount -l "$d/stick"
pulled_logged() { log_has "$d/stick"; }
wait_for 60 "the run did not log the pulled stick" pulled_logged
over() { [ -z "$(ls "$d/lists")" ]; }
wait_for 60 "the run did not end after the stick was pulled" over
[ -z "$shots" ] || import -window root "$shots/stick-pulled.png"
kill "$PROG"
wait "$PROG" 2>/dev/null || true
[ -z "$(ls -A "$d/stick")" ] || fail "written onto the disk below the stick: $(ls -A "$d/stick")"
lost=0
while read -r sum name; do
  if [ -e "$d/s/$name" ]; then continue; fi
  if [ -e "$d/backing/t/$name" ] && [ "$(sha256sum < "$d/backing/t/$name" | cut -d' ' -f1)" = "$sum" ]; then
    continue
  fi
  echo "lost: $name" >&2
  lost=$((lost + 1))
done < "$d/sums"
((lost == 0)) || fail "$lost files lost when the stick was pulled"
echo "pulled after $(find "$d/backing/t" -name 'f*.bin' | wc -l) of 400 files: none lost"
grep -m 3 -F "$d/stick" "$d/prog/syncfile.log" || true
