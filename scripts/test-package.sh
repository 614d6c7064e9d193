#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package and exercises it as a user would: its contents and dependencies,
# lintian, installing it on this machine, running what it installed, and removing it with
# --purge, which must leave nothing behind.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
command -v lintian >/dev/null ||
    "${as_root[@]}" apt-get install -y --no-install-recommends lintian >/dev/null

deb="$(bash "$root/scripts/package.sh" | tail -n 1)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() {
    if [ "$2" = "$3" ]; then
        echo "ok   $1"
    else
        echo "FAIL $1: expected [$2], got [$3]" >&2
        failures=$((failures + 1))
    fi
}

if dpkg-query -W -f='${Status}' quorvale 2>/dev/null | grep -q 'install ok installed'; then
    echo "quorvale is installed on this machine already; not touching it" >&2
    exit 1
fi

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$work/contents"
for path in /usr/bin/quorvale /usr/bin/quorvale-bootloader /usr/bin/quorvale-station \
    /usr/share/applications/quorvale-bootloader.desktop \
    /usr/share/applications/quorvale-station.desktop \
    /usr/share/icons/hicolor/scalable/apps/quorvale-bootloader.svg \
    /usr/share/man/man1/quorvale.1.gz /usr/share/man/man1/quorvale-bootloader.1.gz \
    /usr/share/man/man1/quorvale-station.1.gz \
    /usr/share/bash-completion/completions/quorvale \
    /usr/share/doc/quorvale/copyright /usr/share/doc/quorvale/changelog.gz; do
    check "the package holds $path" 1 "$(grep -cx "$path" "$work/contents")"
done
check "the version is the project's" \
    "$(sed -n 's/^project(quorvale VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" \
    "$(dpkg-deb -f "$deb" Version)"
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libudev1 libnettle8 libqt6widgets6 libc6; do
    check "it depends on $library" 1 "$(grep -c "$library" <<<"$depends")"
done
check "lintian finds no error or warning" "" \
    "$(lintian "$deb" 2>&1 | grep -E '^(E|W):' || true)"

"${as_root[@]}" dpkg -i "$deb" >/dev/null
check "the installed tool runs" "quorvale 1.0.0" "$(/usr/bin/quorvale --version)"
head -c 1000 /dev/urandom >"$work/raw.bin"
/usr/bin/quorvale pack "$work/raw.bin" "$work/fw.qvx" --baud 57600 --start 0x1000 --hardware 7 \
    --version 2
check "it reads what it packed" "Hardware: 7" "$(/usr/bin/quorvale info "$work/fw.qvx" | sed -n 2p)"
check "its manual page is there" 1 "$(zcat /usr/share/man/man1/quorvale.1.gz | grep -c '^\.TH QUORVALE 1')"
check "its completion loads" "complete -F _quorvale quorvale" \
    "$(bash -c 'source /usr/share/bash-completion/completions/quorvale; complete -p quorvale')"
check "the dialog program is linked completely" "" "$(ldd /usr/bin/quorvale-bootloader | grep 'not found' || true)"
check "the station program is linked completely" "" "$(ldd /usr/bin/quorvale-station | grep 'not found' || true)"
check "the station runs" "quorvale-station 1.0.0" "$(/usr/bin/quorvale-station --version)"

"${as_root[@]}" dpkg --purge quorvale >/dev/null
left=0
while read -r path; do
    [ ! -e "$path" ] || left=$((left + 1))
done <"$work/contents"
check "purge leaves none of its files" 0 "$left"
check "purge forgets the package" "" "$(dpkg-query -W -f='${Status}' quorvale 2>/dev/null || true)"

echo "package: $failures failed"
[ "$failures" -eq 0 ]
