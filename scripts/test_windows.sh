#!/usr/bin/env bash
# Cross-builds everything below the window for 64-bit Windows into build-win
# and runs its tests under wine, in a wine prefix of the build's own.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-win
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"

export WINEPREFIX="$PWD/$build/wine-prefix" WINEDEBUG=-all WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init </dev/null >/dev/null 2>&1
  wineserver -w
fi
# A second drive on another file system (tmpfs), for moves across volumes.
q_drive="/dev/shm/qor-win-q-$(id -u)-$(echo "$PWD" | md5sum | cut -c1-8)"
mkdir -p "$q_drive"
ln -sfn "$q_drive" "$WINEPREFIX/dosdevices/q:"
# Started once before ctest, so that wine's helper services do not hold
# ctest's output pipes open.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
status=0
(cd "$build" && ctest --output-on-failure --timeout 120 -j "$(nproc)") || status=$?
wineserver -k || true
exit "$status"
