#!/usr/bin/env bash
# Builds every fuzz target tests/fuzz/*_fuzz.cpp with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer and runs each for a bounded
# time. Fails on any crash, leak, sanitizer report or broken rule.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 20; TARGET is a file name without _fuzz.cpp
# (all targets when none is given). A target lists the sources it needs on
# lines "// fuzz-sources: src/a.cpp src/b.cpp"; a folder
# tests/fuzz/<target>_seeds/ beside it, if present, seeds its corpus. The
# corpus grows in build-fuzz/<target>/corpus and is reused by the next run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
out=${QOR_FUZZ_DIR:-$root/build-fuzz}
cxx=${QOR_FUZZ_CXX:-clang++}
flags=(-std=c++20 -g1 -O1 -fno-omit-frame-pointer -Wall -Wextra -Wpedantic -Werror
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root/src")

targets=()
if [ $# -gt 0 ]; then
  for name in "$@"; do targets+=("$root/tests/fuzz/${name}_fuzz.cpp"); done
else
  shopt -s nullglob
  targets=("$root"/tests/fuzz/*_fuzz.cpp)
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets found" >&2
  exit 1
fi

# One target: built, then run; what it found goes to its folder's summary.
fuzz_one() {
  local file=$1 name dir sources corpora runs
  name=$(basename "$file" _fuzz.cpp)
  dir=$out/$name
  mkdir -p "$dir/corpus"
  rm -f "$dir/summary"
  read -r -a sources <<<"$(sed -n 's|^// fuzz-sources:||p' "$file" | tr '\n' ' ')"
  echo "== $name: building"
  if ! "$cxx" "${flags[@]}" -o "$dir/fuzzer" "$file" "${sources[@]/#/$root/}"; then
    echo "$name: FAILED to build" >"$dir/summary"
    return
  fi
  corpora=("$dir/corpus")
  [ -d "$root/tests/fuzz/${name}_seeds" ] && corpora+=("$root/tests/fuzz/${name}_seeds")
  echo "== $name: running for $seconds s"
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$dir/fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$dir/" "${corpora[@]}" >"$dir/output.txt" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/output.txt" | tail -1)
    echo "$name: ${runs:-?} executions in $seconds s, no finding" >"$dir/summary"
  else
    tail -n 60 "$dir/output.txt"
    echo "$name: FAILED, see $dir/output.txt and the crash-* file beside it" >"$dir/summary"
  fi
}

# A fuzzer runs on one core: as many targets at once as there are cores.
running=0
for file in "${targets[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$file" &
  running=$((running + 1))
done
wait

failed=0
summary=()
for file in "${targets[@]}"; do
  name=$(basename "$file" _fuzz.cpp)
  line=$(cat "$out/$name/summary" 2>/dev/null || echo "$name: FAILED, it gave no outcome")
  summary+=("$line")
  [[ $line == *FAILED* ]] && failed=1
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $failed
