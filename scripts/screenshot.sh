#!/usr/bin/env bash
# Makes docs/screenshot.png: the real window, under Xvfb, after an automatic
# run over a small sample tree: screenshot.sh [PROGRAM] (default build/src/qor,
# built when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$root/build/src/qor}
[ -x "$program" ] || bash "$root/scripts/build.sh" "$root/build"
# Fixed folder names, so the picture does not change from one making to the next.
demo=/tmp/sorvane-demo
rm -rf "$demo"
mkdir -p "$demo/app" "$demo/camera/2021/june" "$demo/archive"
trap 'rm -rf "$demo"' EXIT
cp "$program" "$demo/app/qor"
printf '[Servers]\r\nSource=%s/\r\nTarget=%s/\r\nAddDate=1\r\nRekurse=1\r\nDelMov=0\r\n' \
  "$demo/camera" "$demo/archive" >"$demo/app/qro.ini"
for name in beach harbour market; do
  head -c 300000 /dev/zero >"$demo/camera/2021/june/$name.jpg"
  touch -d '2021-06-15 12:00 UTC' "$demo/camera/2021/june/$name.jpg"
done
touch -d '2021-06-16 12:00 UTC' "$demo/camera/2021/june/later.jpg"
mkdir -p "$root/docs"
(cd "$demo" && LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
   /usr/bin/python3 "$root/scripts/window_session.py" --answer-done \
   --screenshot "$root/docs/screenshot.png" -- "$demo/app/qor" /D15 /M6 /Y2021 auto)
echo "$root/docs/screenshot.png"
