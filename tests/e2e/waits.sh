# Waits shared by the end-to-end tests of both programs: they poll for the
# state a step needs, never a fixed time.
# shellcheck shell=bash

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Milliseconds on a clock that only goes forward in a test's time span.
now_ms() {
  local t=${EPOCHREALTIME/[.,]/}
  echo $((t / 1000))
}
# ms SECONDS: SECONDS (may have a fraction, like 0.5) in milliseconds.
ms() {
  local whole=${1%.*} frac=000
  [[ $1 == *.* ]] && frac=${1#*.}000
  echo $((10#${whole:-0} * 1000 + 10#${frac:0:3}))
}
# wait_for SECONDS WHAT COMMAND...: runs COMMAND every tenth of a second until
# it succeeds; fails the test with WHAT once SECONDS have passed.
wait_for() {
  local limit=$1 what=$2 deadline=$(($(now_ms) + $(ms "$1")))
  shift 2
  until "$@"; do
    (($(now_ms) < deadline)) || fail "$what (waited ${limit}s)"
    sleep 0.1
  done
}
# stays SECONDS WHAT COMMAND...: COMMAND keeps succeeding for SECONDS; fails
# with WHAT as soon as it does not. For things that must not happen.
stays() {
  local what=$2 deadline=$(($(now_ms) + $(ms "$1")))
  shift 2
  while (($(now_ms) < deadline)); do
    "$@" || fail "$what"
    sleep 0.1
  done
  "$@" || fail "$what"
}
