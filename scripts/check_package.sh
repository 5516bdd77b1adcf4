#!/usr/bin/env bash
# Checks a built Debian package as a user's system would meet it:
# check_package.sh dist/qor_<version>_<arch>.deb
# Unpacks it into a temporary root and checks its file list, lintian, the
# manual pages, the AppStream metadata, the desktop entry, and that the
# installed program keeps its settings in the user's folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "package check FAILED: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$tmp/root"
app_id=$(cd "$tmp/root/usr/share/metainfo" && ls -- *.metainfo.xml)
expected=(usr/bin/qor usr/bin/qor-cli usr/share/applications/qor.desktop usr/share/doc/qor/changelog.gz
          usr/share/doc/qor/copyright "usr/share/metainfo/$app_id")
for size in 16 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/qor.png")
done
for page in "$root"/resources/man/*.[1-8]; do
  name=$(basename "$page")
  expected+=("usr/share/man/man${name##*.}/$name.gz")
done
diff -u <(printf '%s\n' "${expected[@]}" | sort) \
        <(cd "$tmp/root" && find . -type f -printf '%P\n' | sort) ||
  fail "the package's files differ from the list above"

lintian --fail-on error "$deb" ||
  fail "lintian reports errors"

for page in "$tmp"/root/usr/share/man/man*/*.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
appstreamcli validate --no-net "$tmp"/root/usr/share/metainfo/*.xml ||
  fail "AppStream metadata"
desktop-file-validate "$tmp"/root/usr/share/applications/*.desktop || fail "desktop entry"

# Even root, whose program folder can be written, keeps the settings of the
# installed program in $XDG_CONFIG_HOME, never beside the binary.
mkdir "$tmp/config" "$tmp/work"
(cd "$tmp/work" && XDG_CONFIG_HOME="$tmp/config" QT_QPA_PLATFORM=xcb \
   xvfb-run -a -s "-screen 0 1024x768x24" /usr/bin/python3 "$root/scripts/window_session.py" \
   -- "$tmp/root/usr/bin/qor" /D15 /M6 /Y2021) || fail "the installed program did not run"
grep -q '^Day=15' "$tmp/config/qor/qro.ini" 2>/dev/null ||
  fail "no settings in \$XDG_CONFIG_HOME/qor/qro.ini"
[ ! -e "$tmp/root/usr/bin/qro.ini" ] || fail "settings written beside the installed program"
echo "package check passed: $(basename "$deb")"
