#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/app/quillmere "$@"
