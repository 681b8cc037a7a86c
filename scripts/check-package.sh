#!/usr/bin/env bash
# Builds the Debian package from a build folder (default build/ci) and checks it: unpacked into
# a fresh folder, its desktop entry and AppStream metainfo validate, the icon is in the hicolor
# theme, quorlan-cli --version runs and the manual pages read. As root on Debian it then installs
# the package with apt-get, runs the installed programs and man, removes it again and checks
# that nothing of it is left (QUORLAN_NO_SYSTEM_INSTALL=1 skips this part).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}

rm -f "$build"/quorlan_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quorlan_*.deb)
echo "== $(basename "$deb")"
dpkg-deb --field "$deb" Depends

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/org.quorlan.Quorlan.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.quorlan.Quorlan.metainfo.xml"
appstreamcli validate-tree --no-net "$root/usr"
test -f "$root/usr/share/icons/hicolor/scalable/apps/org.quorlan.Quorlan.svg"
test -f "$root/usr/share/doc/quorlan/Software Guide.html"
bash -n "$root/usr/share/bash-completion/completions/quorlan-cli"
"$root/usr/bin/quorlan-cli" --version
"$root/usr/bin/quorlan" --version
for page in quorlan-cli quorlan; do
    MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1" 2>/dev/null | grep -q "^NAME"
done

if [ "${QUORLAN_NO_SYSTEM_INSTALL:-0}" = 1 ] || [ "$(id -u)" -ne 0 ]; then
    echo "package checked unpacked (not installed)"
    exit 0
fi
if dpkg-query -W -f='${Status}' quorlan 2>/dev/null | grep -q "install ok installed"; then
    echo "check-package: quorlan is installed already; not touching it" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "$(realpath "$deb")" >/dev/null
files=$(dpkg -L quorlan | while read -r f; do [ -f "$f" ] && echo "$f"; done)
/usr/bin/quorlan-cli --version
MANWIDTH=80 man quorlan-cli 2>/dev/null | grep -q "READING A DISK WITHOUT ROOT"
MANWIDTH=80 man quorlan 2>/dev/null | grep -q "^NAME"
apt-get purge -y -qq -o DPkg::Lock::Timeout=120 quorlan >/dev/null
for f in $files; do
    if [ -e "$f" ]; then
        echo "check-package: $f is left after removal" >&2
        exit 1
    fi
done
echo "package installed, used and removed cleanly"
