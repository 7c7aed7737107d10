#!/usr/bin/env bash
# The real program, its window on a private X server, timed beside rsync on
# the same trees in one run: a first copy, a run with nothing to do, and a
# run after 1 % of the files changed; once with the window shown, once
# hidden with "&Hide", and the engine alone (quillmere-bench, no window)
# beside them: "headless" pauses as the program does, "no pause" skips the
# pause (a processor that has idled through a pause may run the work after
# it more slowly, so only the first is the same work as the program's). Also the start-up time to an exposed window, the peak memory
# and the lateness of a 10 ms timer during each run.
#
#   bench/window.sh [--kind KIND] [FILES [DIRS [BIG-MiB]]]   default folder 20000 200 0
#
# KIND (or TARGET_KIND=KIND) is the volume the targets are written to; the
# source stays in a folder of the local disk, as a user's backup goes from
# the disk to another volume:
#   folder  a directory beside the source (the default)
#   ext4j   a journalled ext4 image made with mkfs.ext4 -j and loop-mounted
#           (a second disk, a USB disk); made and removed by the script
#   share   the test volume (quillmere-testvol, from the ci build, or the one
#           TESTVOL names) answering every call SHARE_DELAY_US late (default
#           1000) and serving several calls at once: a network share
# Every table names the kind. rsync writes onto the same volume; for the
# first copy also with --fsync, as the program flushes its copies.
# ext4j mounts a loop device, and share a FUSE volume: both need root, or
# leave to mount.
#
# REPEAT=N (default 3) runs each contestant N times on each phase; the table
# shows the medians, and every time is printed below it.
# SAME_ONLY=1 times the no-change run alone, on one target that cp -a made
# (for trees too large to copy four times); MODES="shown" leaves out the
# hidden window.
#
# BUILD names the build directory (default build/default). The window is
# bench/quillmere-window: the program's own code with a watch on it, which
# QUILLMERE_TIMINGS has note its figures and end the program after the run.
# The run is started by a real tick of Timer1: QUILLMERE_TICK_MS shortens
# its period (the slider stays at 60, so the run comes at the 60th tick).
# The specified two-second pause of every entry is left out of the times.
set -euo pipefail

kind=${TARGET_KIND:-folder}
case ${1:-} in
  --kind) kind=${2:?--kind needs folder, ext4j or share}; shift 2 ;;
  --kind=*) kind=${1#--kind=}; shift ;;
esac
files=${1:-20000}
dirs=${2:-200}
big_mib=${3:-0}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build/default}
prog_bin=$build/bench/quillmere-window
bench_bin=$build/bench/quillmere-bench
tick_ms=${TICK_MS:-50}
if [ ! -x "$prog_bin" ] || [ ! -x "$bench_bin" ]; then
  echo "build first: $prog_bin, $bench_bin" >&2
  exit 1
fi

# shellcheck source=bench/volumes.sh
. "$here/bench/volumes.sh"

root=$(mktemp -d "${TMPDIR_BENCH:-/var/tmp}/qmwin-XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  volume_down
  # Never through a volume that is still mounted.
  if mountpoint -q "$root/vol"; then
    echo "left mounted: $root/vol" >&2
  else
    rm -rf "$root"
  fi
}
trap cleanup EXIT

# The targets, and every copy of them, on the volume of the kind asked for.
tgt=$root/vol
volume_up "$kind" "$tgt" "$files" "$big_mib"

now() { date +%s.%N; }
elapsed() { echo "$(now) $1" | awk '{printf "%.3f", $1 - $2}'; }
timed() { local t; t=$(now); "$@" >/dev/null; elapsed "$t"; }

# A private X server with a notification area, so that "&Hide" hides.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$root/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$root/display" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$root/display")"
export DISPLAY
export XDG_RUNTIME_DIR="$root/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset XDG_CURRENT_DESKTOP DBUS_SESSION_BUS_ADDRESS
export QT_QPA_PLATFORM=xcb
trayer --edge bottom --align right --widthtype pixel --width 64 --heighttype pixel --height 24 \
  >/dev/null 2>&1 &
pids+=($!)
mkdir -p "$root/lists"
export winbootdir=$root/lists

echo "load before: $(uptime | sed 's/.*load average/load average/')"
echo "tree: $files files of 1 KiB in $dirs directories under $root"
echo "targets on: $kind ($(findmnt -no FSTYPE --target "$tgt"), $tgt)"
"$bench_bin" --make-tree "$root/src" "$files" "$dirs"
sync
find "$root/src" -type f -exec cat {} + >/dev/null   # warm

