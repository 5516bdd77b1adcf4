#!/usr/bin/env bash
# Installs what building, running and testing qor need on Debian 12.
set -euo pipefail
packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-private-dev libgl-dev libgtest-dev googletest
          xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core clang libclang-rt-14-dev
          locales python3-xlib dpkg-dev lintian desktop-file-utils appstream man-db
          g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine fonts-wine nsis
          dosfstools fusefat libfuse3-dev libssl-dev openssh-server sshfs rclone xfsprogs systemd)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The number-format tests want a locale that groups digits.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "note: de_DE.UTF-8 not generated; its tests will skip"
fi
