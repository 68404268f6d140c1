#!/usr/bin/env bash
# provide-qt.sh AREA: puts Qt 6 for mingw-w64 into AREA/qt6-mingw. Unpacks the cache
# ($VESMORA_QT_MINGW_CACHE, default ../shared/windows/qt6-mingw.tar.xz beside the repository) when
# its sha256 is the one committed here; otherwise builds the same Qt from Debian's qt6-base source
# (about 25 minutes on 2 cores). Does nothing when AREA already holds the Qt of this recipe.
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$here/lib.sh"

area=$(mkdir -p "$1" && cd "$1" && pwd)
prefix=$area/qt6-mingw
cache=${VESMORA_QT_MINGW_CACHE:-$repo/../shared/windows/qt6-mingw.tar.xz}
expected=$(cat "$here/qt6-mingw.sha256")
# The host tools (moc, rcc, uic) are Debian's own Qt: the Windows Qt must be the same version.
host_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
recipe="$expected $host_version $(cat "$here/provide-qt.sh" "$here/mingw-toolchain.cmake" "$here"/qtbase-*.patch | sha256sum | cut -d' ' -f1)"

if [ -f "$prefix/.recipe" ] && [ "$(cat "$prefix/.recipe")" = "$recipe" ]; then
    echo "Qt for mingw already in $prefix"
    exit 0
fi
rm -rf "$prefix"

if [ -f "$cache" ] && [ "$(sha256sum "$cache" | cut -d' ' -f1)" = "$expected" ]; then
    echo "unpacking $cache"
    tar -xJf "$cache" -C "$area"
else
    if [ -f "$cache" ]; then
        echo "$cache does not have the expected sha256: building Qt from source"
    else
        echo "no Qt cache at $cache: building Qt from source"
    fi
    source_dir=$(debian_source "$area" "qt6-base=$host_version")
    patch -d "$source_dir" -p1 --forward <"$here"/qtbase-6.4.2-mingw-no-opengl.patch
    build=$area/qt-build
    rm -rf "$build"
    # Only what the programs and tests use; tabletevent is off because the repacked source has no
    # wintab, opengl and direct2d are off because the programs draw with the raster engine, and
    # Qt's own zlib is built in, so that no zlib1.dll has to travel with the programs.
    cmake -S "$source_dir" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$here/mingw-toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_xml=OFF -DFEATURE_opengl=OFF -DFEATURE_direct2d=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_system_zlib=OFF
    cmake --build "$build"
    cmake --install "$build"
    rm -rf "$build" "$(dirname "$source_dir")"
fi
echo "$recipe" >"$prefix/.recipe"
