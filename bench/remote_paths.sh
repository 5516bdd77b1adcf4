#!/usr/bin/env bash
# Tries qor-cli on real remote file systems served on this machine: OpenSSH's
# SFTP server on a free loopback port (a throwaway key) mounted with sshfs,
# and rclone mounts of a local folder with --vfs-cache-mode writes and off.
# On each: 40 files in 4 folders moved onto it (from tmpfs), within it, and
# off it (to tmpfs), with one name in each folder taken at the target. The
# table says how many moved, the exit status, what was left at the source and
# whether anything of the program's own stayed behind. Then on each path, with
# 120 files: a preview, a run killed at a random moment and a rerun, and undos
# of both runs' logs back onto the source. Everything started is unmounted and
# stopped by its process id at the end, also after a failure.
#
#   bash bench/remote_paths.sh [BUILD_DIR]   (default build; root, /dev/fuse)
#
# The packages: openssh-server, sshfs, rclone (installed with apt-get where
# missing). QOR_REMOTE_FS (sshfs rclone-writes rclone-off) chooses the file
# systems. With QOR_REMOTE_CHECK=1 it is a test: it installs nothing, exits
# 77 (skipped) where it cannot run, and 1 unless on every path every file
# whose name is free moved, the taken ones stayed (exit status 1) and nothing
# of the program's own is left, and after each kill every file moved once,
# with its bytes and last-write time, is in exactly one log, and came back.
set -euo pipefail
source "$(dirname "$0")/remote_lib.sh"
build=$(cd "${1:-build}" && pwd)
cli=$build/src/qor-cli
check=${QOR_REMOTE_CHECK:-}
file_systems=${QOR_REMOTE_FS:-sshfs rclone-writes rclone-off}
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ] || [ ! -w /dev/fuse ]; then
  echo "needs root and /dev/fuse" >&2
  exit "$([ -n "$check" ] && echo 77 || echo 2)"
fi
remote_find_missing
if [ ${#remote_missing[@]} -gt 0 ]; then
  if [ -n "$check" ]; then
    echo "missing: ${remote_missing[*]} (scripts/setup.sh installs them)" >&2
    exit 77
  fi
  apt-get update -qq && apt-get install -y -qq "${remote_missing[@]}" >/dev/null
fi

work=$(mktemp -d /var/tmp/qor-remote.XXXXXX)
cleanup() {
  remote_stop
  rm -rf "$work" /dev/shm/qor-remote-$$
}
trap cleanup EXIT

# sshd on a free port, for this run only (remote_lib.sh).
remote_start_sshd "$work"
for fs in $file_systems; do
  case $fs in
    sshfs) remote_mount_sshfs "$work/sshfs-data" "$work/sshfs" ;;
    rclone-*) remote_mount_rclone "$work/$fs-data" "$work/$fs" "${fs#rclone-}" ;;
    *) echo "no such file system here: $fs" >&2; exit 2 ;;
  esac
done

tmp=/dev/shm/qor-remote-$$
# One try: the trees, made in the folders the servers serve (a mount
# without a cache cannot write every file), the move, the counts.
try() {  # FILE_SYSTEM PATH SOURCE TARGET (each below the mount or $tmp)
  local fs=$1 path=$2 src=$3 tgt=$4 status
  local src_data=${src/"$work/$fs/"/"$work/$fs-data/"} tgt_data=${tgt/"$work/$fs/"/"$work/$fs-data/"}
  rm -rf "$src_data" "$tgt_data"
  mkdir -p "$src_data" "$tgt_data"
  for d in 0 1 2 3; do
    mkdir -p "$src_data/d$d" "$tgt_data/d$d"
    for f in 0 1 2 3 4 5 6 7 8 9; do
      echo "file $d $f" >"$src_data/d$d/f$f"
      touch -d 2020-01-01T12:00Z "$src_data/d$d/f$f"
    done
    echo theirs >"$tgt_data/d$d/f0"
  done
  sleep 1  # rclone's listing cache
  status=0
  local started
  started=$(date +%s.%N)
  "$cli" move -r -q "$src" "$tgt" --before 2021-01-01 --log "$work/log.txt" 2>"$work/err.txt" ||
    status=$?
  took[$fs-$path]=$(python3 -c "print($(date +%s.%N) - $started)")
  local left moved ours left_ours why
  # Counted as the mounts show them: rclone with its cache uploads what
  # was written to it a little later.
  left=$(find "$src" -type f ! -name '.qor-*' | wc -l)
  moved=$((40 - left))
  ours=$(find "$src" "$tgt" -name '.qor-*' | wc -l)
  left_ours=$(find "$src" "$tgt" -name '.qor-*' -printf '%f ' | cut -c1-60)
  why=$({ grep -v 'd[0-9]/f0: File exists' "$work/err.txt" || true; } | head -1 | sed 's/^qor-cli: //')
  printf '| %-14s | %-6s | %2d of 36 | %6d | %4d | %s\n' "$fs" "$path" "$moved" "$status" "$ours" \
    "$why${left_ours:+ (left: $left_ours)}"
  if [ "$moved" -ne 36 ] || [ "$status" -ne 1 ] || [ "$ours" -ne 0 ] ||
    [ "$(find "$tgt" -type f ! -name '.qor-*' | wc -l)" -ne 40 ] ||
    [ "$(find "$tgt" -name f0 -exec cat {} + | grep -c theirs)" -ne 4 ]; then
    failed=1
  fi
}
# Kills: a bigger tree, a preview that must change nothing, a run killed
# at a random moment, a rerun that must finish its work, then undos of both
# logs that must bring every file back onto its source. Every file must be
# in exactly one place with its bytes and last-write time, in exactly one
# of the two logs, and nothing of the program's own may be left.
# How many of the files d0/f1 ... d3/f29 below ROOT hold their bytes and
# last-write time. Looked at without a file being asked for its state while
# it is open (cat does that): rclone with its cache gives a file it is still
# to upload the time of such a look.
as_written() {  # ROOT
  python3 - "$1" <<'EOF'
import os, sys
good = 0
for d in range(4):
    for f in range(1, 30):
        path = "%s/d%d/f%d" % (sys.argv[1], d, f)
        try:
            if os.lstat(path).st_mtime != 1577880000:
                continue
            fd = os.open(path, os.O_RDONLY)
            data = os.read(fd, 100)
            os.close(fd)
        except OSError:
            continue
        good += data == b"file %d %d\n" % (d, f)
print(good)
EOF
}

