#!/usr/bin/env bash
# Builds the Debian package into dist/: package.sh [extra cmake options].
# A Release build of the program alone (no tests), with Debian's hardening
# flags, installed under /usr and keeping its settings in the user's folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-pkg
export CPPFLAGS=${CPPFLAGS-$(dpkg-buildflags --get CPPFLAGS)}
# Without Debian's -g: the package's programs are stripped, so debug
# information would be compiled only to be thrown away.
export CXXFLAGS=${CXXFLAGS-$(dpkg-buildflags --get CXXFLAGS | sed -E 's/(^| )-g( |$)/ /')}
export LDFLAGS=${LDFLAGS-$(dpkg-buildflags --get LDFLAGS)}
# CMake takes no CPPFLAGS of its own.
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DQOR_USER_SETTINGS=ON "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
mkdir -p "$root/dist"
rm -f "$root"/dist/qor_*.deb
rm -rf "$build/cpack"
(cd "$build" && cpack -B "$build/cpack" >/dev/null)
cp "$build"/cpack/qor_*.deb "$root/dist/"
ls "$root"/dist/qor_*.deb
