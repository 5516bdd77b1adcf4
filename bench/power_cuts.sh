#!/usr/bin/env bash
# Power cuts during qor-cli runs, again and again, each followed by a rerun
# that must finish the killed run's work. The kinds of run (see power_cuts.py):
# from tmpfs onto the forgetful layer (qor_forgetful_fs: it keeps only what
# was synced), also with --jobs 1 and --verify; off it; within it; from one
# layer onto another; onto and within a layer that refuses no-replace
# renames and links and keeps the change time on a rename (as sshfs and
# rclone mounts do); onto a small layer that fills up, with and without room
# for the journal; and onto, across and within ext4 and xfs over image files
# on loop devices with direct I/O. A removal on tmpfs counts as durable at
# once (the worst case for a move across file systems).
# One cut: a fresh tree (QOR_POWER_CUTS_FILES old files of a few KiB in
# several folders, last written in 2020, with modes of their own, made
# durable; a few of their names already taken at the target by other files,
# half of them empty, which holds the start of any file; a few newer files
# that must stay), `qor-cli move -r SRC TGT --before
# 2021-01-01` started; on a layer it stops right before a random step of the
# run (freeze-after N), on a disk it is stopped (SIGSTOP) at a random moment
# and the disk's image taken; then the power goes: the layers forget what was
# not durable, the disks come back as taken, the program is killed; then the
# same move runs again to its end. The runs' logs lie beside the target, on
# the disk that is cut.
# Checked after the rerun: every old file exactly once with its bytes,
# last-write time and mode, at the target (those whose names are taken stay
# at the source, the files at the target untouched; on the full disk some
# stay); the newer ones untouched; nothing named .qor-* left; every moved
# file named moved in a log (unlogged: a failure), and named once (log≠1:
# a failure too). Counted too: files at both places right after the cut,
# what the rerun finished, and the steps cut before.
#
#   bash bench/power_cuts.sh [BUILD_DIR [CUTS]]   (default: build, 20 cuts per kind)
#
# QOR_POWER_CUTS: cuts per kind where CUTS is not given.
# QOR_POWER_CUTS_FILES: old files per tree (default 600 across file systems,
#   where copies go in batches of a few hundred, 300 within one).
# QOR_POWER_CUTS_KINDS: a subset (spaces in a kind's name written _).
# QOR_POWER_CUTS_DISKS: the real file systems, default "ext4 xfs"; empty: none.
# QOR_POWER_CUTS_SEED: to repeat. QOR_POWER_CUTS_KEEP=1: keeps the folders
#   of each finding. QOR_POWER_CUTS_TELL=1: a line per cut.
# QOR_POWER_CUTS_BROKEN=copy-fsync|folder-fsync|early-removal: a build
#   broken on purpose (bench/broken_sync.cpp), with which the loop must fail.
# QOR_POWER_CUTS_LOAD: busy loops to run beside the loop (default 0), so that
#   the run's threads and the layer's interleave as on a loaded machine;
#   each is ended by its id at the end.
# QOR_FORGETFUL_FS: the layer, for a qor-cli built without it.
# Exit status 1 when a check failed or a rerun ended other than with 0 or 1;
# 77 (skipped) without root, /dev/fuse or the layer. What was mounted, the
# loop devices and the kernel's writeback setting are put back at the end,
# also after a failure or a stop.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
cuts=${2:-${QOR_POWER_CUTS:-20}}
cli=$build/src/qor-cli
layer=${QOR_FORGETFUL_FS:-$build/bench/qor_forgetful_fs}
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 2; }
if [ ! -x "$layer" ]; then
  echo "SKIP: the forgetful layer is not built: $layer (needs libfuse3-dev)"
  exit 77
fi
if [ "$(id -u)" -ne 0 ] || [ ! -r /dev/fuse ] || [ ! -w /dev/fuse ]; then
  echo "SKIP: mounting the forgetful layer needs root and a usable /dev/fuse"
  exit 77
