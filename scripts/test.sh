#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (a plain
# build and one with AddressSanitizer and UndefinedBehaviorSanitizer), builds
# the Debian package (the one Release build) and checks it, runs each fuzz
# target for a bounded time, and last runs the Windows build's tests under
# wine, then tries the Windows downloads and the setup program under wine.
# Each build's power-cut loop runs beside later builds, its load. Warnings
# are errors throughout.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step says how long it took, so that a slow test command shows where.
step_started=$SECONDS
step() {
  "$@"
  echo "test.sh: $* took $((SECONDS - step_started)) s" >&2
  step_started=$SECONDS
}
step bash scripts/setup.sh
step bash scripts/build.sh build -DQOR_WERROR=ON
step bash -c 'cd build && exec ctest --output-on-failure -j "$(nproc)" -E "^power_cuts$"'
# Each build's power-cut loop wants a loaded machine (some interleavings show
# only then): it runs beside the next builds, whose compilers are its load,
# and its busy loops take over once they have ended.
loaded_loop() {
  local dir=$1 load=$2 loaded=0 looped=0
  bash -c "$load" &
  local pid=$!
  (cd "$dir" && QOR_POWER_CUTS_LOADED_WHILE=$pid exec ctest --output-on-failure -R '^power_cuts$') ||
    looped=$?
  wait "$pid" || loaded=$?
  [ "$loaded" -eq 0 ] && [ "$looped" -eq 0 ]
}
step loaded_loop build "bash scripts/build.sh build-asan -DQOR_WERROR=ON -DQOR_SANITIZE=ON &&
                        bash scripts/package.sh -DQOR_WERROR=ON"
step bash scripts/check_package.sh dist/qor_*.deb
step bash -c 'cd build-asan && exec ctest --output-on-failure -j "$(nproc)" -E "^power_cuts$"'
step loaded_loop build-asan "QOR_WINDOWS_BUILD_ONLY=1 bash scripts/test_windows.sh -DQOR_WERROR=ON &&
                             bash scripts/fuzz.sh ${QOR_FUZZ_SECONDS:-10}"
step bash scripts/test_windows.sh -DQOR_WERROR=ON
# The downloads from the build just tested: a Release build of its own would
# add minutes and test nothing more.
QOR_WINDOWS_BUILD=build-win step bash scripts/package-windows.sh
step bash scripts/check_windows_installer.sh
