#!/usr/bin/env bash
# Tries the Windows installer under wine, in a wine prefix of its own that it
# throws away afterwards:
#   check_windows_installer.sh [dist/qor-<version>-windows-x64-setup.exe]
# Installs silently and checks the files in C:\Program Files\qor, the programs
# themselves, the Start-menu shortcut and the uninstall entry; uninstalls
# silently with the entry's QuietUninstallString and checks that all of it is
# gone. A second round leaves a run log and a qro.ini in the program's folder
# before uninstalling: they stay, and so do the user's settings in
# %APPDATA%\qor throughout.
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
windows_folder='C:\Program Files\qor'
appdata=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' </dev/null 2>/dev/null | tr -d '\r')")
settings=$appdata/qor/qro.ini
mkdir -p "$(dirname "$settings")"
printf '[qor]\r\nSource=C:\\in\r\n' >"$settings"
cp "$settings" "$tmp/qro.ini.before"

# Lists a folder's files, one a line, sorted; nothing if it is gone.
files_in() { if [ -d "$1" ]; then (cd "$1" && find . -type f -printf '%P\n' | sort); fi; }

install() {
  wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the setup program exited with $?"
  wineserver -w
  diff -u <(printf '%s\n' README.txt qor-cli.exe qor.exe uninstall.exe) <(files_in "$folder") ||
    fail "the files in $windows_folder differ from the list above"
  local shown
  shown=$(wine "$windows_folder\\qor-cli.exe" --version </dev/null 2>/dev/null | tr -d '\r') ||
    fail "the installed qor-cli.exe --version failed"
  [[ $shown == *"$version"* ]] || fail "qor-cli.exe --version shows '$shown', not $version"

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
  local -A expected=([DisplayName]=Sorvane [DisplayVersion]=$version
                     [DisplayIcon]="$windows_folder\\qor.exe,0" [InstallLocation]=$windows_folder
                     [UninstallString]=$uninstaller [QuietUninstallString]="$uninstaller /S"
                     [NoModify]=0x1 [NoRepair]=0x1)
  for name in "${!expected[@]}"; do
    [ "${values[$name]-}" = "${expected[$name]}" ] ||
      fail "uninstall entry: $name is '${values[$name]-}', not '${expected[$name]}'"
  done
  local installed_kib=$(( $(cat "$folder"/qor.exe "$folder"/qor-cli.exe "$folder"/README.txt | wc -c) / 1024 ))
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
}

started=$SECONDS
install
echo "installed: $(files_in "$folder" | tr '\n' ' '); shortcut and uninstall entry present"
uninstall
[ ! -e "$folder" ] || fail "the uninstaller left $windows_folder: $(files_in "$folder" | tr '\n' ' ')"
echo "uninstalled: folder, shortcut and entry gone, %APPDATA%\\qor\\qro.ini kept"

install
log=FileFind20250301.txt
printf 'a run log\r\n' >"$folder/$log"
printf '[qor]\r\n' >"$folder/qro.ini"
uninstall
diff -u <(printf '%s\n' "$log" qro.ini) <(files_in "$folder") ||
  fail "after uninstalling, $windows_folder should hold just the run log and qro.ini"
echo "uninstalled again: the run log and qro.ini in the program's folder kept"
echo "installer check passed: $(basename "$setup") ($((SECONDS - started)) s after the prefix)"