kill_try() {  # FILE_SYSTEM PATH SOURCE TARGET
  local fs=$1 path=$2 src=$3 tgt=$4 d f problem=
  local src_data=${src/"$work/$fs/"/"$work/$fs-data/"} tgt_data=${tgt/"$work/$fs/"/"$work/$fs-data/"}
  rm -rf "$src_data" "$tgt_data" "$work"/log-*.txt
  mkdir -p "$src_data" "$tgt_data"
  for d in 0 1 2 3; do
    mkdir -p "$src_data/d$d" "$tgt_data/d$d"
    for f in $(seq 0 29); do
      echo "file $d $f" >"$src_data/d$d/f$f"
      touch -d 2020-01-01T12:00Z "$src_data/d$d/f$f"
    done
    echo theirs >"$tgt_data/d$d/f0"
  done
  sleep 1
  local previewed
  previewed=$("$cli" move -r -n "$src" "$tgt" --before 2021-01-01 2>/dev/null | grep -c 'would move: ' || true)
  [ "$previewed" -eq 116 ] || problem+="preview listed $previewed of 116; "
  [ "$(find "$src" -type f | wc -l)" -eq 120 ] || problem+="the preview moved files; "
  # At a random moment of a run that takes about three times as long as
  # the one of 40 files above did.
  local delay
  delay=$(python3 -c "import random; print(round(random.uniform(0.02, 0.02 + 2.7 * ${took[$fs-$path]:-0.2}), 2))")
  "$cli" move -r -q "$src" "$tgt" --before 2021-01-01 --log "$work/log-killed.txt" 2>/dev/null &
  local pid=$!
  sleep "$delay"
  kill -9 "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  local by_then
  by_then=$((120 - $(find "$src" -type f ! -name '.qor-*' | wc -l)))
  sleep 0.3
  "$cli" move -r -q "$src" "$tgt" --before 2021-01-01 --log "$work/log-rerun.txt" 2>/dev/null || true
  # Checked as the mounts show them (see try).
  local wrong=0 stayed=0 theirs=0 back=0
  for d in 0 1 2 3; do
    for f in $(seq 1 29); do
      [ -e "$src/d$d/f$f" ] && stayed=$((stayed + 1))
    done
    [ "$(cat "$tgt/d$d/f0")" = theirs ] && [ -e "$src/d$d/f0" ] && theirs=$((theirs + 1))
  done
  wrong=$((116 - $(as_written "$tgt")))
  [ "$stayed" -eq 0 ] || problem+="$stayed still at the source; "
  [ "$wrong" -eq 0 ] || problem+="$wrong not at the target with their bytes and time; "
  [ "$theirs" -eq 4 ] || problem+="$((4 - theirs)) taken names replaced or lost; "
  local logged
  # Each log read on its own: the killed run's may end with a line cut short,
  # and a run killed before it made its log has none (mawk stops at a file
  # it cannot open, and would read no log at all).
  logged=$({ for log in "$work"/log-killed.txt "$work"/log-rerun.txt; do
    [ -f "$log" ] && awk -F '      MOVED to' 'NF > 1 { print $1 }' "$log"
  done || true; } | sort | uniq -c | awk '$1 == 1' | wc -l)
  [ "$logged" -eq 116 ] || problem+="$logged of 116 logged exactly once; "
  local ours
  ours=$(find "$src" "$tgt" -name '.qor-*' -printf '%f ' | cut -c1-80)
  [ -z "$ours" ] || problem+="left: $ours; "
  # Back onto the source, the killed run's log first.
  local undo
  for undo in killed rerun; do
    [ -s "$work/log-$undo.txt" ] || continue
    "$cli" undo "$work/log-$undo.txt" "$src" -q --log "$work/log-undo-$undo.txt" 2>/dev/null || true
  done
  back=$(as_written "$src")
  [ "$back" -eq 116 ] || problem+="$back of 116 brought back; "
  [ "$(find "$tgt" -type f | wc -l)" -eq 4 ] || problem+="undo left files at the target; "
  printf '| %-14s | %-6s | killed after %4ss, %3d moved by then | %s\n' "$fs" "$path" "$delay" \
    "$by_then" "${problem:-all moved once, logged once, brought back}"
  [ -z "$problem" ] || failed=1
}

failed=0
declare -A took
echo "| file system    | path   | moved    | status | ours | first other failure"
for fs in $file_systems; do
  try "$fs" onto "$tmp/s1" "$work/$fs/t1"
  try "$fs" within "$work/$fs/s2" "$work/$fs/t2"
  try "$fs" off "$work/$fs/s3" "$tmp/t3"
done
echo
echo "| file system    | path   | a kill and a rerun, then undo"
for fs in $file_systems; do
  kill_try "$fs" onto "$tmp/s4" "$work/$fs/t4"
  kill_try "$fs" within "$work/$fs/s5" "$work/$fs/t5"
  kill_try "$fs" off "$work/$fs/s6" "$tmp/t6"
done
[ -z "$check" ] || exit "$failed"
