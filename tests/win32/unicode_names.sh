#!/usr/bin/env bash
# Names that no ANSI code page holds, with the real Windows program: a pair
# chosen with the pickers is stored in BATCH.INI as it is (UTF-8 behind the
# byte-order mark), replicated at the next timer tick, and its files named
# in syncfile.log as they are, an 8-bit log from before turned UTF-8 whole.
# After a restart the batch reads back the same and is left byte for byte,
# and the next run replicates the pair again.
# Usage: unicode_names.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
src="$d/uni/Łukasz-日本語-😀"
dst="$d/uni/cíl-目標-🎯"
ro="ro-Łódź-日本-😀.txt"
mkdir -p "$src/日本語-😀" "$dst" "$d/prog"
echo a >"$src/a.txt"
echo b >"$src/日本語-😀/b.txt"
echo new >"$src/$ro"
echo "the user's own" >"$dst/$ro"
touch -d '2020-01-02 03:04:05' "$dst/$ro"
chmod a-w "$dst/$ro"
# A log from before, in code page 1252: "café".
printf 'an old line caf\xe9\r\n' >"$d/prog/syncfile.log"
start_program "$d/prog" "$d"

answer "First time" 'Please select Source and Target directory...\r\nThen remove initial batch entry...' Return
wait_shown 20
click "$ID_Command1" # &Source
wait_for 10 "&Source left the drive list disabled" snapped enabled "$ID_BronDrive"
choose_drive "$ID_BronDrive" End
wait_for 10 "BronTree is not on Z:" snapped is "Z:\\" first_line "$ID_BronTree"
open_in "$ID_BronTree" "$src"
click "$ID_Command5" # OK of the source
answer "Information" "Please select target directory..." Return
wait_for 10 "Text3 does not show the source" snapped is "$(winpath "$src")" text_of "$ID_Text3"
wait_for 10 "choosing the target did not start" snapped enabled "$ID_Doeltree"
choose_drive "$ID_Doeldrive" End
wait_for 10 "Doeltree is not on Z:" snapped is "Z:\\" first_line "$ID_Doeltree"
open_in "$ID_Doeltree" "$dst"
click "$ID_Command4" # OK of the target
answer "Question" "Include Sub Directory's on this item ?" y
wait_for 10 "List1 does not show both entries" snapped is 8 count_of "$ID_List1"
click "$ID_List1" 0
wait_for 10 "the first line of List1 was not selected" snapped is 0 selected "$ID_List1"
click "$ID_Command7" # &Remove from batch

printf '\xef\xbb\xbf[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$(winpath "$src")" \
  "$(winpath "$dst")" >"$d/expected.ini"
batch_is_expected() { cmp -s "$d/expected.ini" "$d/prog/batch.ini"; }
wait_for 10 "BATCH.INI does not hold the pair as it is: $(od -c "$d/prog/batch.ini" | head -5)" \
  batch_is_expected
wait_for 10 "List1 does not show the pair" \
  snapped is " 1. Source:$(winpath "$src")" first_line "$ID_List1"

# The next tick runs the batch.
click "$ID_Slider1"
xdotool key Home
wait_for 10 "the slider did not come to 1" snapped is 1 value_of "$ID_Slider1" position
click "$ID_Check2"
wait_for 10 "Write to syncfile.log is not ticked" snapped is 1 value_of "$ID_Check2" checked
replicated() { [ -f "$dst/a.txt" ] && [ -f "$dst/日本語-😀/b.txt" ]; }
wait_for 100 "the pair was not replicated: $(tr -d '\0' <"$d/prog/syncfile.log")" replicated
[ "$(cat "$dst/a.txt")" = a ] || fail "a.txt: $(cat "$dst/a.txt")"
[ "$(cat "$dst/日本語-😀/b.txt")" = b ] || fail "b.txt: $(cat "$dst/日本語-😀/b.txt")"
[ "$(cat "$dst/$ro")" = "the user's own" ] || fail "the read-only target was replaced"

