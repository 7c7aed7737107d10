#!/usr/bin/env bash
# Installs what is missing, checks the tree's habits (formatting, shell
# scripts, layering: scripts/check.sh), builds everything and runs every test:
# the Linux build (warnings as errors) with the end-to-end tests of the real
# window under Xvfb, the same tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the Windows core cross-built with
# MinGW-w64 and run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Formatting, shell scripts and layering"
scripts/check.sh

echo "== Linux build and tests"
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -j "$jobs"

echo "== Linux tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE "e2e|torture"

if [ -x scripts/test-windows.sh ]; then
  echo "== Windows core under Wine"
  scripts/test-windows.sh
fi
