#!/usr/bin/env bash
# Power cuts during qor-cli runs on the forgetful layer (qor_forgetful_fs),
# again and again, each followed by a rerun that must finish the killed run's
# work, for four kinds of run:
#   tmpfs->layer   from tmpfs onto the layer (a removal at the source is
#                  durable at once there);
#   layer          within the layer (both folders forget);
#   tmpfs->nolinks onto the layer mounted with no_rename_noreplace,no_links,
#                  keep_ctime_on_rename (as rclone mounts are: copies are
#                  written straight into their final names);
#   nolinks        within that one.
# One cut: a fresh tree (QOR_POWER_CUTS_FILES old files of a few KiB in
# several folders, last written in 2020, made durable; a few of their names
# already taken at the target by other files; a few newer files that must
# stay), `qor-cli move -r SRC TGT --before 2021-01-01` started, frozen
# (SIGSTOP) at a random moment of its run, the layer cut, the program killed
# (SIGKILL: the process is gone, the disk keeps what was durable), then the
# same move run again to its end. The run logs are written to a folder on the
# disk beneath /var/tmp, outside the layer: they are not cut, so what the
# killed run logged is what it did.
# Checked after the rerun: every old file exactly once, at the target, with
# its bytes and last-write time (the ones whose name is taken stay at the
# source, the file at the target untouched); the newer ones untouched at the
# source; nothing named .qor-* left. Counted: files at both places right
# after the cut, how many the rerun finished (recovered), moves logged other
# than once (log≠1: told, no failure, since the logs are not cut and a move
# the cut undid stays in the killed run's log while the rerun logs it again)
# and how far the killed run had got (moved per its log: early < 1/3,
# middle, late >= 2/3 of the files; "done" when it ended before the cut).
#
#   bash bench/power_cuts.sh [BUILD_DIR [CUTS]]   (default: build, 20 cuts per kind)
#
# QOR_POWER_CUTS: cuts per kind where CUTS is not given.
# QOR_POWER_CUTS_FILES: old files per tree (default 3000 from tmpfs, where
#   copies go in batches of about a thousand, 400 within the layer).
# QOR_POWER_CUTS_KINDS: a subset of the four. QOR_POWER_CUTS_SEED: to repeat.
# QOR_POWER_CUTS_KEEP=1: keeps the folder of each cut told in full.
# QOR_FORGETFUL_FS: the layer, for a qor-cli built without it.
# QOR_POWER_CUTS_SYNC_TARGET=1: a look into a failure: the target folder is
#   synced from here after the freeze, just before the cut, so that the names
#   in it (the journal's) are durable.
# Exit status 1 when a file was lost, altered, left at the source or at both
# places, a .qor-* name was left, or a rerun ended other than with 0 or 1;
# 77 (skipped) without root, /dev/fuse or the layer. The layers are unmounted
# and every process started here is stopped by its id at the end, also after
# a failure.
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
writeback=
mounted() { grep -qs " $1 " /proc/mounts; }
unmount() {  # NAME
  local mnt=$work/$1
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
    mount "$device" "$work/$name" || {
      echo "note: $fs cannot be mounted here: its kinds are left out"
      continue 2
    }
  done
  disks+=("$fs")
done
if [ ${#disks[@]} -gt 0 ]; then
  writeback=$(sysctl -n vm.dirty_writeback_centisecs)
  sysctl -q vm.dirty_writeback_centisecs=0
fi
export QOR_POWER_CUTS_DISKS_MOUNTED="${disks[*]}"

# In the background, so that an interrupt is heard at once (bash runs a trap
# only once the command in the foreground has ended).
python3 "$here/power_cuts.py" "$cli" "$layer" "$work" "$tmp" "$cuts" &
loop_pid=$!
status=0
wait "$loop_pid" || status=$?
loop_pid=
exit "$status"