read -r -a modes <<<"${MODES:-shown hidden}"
repeat=${REPEAT:-3}
same_only=${SAME_ONLY:-0}
for m in "${modes[@]}" headless bare; do
  mkdir -p "$root/p-$m" "$tgt/t-$m"
  [ "$m" = headless ] || [ "$m" = bare ] || cp "$prog_bin" "$root/p-$m/quillmere"
  printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$root/src" "$tgt/t-$m" \
    >"$root/p-$m/BATCH.INI"
done
mkdir -p "$tgt/t-rsync" "$tgt/t-rsyncf"
if [ "$same_only" = 1 ]; then
  rmdir "$tgt/t-rsyncf"
  # Nothing is written in a run with nothing to do: one target serves all.
  rmdir "$tgt/t-rsync"
  cp -a "$root/src" "$tgt/t-rsync"
  for m in "${modes[@]}" headless bare; do
    rmdir "$tgt/t-$m"
    ln -s "$tgt/t-rsync" "$tgt/t-$m"
  done
fi

# run_program MODE PHASE: one real run; leaves its figures in $root/tim-MODE-PHASE.
run_program() {
  local mode=$1 phase=$2 out=$root/tim-$1-$2 start pid win
  rm -f "$out"
  start=$(date +%s%N)
  QUILLMERE_TICK_MS=$tick_ms QUILLMERE_TIMINGS=$out "$root/p-$mode/quillmere" 2>"$root/err-$mode" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 200); do grep -q '^exposed-epoch-ns' "$out" 2>/dev/null && break; sleep 0.02; done
  echo "start-ns $start" >>"$out"
  if [ "$mode" = hidden ]; then
    win=$(xdotool search --onlyvisible --name '^Quillmere$' | head -n 1)
    # "&Hide", at its place in the window's layout (twips of the client area).
    eval "$(xdotool getwindowgeometry --shell "$win")"
    local menu=$(( HEIGHT - (6660 * WIDTH + 5797) / 11595 ))
    xdotool mousemove --window "$win" $(( 10807 * WIDTH / 11595 )) $(( menu + 5887 * WIDTH / 11595 )) click 1
    sleep 0.2
    if xdotool search --onlyvisible --name '^Quillmere$' >/dev/null; then
      echo "the window did not hide" >&2
    fi
  fi
  local t0
  t0=$(date +%s)
  while kill -0 "$pid" 2>/dev/null; do
    (( $(date +%s) - t0 > ${RUN_TIMEOUT:-3600} )) && { kill "$pid"; break; }
    sleep 0.05
  done
  wait "$pid" || true
  grep -q '^run-s' "$out" || { echo "no run recorded for $mode $phase: $(cat "$root/err-$mode")" >&2; }
}
field() { awk -v k="$2" '$1 == k { for (i = 2; i <= NF; i++) if ($i == "'"$3"'") { print $(i + 1); exit } }' "$1"; }
run_s() { awk '$1 == "run-s" { print $2 }' "$1"; }

# run_headless MODE PHASE: the engine alone, in a child of quillmere-bench;
# MODE headless takes the pause, bare does not.
run_headless() {
  local pause=()
  [ "$1" = headless ] && pause=(--real-pause)
  "$bench_bin" --replicate "$root/p-$1" "$root/src" "$tgt/t-$1" "${pause[@]}" >"$root/tim-$1-$2"
}

