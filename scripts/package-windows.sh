#!/usr/bin/env bash
# Builds dist/qor-<version>-windows-x64.zip: the static qor.exe (no DLLs beyond
# Windows' own) and a short read-me. A Release cross build without tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-win-pkg
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target qor
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
x86_64-w64-mingw32-strip -o "$build/qor.exe" "$build/src/qor.exe"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/qor-$version
mkdir -p "$folder"
cp "$build/qor.exe" "$folder/"
sed 's/$/\r/' >"$folder/README.txt" <<TEXT
Sorvane (qor) $version for 64-bit Windows

qor.exe moves the files of a source folder into a target folder by the date
they were last written: equal to, before or after a day you give. It needs no
installation and no other file: unpack the folder anywhere and start qor.exe.

The inputs are kept in qro.ini beside qor.exe; where that folder cannot be
written (for example under Program Files) they go to %APPDATA%\\qor\\qro.ini.
Every run writes FileFind<date>.txt, the list of the files it took, into the
current folder.

Command line: qor /D<day> /M<month> /Y<year> [auto]
  "auto" starts the run at once; "qor ?" shows the usage.
TEXT
mkdir -p "$root/dist"
zip_file=$root/dist/qor-$version-windows-x64.zip
rm -f "$zip_file"
# Python's zipfile, which every Debian has, rather than another package.
(cd "$stage" && python3 -c 'import sys, zipfile, os
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in sorted(os.listdir(sys.argv[2])):
        z.write(os.path.join(sys.argv[2], name))' "$zip_file" "qor-$version")
echo "$zip_file"
