#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
cmake --preset default >/dev/null
# The program alone: its tests are built by scripts/test.sh.
cmake --build --preset default --target quillmere
exec build/default/app/quillmere "$@"
