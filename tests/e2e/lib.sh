# Shared pieces of the end-to-end tests: a private X server and clean-up.
set -euo pipefail

E2E_PIDS=()
cleanup() {
  for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${E2E_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "${E2E_DIR:-}" ] && rm -rf "$E2E_DIR"
}
trap cleanup EXIT

E2E_DIR=$(mktemp -d)
start_x() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$E2E_DIR/display" &
  E2E_PIDS+=($!)
  for _ in $(seq 100); do [ -s "$E2E_DIR/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$E2E_DIR/display")"
  export XDG_RUNTIME_DIR="$E2E_DIR/xdg"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  unset XDG_CURRENT_DESKTOP DBUS_SESSION_BUS_ADDRESS
  export QT_QPA_PLATFORM=xcb
}

# wait_window TITLE [SECONDS]: prints the id of a visible window so named.
wait_window() {
  local id
  for _ in $(seq $(( ${2:-20} * 10 ))); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window named '$1'" >&2
  return 1
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# at WIN X Y: the point X, Y (twips in the client area, as the window's
# layout gives them) in pixels relative to WIN, whatever the screen's DPI.
at() {
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  local menu=$(( HEIGHT - (6660 * WIDTH + 5797) / 11595 ))
  echo "$(( $2 * WIDTH / 11595 )) $(( menu + $3 * WIDTH / 11595 ))"
}
# click_at WIN X Y [BUTTON]: clicks at twips X, Y of WIN's client area.
click_at() {
  # shellcheck disable=SC2046
  xdotool mousemove --window "$1" $(at "$1" "$2" "$3") click "${4:-1}"
}
# copied KEYS...: sends KEYS and then the copy key to the focused widget and
# prints what is on the clipboard then. Callers make each expected text
# differ from the one before, so that a copy that did not happen shows.
copied() {
  xdotool key "$@" ctrl+c
  sleep 0.3
  xclip -selection clipboard -o 2>/dev/null || true
}
