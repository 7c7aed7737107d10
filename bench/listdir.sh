#!/usr/bin/env bash
# One read of a directory of FILES files with every file's length and time
# (list_dir_detailed), on each KIND of volume (bench/volumes.sh): the
# directory is made on the volume, then read REPEAT times.
#
#   bench/listdir.sh [FILES [KIND...]]     default 2000 folder share
#
# BUILD names the build directory (default build/ci); TMPDIR_BENCH where
# the volumes are made (default /var/tmp).
set -euo pipefail

files=${1:-2000}
shift || true
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(folder share)
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build/ci}
prog=$build/bench/quillmere-listdir
if [ ! -x "$prog" ]; then
  echo "build first: $prog" >&2
  exit 1
fi
# shellcheck source=bench/volumes.sh
. "$here/bench/volumes.sh"

root=$(mktemp -d "${TMPDIR_BENCH:-/var/tmp}/qmls-XXXXXX")
cleanup() {
  volume_down
  rm -rf "$root"
}
trap cleanup EXIT

for kind in "${kinds[@]}"; do
  COPIES=1 volume_up "$kind" "$root/$kind" "$files"
  "$prog" --make "$root/$kind/dir" "$files"
  sync
  printf '%-7s ' "$kind"
  "$prog" "$root/$kind/dir" "${REPEAT:-5}"
  [ "$kind" = share ] && echo "        calls served at once on the share, at most: $(volume_peak)"
  volume_down
done
