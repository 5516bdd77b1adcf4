#!/usr/bin/env bash
# Checks a built Debian package as a user's system would meet it:
# check_package.sh dist/qor_<version>_<arch>.deb
# Unpacks it into a temporary root and checks its file list, lintian, the
# licence, that no placeholder address is shipped, the manual pages, the
# AppStream metadata, the desktop entry, the bash completion, --help and
# --version without a display, and that the installed program keeps its
# settings in the user's folder.
set -euo pipefail
# Pipelines end in a grep that reads all its input (no -q): a grep that stops
# early leaves the command before it to die of SIGPIPE, which pipefail reports.
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "package check FAILED: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$tmp/root"
app_id=$(cd "$tmp/root/usr/share/metainfo" && ls -- *.metainfo.xml)
expected=(usr/bin/qor usr/bin/qor-cli usr/share/applications/qor.desktop usr/share/doc/qor/changelog.gz
          usr/share/doc/qor/copyright usr/share/doc/qor/README.md.gz "usr/share/metainfo/$app_id"
          usr/share/bash-completion/completions/qor-cli usr/share/doc/qor/examples/qor-archive.service
          usr/share/doc/qor/examples/qor-archive.timer)
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

# Without a maintainer given at configure time the package names the authors
# without an address rather than an invented one; lintian wants an address.
suppressed=
if ! dpkg-deb -f "$deb" Maintainer | grep '<.*@.*>' >/dev/null; then
  suppressed=--suppress-tags=malformed-contact,syntax-error-in-debian-changelog
fi
lintian --fail-on error $suppressed "$deb" ||
  fail "lintian reports errors"

# The licence, and no address that someone made up.
grep -qx 'License: MIT' "$tmp/root/usr/share/doc/qor/copyright" || fail "copyright: no MIT licence"
grep -q '<project_license>MIT</project_license>' "$tmp/root/usr/share/metainfo/$app_id" ||
  fail "metainfo: no MIT licence"
placeholders=$( (dpkg-deb -I "$deb"; cd "$tmp/root" && find . -type f \( -name '*.gz' -exec zcat {} + \
                -o -exec cat {} + \) ) | grep -aoiE '[a-z0-9.-]*example\.(org|com|net)[^ ]*|licenseref' |
                sort -u || true)
[ -z "$placeholders" ] || fail "placeholders shipped: $placeholders"
for program in qor qor-cli; do
  shown=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tmp/root/usr/bin/$program" --version) ||
    fail "$program --version without a display failed"
  [[ $shown == "$program "*$'\n'"Copyright (c) 2026 the qor authors"$'\n'*MIT* ]] ||
    fail "$program --version shows no copyright and licence: $shown"
done
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tmp/root/usr/bin/qor" --help | grep qor-cli >/dev/null ||
  fail "qor --help without a display"

for page in "$tmp"/root/usr/share/man/man*/*.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
# The user's manual page explains every message and names the files, authors
# and licence; both name the copyright.
sections() { zcat "$1" | sed -n 's/^\.SH "\{0,1\}\([^"]*\)"\{0,1\}$/\1/p'; }
for section in DIAGNOSTICS FILES AUTHORS COPYRIGHT; do
  sections "$tmp/root/usr/share/man/man1/qor.1.gz" | grep -x "$section" >/dev/null || fail "man qor: no $section"
done
sections "$tmp/root/usr/share/man/man1/qor-cli.1.gz" | grep -x COPYRIGHT >/dev/null || fail "man qor-cli: no COPYRIGHT"
for title in grrr uups Arrgh "Target create" "DONE moving" "Usage of QoR" "Search active"; do
  zcat "$tmp/root/usr/share/man/man1/qor.1.gz" | grep "$title" >/dev/null || fail "man qor: no message titled $title"
done
zcat "$tmp/root/usr/share/doc/qor/README.md.gz" | grep '^## Uninstall' >/dev/null || fail "README.md: no Uninstall"
# No picture that is not installed beside it.
! zcat "$tmp/root/usr/share/doc/qor/README.md.gz" | grep '!\[' >/dev/null || fail "README.md: links a picture"

# The example units as systemd reads them, with the program where the package
# put it: any word of systemd-analyze is a fault.
mkdir "$tmp/units"
for unit in "$tmp"/root/usr/share/doc/qor/examples/*.{service,timer}; do
  sed "s|/usr/bin/qor-cli|$tmp/root/usr/bin/qor-cli|" "$unit" >"$tmp/units/$(basename "$unit")"
done
said=$(systemd-analyze verify "$tmp"/units/* 2>&1) && [ -z "$said" ] ||
  fail "systemd-analyze verify of the example units: $said"

# The completion offers move's options after "move", with the helpers that
# the bash-completion package would give it stood in for.
completed=$(bash -c '_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};
                       words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
                     _filedir() { :; }
                     source "$1"; COMP_WORDS=(qor-cli move --ex); COMP_CWORD=2; _qor_cli
                     echo "${COMPREPLY[*]}"' _ "$tmp/root/usr/share/bash-completion/completions/qor-cli")
[ "$completed" = "--exclude --exclude-dir" ] || fail "completion of 'qor-cli move --ex': $completed"

# An id without the publisher's reversed domain (none was given) is plain "qor".
override=
[[ $app_id == *.*.metainfo.xml ]] || override=--override=cid-desktopapp-is-not-rdns=info
appstreamcli validate --no-net $override "$tmp"/root/usr/share/metainfo/*.xml ||
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