# median V...: the middle of the values (the lower middle of an even count).
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A T C
# The rsyncs of a phase: a first copy also with --fsync, which flushes
# every file it wrote, as the program does.
anchors() { if [ "$1" = first ]; then echo rsync rsyncf; else echo rsync; fi; }
# run_rsync PHASE: each of them once, onto its own target (in phase's tv).
run_rsync() {
  sync
  tv[rsync]+=" $(timed rsync "${rsync_opts[@]}" "$root/src/" "$tgt/t-rsync/")"
  if [ "$1" = first ]; then
    sync
    tv[rsyncf]+=" $(timed rsync "${rsync_opts[@]}" --fsync "$root/src/" "$tgt/t-rsyncf/")"
  fi
  return 0
}
# phase NAME "RSYNC-OPTIONS": each contestant on the same trees, REPEAT
# times (default 3); the table takes the median of each.
phase() {
  local p=$1 rsync_opts r m
  read -ra rsync_opts <<<"$2"
  local -A tv cv
  for r in $(seq "$repeat"); do
    # Work for this turn: empty targets for a first copy, 1 % of the files
    # one byte longer for a changed run.
    if [ "$p" = first ]; then
      # Earlier copies are moved aside, not deleted: for some minutes after
      # it freed many inodes, a file system may make new files far more
      # slowly (ext4 passes over recently freed ones), which would tax
      # whichever run came next.
      if (( r > 1 )); then
        for m in rsync rsyncf "${modes[@]}" headless bare; do
          mv "$tgt/t-$m" "$tgt/old-$m-$r"
          mkdir "$tgt/t-$m"
        done
      fi
    elif [ "$p" = changed ]; then
      while read -r f; do printf x >>"$f"; done <"$root/changed"
    fi
    # rsync goes first in odd turns and last in even ones: whoever comes
    # after a run meets the disk as it left it.
    (( r % 2 == 1 )) && run_rsync "$p"
    sync
    # The windows take turns at going first, so that neither always meets
    # the disk as the other left it.
    local order=("${modes[@]}") flip=0
    [ "$p" = same ] && flip=1
    if (( ${#modes[@]} == 2 && (r + flip) % 2 == 0 )); then
      order=("${modes[1]}" "${modes[0]}")
    fi
    for m in "${order[@]}"; do
      run_program "$m" "$p"
      tv[$m]+=" $(run_s "$root/tim-$m-$p")"
      cv[$m]+=" $(field "$root/tim-$m-$p" run-s cpu-s)"
      sync
    done
    for m in headless bare; do
      run_headless "$m" "$p"
      tv[$m]+=" $(awk '{ print $1 }' "$root/tim-$m-$p")"
      cv[$m]+=" $(awk '{ print $5 }' "$root/tim-$m-$p")"
    done
    (( r % 2 == 0 )) && run_rsync "$p"
  done
  for m in $(anchors "$p") "${modes[@]}" headless bare; do
    # shellcheck disable=SC2086
    T[$p,$m]=$(median ${tv[$m]})
    # shellcheck disable=SC2086
    [[ $m = rsync* ]] || C[$p,$m]=$(median ${cv[$m]})
    R[$p,$m]=${tv[$m]# }
  done
  T[$p,load]=$(cut -d' ' -f1 /proc/loadavg)
}
declare -A R

# The targets are checked where the share keeps them: the same bytes,
# without a round trip per call.
seen=${vol_backing:-$tgt}
phases=(first same changed)
if [ "$same_only" = 1 ]; then
  phases=(same)
  phase same "-rt"
else
  find "$root/src" -type f | awk 'NR % 100 == 0' >"$root/changed"
  changed=$(wc -l <"$root/changed")
  phase first "-rt --whole-file"
  # rsync --fsync copies only once: its target is checked now.
  diff -r "$root/src" "$seen/t-rsyncf/" >/dev/null || echo "rsync --fsync's copy differs" >&2
  phase same "-rt"
  phase changed "-rt"
fi

equal=yes
for m in rsync "${modes[@]}" headless bare; do
  diff -r "$root/src" "$seen/t-$m/" >/dev/null || equal="NO ($m)"
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%5.2fx", a / b; else print "  -  " }'; }
case $kind in
  folder) where="a folder beside the source" ;;
  ext4j) where="a journalled ext4 image, loop-mounted" ;;
  share) where="the test volume, ${SHARE_DELAY_US:-1000} us a call, several calls at once" ;;
esac
echo
echo "targets on $kind ($where): $files files in $dirs directories"
echo "[$kind] figures in seconds, medians of $repeat runs; the run's two-second pause per entry is not in them"
printf '%-22s %9s %9s %9s %9s %9s %9s  %-8s %-8s %-8s %-8s %-5s\n' "[$kind]" "shown" "hidden" "headless" \
  "no pause" "rsync" "rsync" "shown/" "shown/" "hidden/" "shown/" "load"
printf '%-22s %9s %9s %9s %9s %9s %9s  %-8s %-8s %-8s %-8s\n' "" "" "" "" "" "" "--fsync" "rsync" \
  "--fsync" "shown" "headless"
for p in "${phases[@]}"; do
  case $p in
    first) label="first copy" ;;
    same) label="no-change run" ;;
    changed) label="1 % changed ($changed)" ;;
  esac
  printf '%-22s %9.3f %9.3f %9.3f %9.3f %9.3f %9s  %-8s %-8s %-8s %-8s %s\n' "$label" "${T[$p,shown]}" \
    "${T[$p,hidden]:-0}" "${T[$p,headless]}" "${T[$p,bare]}" "${T[$p,rsync]}" \
    "$( [ -n "${T[$p,rsyncf]:-}" ] && printf '%.3f' "${T[$p,rsyncf]}" || echo -)" \
    "$(ratio "${T[$p,shown]}" "${T[$p,rsync]}")" "$(ratio "${T[$p,shown]}" "${T[$p,rsyncf]:-0}")" \
    "$(ratio "${T[$p,hidden]:-0}" "${T[$p,shown]}")" "$(ratio "${T[$p,shown]}" "${T[$p,headless]}")" \
    "${T[$p,load]}"
