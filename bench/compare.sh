#!/usr/bin/env bash
# Times qor-cli against the usual tools for the same job, and checks that each
# did the job: move every file last written before 2021-07-20 from SOURCE to
# the same relative place below TARGET, never replace a file at the target,
# and leave everything else where it was.
#
#   bash bench/compare.sh [BUILD_DIR]      (default build)
#
# The tools and why these options:
#   qor-cli  move -r SOURCE TARGET --before 2021-07-20 (its defaults never
#            replace, and it makes copies durable before it removes a source)
#   rclone   move SOURCE TARGET --min-age <seconds since 2021-07-20 00:00 UTC>
#            --ignore-existing: --min-age is its only choice by date (an age,
#            worked out from the same instant), --ignore-existing leaves a
#            taken name alone; it keeps folders, and renames where it can
#   rsync    -a --from0 --files-from=- --ignore-existing --remove-source-files
#            SOURCE/ TARGET/, fed by `find -type f ! -newermt 2021-07-20` (UTC):
#            rsync cannot choose by date itself; --files-from keeps relative
#            folders, --ignore-existing never replaces, and only what arrived
#            is removed at the source. It always copies, also on one file system
#   mv       find -type d, then per folder `find -maxdepth 1 -type f ! -newermt
#            2021-07-20 -exec mv -n -t TARGET/FOLDER {} +`: one mv per folder,
#            not per file, and -n never replaces
# None of the others makes a copy durable (fsync) before it removes the source,
# as qor does, so across file systems they do less work for the same result.
#
# On the SFTP server (see below) rclone and rsync reach it their own way, not
# through the mount, as one would use them:
#   rclone sftp  rclone move as above with its SFTP backend, an on-the-fly
#            remote (:sftp,host=127.0.0.1,port=...,key_file=...:FOLDER) and
#            --sftp-disable-hashcheck: the check runs md5sum/sha1sum over ssh
#            for every file, which the others do not do either. Within the
#            server it renames there (server-side move)
#   rsync ssh    rsync as above over ssh (-e "ssh -p PORT -i KEY ..."), plus
#            --fsync: the server's copies are then durable before the sources
#            go, as qor-cli's are
#
# The workloads (counts by environment variable, to keep a run short):
#   same fs         QOR_COMPARE_SAME (20000) files of 512 bytes, on disk
#   tmpfs -> disk   QOR_COMPARE_CROSS (5000) files of 16 KiB from /dev/shm
#   tmpfs -> layer  QOR_COMPARE_LAYER (2000) files of 16 KiB onto the latency
#                   layer (QOR_LATENCY_MS, 1 ms a request), when it is built
#                   and can be mounted (root, /dev/fuse)
#   tmpfs -> sshfs  QOR_COMPARE_REMOTE (2000) files of 16 KiB onto a folder of
#                   OpenSSH's SFTP server, started on a free loopback port for
#                   the run (remote_lib.sh); qor-cli and mv through an sshfs
#                   mount of it, freshly mounted for each tool
#   within sshfs    the same tree already on the server, moved to another
#                   folder there; no rsync row: rsync cannot have both ends on
#                   one remote host, and through the mount it would copy every
#                   file down and up again where the others rename
# The remote workloads need root, /dev/fuse, sshd, sshfs and rclone; without
# them they are left out, and the table says why. A count of 0 leaves a
# workload out (QOR_COMPARE_SAME=0 QOR_COMPARE_CROSS=0 QOR_COMPARE_LAYER=0
# runs only the remote ones). Everything is checked where it is held: on the
# remote, in the folder the server serves.
# In each tree every 50th file is new (it must stay) and 5 old files already
# have a namesake with other content at the target (both must stay as they
# are). Correct means every tree holds exactly what it should, by name and
# content. QOR_BENCH_DIR (/var/tmp) is the disk used. Run as root, the script
# installs rclone and rsync with apt-get where they are missing, and sshfs and
# openssh-server when the remote workloads can run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
cli=$build/src/qor-cli
layer=$build/bench/qor_latency_fs
same_count=${QOR_COMPARE_SAME:-20000}
cross_count=${QOR_COMPARE_CROSS:-5000}
layer_count=${QOR_COMPARE_LAYER:-2000}
remote_count=${QOR_COMPARE_REMOTE:-2000}
delay_ms=${QOR_LATENCY_MS:-1}
cutoff=2021-07-20
source "$here/bench_lib.sh"
source "$here/remote_lib.sh"

