#!/usr/bin/env bash
# Tries qor-cli on real remote file systems served on this machine: OpenSSH's
# SFTP server on a free loopback port (a throwaway key) mounted with sshfs,
# and rclone mounts of a local folder with --vfs-cache-mode writes and off.
# On each: 40 files in 4 folders moved onto it (from tmpfs), within it, and
# off it (to tmpfs), with one name in each folder taken at the target. The
# table says how many moved, the exit status, what was left at the source and
# whether anything of the program's own stayed behind. Everything started is
# unmounted and stopped by its process id at the end, also after a failure.
#
#   bash bench/remote_paths.sh [BUILD_DIR]   (default build; root, /dev/fuse)
#
# The packages: openssh-server, sshfs, rclone (installed with apt-get where
# missing). QOR_REMOTE_FS (sshfs rclone-writes rclone-off) chooses the file
# systems. With QOR_REMOTE_CHECK=1 it is a test: it installs nothing, exits
# 77 (skipped) where it cannot run, and 1 unless on every path every file
# whose name is free moved, the taken ones stayed (exit status 1) and nothing
# of the program's own is left.
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
  "$cli" move -r -q "$src" "$tgt" --before 2021-01-01 --log "$work/log.txt" 2>"$work/err.txt" ||
    status=$?
  local left moved ours left_ours why
  left=$(find "$src_data" -type f ! -name '.qor-*' | wc -l)
  moved=$((40 - left))
  ours=$(find "$src_data" "$tgt_data" -name '.qor-*' | wc -l)
  left_ours=$(find "$src_data" "$tgt_data" -name '.qor-*' -printf '%f ' | cut -c1-60)
  why=$({ grep -v 'd[0-9]/f0: File exists' "$work/err.txt" || true; } | head -1 | sed 's/^qor-cli: //')
  printf '| %-14s | %-6s | %2d of 36 | %6d | %4d | %s\n' "$fs" "$path" "$moved" "$status" "$ours" \
    "$why${left_ours:+ (left: $left_ours)}"
  if [ "$moved" -ne 36 ] || [ "$status" -ne 1 ] || [ "$ours" -ne 0 ] ||
    [ "$(find "$tgt_data" -type f ! -name '.qor-*' | wc -l)" -ne 40 ] ||
    [ "$(find "$tgt_data" -name f0 -exec cat {} + | grep -c theirs)" -ne 4 ]; then
    failed=1
  fi
}
failed=0
echo "| file system    | path   | moved    | status | ours | first other failure"
for fs in $file_systems; do
  try "$fs" onto "$tmp/s1" "$work/$fs/t1"
  try "$fs" within "$work/$fs/s2" "$work/$fs/t2"
  try "$fs" off "$work/$fs/s3" "$tmp/t3"
done
[ -z "$check" ] || exit "$failed"
