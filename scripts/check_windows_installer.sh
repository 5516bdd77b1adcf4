#!/usr/bin/env bash
# Tries the Windows installer under wine, in a wine prefix of its own that it
# throws away afterwards:
#   check_windows_installer.sh [dist/qor-<version>-windows-x64-setup.exe]
# Installs silently and checks the files in C:\Program Files\qor (among them
# the mark that sends an installed copy's settings to %APPDATA%\qor), the
# programs and their version resources, the Start-menu shortcut, the
# uninstall entry and qor-cli's folder on PATH; uninstalls silently with the
# entry's QuietUninstallString and checks that all of it is gone, the folder
# too. A second round leaves a run log in the program's folder before
# uninstalling: it stays, and so do the user's settings in %APPDATA%\qor
# throughout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "installer check FAILED: $*" >&2; exit 1; }
if [ $# -gt 0 ]; then
  setup=$1
else
  setups=("$root"/dist/qor-*-windows-x64-setup.exe)
  if [ ${#setups[@]} -ne 1 ] || [ ! -f "${setups[0]}" ]; then
    fail "name the setup program: none or several in dist/ (scripts/package-windows.sh makes it)"
  fi
  setup=${setups[0]}
fi
[ -f "$setup" ] || fail "$setup does not exist"
version=$(basename "$setup")
version=${version#qor-}
version=${version%-windows-x64-setup.exe}

tmp=$(mktemp -d /tmp/qor-installer-check.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEARCH=win64
# winemenubuilder would copy the Start-menu entry to this Linux desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT
wineboot --init </dev/null >/dev/null 2>&1
wineserver -w

drive_c=$WINEPREFIX/drive_c
folder="$drive_c/Program Files/qor"
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Sorvane.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qor'
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
windows_folder='C:\Program Files\qor'
appdata=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' </dev/null 2>/dev/null | tr -d '\r')")
settings=$appdata/qor/qro.ini
mkdir -p "$(dirname "$settings")"
printf '[qor]\r\nSource=C:\\in\r\n' >"$settings"
cp "$settings" "$tmp/qro.ini.before"

# Lists a folder's files, one a line, sorted; nothing if it is gone.
files_in() { if [ -d "$1" ]; then (cd "$1" && find . -type f -printf '%P\n' | sort); fi; }

# The system's PATH, one entry a line.
path_entries() {
  wine reg query "$environment" /v Path </dev/null 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Path *REG_[A-Z_]* *//p' | tr ';' '\n'
}

# The version resource of a program, as the resource compiler reads it back.
check_version_resource() {
  local text
  text=$(x86_64-w64-mingw32-windres -J coff -O rc -i "$1") || fail "no resources in $1"
  local name value
  for name in FileVersion ProductVersion; do
    grep -q "VALUE \"$name\", \"$version\"" <<<"$text" || fail "$(basename "$1"): $name is not $version"
  done
  for value in '"ProductName", "Sorvane"' '"CompanyName", "the qor authors"' \
               '"LegalCopyright", "Copyright (c) 2026 the qor authors. MIT licence."' \
               "\"OriginalFilename\", \"$(basename "$1")\"" '"FileDescription", "Sorvane'; do
    grep -qF "VALUE $value" <<<"$text" || fail "$(basename "$1"): no $value in its version resource"
  done
}
install() {
  wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the setup program exited with $?"
  wineserver -w
  diff -u <(printf '%s\n' LICENSE.txt README.txt qor-cli.exe qor-installed.txt qor.exe uninstall.exe \
                          user-guide.txt) <(files_in "$folder") ||
    fail "the files in $windows_folder differ from the list above"
  local shown
  shown=$(wine "$windows_folder\\qor-cli.exe" --version </dev/null 2>/dev/null | tr -d '\r') ||
    fail "the installed qor-cli.exe --version failed"
  [[ $shown == *"$version"* ]] || fail "qor-cli.exe --version shows '$shown', not $version"
  # The guide is one for Windows users, as Notepad shows it: a byte-order
  # mark, CR LF only, no build material, no picture.
  local guide="$folder/user-guide.txt"
  [ "$(head -c 3 "$guide" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "user-guide.txt: no byte-order mark"
  [ "$(tr -cd '\n' <"$guide" | wc -c)" = "$(grep -c $'\r$' "$guide")" ] || fail "user-guide.txt: a line not ended by CR LF"
  ! grep -E 'apt-get|apt install|scripts/|build-win|Debian 12 machine|!\[|\]\(' "$guide" >/dev/null ||
    fail "user-guide.txt holds Linux or build material: $(grep -E 'apt-get|apt install|scripts/|build-win|!\[|\]\(' "$guide" | head -3)"
  for topic in schtasks 'qor-cli undo' '%APPDATA%' 'FileFind<yyyymmdd>.txt'; do
    grep -F "$topic" "$guide" >/dev/null || fail "user-guide.txt: nothing on $topic"
  done
  check_version_resource "$folder/qor.exe"
  check_version_resource "$folder/qor-cli.exe"
  path_entries | grep -qixF "$windows_folder" || fail "$windows_folder is not on PATH: $(path_entries)"

  [ -f "$shortcut" ] || fail "no Start-menu shortcut $shortcut"
  # The link's target and its working folder, as Windows stores them (the
  # target also as the ANSI path of its link information).
  python3 - "$shortcut" "$windows_folder\\qor.exe" '%USERPROFILE%' <<'PY' ||
import sys
data = open(sys.argv[1], "rb").read()
for text in sys.argv[2:]:
    if text.encode("utf-16-le") not in data and text.encode("latin-1") not in data:
        sys.exit(f"the shortcut lacks {text}")
PY
    fail "the shortcut does not start $windows_folder\\qor.exe in %USERPROFILE%"

  local entry name type value
  entry=$(wine reg query "$key" </dev/null 2>/dev/null | tr -d '\r') || fail "no uninstall entry $key"
  declare -gA values=()
  while read -r name type value; do
    [[ $type == REG_* ]] && values[$name]=$value
  done <<<"$entry"
  local uninstaller="\"$windows_folder\\uninstall.exe\""
  local -A expected=([DisplayName]=Sorvane [DisplayVersion]=$version [Publisher]="the qor authors"
                     [DisplayIcon]="$windows_folder\\qor.exe,0" [InstallLocation]=$windows_folder
                     [UninstallString]=$uninstaller [QuietUninstallString]="$uninstaller /S"
                     [NoModify]=0x1 [NoRepair]=0x1)
  for name in "${!expected[@]}"; do
    [ "${values[$name]-}" = "${expected[$name]}" ] ||
      fail "uninstall entry: $name is '${values[$name]-}', not '${expected[$name]}'"
  done
  local installed_kib=$(( $(cat "$folder"/{qor.exe,qor-cli.exe,README.txt,user-guide.txt,LICENSE.txt} |
                            wc -c) / 1024 ))
  local estimated=$(( ${values[EstimatedSize]:-0} ))
  (( estimated >= installed_kib && estimated <= installed_kib + 4 )) ||
    fail "uninstall entry: EstimatedSize is $estimated KiB for $installed_kib KiB of files"
}

uninstall() {
  [[ ${values[QuietUninstallString]} =~ ^\"([^\"]+)\"\ /S$ ]] ||
    fail "QuietUninstallString is not a quoted program and /S"
  wine "${BASH_REMATCH[1]}" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller exited with $?"
  # The uninstaller works from a copy of itself in %TEMP%; the wine server
  # ends when that copy has.
  wineserver -w
  [ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu shortcut"
  ! wine reg query "$key" </dev/null >/dev/null 2>&1 || fail "the uninstaller left $key"
  cmp -s "$settings" "$tmp/qro.ini.before" || fail "the uninstaller changed or removed $settings"
  [ "$(path_entries)" = "$path_before" ] ||
    fail "PATH after uninstalling is not as before: $(path_entries | tr '\n' ';')"
}

path_before=$(path_entries)
[ -n "$path_before" ] || fail "no PATH in $environment"
started=$SECONDS
install
echo "installed: $(files_in "$folder" | tr '\n' ' '); shortcut, uninstall entry and PATH present"
uninstall
[ ! -e "$folder" ] || fail "the uninstaller left $windows_folder: $(files_in "$folder" | tr '\n' ' ')"
echo "uninstalled: folder, shortcut, entry and PATH gone, %APPDATA%\\qor\\qro.ini kept"

install
log=FileFind20250301.txt
printf 'a run log\r\n' >"$folder/$log"
uninstall
diff -u <(printf '%s\n' "$log") <(files_in "$folder") ||
  fail "after uninstalling, $windows_folder should hold just the run log"
echo "uninstalled again: the run log in the program's folder kept"
echo "installer check passed: $(basename "$setup") ($((SECONDS - started)) s after the prefix)"
