# Shared pieces of the end-to-end tests of the Windows program under Wine:
# a private X server, the program started in a folder of its own, and the
# inspector that reads its window from outside.
# Callers set QM_EXE (quillmere.exe) and QM_INSPECT (qm-inspect.exe); the
# Wine prefix and its settings come from the environment.
set -euo pipefail

E2E_PIDS=()
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${E2E_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "${E2E_DIR:-}" ] && rm -rf "$E2E_DIR"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

E2E_DIR=$(mktemp -d)
start_x() {
  local try pid
  # X servers that start together can take each other's display: a server
  # that lost its display ends, and another one is started.
  for try in 1 2 3; do
    rm -f "$E2E_DIR/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$E2E_DIR/display" 2>"$E2E_DIR/xvfb.log" &
    pid=$!
    E2E_PIDS+=($pid)
    for _ in $(seq 100); do [ -s "$E2E_DIR/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$E2E_DIR/display" 2>/dev/null)"
    sleep 0.3
    kill -0 "$pid" 2>/dev/null && xdotool getdisplaygeometry >/dev/null 2>&1 && break
    [ "$try" = 3 ] && fail "the X server did not start: $(cat "$E2E_DIR/xvfb.log")"
  done
  # Each test's programs on its own display, with a Wine server of their own.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p
}

start_trayer() {
  trayer --edge bottom --align right --widthtype request --height 32 --SetDockType false \
    --SetPartialStrut false --transparent false &
  E2E_PIDS+=($!)
  for _ in $(seq 50); do
    tray_win=$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n 1 || true)
    [ -n "$tray_win" ] && return 0
    sleep 0.1
  done
  fail "trayer shows no panel"
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
  E2E_PIDS+=($!)
}

inspect() { wine "$QM_INSPECT" "$@" 2>/dev/null | tr -d '\r'; }

# wait_box TITLE [SECONDS]: prints the text of a message box so titled.
wait_box() { inspect box "$1" "${2:-20}"; }

# wait_shown [SECONDS]: the window is visible.
wait_shown() {
  for _ in $(seq $(( ${1:-20} * 4 ))); do
    wine "$QM_INSPECT" shown Quillmere >/dev/null 2>&1 && return 0
    sleep 0.25
  done
  return 1
}
shown() { wine "$QM_INSPECT" shown Quillmere >/dev/null 2>&1; }

# snap: reads the window once; the helpers below read that snapshot.
snap() { D=$(inspect dump Quillmere); }
ctl() { awk -F'\t' -v id="$1" '$1 == id && NF == 6' <<<"$D"; }
text_of() { ctl "$1" | cut -f6; }
visible() { [ "$(ctl "$1" | cut -f3)" = 1 ]; }
enabled() { [ "$(ctl "$1" | cut -f4)" = 1 ]; }
items() { awk -F'\t' -v id="$1" '$1 == id && $2 == "item" { print $4 }' <<<"$D"; }
selected() { awk -F'\t' -v id="$1" '$1 == id && $2 == "selected" { print $3 }' <<<"$D"; }
value_of() { awk -F'\t' -v id="$1" -v k="$2" '$1 == id && $2 == k { print $3 }' <<<"$D"; }
# index_of ID TEXT: the index of a list's item.
index_of() { awk -F'\t' -v id="$1" -v t="$2" '$1 == id && $2 == "item" && $4 == t { print $3; exit }' <<<"$D"; }
origin() { awk -F'\t' '$1 == "window" { split($4, c, " "); print c[2], c[3] }' <<<"$D"; }
dpi() { awk -F'\t' '$1 == "window" { split($4, c, " "); print int(c[4] * 1440 / 11595 + 0.5) }' <<<"$D"; }

# center ID: the screen point at the middle of a control.
center() {
  local ox oy x y w h
  read -r ox oy <<<"$(origin)"
  read -r x y w h <<<"$(ctl "$1" | cut -f5)"
  echo "$(( ox + x + w / 2 )) $(( oy + y + h / 2 ))"
}
# line_at ID INDEX: the screen point of a list box's line (shown now).
line_at() {
  local ox oy x y w h top ih
  read -r ox oy <<<"$(origin)"
  read -r x y w h <<<"$(ctl "$1" | cut -f5)"
  read -r top ih <<<"$(value_of "$1" lines)"
  echo "$(( ox + x + w / 3 )) $(( oy + y + 2 + ($2 - top) * ih + ih / 2 ))"
}
# click ID [BUTTON]: a click in the middle of a control, as a user makes it.
click() {
  # shellcheck disable=SC2046
  xdotool mousemove $(center "$1") click "${2:-1}"
  sleep 0.3
}

# Control ids: 100 + the control's place in the tab order.
ID_Command1=101 ID_BronDrive=102 ID_BronTree=103 ID_Text1=105 ID_Command2=107
ID_Text2=109 ID_Doeltree=110 ID_Doeldrive=111 ID_Command4=112 ID_Command5=113
ID_Slider1=114 ID_Label1=115 ID_ProgressBar1=116 ID_Check2=117 ID_List1=119
ID_Command7=120 ID_Text3=121 ID_Text4=122 ID_Command3=123
