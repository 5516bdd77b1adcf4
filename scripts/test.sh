#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (a plain
# build and one with AddressSanitizer and UndefinedBehaviorSanitizer), and in
# between builds the Debian package (the one Release build) and checks it and
# runs each fuzz target for a bounded time; last, the Windows build's tests
# under wine, then the Windows downloads and the setup program tried under
# wine. Warnings are errors throughout.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DQOR_WERROR=ON
(cd build && ctest --output-on-failure -j "$(nproc)")
bash scripts/package.sh -DQOR_WERROR=ON
bash scripts/check_package.sh dist/qor_*.deb
bash scripts/fuzz.sh "${QOR_FUZZ_SECONDS:-10}"
bash scripts/build.sh build-asan -DQOR_WERROR=ON -DQOR_SANITIZE=ON
(cd build-asan && ctest --output-on-failure -j "$(nproc)")
bash scripts/test_windows.sh -DQOR_WERROR=ON
# The downloads from the build just tested: a Release build of its own would
# add minutes and test nothing more.
QOR_WINDOWS_BUILD=build-win bash scripts/package-windows.sh
bash scripts/check_windows_installer.sh