fi
[ -d /dev/shm ] || { echo "SKIP: no tmpfs at /dev/shm"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/var/tmp}/qor-power-cuts.XXXXXX")
tmp=$(mktemp -d /dev/shm/qor-power-cuts.XXXXXX)
declare -A layer_pid
loop_pid=
busy_pids=()
writeback=
xfssyncd=
mounted() { grep -qs " $1 " /proc/mounts; }
unmount() {  # NAME
  local mnt=$work/$1
  # A layer left frozen by a loop that was stopped mid-cut answers nothing,
  # and the umount would wait for it for good: a cut thaws it first.
  if [ -S "$work/$1.control" ] && [ -n "${layer_pid[$1]:-}" ]; then
    timeout 20 "$layer" --cut "$work/$1.control" >/dev/null 2>&1 || true
  fi
  if mounted "$mnt"; then
    timeout 10 umount "$mnt" || umount -l "$mnt" || true
  fi
  if [ -n "${layer_pid[$1]:-}" ]; then
    kill -TERM "${layer_pid[$1]}" 2>/dev/null || true
    wait "${layer_pid[$1]}" 2>/dev/null || true
  fi
  layer_pid[$1]=
  if mounted "$mnt"; then umount -l "$mnt" || true; fi
}
cleanup() {
  local status=$? pid
  trap '' INT TERM  # what was mounted and changed here is put back whole
  if [ -n "$loop_pid" ]; then
    kill -TERM "$loop_pid" 2>/dev/null || true
    wait "$loop_pid" 2>/dev/null || true
  fi
  for pid in "${busy_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  # A qor-cli the loop left running (it writes each one's id before it waits).
  if [ -s "$work/cli.pid" ]; then
    pid=$(cat "$work/cli.pid")
    if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = qor-cli ]; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  for name in plain plain2 nolinks full; do unmount "$name"; done
  for name in ext4 ext4b xfs xfsb; do
    if mounted "$work/$name"; then umount "$work/$name" || umount -l "$work/$name" || true; fi
    for image in "$tmp/$name.img" "$tmp/$name.img.cut"; do
      losetup -j "$image" 2>/dev/null | cut -d: -f1 | while read -r device; do
        losetup -d "$device" || true
      done
    done
  done
  if [ -n "$writeback" ]; then sysctl -q vm.dirty_writeback_centisecs="$writeback" || true; fi
  if [ -n "$xfssyncd" ]; then sysctl -q fs.xfs.xfssyncd_centisecs="$xfssyncd" || true; fi
  if mounted "$work/full-beneath"; then umount "$work/full-beneath" || umount -l "$work/full-beneath" || true; fi
  if [ "${QOR_POWER_CUTS_KEEP:-}" = 1 ] && [ -d "$work/findings" ]; then
    echo "kept: $work/findings"
    mv "$work/findings" "$work.findings" || true
  fi
  rm -rf "$work" "$tmp"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mount_layer() {  # NAME [-o OPTIONS]
  local name=$1
  shift
  mkdir -p "$work/$name" "$work/$name-beneath" "$work/$name-shadow"
  "$layer" -f -o "control=$work/$name.control,shadow=$work/$name-shadow" "$@" \
    ${QOR_POWER_CUTS_GAP_US:+-o "gap_us=$QOR_POWER_CUTS_GAP_US"} \
    "$work/$name-beneath" "$work/$name" 2>"$work/$name.err" &
  layer_pid[$name]=$!
  for _ in $(seq 100); do
    mounted "$work/$name" && [ -S "$work/$name.control" ] && return 0
    kill -0 "${layer_pid[$name]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "SKIP: the forgetful layer could not be mounted here: $(head -c 300 "$work/$name.err")"
  exit 77
}
mount_layer plain
mount_layer plain2
mount_layer nolinks -o no_rename_noreplace,no_links,keep_ctime_on_rename
# A small disk: the layer over a tmpfs of a few MiB, so that a run fills it.
mkdir -p "$work/full-beneath"
mount -t tmpfs -o size=${QOR_POWER_CUTS_FULL_KIB:-6144}k qor-power-cuts "$work/full-beneath" ||
  { echo "SKIP: no tmpfs could be mounted for the full disk"; exit 77; }
mount_layer full
# Real disks (QOR_POWER_CUTS_DISKS, default "ext4 xfs"; two of each): file
# systems over image files on loop devices with direct I/O, so that an image
# holds exactly what reached the disk. The kernel's periodic writeback is off
# while the loop runs (put back at the end): what a run did not sync stays in
# memory, as it would at a cut that comes before the writeback.
disks=()
for fs in ${QOR_POWER_CUTS_DISKS-ext4 xfs}; do
  if ! command -v "mkfs.$fs" >/dev/null ||
    { ! grep -qw "$fs" /proc/filesystems && ! modprobe -q "$fs" 2>/dev/null; }; then
    echo "note: no $fs here: its kinds are left out"
    continue
  fi
  for name in "$fs" "${fs}b"; do
    truncate -s 320M "$tmp/$name.img"
    "mkfs.$fs" -q "$tmp/$name.img" >/dev/null
    device=$(losetup --direct-io=on -f --show "$tmp/$name.img") || {
      echo "note: no loop device for $fs: its kinds are left out"
      continue 2
    }
    mkdir -p "$work/$name"
    # ext4 commits its journal on its own every few seconds: not during the
    # loop, where only what the program syncs goes to the disk.
    options=
    [ "$fs" = ext4 ] && options="-o commit=600"
    # shellcheck disable=SC2086
    mount $options "$device" "$work/$name" || {
      echo "note: $fs cannot be mounted here: its kinds are left out"
      continue 2
    }
  done
  disks+=("$fs")
done
if [ ${#disks[@]} -gt 0 ]; then
  writeback=$(sysctl -n vm.dirty_writeback_centisecs)
  sysctl -q vm.dirty_writeback_centisecs=0
  # xfs writes its log on its own every few seconds too (at most every 2 h).
  if [ -w /proc/sys/fs/xfs/xfssyncd_centisecs ]; then
    xfssyncd=$(sysctl -n fs.xfs.xfssyncd_centisecs)
    sysctl -q fs.xfs.xfssyncd_centisecs=720000 || xfssyncd=
  fi
fi
export QOR_POWER_CUTS_DISKS_MOUNTED="${disks[*]}"

# The load beside it: a shared build machine is seldom idle, and some
# interleavings of the run's workers and the layer's show only then.
for _ in $(seq "${QOR_POWER_CUTS_LOAD:-0}"); do
  bash -c 'while :; do :; done' &
  busy_pids+=($!)
done
[ ${#busy_pids[@]} -eq 0 ] || echo "with ${#busy_pids[@]} busy loops beside it"

# In the background, so that an interrupt is heard at once (bash runs a trap
# only once the command in the foreground has ended).
python3 "$here/power_cuts.py" "$cli" "$layer" "$work" "$tmp" "$cuts" &
loop_pid=$!
status=0
wait "$loop_pid" || status=$?
loop_pid=
exit "$status"
