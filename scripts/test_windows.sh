#!/usr/bin/env bash
# Cross-builds the program for 64-bit Windows into build-win and runs its
# tests under wine, in a wine prefix of the build's own, then the window end
# to end under an X server.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-win
# Line tables only, as scripts/build.sh.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"

export WINEPREFIX="$PWD/$build/wine-prefix" WINEDEBUG=-all WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init </dev/null >/dev/null 2>&1
  wineserver -w
fi
# Wine's own fonts (Tahoma among them) are not found unless they are in the
# prefix; without a window manager, windows must not wait for one.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$fonts/tahoma.ttf" ]; then
  cp /usr/share/wine/fonts/*.ttf "$fonts/"
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  wineserver -w
fi
# A second drive on another file system (tmpfs), for moves across volumes.
q_drive="/dev/shm/qor-win-q-$(id -u)-$(echo "$PWD" | md5sum | cut -c1-8)"
mkdir -p "$q_drive"
ln -sfn "$q_drive" "$WINEPREFIX/dosdevices/q:"
# Two shares for runs on UNC paths: wine serves \\server\share\... from the
# folder that dosdevices/unc/server/share leads to. \\localhost\qor-unc-a lies
# on the disk, \\localhost\qor-unc-b on tmpfs, so that a move between them
# crosses volumes.
unc_hosts="$WINEPREFIX/dosdevices/unc/localhost"
unc_a="$PWD/$build/unc-a"
unc_b="${q_drive}-unc-b"
mkdir -p "$unc_hosts" "$unc_a" "$unc_b"
ln -sfn "$unc_a" "$unc_hosts/qor-unc-a"
ln -sfn "$unc_b" "$unc_hosts/qor-unc-b"
# A FAT drive F:, as on a USB stick, where one can be made: a FAT image
# mounted in user space. Without FUSE the tests that want it skip.
f_drive="$PWD/$build/fat-drive"
fusermount -u "$f_drive" 2>/dev/null || true
rm -f "$WINEPREFIX/dosdevices/f:"
if [ -e /dev/fuse ] && command -v fusefat >/dev/null && command -v mkfs.vfat >/dev/null; then
  mkdir -p "$f_drive"
  rm -f "$build/fat.img"
  truncate -s 16M "$build/fat.img"
  mkfs.vfat "$build/fat.img" >/dev/null
  if fusefat -o rw+ "$build/fat.img" "$f_drive" >/dev/null 2>&1; then
    trap 'fusermount -u "$f_drive" 2>/dev/null || true' EXIT
    ln -sfn "$f_drive" "$WINEPREFIX/dosdevices/f:"
  fi
fi
# Started once before ctest, so that wine's helper services do not hold
# ctest's output pipes open.
# (It may be running already, which is as good.)
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1
status=0
# Under load wine now and then fails to start a test's process at all: it
# ends within milliseconds, having printed nothing. Such a test is run once
# more; one that fails twice fails the suite.
(cd "$build" && ctest --output-on-failure --timeout 120 -j "$(nproc)" -LE display \
  --repeat until-pass:2) || status=$?
# Windows need wine's services started afresh on an X server's display. The
# view's own tests make real windows; they run apart, on an X server of their
# own, one at a time, as they share its keyboard focus.
wineserver -k || true
wineserver -w || true
timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1
  cd "$0" && ctest --output-on-failure --timeout 60 -L display' "$build" || status=$?
wineserver -k || true
wineserver -w || true
# The window end to end; Debian's python3 is the one python3-xlib belongs to.
timeout 240 xvfb-run -a -s "-screen 0 1024x768x24" \
  /usr/bin/python3 tests/e2e/win32/window_test.py "$build/src/qor.exe" || status=$?
wineserver -k || true
exit "$status"