# The log: UTF-8 as a whole, the old line converted, every name as it is.
log_lines() { grep -c 'files copied/moved' "$d/prog/syncfile.log" 2>/dev/null || true; }
wait_for 20 "syncfile.log does not hold 2 lines of copies: $(cat "$d/prog/syncfile.log")" \
  is 2 log_lines
[ "$(head -c 3 "$d/prog/syncfile.log" | od -An -tx1 | tr -d ' ')" = efbbbf ] \
  || fail "syncfile.log does not start with the byte-order mark: $(od -c "$d/prog/syncfile.log" | head -3)"
[ "$(sed -n 1p "$d/prog/syncfile.log")" = $'\xef\xbb\xbfan old line café\r' ] \
  || fail "the old line: $(sed -n 1p "$d/prog/syncfile.log" | od -c)"
grep -qF "$(winpath "$dst")\\$ro" "$d/prog/syncfile.log" \
  || fail "the read-only target is not named as it is: $(cat "$d/prog/syncfile.log")"
grep -F "$(winpath "$dst")\\$ro" "$d/prog/syncfile.log" | grep -q "read-only" \
  || fail "the read-only target's line: $(cat "$d/prog/syncfile.log")"
if grep -q 'not replicated' "$d/prog/syncfile.log"; then
  fail "an entry was not replicated: $(cat "$d/prog/syncfile.log")"
fi
if [ -n "$shots" ]; then import -window root "$shots/win-unicode-run.png"; fi

# A restart: the batch reads back the same, needs no repair and is left
# byte for byte; the window shows the pair.
first=${E2E_PIDS[-1]}
kill -KILL "$first"
wait "$first" 2>/dev/null || true
wait_for 10 "the killed program left its window" is 0 inspect count Quillmere
cmp -s "$d/expected.ini" "$d/prog/batch.ini" || fail "BATCH.INI changed before the restart"
rm "$dst/a.txt"
# A tick of a second: the first run would come after 60 of them.
start_program "$d/prog" "$d" QUILLMERE_TICK_MS=1000
wait_shown 20
item() { items "$1" | sed -n "$(($2 + 1))p"; }
shows_pair() {
  [ "$(item "$ID_List1" 0)" = " 1. Source:$(winpath "$src")" ] \
    && [ "$(item "$ID_List1" 1)" = " 1. Target:$(winpath "$dst")" ]
}
wait_for 10 "after the restart List1 does not show the pair: $(items "$ID_List1")" snapped shows_pair
[ "$(text_of "$ID_Text3")" = "$(winpath "$src")" ] || fail "Text3 shows $(text_of "$ID_Text3")"
[ "$(text_of "$ID_Text4")" = "$(winpath "$dst")" ] || fail "Text4 shows $(text_of "$ID_Text4")"
stays 2 "BATCH.INI was rewritten after the restart: $(od -c "$d/prog/batch.ini" | head -5)" \
  batch_is_expected
no_box Information || fail "the restart said: $(wait_box Information 0)"

# And the pair is replicated again, the log going on in UTF-8.
click "$ID_Check2"
wait_for 10 "Write to syncfile.log is not ticked" snapped is 1 value_of "$ID_Check2" checked
click "$ID_Slider1"
xdotool key Home
wait_for 10 "the slider did not come to 1" snapped is 1 value_of "$ID_Slider1" position
again() { [ "$(cat "$dst/a.txt" 2>/dev/null)" = a ] && is 3 log_lines; }
wait_for 20 "after the restart the pair was not replicated again: $(cat "$d/prog/syncfile.log")" again
[ "$(grep -c $'\xef\xbb\xbf' "$d/prog/syncfile.log")" = 1 ] || fail "a second byte-order mark in the log"
batch_is_expected || fail "BATCH.INI changed by the run"
if [ -n "$shots" ]; then import -window root "$shots/win-unicode-restarted.png"; fi
echo "unicode names: ok"
