#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (a plain
# build and one with AddressSanitizer and UndefinedBehaviorSanitizer), and
# runs each fuzz target for a bounded time in between; last, the Windows
# build's tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")
bash scripts/fuzz.sh "${QOR_FUZZ_SECONDS:-15}"
bash scripts/build.sh build-asan -DQOR_SANITIZE=ON
(cd build-asan && ctest --output-on-failure -j "$(nproc)")
bash scripts/test_windows.sh
