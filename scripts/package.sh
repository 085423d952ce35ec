#!/usr/bin/env bash
# Builds the Debian package dist/tenemark_<version>_amd64.deb from a clean build and checks it with
# lintian (which fails this script on an error). Install it with: sudo apt-get install ./dist/tenemark_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --package

build=build-package
rm -rf "$build"
# Debian's compiler and linker flags, hardening included; CMake reads CXXFLAGS and LDFLAGS but
# not CPPFLAGS.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTENEMARK_BUILD_TESTS=OFF -DTENEMARK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"
cpack --config "$build/CPackConfig.cmake" -B "$build/package"

mkdir -p dist
rm -f dist/tenemark_*.deb
mv "$build"/package/tenemark_*.deb dist/
deb=$(ls dist/tenemark_*.deb)
lintian --info "$deb"
echo "$deb"
