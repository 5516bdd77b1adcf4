#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (a plain
# build and one with AddressSanitizer and UndefinedBehaviorSanitizer), and in
# between builds the Debian package (the one Release build) and checks it and
# runs each fuzz target for a bounded time; last, the Windows build's tests
# under wine, then the Windows downloads and the setup program tried under
# wine. Warnings are errors throughout.
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
step bash -c 'cd build && exec ctest --output-on-failure -j "$(nproc)"'
step bash scripts/package.sh -DQOR_WERROR=ON
step bash scripts/check_package.sh dist/qor_*.deb
step bash scripts/fuzz.sh "${QOR_FUZZ_SECONDS:-10}"
step bash scripts/build.sh build-asan -DQOR_WERROR=ON -DQOR_SANITIZE=ON
step bash -c 'cd build-asan && exec ctest --output-on-failure -j "$(nproc)"'
step bash scripts/test_windows.sh -DQOR_WERROR=ON
# The downloads from the build just tested: a Release build of its own would
# add minutes and test nothing more.
QOR_WINDOWS_BUILD=build-win step bash scripts/package-windows.sh
step bash scripts/check_windows_installer.sh
