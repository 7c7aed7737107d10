# Shared pieces of the end-to-end tests: a private X server, clean-up, and
# waits that poll for the state a step needs, never a fixed time.
# shellcheck shell=bash
set -euo pipefail

E2E_PIDS=()
E2E_XVFB=
cleanup() {
  local status=$?
  # A failed test says what became of its X server.
  if ((status != 0)) && [ -n "$E2E_XVFB" ]; then
    if kill -0 "$E2E_XVFB" 2>/dev/null; then echo "X server ${DISPLAY:-}: running" >&2
    else echo "X server ${DISPLAY:-}: gone" >&2; fi
    tail -5 "$E2E_DIR/xvfb.log" >&2 2>/dev/null || true
  fi
  for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${E2E_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ -n "${E2E_DIR:-}" ]; then
    chmod -R u+w "$E2E_DIR" 2>/dev/null || true
    rm -rf "$E2E_DIR"
  fi
}
trap cleanup EXIT

# shellcheck source=tests/e2e/waits.sh
. "$(dirname "${BASH_SOURCE[0]}")/waits.sh"

E2E_DIR=$(mktemp -d)
# start_x: a private X server; the test ends at once, saying why, when it
# does not come up.
start_x() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/setup.sh test installs it)"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$E2E_DIR/display" 2>"$E2E_DIR/xvfb.log" &
  local xvfb=$!
  E2E_PIDS+=("$xvfb")
  E2E_XVFB=$xvfb
  x_up() {
    kill -0 "$xvfb" 2>/dev/null || fail "the X server did not start: $(tail -3 "$E2E_DIR/xvfb.log")"
    [ -s "$E2E_DIR/display" ]
  }
  wait_for 10 "the X server did not start: it named no display" x_up
  DISPLAY=":$(cat "$E2E_DIR/display")"
  export DISPLAY
  wait_for 10 "the X server on $DISPLAY does not answer" x_answers
  export XDG_RUNTIME_DIR="$E2E_DIR/xdg"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  unset XDG_CURRENT_DESKTOP DBUS_SESSION_BUS_ADDRESS
  export QT_QPA_PLATFORM=xcb
}
x_answers() { xdotool getdisplaygeometry >/dev/null 2>&1; }

# find_window TITLE: prints the id of a visible window so named, if any.
find_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true
}
# wait_window TITLE [SECONDS]: prints the id of a visible window so named.
wait_window() {
  local id deadline=$(($(now_ms) + $(ms "${2:-20}")))
  while :; do
    id=$(find_window "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    (($(now_ms) < deadline)) || break
    sleep 0.1
  done
  echo "no window named '$1'" >&2
  return 1
}
# wait_gone ID [SECONDS]: the window ID is no longer shown.
wait_gone() {
  not_visible() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
  wait_for "${2:-10}" "window $1 is still shown" not_visible "$1"
}
# answer TITLE KEY: presses KEY in the box so titled and waits until it went.
answer() {
  local id
  id=$(wait_window "$1") || fail "no '$1' box"
  xdotool windowfocus --sync "$id" 2>/dev/null || true
  xdotool key "$2"
  wait_gone "$id"
}

# at WIN X Y: the point X, Y (twips in the client area, as the window's
# layout gives them) in pixels relative to WIN, whatever the screen's DPI.
at() {
  # shellcheck disable=SC2034  # set by the eval, only some are read
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  local menu=$((HEIGHT - (6660 * WIDTH + 5797) / 11595))
  echo "$(($2 * WIDTH / 11595)) $((menu + $3 * WIDTH / 11595))"
}
# click_at WIN X Y [BUTTON]: clicks at twips X, Y of WIN's client area.
click_at() {
  # shellcheck disable=SC2046
  xdotool mousemove --window "$1" $(at "$1" "$2" "$3") click "${4:-1}"
}
# copied KEYS...: sends KEYS and then the copy key to the focused widget and
# prints what is on the clipboard once it changed (or after 3 seconds).
# Callers make each expected text differ from the one before, so that a copy
# that did not happen shows.
copied() {
  local before now deadline=$(($(now_ms) + 3000))
  before=$(xclip -selection clipboard -o 2>/dev/null || true)
  xdotool key "$@" ctrl+c
  while :; do
    now=$(xclip -selection clipboard -o 2>/dev/null || true)
    [ "$now" != "$before" ] && break
    (($(now_ms) < deadline)) || break
    sleep 0.1
  done
  printf '%s\n' "$now"
}
# file_is FILE TEXT: FILE holds exactly TEXT.
file_is() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }
