#!/usr/bin/env bash
# The Windows program under wine, across volumes against within one: qor-cli.exe
# moves FILES files of SIZE bytes from a tmpfs drive (Q:) to a disk-backed one
# (the prefix's C:), and the same files from one folder of Q: to another. Under
# wine the floor is wine's own cost per request, which falls on both, so the
# ratio across/within is the figure to watch: a guard against a step back,
# which this script fails (exit 1) above QOR_WINDOWS_GUARD (2.5). The two
# moves run back to back, ROUNDS times (default 5), and the median of the
# pairs' ratios is compared.
#
#   bash bench/windows.sh [BUILD_DIR]    (default build-win, from scripts/test_windows.sh)
#
# QOR_WINDOWS_FILES (2000), QOR_WINDOWS_SIZE (16384), QOR_WINDOWS_ROUNDS (5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-win}" && pwd)
cli=$build/src/qor-cli.exe
files=${QOR_WINDOWS_FILES:-2000}
size=${QOR_WINDOWS_SIZE:-16384}
rounds=${QOR_WINDOWS_ROUNDS:-5}
guard=${QOR_WINDOWS_GUARD:-2.5}
[ -f "$cli" ] || { echo "not built: $cli (bash scripts/test_windows.sh builds it)" >&2; exit 2; }
export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all WINEARCH=win64
[ -f "$WINEPREFIX/system.reg" ] || { echo "no wine prefix: run scripts/test_windows.sh first" >&2; exit 2; }
q_drive=/dev/shm/qor-win-bench-$(id -u)
disk=$WINEPREFIX/drive_c/qor-bench
rm -rf "$q_drive" "$disk"
mkdir -p "$q_drive" "$disk"
# Q: as the tests map it comes back at the end.
q_before=$(readlink "$WINEPREFIX/dosdevices/q:" || true)
ln -sfn "$q_drive" "$WINEPREFIX/dosdevices/q:"
trap 'rm -rf "$q_drive" "$disk"; rm -f "$WINEPREFIX/dosdevices/q:"
      [ -z "$q_before" ] || ln -sfn "$q_before" "$WINEPREFIX/dosdevices/q:"
      wineserver -k 2>/dev/null || true' EXIT
wineserver -p </dev/null >/dev/null 2>&1 || true

make_files() {  # make_files FOLDER
  rm -rf "$1"
  mkdir -p "$1"
  python3 - "$1" "$files" "$size" <<'PY'
import os, sys
folder, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = os.urandom(size)
for i in range(files):
    path = f"{folder}/f{i:05d}"
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (1577836800, 1577836800))  # 2020-01-01
PY
}

seconds() {  # seconds FROM TO: one move, timed
  local start end
  start=$(date +%s.%N)
  (cd "$disk" && wine "$cli" move -q "$1" "$2" --before 2021-01-01 --log 'C:\qor-bench\log.txt' \
     </dev/null >/dev/null 2>&1) || { echo "the move $1 -> $2 failed" >&2; exit 2; }
  end=$(date +%s.%N)
  rm -f "$disk/log.txt"
  python3 -c "print(f'{$end - $start:.2f}')"
}

ratios=()
for round in $(seq "$rounds"); do
  make_files "$q_drive/src"
  rm -rf "$disk/tgt" && mkdir -p "$disk/tgt"
  across=$(seconds 'Q:\src' 'C:\qor-bench\tgt')
  make_files "$q_drive/src"
  rm -rf "$q_drive/tgt" && mkdir -p "$q_drive/tgt"
  within=$(seconds 'Q:\src' 'Q:\tgt')
  ratio=$(python3 -c "print(f'{$across / $within:.2f}')")
  ratios+=("$ratio")
  echo "round $round: across $across s, within $within s, ratio $ratio"
done
# Each pair ran back to back: the median of their ratios is the figure, as
# the disk's flushes under wine drift a lot from one minute to the next.
median=$(python3 -c "import statistics, sys; print(f'{statistics.median(map(float, sys.argv[1:])):.2f}')" "${ratios[@]}")
echo "$files x $size bytes, $rounds rounds: median ratio $median (guard $guard)"
python3 -c "import sys; sys.exit(0 if $median <= $guard else 1)" || { echo "ratio above $guard" >&2; exit 1; }
