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
  unset XDG_CURRENT_DESKTOP
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
