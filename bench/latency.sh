#!/usr/bin/env bash
# Times qor-cli on storage where every operation is a round trip: the latency
# layer (build/bench/qor_latency_fs) mounted over a folder on disk stands in
# for a share, a NAS or a USB disk. Three moves, each timed on its own:
#   tmpfs -> layer   files from /dev/shm onto the layer (across file systems)
#   layer -> tmpfs   the same files off the layer again
#   within layer     renames from one folder of the layer to another
# With a qor-cli that knows --jobs, each runs with --jobs 1 and with the
# default, and the table shows how much faster the default is.
#
#   bash bench/latency.sh [BUILD_DIR]      (default build; needs root and /dev/fuse)
#
# QOR_LATENCY_MS (1) the layer's delay per request; QOR_LATENCY_FILES (5000)
# and QOR_LATENCY_SIZE (16384) the files moved across; QOR_LATENCY_SAME_FILES
# (10000) those renamed within, QOR_LATENCY_SAME_PER_FOLDER (100) of them in
# each folder; QOR_BENCH_DIR (/var/tmp) the disk beneath.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
cli=$build/src/qor-cli
layer=$build/bench/qor_latency_fs
delay_ms=${QOR_LATENCY_MS:-1}
files=${QOR_LATENCY_FILES:-5000}
size=${QOR_LATENCY_SIZE:-16384}
same_files=${QOR_LATENCY_SAME_FILES:-10000}
source "$here/bench_lib.sh"

for program in "$cli" "$layer"; do
  [ -x "$program" ] || { echo "not built: $program" >&2; exit 2; }
done
if [ "$(id -u)" -ne 0 ] || [ ! -w /dev/fuse ]; then
  echo "mounting the latency layer needs root and /dev/fuse" >&2
  exit 2
fi

work=$(mktemp -d "${QOR_BENCH_DIR:-/var/tmp}/qor-latency.XXXXXX")
shm=$(mktemp -d /dev/shm/qor-latency.XXXXXX)
cleanup() {
  unmount_layer
  rm -rf "$work" "$shm"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir "$work/beneath" "$work/mnt" "$work/logs"
mount_layer "$layer" "$work/beneath" "$work/mnt" "$delay_ms"
beneath=$work/beneath
mnt=$work/mnt

if "$cli" --help 2>&1 | grep -q -- '--jobs'; then
  variants=("1" "default")
else
  variants=("default")
fi

rows=()
declare -A took
# run WORKLOAD VARIANT FILES SOURCE TARGET TARGET_AS_SEEN_BENEATH
run() {
  local workload=$1 variant=$2 count=$3 from=$4 to=$5 check=$6 jobs=() start seconds status=0
  [ "$variant" = default ] || jobs=(--jobs "$variant")
  start=$EPOCHREALTIME
  (cd "$work/logs" && "$cli" move -q -r "$from" "$to" --before 2021-07-20 "${jobs[@]}" \
     --log "$work/logs/$workload-$variant.txt" >/dev/null 2>"$work/logs/stderr") || status=$?
  seconds=$(seconds_since "$start")
  local arrived
  arrived=$(find "$check" -type f | wc -l)
  local note=""
  [ "$status" -eq 0 ] || note=" (exit status $status: $(head -c 200 "$work/logs/stderr"))"
  [ "$arrived" -eq "$count" ] || note="$note (only $arrived of $count arrived)"
  took[$workload/$variant]=$seconds
  rows+=("$(printf '| %-15s | %-7s | %6s | %8s | %8s |%s' "$workload" "$variant" "$count" \
    "$seconds" "$(awk -v n="$count" -v s="$seconds" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }')" \
    "$note")")
}

for variant in "${variants[@]}"; do
  python3 "$here/bench_tree.py" make "$shm/out-$variant" "$files" "$size"
  mkdir "$beneath/in-$variant" "$shm/back-$variant"
  run "tmpfs -> layer" "$variant" "$files" "$shm/out-$variant" "$mnt/in-$variant" \
      "$beneath/in-$variant"
  run "layer -> tmpfs" "$variant" "$files" "$mnt/in-$variant" "$shm/back-$variant" \
      "$shm/back-$variant"
  rm -rf "$shm/out-$variant" "$shm/back-$variant"
  # Made beneath, not through the layer, which would take minutes.
  QOR_TREE_PER_FOLDER=${QOR_LATENCY_SAME_PER_FOLDER:-100} \
    python3 "$here/bench_tree.py" make "$beneath/same-$variant" "$same_files" 1024
  mkdir "$beneath/renamed-$variant"
  run "within layer" "$variant" "$same_files" "$mnt/same-$variant" "$mnt/renamed-$variant" \
      "$beneath/renamed-$variant"
  rm -rf "$beneath/same-$variant" "$beneath/renamed-$variant" "$beneath/in-$variant"
done

echo "qor-cli on the latency layer, ${delay_ms} ms per request ($(nproc) cores)"
echo
echo "| workload        | jobs    |  files |  seconds |  files/s |"
echo "|-----------------|---------|-------:|---------:|---------:|"
printf '%s\n' "${rows[@]}"
# The floor of the renames within the layer: bare renames of a tree of the
# same shape, folder by folder, one thread and eight (the kernel lets renames
# between folders of one file system wait for each other).
floor() {
  local threads=$1
  QOR_TREE_PER_FOLDER=${QOR_LATENCY_SAME_PER_FOLDER:-100} \
    python3 "$here/bench_tree.py" make "$beneath/floor" "$same_files" 1024
  python3 - "$mnt/floor" "$mnt/floor-out" "$threads" <<'PY'
import os, sys, threading, time
source, target, threads = sys.argv[1], sys.argv[2], int(sys.argv[3])
folders = sorted(os.listdir(source))
for folder in folders:
    os.makedirs(os.path.join(target, folder))
def work(mine):
    for folder in mine:
        for name in os.listdir(os.path.join(source, folder)):
            os.rename(os.path.join(source, folder, name), os.path.join(target, folder, name))
start = time.time()
workers = [threading.Thread(target=work, args=(folders[k::threads],)) for k in range(threads)]
for w in workers:
    w.start()
for w in workers:
    w.join()
print("%.2f" % (time.time() - start))
PY
  rm -rf "$beneath/floor" "$beneath/floor-out"
}
floor_one=$(floor 1)
floor_eight=$(floor 8)

if [ ${#variants[@]} -gt 1 ]; then
  echo
  for workload in "tmpfs -> layer" "layer -> tmpfs" "within layer"; do
    awk -v w="$workload" -v a="${took[$workload/1]}" -v b="${took[$workload/default]}" \
      'BEGIN { printf "%s: the default is %.2f times as fast as --jobs 1\n", w,
               (b > 0 ? a / b : 0) }'
  done
fi
echo
echo "within layer, bare renames by whole paths (a floor): 1 thread $floor_one s, 8 threads $floor_eight s"
