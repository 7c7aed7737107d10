# shellcheck shell=bash
# The volumes a benchmark writes its targets onto, sourced by the benchmark
# scripts:
#   folder  a directory on the disk that holds the source
#   ext4j   a journalled ext4 image, loop-mounted (a USB disk, a second drive)
#   share   quillmere-testvol answering every call SHARE_DELAY_US late
#           (default 1000) and several calls at once (a network share)
#
# volume_up KIND DIR FILES [MiB]: makes DIR the root of a fresh volume of
# KIND, with room and inodes for FILES small files in COPIES copies
# (default 20), and MiB more for large ones;
# volume_down undoes it, also after a failure, and may be called twice.
# TESTVOL names the test volume's program (default: the ci build's).

vol_kind='' vol_dir='' vol_image='' vol_pid='' vol_backing='' vol_stats=''

volume_up() {
  local kind=$1 dir=$2 files=$3 extra_mib=${4:-0} copies=${COPIES:-20}
  vol_kind=$kind vol_dir=$dir
  case $kind in
    folder)
      mkdir -p "$dir"
      ;;
    ext4j)
      # A 4 KiB block and an inode for every file of every copy, and a
      # quarter more for the directories and the journal.
      local inodes=$(( files * copies * 5 / 4 + 16384 ))
      local mib=$(( inodes * 5 / 1024 + 512 + 3 * extra_mib ))
      vol_image=$dir.img
      truncate -s "${mib}M" "$vol_image"
      # Inode tables and journal written now: a lazy first mount would go
      # on writing them in the background through the runs.
      mkfs.ext4 -q -j -N "$inodes" -E lazy_itable_init=0,lazy_journal_init=0 "$vol_image"
      mkdir -p "$dir"
      mount -o loop "$vol_image" "$dir"
      ;;
    share)
      local prog=${TESTVOL:-$here/build/ci/tests/quillmere-testvol}
      if [ ! -x "$prog" ]; then
        echo "build the test volume first: $prog (cmake --preset ci)" >&2
        return 1
      fi
      vol_backing=$dir.backing vol_stats=$dir.stats
      mkdir -p "$vol_backing" "$dir"
      "$prog" --delay-us="${SHARE_DELAY_US:-1000}" --stats="$vol_stats" \
        "$vol_backing" "$dir" >"$dir.log" 2>&1 &
      vol_pid=$!
      local _
      for _ in $(seq 200); do
        mountpoint -q "$dir" && break
        kill -0 "$vol_pid" 2>/dev/null || break
        sleep 0.05
      done
      if ! mountpoint -q "$dir"; then
        echo "the test volume did not come up: $(cat "$dir.log")" >&2
        return 1
      fi
      ;;
    *)
      echo "unknown kind of target: $kind (folder, ext4j or share)" >&2
      return 1
      ;;
  esac
}

# The most calls the share served at once so far (0 on other kinds).
volume_peak() {
  [ -n "$vol_stats" ] && [ -f "$vol_stats" ] && awk '$1 == "peak" { print $2 }' "$vol_stats" || echo 0
}

volume_down() {
  case $vol_kind in
    ext4j)
      if mountpoint -q "$vol_dir"; then umount "$vol_dir" || umount -l "$vol_dir"; fi
      rm -f "$vol_image"
      ;;
    share)
      if mountpoint -q "$vol_dir"; then fusermount3 -u "$vol_dir" || fusermount3 -uz "$vol_dir"; fi
      if [ -n "$vol_pid" ]; then
        kill "$vol_pid" 2>/dev/null || true
        wait "$vol_pid" 2>/dev/null || true
      fi
      rm -rf "$vol_backing"
      ;;
  esac
  vol_kind=''
}