[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 2; }
# Why the remote workloads are left out, if they are.
remote_why=
if [ "$remote_count" -eq 0 ]; then
  remote_why=none
elif [ "$(id -u)" -ne 0 ] || [ ! -w /dev/fuse ]; then
  remote_why="needs root and /dev/fuse"
fi
wanted=()
for tool in rclone rsync; do command -v "$tool" >/dev/null || wanted+=("$tool"); done
if [ -z "$remote_why" ]; then
  remote_find_missing
  for package in "${remote_missing[@]}"; do
    [ "$package" = rclone ] || wanted+=("$package")
  done
fi
if [ ${#wanted[@]} -gt 0 ] && [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${wanted[@]}" \
    >/dev/null 2>&1
fi
if [ -z "$remote_why" ]; then
  remote_find_missing
  [ ${#remote_missing[@]} -eq 0 ] || remote_why="missing: ${remote_missing[*]}"
fi

work=$(mktemp -d "${QOR_BENCH_DIR:-/var/tmp}/qor-compare.XXXXXX")
shm=$(mktemp -d /dev/shm/qor-compare.XXXXXX)
cleanup() {
  unmount_layer
  remote_stop
  rm -rf "$work" "$shm"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir "$work/logs"

min_age=$(($(date +%s) - $(date -u -d "$cutoff" +%s)))s

move_qor() {
  (cd "$work/logs" && "$cli" move -q -r "$1" "$2" --before "$cutoff" --log "$work/logs/run.txt")
}
move_rclone() {
  rclone --config /dev/null move -q "$1" "$2" --min-age "$min_age" --ignore-existing
}
move_rsync() {
  (cd "$1" && TZ=UTC find . -type f ! -newermt "$cutoff" -printf '%P\0') |
    rsync -a --from0 --files-from=- --ignore-existing --remove-source-files "$1/" "$2/"
}
# SOURCE and TARGET as rclone names them: a local folder or an SFTP remote.
move_rclone_sftp() {
  rclone --config /dev/null move -q "$1" "$2" --min-age "$min_age" --ignore-existing \
    --sftp-disable-hashcheck
}
# SOURCE here, TARGET as root@127.0.0.1:FOLDER on the server.
move_rsync_ssh() {
  local ssh="ssh -p $remote_port -i '$remote_key' -o StrictHostKeyChecking=no"
  ssh+=" -o UserKnownHostsFile=/dev/null"
  (cd "$1" && TZ=UTC find . -type f ! -newermt "$cutoff" -printf '%P\0') |
    rsync -a --from0 --files-from=- --ignore-existing --remove-source-files --fsync -e "$ssh" \
      "$1/" "$2/"
}
move_mv() {
  local folder
  (cd "$1" && find . -type d -printf '%P\0') | while IFS= read -r -d '' folder; do
    mkdir -p "$2/$folder"
    TZ=UTC find "$1/$folder" -maxdepth 1 -type f ! -newermt "$cutoff" \
      -exec mv -n -t "$2/$folder" {} +
  done
}

rows=()
# measure TOOL WORKLOAD COUNT SIZE SOURCE TARGET SOURCE_HELD TARGET_HELD
# runs move_TOOL SOURCE TARGET (as the tool names them: through a mount, or a
# remote; the row shows TOOL with _ as a space); the trees are made and checked where they are held (beneath the
# layer, in the folder the server serves), so that neither costs the tool time
# nor goes through a cache the tool then finds warm.
measure() {
  local tool=$1 workload=$2 count=$3 size=$4 from=$5 to=$6 from_held=$7 to_held=$8
  local start seconds status=0 correct
  rm -rf "$from_held" "$to_held" "$work/logs/run"*.txt
  mkdir -p "$from_held" "$to_held"
  python3 "$here/bench_tree.py" make "$from_held" "$count" "$size" --young-every 50 \
    --collide-in "$to_held" --collisions 5 --manifest "$work/manifest.json"
  start=$EPOCHREALTIME
  "move_$tool" "$from" "$to" >"$work/logs/out" 2>&1 || status=$?
  seconds=$(seconds_since "$start")
  correct=$(python3 "$here/bench_tree.py" check "$from_held" "$to_held" "$work/manifest.json")
  # A tool may well end with a failure status for the 5 names it had to leave.
  rows+=("$(printf '| %-11s | %-14s | %6s | %8s | %4s | %s |' "${tool/_/ }" "$workload" \
    "$count" "$seconds" "$status" "$correct")")
  rm -rf "$from_held" "$to_held"
}

tools=(qor)
for tool in rclone rsync mv; do
  if command -v "$tool" >/dev/null; then
    tools+=("$tool")
  else
    rows+=("| $tool | - | - | - | - | not installed |")
  fi
done

for tool in "${tools[@]}"; do
  if [ "$same_count" -gt 0 ]; then
    measure "$tool" "same fs" "$same_count" 512 "$work/src" "$work/dst" "$work/src" "$work/dst"
  fi
  if [ "$cross_count" -gt 0 ]; then
    measure "$tool" "tmpfs -> disk" "$cross_count" 16384 "$shm/src" "$work/dst" "$shm/src" \
      "$work/dst"
  fi
done

if [ "$layer_count" -eq 0 ]; then
  :
elif [ -x "$layer" ] && [ "$(id -u)" -eq 0 ] && [ -w /dev/fuse ]; then
  mkdir "$work/beneath" "$work/mnt"
  mount_layer "$layer" "$work/beneath" "$work/mnt" "$delay_ms"
  for tool in "${tools[@]}"; do
    measure "$tool" "tmpfs -> layer" "$layer_count" 16384 "$shm/src" "$work/mnt/dst" \
      "$shm/src" "$work/beneath/dst"
  done
  unmount_layer
else
  rows+=("| - | tmpfs -> layer | - | - | - | left out: the layer is not built or cannot be mounted |")
fi

if [ "$remote_why" = none ]; then
  :
elif [ -n "$remote_why" ]; then
  rows+=("| - | tmpfs -> sshfs | - | - | - | left out: $remote_why |")
  rows+=("| - | within sshfs | - | - | - | left out: $remote_why |")
else
  served=$work/served
  remote_start_sshd "$work/ssh"
  sftp=":sftp,host=127.0.0.1,port=$remote_port,user=root,key_file='$remote_key'"
  # qor-cli and mv go through the mount, the others reach the server alone.
  onto=() within=()
  for tool in "${tools[@]}"; do
    case $tool in
      qor | mv) onto+=("$tool") within+=("$tool") ;;
      rclone) onto+=(rclone_sftp) within+=(rclone_sftp) ;;
      rsync)
        # Read whole: grep -q would end the pipe early, and pipefail fail it.
        if [[ $(rsync --help) == *--fsync* ]]; then
          onto+=(rsync_ssh)
        else
          rows+=("| rsync ssh | tmpfs -> sshfs | - | - | - | left out: this rsync has no --fsync |")
        fi ;;
    esac
  done
  # on_server TOOL FOLDER: FOLDER of the server as TOOL names it.
  on_server() {
    case $1 in
      rclone_sftp) echo "$sftp:$served/$2" ;;
      rsync_ssh) echo "root@127.0.0.1:$served/$2" ;;
      *) echo "$work/sshfs/$2" ;;
    esac
  }
  # measure_remote TOOL WORKLOAD SOURCE TARGET SOURCE_HELD: the target is dst
  # on the server. A fresh mount for each tool: none finds the cache of the
  # one before, nor names cached that have changed beneath it since.
  measure_remote() {
    remote_mount_sshfs "$served" "$work/sshfs"
    measure "$1" "$2" "$remote_count" 16384 "$3" "$4" "$5" "$served/dst"
    remote_unmount "$work/sshfs"
  }
  for tool in "${onto[@]}"; do
    measure_remote "$tool" "tmpfs -> sshfs" "$shm/src" "$(on_server "$tool" dst)" "$shm/src"
  done
  for tool in "${within[@]}"; do
    measure_remote "$tool" "within sshfs" "$(on_server "$tool" src)" "$(on_server "$tool" dst)" \
      "$served/src"
  done
  remote_stop
fi

echo "Moving files last written before $cutoff, never replacing ($(nproc) cores;" \
  "the layer waits ${delay_ms} ms a request; the SFTP server is on loopback)"
echo
echo "| tool        | workload       |  files |  seconds | exit | correct |"
echo "|-------------|----------------|-------:|---------:|-----:|---------|"
printf '%s\n' "${rows[@]}"
echo
echo "exit is the tool's exit status: qor-cli ends with 1 when a file it took could not be moved"
echo "(here the 5 whose names are taken at the target). rclone sftp and rsync ssh reach the SFTP"
echo "server themselves (and connect within their time); qor-cli and mv go through an sshfs mount."
