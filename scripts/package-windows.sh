#!/usr/bin/env bash
# Builds the Windows downloads into dist/, from a Release cross build without
# tests: qor-<version>-windows-x64.zip, the static qor.exe and qor-cli.exe (no
# DLLs beyond Windows' own) with a short read-me and the user guide, and
# qor-<version>-windows-x64-setup.exe, the same files as an installer made
# with makensis from resources/win32/qor.nsi.
# scripts/check_windows_installer.sh tries the installer under wine. Extra
# arguments go to CMake. With QOR_WINDOWS_BUILD naming a cross build folder
# already made (the test command's, say), the downloads are made from it
# instead, which spares a second build of everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The cross compiler and makensis come with the rest of what the project needs.
bash "$root/scripts/setup.sh"
if [ -n "${QOR_WINDOWS_BUILD:-}" ]; then
  build=$(cd "$QOR_WINDOWS_BUILD" && pwd)
else
  build=$root/build-win-pkg
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >/dev/null
fi
nice cmake --build "$build" -j 2 --target qor qor-cli
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/qor-$version
mkdir -p "$folder"
for program in qor qor-cli; do
  x86_64-w64-mingw32-strip -o "$folder/$program.exe" "$build/src/$program.exe"
done
sed 's/$/\r/' "$root/LICENSE" >"$folder/LICENSE.txt"
# The user guide for Windows users, sharing the README's text where they say
# the same.
python3 "$root/scripts/make_user_guide.py" "$version" "$folder/user-guide.txt"
sed 's/$/\r/' >"$folder/README.txt" <<TEXT
Sorvane (qor) $version for 64-bit Windows

qor.exe moves the files of a source folder into a target folder by the date
they were last written: equal to, before or after a day you give. It needs no
installation and no other file: unpack the folder anywhere and start qor.exe.
qor-$version-windows-x64-setup.exe installs the same files into
Program Files\\qor instead, with "Sorvane" in the Start menu and, if you
like, qor-cli on PATH; "Sorvane" under Settings > Apps (or Add or Remove
Programs) uninstalls it again.

This unpacked copy keeps its inputs in qro.ini beside qor.exe; where that
folder cannot be written they go to %APPDATA%\\qor\\qro.ini, as they always do
for an installed copy. Every run writes FileFind<date>.txt, the list of the
files it took, into the current folder (for the Start-menu entry, the user's
profile folder, C:\\Users\\<name>).

Command line: qor /D<day> /M<month> /Y<year> [auto]
  "auto" starts the run at once; "qor ?" shows the usage.

qor-cli.exe is the same move without a window, for scripts and the Task
Scheduler: "qor-cli move SOURCE TARGET WHEN [OPTIONS]" moves, "qor-cli undo
LOG SOURCE" brings the files of a run's log back; "qor-cli --help" shows the
rest. user-guide.txt explains the window, every message and what to do.

Copyright (c) 2026 the qor authors. MIT licence: free to use, change and pass
on, without warranty; the licence's text is in LICENSE.txt.
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

# The version resource wants four numbers: 0.1 becomes 0.1.0.0.
version4=$version
while [ "$(tr -cd . <<<"$version4" | wc -c)" -lt 3 ]; do version4+=.0; done
setup_file=$root/dist/qor-$version-windows-x64-setup.exe
rm -f "$setup_file"
makensis -V2 -WX -DVERSION="$version" -DVERSION4="$version4" -DFILES="$folder" \
  -DICON="$root/resources/win32/lamp2.ico" -DOUTFILE="$setup_file" \
  "$root/resources/win32/qor.nsi"
echo "$setup_file"
