#!/usr/bin/env bash
# Builds the Windows program for release (optimised as the tested build,
# stripped of its debug information, one static exe) and makes the folder
# and the zip archive a Windows user downloads:
#   dist/quillmere-VERSION-windows-x64/{quillmere.exe,README.txt}
#   dist/quillmere-VERSION-windows-x64.zip
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

build=build/mingw-release
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=OFF -DQM_WERROR=ON >/dev/null
cmake --build "$build" --target quillmere -j "$(nproc 2>/dev/null || echo 2)"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=quillmere-$version-windows-x64
rm -rf "dist/$name" "dist/$name.zip"
cmake --install "$build" --strip --prefix "dist/$name" >/dev/null

# Only the system's DLLs: the program is one file.
imports=$(x86_64-w64-mingw32-objdump -p "dist/$name/quillmere.exe" | sed -n 's/^\tDLL Name: //p')
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | user32.dll | gdi32.dll | shell32.dll | comctl32.dll | msvcrt.dll | advapi32.dll) ;;
    *) echo "quillmere.exe needs $dll, which Windows does not bring" >&2; exit 1 ;;
  esac
done

(cd dist && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "dist/$name/: $(ls "dist/$name" | tr '\n' ' ')"
echo "dist/$name.zip: $(stat -c %s "dist/$name.zip") bytes"
