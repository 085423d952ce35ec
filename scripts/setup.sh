#!/usr/bin/env bash
# Installs every Debian package that the build, the program and the tests need.
# Idempotent: returns quickly when everything is already there. Works as root or through sudo.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-svg-dev qt6-tools-dev-tools
    libgl-dev libjpeg62-turbo-dev libsqlite3-dev libsane-dev sane-airscan
    xvfb xauth imagemagick fonts-dejavu-core fonts-liberation2 sqlite3 time
    libwmf-dev libemf2svg-dev libuemf-dev librsvg2-dev fonts-urw-base35
    desktop-file-utils appstream
    libqt6sql6-psql libpq-dev postgresql
    e2fsprogs # chattr: a folder the superuser cannot write, for the read-only tests
    openbox # a window manager on Xvfb that frames the windows, for the window bounds test
    file # CPack reads the package's binaries with it (the Debian package test)
    # libmdb: reads catalogues kept in the Jet 4 (Access) format for conversion
    mdbtools-dev
    # the import benchmark makes its Jet file with the shared Python writer
    python3
)
# "--run" (from run.sh) adds what opens the reports: LibreOffice Calc and Writer and the desktop's
# opener. The tests never need them.
if [ "${1:-}" = "--run" ]; then
    packages+=(libreoffice-calc libreoffice-writer xdg-utils)
fi
# "--package" (from package.sh) adds the checker of the Debian package.
if [ "${1:-}" = "--package" ]; then
    packages+=(lintian)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