done
echo "(rsync -rt --whole-file for the first copy, also with --fsync; rsync -rt after; all onto $kind)"
[ "$kind" = share ] && echo "(the share served at most $(volume_peak) calls at once)"
echo "[$kind] each run, in the order taken:"
for p in "${phases[@]}"; do
  for m in $(anchors "$p") "${modes[@]}" headless bare; do printf '  %-8s %-9s %s\n' "$p" "$m" "${R[$p,$m]}"; done
done
echo "[$kind] processor time of the run (user + system, all threads), seconds:"
for p in "${phases[@]}"; do
  printf '  %-20s shown %7.3f  hidden %7.3f  headless %7.3f  no pause %7.3f\n' "$p" \
    "${C[$p,shown]}" "${C[$p,hidden]:-0}" "${C[$p,headless]}" "${C[$p,bare]}"
done
echo
for p in "${phases[@]}"; do
  f=$root/tim-shown-$p
  s=$(awk '$1 == "start-ns" { s = $2 } $1 == "exposed-epoch-ns" { e = $2 } END { printf "%.0f", (e - s) / 1e6 }' "$f")
  printf '[%s] %-14s start-up to exposed window %5s ms; peak memory idle %6.1f MiB, after the run %6.1f MiB (+%.1f)\n' \
    "$kind" "$p:" "$s" "$(echo "$(field "$f" peak-kib idle) / 1024" | bc -l)" \
    "$(echo "$(field "$f" peak-kib after-run) / 1024" | bc -l)" \
    "$(echo "($(field "$f" peak-kib after-run) - $(field "$f" peak-kib idle)) / 1024" | bc -l)"
done
for m in "${modes[@]}"; do
  for p in "${phases[@]}"; do
    f=$root/tim-$m-$p
    printf '[%s] %-7s %-8s 10 ms timer lateness: p50 %6.1f  p99 %6.1f  max %6.1f ms (%s samples); in the pause: max %.0f ms; %s frames drawn\n' \
      "$kind" "$m" "$p" "$(field "$f" lateness-ms p50)" "$(field "$f" lateness-ms p99)" \
      "$(field "$f" lateness-ms max)" "$(field "$f" lateness-ms samples)" \
      "$(field "$f" lateness-ms pause-max)" "$(awk '$1 == "frames" { print $2 }' "$f")"
  done
done
for p in "${phases[@]}"; do
  printf '[%s] headless %-8s peak memory of the run (whole process, no window) %.1f MiB\n' "$kind" "$p" \
    "$(echo "$(awk '{ print $3 }' "$root/tim-headless-$p") / 1024" | bc -l)"
done
echo "[$kind] targets equal to the source: $equal"

if (( big_mib > 0 )); then
  rm -rf "$tgt/t-"* "$root/src"
  mkdir -p "$root/p-shown" "$root/big"
  head -c "${big_mib}M" /dev/urandom >"$root/big/big.bin"
  sync
  cat "$root/big/big.bin" >/dev/null
  printf '[batch]\r\nSource:%s\r\nTarget:%s\r\nSubs:YES\r\n' "$root/big" "$tgt/t-shown" \
    >"$root/p-shown/BATCH.INI"
  # Each copy goes first in turn: the one after meets the disk as the one
  # before left it. The program flushes its copy before its run ends; cp
  # is followed by sync for the same.
  ours_all=() theirs_all=()
  for r in $(seq "$repeat"); do
    rm -rf "$tgt/t-shown" "$tgt/t-cp"
    mkdir "$tgt/t-shown" "$tgt/t-cp"
    sync
    for who in $( (( r % 2 == 1 )) && echo "ours cp" || echo "cp ours"); do
      if [ "$who" = ours ]; then
        run_program shown big
        ours_all+=("$(run_s "$root/tim-shown-big")")
      else
        theirs_all+=("$(timed sh -c "cp '$root/big/big.bin' '$tgt/t-cp/big.bin' && sync")")
      fi
      sync
    done
  done
  ours=$(median "${ours_all[@]}")
  theirs=$(median "${theirs_all[@]}")
  cmp -s "$root/big/big.bin" "$tgt/t-shown/big.bin" || echo "the copy of the big file differs" >&2
  printf '\n[%s] one file of %d MiB, medians of %d: shown %.3f s, cp && sync %.3f s: throughput %s of cp && sync\n' \
    "$kind" "$big_mib" "$repeat" "$ours" "$theirs" "$(ratio "$theirs" "$ours")"
  printf '  shown %s\n  cp    %s\n' "${ours_all[*]}" "${theirs_all[*]}"
fi
echo "load after: $(uptime | sed 's/.*load average/load average/')"
