#!/usr/bin/env bash
# Installs what is missing, checks the tree's habits (formatting, shell
# scripts, layering: scripts/check.sh), builds everything and runs every test:
# the Linux build (warnings as errors) with the end-to-end tests of the real
# window under Xvfb, the same tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, the engine and window-model tests with
# ThreadSanitizer, and the Windows core cross-built with MinGW-w64 and run
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

jobs=$(nproc 2>/dev/null || echo 2)

# Four builds of the same sources (plain, two sanitizers, Windows): a
# compiler cache keyed on the sources, not on the folder, lets a later run
# in another clone reuse what an earlier one compiled.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
fi

SECONDS=0
echo "== Formatting, shell scripts and layering"
scripts/check.sh

echo "== Linux build and tests ($SECONDS s)"
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -j "$jobs" --timeout 900

echo "== Linux tests with AddressSanitizer and UndefinedBehaviorSanitizer ($SECONDS s)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 900 -LE "e2e|torture"

echo "== Engine and window-model tests with ThreadSanitizer ($SECONDS s)"
# Flushes and the engine's reads ahead run on threads of their own; the Qt views are
# left out, as Qt itself is not built for this sanitizer.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
# A test that hangs fails here instead of holding the run.
tsan() { TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" timeout --kill-after=10 1500 "$@"; }
tsan build/tsan/tests/engine/engine_core_tests --gtest_brief=1
tsan build/tsan/tests/engine/engine_tests --gtest_brief=1
tsan build/tsan/tests/ui/ui_tests --gtest_brief=1

if [ -x scripts/test-windows.sh ]; then
  echo "== Windows program under Wine ($SECONDS s)"
  scripts/test-windows.sh
fi
echo "== All tests passed in $SECONDS s"
