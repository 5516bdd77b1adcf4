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
# The workloads (counts by environment variable, to keep a run short):
#   same fs         QOR_COMPARE_SAME (20000) files of 512 bytes, on disk
#   tmpfs -> disk   QOR_COMPARE_CROSS (5000) files of 16 KiB from /dev/shm
#   tmpfs -> layer  QOR_COMPARE_LAYER (2000) files of 16 KiB onto the latency
#                   layer (QOR_LATENCY_MS, 1 ms a request), when it is built
#                   and can be mounted (root, /dev/fuse)
# In each tree every 50th file is new (it must stay) and 5 old files already
# have a namesake with other content at the target (both must stay as they
# are). Correct means every tree holds exactly what it should, by name and
# content. QOR_BENCH_DIR (/var/tmp) is the disk used. Run as root, the script
# installs rclone and rsync with apt-get where they are missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
cli=$build/src/qor-cli
layer=$build/bench/qor_latency_fs
same_count=${QOR_COMPARE_SAME:-20000}
cross_count=${QOR_COMPARE_CROSS:-5000}
layer_count=${QOR_COMPARE_LAYER:-2000}
delay_ms=${QOR_LATENCY_MS:-1}
cutoff=2021-07-20
source "$here/bench_lib.sh"

[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 2; }
if ! command -v rclone >/dev/null || ! command -v rsync >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends rclone rsync \
      >/dev/null 2>&1
  fi
fi

work=$(mktemp -d "${QOR_BENCH_DIR:-/var/tmp}/qor-compare.XXXXXX")
shm=$(mktemp -d /dev/shm/qor-compare.XXXXXX)
cleanup() {
  unmount_layer
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
move_mv() {
  local folder
  (cd "$1" && find . -type d -printf '%P\0') | while IFS= read -r -d '' folder; do
    mkdir -p "$2/$folder"
    TZ=UTC find "$1/$folder" -maxdepth 1 -type f ! -newermt "$cutoff" \
      -exec mv -n -t "$2/$folder" {} +
  done
}

rows=()
# measure TOOL WORKLOAD COUNT SIZE SOURCE TARGET TARGET_AS_SEEN_BENEATH
measure() {
  local tool=$1 workload=$2 count=$3 size=$4 from=$5 to=$6 beneath=$7 start seconds status=0
  rm -rf "$from" "$beneath" "$work/logs/run"*.txt
  mkdir -p "$from" "$beneath"
  python3 "$here/bench_tree.py" make "$from" "$count" "$size" --young-every 50 \
    --collide-in "$beneath" --collisions 5 --manifest "$work/manifest.json"
  start=$EPOCHREALTIME
  "move_$tool" "$from" "$to" >"$work/logs/out" 2>&1 || status=$?
  seconds=$(seconds_since "$start")
  local correct
  correct=$(python3 "$here/bench_tree.py" check "$from" "$beneath" "$work/manifest.json")
  # A tool may well end with a failure status for the 5 names it had to leave.
  rows+=("$(printf '| %-7s | %-14s | %6s | %8s | %4s | %s |' "$tool" "$workload" "$count" \
    "$seconds" "$status" "$correct")")
  rm -rf "$from" "$beneath"
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
  measure "$tool" "same fs" "$same_count" 512 "$work/src" "$work/dst" "$work/dst"
  measure "$tool" "tmpfs -> disk" "$cross_count" 16384 "$shm/src" "$work/dst" "$work/dst"
done

if [ -x "$layer" ] && [ "$(id -u)" -eq 0 ] && [ -w /dev/fuse ]; then
  mkdir "$work/beneath" "$work/mnt"
  mount_layer "$layer" "$work/beneath" "$work/mnt" "$delay_ms"
  for tool in "${tools[@]}"; do
    measure "$tool" "tmpfs -> layer" "$layer_count" 16384 "$shm/src" "$work/mnt/dst" \
      "$work/beneath/dst"
  done
  unmount_layer
else
  rows+=("| - | tmpfs -> layer | - | - | - | left out: the layer is not built or cannot be mounted |")
fi

echo "Moving files last written before $cutoff, never replacing ($(nproc) cores;" \
  "the layer waits ${delay_ms} ms a request)"
echo
echo "| tool    | workload       |  files |  seconds | exit | correct |"
echo "|---------|----------------|-------:|---------:|-----:|---------|"
printf '%s\n' "${rows[@]}"
echo
echo "exit is the tool's exit status: qor-cli ends with 1 when a file it took could not be moved"
echo "(here the 5 whose names are taken at the target)."
