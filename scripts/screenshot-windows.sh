#!/usr/bin/env bash
# Makes docs/windows-96dpi.png and docs/windows-144dpi.png: qor.exe under wine
# and Xvfb after an automatic run over a small sample tree, once at 96 and once
# at 144 DPI, each in a wine prefix of its own. Builds build-win when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$root/build-win/src/qor.exe
[ -f "$exe" ] || {
  cmake -S "$root" -B "$root/build-win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build-win" -j 2 --target qor
}
mkdir -p "$root/docs"
for dpi in 96 144; do
  export WINEPREFIX="$root/build-win/wine-shot-$dpi" WINEDEBUG=-all WINEARCH=win64
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init </dev/null >/dev/null 2>&1
    wineserver -w
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
      </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  # Fixed folder names, so the picture does not change from one making to the next.
  demo=$WINEPREFIX/drive_c/sorvane-demo
  rm -rf "$demo"
  mkdir -p "$demo/app" "$demo/camera/2021/june" "$demo/archive"
  cp "$exe" "$demo/app/qor.exe"
  printf '[Servers]\r\nSource=C:\\sorvane-demo\\camera\\\r\nTarget=C:\\sorvane-demo\\archive\\\r\nAddDate=1\r\nRekurse=1\r\nDelMov=0\r\n' \
    >"$demo/app/qro.ini"
  for name in beach harbour market; do
    head -c 300000 /dev/zero >"$demo/camera/2021/june/$name.jpg"
    touch -d '2021-06-15 12:00 UTC' "$demo/camera/2021/june/$name.jpg"
  done
  touch -d '2021-06-16 12:00 UTC' "$demo/camera/2021/june/later.jpg"
  out="$root/docs/windows-${dpi}dpi.png"
  session=$(mktemp)
  cat >"$session" <<'SESSION'
set -euo pipefail
cd "$1"
wine 'C:\sorvane-demo\app\qor.exe' /D15 /M6 /Y2021 auto </dev/null >/dev/null 2>&1 &
program=$!
box=$(xdotool search --sync --name '^DONE moving$' | head -1)
xdotool windowfocus --sync "$box" key Return
window=$(xdotool search --sync --name '^Sorvane$' | head -1)
sleep 1
import -window "$window" "$2"
xdotool key --window "$window" alt+F4 2>/dev/null || true
wait "$program" || true
SESSION
  timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" bash "$session" "$demo/app" "$out"
  rm -f "$session"
  wineserver -k 2>/dev/null || true
  rm -rf "$demo"
  echo "$out"
done
