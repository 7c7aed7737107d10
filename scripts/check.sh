#!/usr/bin/env bash
# The tree's own habits, checked without building:
#   format  every C++ file is formatted as .clang-format says
#   shell   every shell script passes shellcheck
#   layers  the layers include only downwards: nothing below the views
#           includes a toolkit, and only platform/ (and win32/, the Windows
#           view, whose toolkit is the Win32 API) includes <windows.h> or
#           <unistd.h>
# Usage: check.sh [format|shell|layers]...  (all three by default). Checks the
# tree this script is in, or the one QM_SOURCE_DIR names. Prints each fault
# as FILE:LINE: what, and fails when there is any.
set -euo pipefail
root=${QM_SOURCE_DIR:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# Build folders and the Git store are not the tree's sources.
sources() {  # sources FIND-TESTS...: matching files, sorted, as ./path
  find . \( -path './build*' -o -path ./.git \) -prune -o -type f \( "$@" \) -print | sort
}

check_format() {
  local files bad
  mapfile -t files < <(sources -name '*.cpp' -o -name '*.h')
  mapfile -t bad < <(clang-format --dry-run --Werror "${files[@]}" 2>&1 \
    | grep -E '^[^ ]+:[0-9]+:[0-9]+: ' | cut -d: -f1 | sort -u)
  if [ ${#bad[@]} -gt 0 ]; then
    echo "format: not formatted as .clang-format says (clang-format -i FILE):"
    printf '  %s\n' "${bad[@]}"
    return 1
  fi
  echo "format: ${#files[@]} C++ files formatted"
}

check_shell() {
  local files=() f
  while IFS= read -r f; do
    case $f in
      *.sh) files+=("$f") ;;
      *) head -n 1 "$f" | grep -Eq '^#!.*\b(ba)?sh\b' && files+=("$f") ;;
    esac
  done < <(sources -name '*.sh' -o -path './scripts/*' -o -path './.ci/*')
  # Sourced files are named relative to the tree's root.
  shellcheck -x "${files[@]}" || return 1
  echo "shell: ${#files[@]} scripts clean"
}

# Which layers a folder may include from, as "ui/...", "engine/..." paths;
# tests may include what the layer they test may, and their own support.
allowed_layers() {
  case $1 in
    platform) echo "platform" ;;
    batch) echo "platform batch" ;;
    engine) echo "platform batch engine" ;;
    ui) echo "platform batch engine ui" ;;
    view) echo "platform batch engine ui view" ;;
    win32) echo "platform batch engine ui win32" ;;
    tray) echo "platform batch engine ui tray" ;;
    app) echo "platform batch engine ui view win32 tray app" ;;
    bench) echo "platform batch engine ui view tray app bench" ;;
    packaging | tests) echo "platform batch engine ui view win32 tray" ;;
    *) echo "" ;;
  esac
}
# Folders that draw, and so may include a toolkit.
toolkit_allowed() {
  case $1 in
    view/* | win32/* | tray/* | app/* | bench/* | packaging/* | tests/view/* | tests/tray/*) return 0 ;;
  esac
  return 1
}
# Folders that may include the operating system's own headers: the
# platform layer, the Windows view and its entry point, and the tests that
# drive the system or processes directly (the test volume among them, and
# the engine's Windows tests, which hold files as other programs do).
os_allowed() {
  case $1 in
    platform/* | win32/* | app/winmain.cpp | tests/platform/* | tests/win32/* | tests/torture/* \
      | tests/support/testvol* | tests/engine/windows_test.cpp) return 0 ;;
  esac
  return 1
}

check_layers() {
  local faults=0 file path top line number header layer
  while IFS= read -r file; do
    path=${file#./}
    top=${path%%/*}
    while IFS=: read -r number line; do
      if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*[\<\"]([^\>\"]+)[\>\"] ]]; then
        header=${BASH_REMATCH[1]}
      else
        continue
      fi
      if [[ $header =~ ^(Q[A-Za-z0-9]+|Qt[A-Za-z0-9]*/.*|gtk/.*|X11/.*|xcb/.*)$ ]] && ! toolkit_allowed "$path"; then
        echo "$path:$number: <$header>: no toolkit below the views"
        faults=$((faults + 1))
      fi
      if [[ $header =~ ^(windows|unistd)\.h$ ]] && ! os_allowed "$path"; then
        echo "$path:$number: <$header>: only platform/ includes the system's headers"
        faults=$((faults + 1))
      fi
      layer=${header%%/*}
      if [ "$layer" != "$header" ] && [ -n "$(allowed_layers "$layer")" ] \
        && ! [[ " $(allowed_layers "$top") " == *" $layer "* ]]; then
        echo "$path:$number: \"$header\": $top/ does not include from $layer/, a layer above it"
        faults=$((faults + 1))
      fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
  done < <(sources -name '*.cpp' -o -name '*.h' -o -name '*.rc')
  [ "$faults" -eq 0 ] || return 1
  echo "layers: includes go downwards only"
}

what=("$@")
[ ${#what[@]} -gt 0 ] || what=(format shell layers)
failed=0
for w in "${what[@]}"; do
  case $w in
    format | shell | layers) "check_$w" || failed=1 ;;
    *)
      echo "check.sh: unknown check '$w'" >&2
      exit 2
      ;;
  esac
done
exit "$failed"
