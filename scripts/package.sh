#!/usr/bin/env bash
# Builds the release archives:
#   build/default/packages/quillmere-VERSION-linux-ARCH.tar.gz
#       the portable folder with install.sh
#   build/mingw/packages/quillmere-VERSION-windows-x64.zip
#       quillmere.exe (one static file) and a read-me
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

cmake --preset default >/dev/null
cmake --build --preset default
(cd build/default && cpack >/dev/null)

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target quillmere
(cd build/mingw && cpack >/dev/null)

# Only the system's DLLs: the Windows program is one file.
exe=build/mingw/app/quillmere.exe
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p')
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | user32.dll | gdi32.dll | shell32.dll | comctl32.dll | msvcrt.dll | advapi32.dll) ;;
    *) echo "quillmere.exe needs $dll, which Windows does not bring" >&2; exit 1 ;;
  esac
done
ls -l build/default/packages/quillmere-* build/mingw/packages/quillmere-*
