#!/usr/bin/env bash
# The real Windows program, copied alone into an empty folder and started
# from another: the "First time" box before the window, batch.ini beside the
# executable with the placeholder "C:\", then the window with its controls,
# the placeholder in the path fields, the pickers and the list.
# Usage: first_start.sh [SCREENSHOT-DIR]
# shellcheck source=tests/win32/lib.sh
. "$(dirname "$0")/lib.sh"
shots=${1:-}
start_x
d=$E2E_DIR
start_program "$d/prog" "$d/work"

# batch_files: the names of the batch files beside the program, whatever
# their case.
batch_files() { find "$d/prog" -maxdepth 1 -iname batch.ini -printf '%f\n'; }

text=$(wait_box "First time" 30) || fail "no First time box"
[ "$text" = 'Please select Source and Target directory...\r\nThen remove initial batch entry...' ] \
  || fail "the First time box says: $text"
[ -z "$(batch_files)" ] || fail "BATCH.INI written before the box was answered"
shown && fail "the window showed before the load ended"
if [ -n "$shots" ]; then import -window root "$shots/win-first-time.png"; fi
xdotool key Return

wait_shown 20
[ "$(batch_files)" = batch.ini ] || fail "the batch file is named: $(ls "$d/prog")"
expected=$'[batch]\r\nSource:C:\\\r\nTarget:C:\\\r\nSubs:YES\r\n'
[ "$(od -An -c "$d/prog/batch.ini")" = "$(printf '%s' "$expected" | od -An -c)" ] \
  || fail "BATCH.INI holds: $(od -c "$d/prog/batch.ini")"
[ -z "$(ls -A "$d/work")" ] || fail "files written into the working directory: $(ls -A "$d/work")"
# The window shows the load's outcome: the batch in its list.
wait_for 10 "the batch list stays empty" snapped is 4 count_of "$ID_List1"
if [ -n "$shots" ]; then import -window root "$shots/win-window.png"; fi

snap
expect() {  # expect WHAT ACTUAL WANTED
  [ "$2" = "$3" ] || fail "$1 shows '$2', not '$3'"
}
dpi=$(dpi)
expect "the client area" "$(awk -F'\t' '$1 == "window" { split($4, c, " "); print c[4] "x" c[5] }' <<<"$D")" \
  "$(((11595 * dpi + 720) / 1440))x$(((6660 * dpi + 720) / 1440))"
expect Text3 "$(text_of "$ID_Text3")" "C:\\"
expect Text4 "$(text_of "$ID_Text4")" "C:\\"
expect Label1 "$(text_of "$ID_Label1")" "Interval in minutes 1-60 /Next update approx.  60 minutes from now..."
expect "List1" "$(items "$ID_List1" | head -n 3 | tr '\n' '|')" ' 1. Source:C:\| 1. Target:C:\| 1. Include Subs:YES|'
expect "List1 ruler" "$(items "$ID_List1" | sed -n 4p)" "$(printf '%.0s-' $(seq 91))"
expect "List1 length" "$(count_of "$ID_List1")" 4
expect "the slider" "$(value_of "$ID_Slider1" position)" 60
expect "Check2" "$(value_of "$ID_Check2" checked)" 0
expect "&Source" "$(text_of "$ID_Command1")" "&Source"
expect "&Hide" "$(text_of "$ID_Command3")" "&Hide"
for c in BronDrive BronTree Doeltree Doeldrive Command4 Command5 Command7; do
  id=ID_$c
  enabled "${!id}" && fail "$c is enabled at start"
done
visible "$ID_ProgressBar1" && fail "ProgressBar1 is shown at start"
# The drives as Windows lists them, the first entry's selected.
expect "BronDrive" "$(items "$ID_BronDrive" | tr '\n' ' ')" "C: Z: "
expect "BronDrive's choice" "$(selected "$ID_BronDrive")" 0
# The directory list: the open root first, its subdirectories below it.
expect "BronTree's first line" "$(items "$ID_BronTree" | head -n 1)" "C:\\"
items "$ID_BronTree" | grep -qx windows || fail "BronTree lacks C:\\windows: $(items "$ID_BronTree")"
expect "BronTree's open line" "$(selected "$ID_BronTree")" 0

# "&Source", clicked: the source picker opens.
click "$ID_Command1"
wait_for 10 "&Source left BronTree disabled" snapped enabled "$ID_BronTree"
enabled "$ID_Command5" || fail "&Source left its OK disabled"
enabled "$ID_Command1" && fail "&Source stayed enabled"
echo "first start: ok"
