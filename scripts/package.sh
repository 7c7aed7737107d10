#!/usr/bin/env bash
# Builds the release archives into build/packages/:
#   quillmere-VERSION-linux-ARCH.tar.gz  the portable folder with install.sh
#   quillmere-VERSION-windows.zip        quillmere.exe and a read-me, when the
#                                        tree has the Windows program (win32/)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run

cmake --preset default >/dev/null
cmake --build --preset default
(cd build/default && cpack)

if [ -f win32/CMakeLists.txt ]; then
  scripts/setup.sh test
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw
  (cd build/mingw && cpack)
fi
ls -l build/*/packages/quillmere-*
