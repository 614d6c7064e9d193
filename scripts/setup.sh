#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs every Debian package the project needs. Safe to run again: it only calls apt-get
# when something is missing. Works as root and through sudo.
set -euo pipefail

PACKAGES=(
    cmake
    ninja-build
    g++
    pkg-config
    libgtest-dev
    libgmock-dev
    libcli11-dev
    libudev-dev
    nettle-dev
    nlohmann-json3-dev
    qt6-base-dev
    libqt6svg6
    # Records: SQLite at a station, libpq for a floor's PostgreSQL server.
    libsqlite3-dev
    libpq-dev
    # The PostgreSQL server the record tests start for themselves, for the tests only.
    postgresql
    # srec_cat, for the tests only: it writes the Intel HEX and S-record forms that pack must
    # read as their raw equivalent.
    srecord
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
