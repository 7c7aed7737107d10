#!/usr/bin/env bash
# Installs what the build needs from Debian's packages, when missing.
# Quiet when everything is there. Usage: setup.sh [run|test]
set -euo pipefail

want=(cmake ninja-build g++ qt6-base-dev libgl-dev googletest libgtest-dev)
if [ "${1:-run}" = test ]; then
  want+=(xvfb xauth xdotool xclip trayer imagemagick x11-utils rsync
         g++-mingw-w64-x86-64 wine wine64
         clang-format shellcheck desktop-file-utils appstream ccache
         pkg-config libfuse3-dev fuse3)
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
