# Shared pieces of the end-to-end tests of the Windows program under Wine:
# a private X server, the program started in a folder of its own, the
# inspector that reads its window from outside, and waits that poll for the
# state a step needs, never a fixed time.
# Callers set QM_EXE (quillmere.exe) and QM_INSPECT (qm-inspect.exe); the
# Wine prefix and its settings come from the environment.
# shellcheck shell=bash
set -euo pipefail

E2E_PIDS=()
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${E2E_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ -n "${E2E_DIR:-}" ]; then rm -rf "$E2E_DIR"; fi
}
trap cleanup EXIT

# shellcheck source=tests/e2e/waits.sh
. "$(dirname "${BASH_SOURCE[0]}")/../e2e/waits.sh"

E2E_DIR=$(mktemp -d)
# start_x: a private X server with a Wine server of its own; the test ends at
# once, saying why, when the server does not come up.
start_x() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/setup.sh installs it)"
  local try xvfb
  # X servers that start together can take each other's display: a server
  # that lost its display ends, and another one is started.
  for try in 1 2 3; do
    rm -f "$E2E_DIR/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$E2E_DIR/display" 2>"$E2E_DIR/xvfb.log" &
    xvfb=$!
    E2E_PIDS+=("$xvfb")
    if wait_quietly 10 x_named_or_gone && x_named && wait_quietly 10 x_answers; then break; fi
    [ "$try" = 3 ] && fail "the X server did not start: $(tail -3 "$E2E_DIR/xvfb.log")"
  done
  # Each test's programs on its own display, with a Wine server of their own.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p
}
x_named() {
  kill -0 "$xvfb" 2>/dev/null && [ -s "$E2E_DIR/display" ] || return 1
  DISPLAY=":$(cat "$E2E_DIR/display")"
  export DISPLAY
}
x_named_or_gone() { [ -s "$E2E_DIR/display" ] || ! kill -0 "$xvfb" 2>/dev/null; }
x_answers() { kill -0 "$xvfb" 2>/dev/null && xdotool getdisplaygeometry >/dev/null 2>&1; }
# wait_quietly SECONDS COMMAND...: as wait_for, but returns 1 in place of
# failing the test.
wait_quietly() {
  local deadline=$(($(now_ms) + $(ms "$1")))
  shift
  until "$@"; do
    (($(now_ms) < deadline)) || return 1
    sleep 0.1
  done
}

start_trayer() {
  trayer --edge bottom --align right --widthtype request --height 32 --SetDockType false \
    --SetPartialStrut false --transparent false &
  E2E_PIDS+=("$!")
  tray_panel() {
    tray_win=$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n 1 || true)
    [ -n "$tray_win" ]
  }
  wait_for 5 "trayer shows no panel" tray_panel
}

# The Windows form of a Linux path (Wine's Z: drive).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# start_program PROGDIR WORKDIR [VAR=VALUE...]: copies the program alone into
# PROGDIR and starts it with WORKDIR as its working directory.
start_program() {
  local prog=$1 work=$2
  shift 2
  mkdir -p "$prog" "$work"
  cp "$QM_EXE" "$prog/quillmere.exe"
  (cd "$work" && exec env "$@" wine "$prog/quillmere.exe" >"$E2E_DIR/wine.log" 2>&1) &
  E2E_PIDS+=("$!")
}

inspect() { wine "$QM_INSPECT" "$@" 2>/dev/null | tr -d '\r'; }

# wait_box TITLE [SECONDS]: prints the text of a message box so titled.
wait_box() { inspect box "$1" "${2:-20}"; }
# no_box TITLE: no message box so titled is open.
no_box() { ! inspect box "$1" 0 >/dev/null; }

shown() { wine "$QM_INSPECT" shown Quillmere >/dev/null 2>&1; }
hidden() { ! shown; }
# wait_shown [SECONDS], wait_hidden [SECONDS]: the window is (not) visible.
wait_shown() { wait_for "${1:-20}" "the window did not appear" shown; }
wait_hidden() { wait_for "${1:-10}" "the window is still shown" hidden; }

