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
build=$(cd "${1:-build}" && pwd)
cli=$build/src/qor-cli
check=${QOR_REMOTE_CHECK:-}
file_systems=${QOR_REMOTE_FS:-sshfs rclone-writes rclone-off}
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ] || [ ! -w /dev/fuse ]; then
  echo "needs root and /dev/fuse" >&2
  exit "$([ -n "$check" ] && echo 77 || echo 2)"
fi
missing=()
for pair in sshd:openssh-server sshfs:sshfs rclone:rclone; do
  command -v "${pair%%:*}" >/dev/null || [ -x "/usr/sbin/${pair%%:*}" ] ||
    missing+=("${pair#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ -n "$check" ]; then
    echo "missing: ${missing[*]} (scripts/setup.sh installs them)" >&2
    exit 77
  fi
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi

work=$(mktemp -d /var/tmp/qor-remote.XXXXXX)
pids=()
mounts=()
cleanup() {
  for m in "${mounts[@]}"; do fusermount3 -u "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -f "$work/sshd.pid" ] && kill "$(cat "$work/sshd.pid")" 2>/dev/null || true
  rm -rf "$work" /dev/shm/qor-remote-$$
}
trap cleanup EXIT

# sshd on a free port, for this run only.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/keys" "$work/sshfs-data" /run/sshd
ssh-keygen -q -t ed25519 -N '' -f "$work/keys/host"
ssh-keygen -q -t ed25519 -N '' -f "$work/keys/user"
cat >"$work/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $work/keys/host
AuthorizedKeysFile $work/keys/user.pub
PasswordAuthentication no
PermitRootLogin prohibit-password
StrictModes no
Subsystem sftp internal-sftp
PidFile $work/sshd.pid
EOF
/usr/sbin/sshd -f "$work/sshd_config" -E "$work/sshd.log"
for _ in $(seq 50); do [ -s "$work/sshd.pid" ] && break; sleep 0.1; done

mount_sshfs() {
  mkdir -p "$2"
  sshfs -p "$port" -o "IdentityFile=$work/keys/user,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null" \
    "root@127.0.0.1:$1" "$2"
  mounts+=("$2")
}
mount_rclone() {  # FOLDER MOUNT CACHE_MODE
  mkdir -p "$1" "$2"
  rclone mount "$1" "$2" --vfs-cache-mode "$3" --dir-cache-time 200ms >"$work/rclone-$3.log" 2>&1 &
  pids+=($!)
  mounts+=("$2")
  for _ in $(seq 50); do mountpoint -q "$2" && return; sleep 0.1; done
  echo "rclone did not mount $2" >&2
  exit 1
}
for fs in $file_systems; do
  case $fs in
    sshfs) mount_sshfs "$work/sshfs-data" "$work/sshfs" ;;
    rclone-*) mount_rclone "$work/$fs-data" "$work/$fs" "${fs#rclone-}" ;;
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