# snap: reads the window once; the helpers below read that snapshot.
snap() { D=$(inspect dump Quillmere); }
# snapped COMMAND...: COMMAND on a fresh snapshot, for wait_for and stays.
snapped() {
  snap
  "$@"
}
ctl() { awk -F'\t' -v id="$1" '$1 == id && NF == 6' <<<"$D"; }
text_of() { ctl "$1" | cut -f6; }
visible() { [ "$(ctl "$1" | cut -f3)" = 1 ]; }
enabled() { [ "$(ctl "$1" | cut -f4)" = 1 ]; }
disabled() { [ "$(ctl "$1" | cut -f4)" = 0 ]; }
count_of() { items "$1" | wc -l; }
first_line() { items "$1" | head -n 1; }
items() { awk -F'\t' -v id="$1" '$1 == id && $2 == "item" { print $4 }' <<<"$D"; }
selected() { awk -F'\t' -v id="$1" '$1 == id && $2 == "selected" { print $3 }' <<<"$D"; }
value_of() { awk -F'\t' -v id="$1" -v k="$2" '$1 == id && $2 == k { print $3 }' <<<"$D"; }
# index_of ID TEXT: the index of a list's item.
index_of() { awk -F'\t' -v id="$1" -v t="$2" '$1 == id && $2 == "item" && $4 == t { print $3; exit }' <<<"$D"; }
origin() { awk -F'\t' '$1 == "window" { split($4, c, " "); print c[2], c[3] }' <<<"$D"; }
dpi() { awk -F'\t' '$1 == "window" { split($4, c, " "); print int(c[4] * 1440 / 11595 + 0.5) }' <<<"$D"; }
# is WANT COMMAND...: COMMAND prints WANT (for wait_for: the state a step
# waits for, read from a fresh snapshot with snapped).
is() {
  local want=$1
  shift
  [ "$("$@")" = "$want" ]
}

# center ID: the screen point at the middle of a control.
center() {
  local ox oy x y w h
  read -r ox oy <<<"$(origin)"
  read -r x y w h <<<"$(ctl "$1" | cut -f5)"
  echo "$((ox + x + w / 2)) $((oy + y + h / 2))"
}
# line_at ID INDEX: the screen point of a list box's line (shown now).
line_at() {
  local ox oy x y w h top ih
  read -r ox oy <<<"$(origin)"
  read -r x y w h <<<"$(ctl "$1" | cut -f5)"
  read -r top ih <<<"$(value_of "$1" lines)"
  echo "$((ox + x + w / 3)) $((oy + y + 2 + ($2 - top) * ih + ih / 2))"
}
# click ID [LINE [CLICKS [BUTTON]]]: clicks a control as a user does, in its
# middle or on a list's line LINE; CLICKS 2 is a double click. The place is
# read from the window as it is now. Callers then wait for what the click
# does.
click() {
  local id=$1 line=${2:-} clicks=${3:-1} button=${4:-1} x y
  snap
  [ -n "$(ctl "$id")" ] || fail "no control $id to click"
  if [ -n "$line" ]; then
    read -r x y <<<"$(line_at "$id" "$line")"
  else
    read -r x y <<<"$(center "$id")"
  fi
  xdotool mousemove "$x" "$y" click --repeat "$clicks" --delay 80 "$button"
}

# answer TITLE TEXT KEY: the box so titled says TEXT; KEY answers it, and
# the box goes.
answer() {
  local said
  said=$(wait_box "$1") || fail "no '$1' box"
  [ "$said" = "$2" ] || fail "the '$1' box says '$said', not '$2'"
  xdotool key "$3"
  wait_for 10 "the '$1' box stayed open" no_box "$1"
}
# choose_drive LIST KEY: gives the drive list the focus and moves in it with
# a key (Down: the next drive, End: the last).
choose_drive() {
  click "$1"
  xdotool key Escape "$2"
}
# open_in LIST PATH: opens PATH in a directory list that shows its drive's
# root, as a user would: one line at a time, highlighted with the arrow keys
# and opened with Enter; the last one opened with a double click.
open_in() {
  local list=$1 path=$2 part i sel before n=0 count
  IFS=/ read -ra parts <<<"${path#/}"
  count=${#parts[@]}
  for part in "${parts[@]}"; do
    n=$((n + 1))
    snap
    i=$(index_of "$list" "$part")
    [ -n "$i" ] || fail "no line '$part' in the list: $(items "$list" | tr '\n' '|')"
    sel=$(selected "$list")
    before=$(items "$list")
    if [ "$n" -lt "$count" ]; then
      click "$list" "$sel"
      xdotool key --delay 15 --repeat $((i - sel)) Down
      xdotool key Return
    else
      click "$list" "$i" 2
    fi
    wait_for 10 "the list did not open $part" snapped opened "$list" "$part" "$before"
  done
}
# opened LIST NAME BEFORE: the list's lines changed from BEFORE and the open
# one is NAME.
opened() {
  [ "$(items "$1")" != "$3" ] && [ "$(items "$1" | sed -n "$(($(selected "$1") + 1))p")" = "$2" ]
}

# Control ids: 100 + the control's place in the tab order.
# shellcheck disable=SC2034  # each test uses some of them
ID_Command1=101 ID_BronDrive=102 ID_BronTree=103 ID_Text1=105 ID_Command2=107
# shellcheck disable=SC2034
ID_Text2=109 ID_Doeltree=110 ID_Doeldrive=111 ID_Command4=112 ID_Command5=113
# shellcheck disable=SC2034
ID_Slider1=114 ID_Label1=115 ID_ProgressBar1=116 ID_Check2=117 ID_List1=119
# shellcheck disable=SC2034
ID_Command7=120 ID_Text3=121 ID_Text4=122 ID_Command3=123
