#!/usr/bin/env bash
# The Windows lane: cross-builds every target except the sign-in window (Qt WebEngine exists only
# for MSVC) with mingw-w64, and runs every test program under wine, headless, with the Chinese
# code page (936). Installs what is missing. Qt for mingw comes from the cache
# $VESMORA_QT_MINGW_CACHE (default ../shared/windows/qt6-mingw.tar.xz beside the repository) or,
# without it, is built from Debian's source. Everything goes to build-windows/
# ($VESMORA_WINDOWS_BUILD).
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
repo=$(pwd)
source scripts/windows/lib.sh
area=${VESMORA_WINDOWS_BUILD:-$repo/build-windows}
mkdir -p "$area"
area=$(cd "$area" && pwd)
project=$area/project
started=$SECONDS

packages=(
    g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64
    dpkg-dev patch xz-utils locales tcl
)

# libxlsxwriter cross-built from Debian's source of the version the Linux build uses, cpp-httplib's
# single header, and SQLite's amalgamation made from its Debian source (by its own Tcl script) and
# compiled as a static library (Debian's patches applied to all three).
provide_libraries() {
    local deps=$area/deps
    local recipe
    recipe="$(dpkg-query -W -f='${source:Version} ' libxlsxwriter-dev libcpp-httplib-dev libsqlite3-dev)$(sha256sum <scripts/windows/mingw-toolchain.cmake)"
    if [ -f "$deps/.recipe" ] && [ "$(cat "$deps/.recipe")" = "$recipe" ]; then
        echo "libraries already in $deps"
        return
    fi
    rm -rf "$deps" "$area/xlsxwriter-build" "$area/sqlite-build"
    local xlsxwriter httplib sqlite
    xlsxwriter=$(debian_source "$area" "libxlsxwriter=$(dpkg-query -W -f='${source:Version}' libxlsxwriter-dev)")
    httplib=$(debian_source "$area" "cpp-httplib=$(dpkg-query -W -f='${source:Version}' libcpp-httplib-dev)")
    cmake -S "$xlsxwriter" -B "$area/xlsxwriter-build" -G Ninja --log-level=WARNING \
        -DCMAKE_TOOLCHAIN_FILE="$repo/scripts/windows/mingw-toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" -DZLIB_USE_STATIC_LIBS=ON
    cmake --build "$area/xlsxwriter-build"
    cmake --install "$area/xlsxwriter-build" >/dev/null
    install -D -m 644 "$httplib/httplib.h" "$deps/include/httplib.h"
    sqlite=$(debian_source "$area" "sqlite3=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev)")
    mkdir -p "$area/sqlite-build"
    (cd "$area/sqlite-build" && "$sqlite/configure" --disable-tcl >/dev/null && make sqlite3.c >/dev/null)
    x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
        -c "$area/sqlite-build/sqlite3.c" -o "$area/sqlite-build/sqlite3.o"
    mkdir -p "$deps/lib"
    x86_64-w64-mingw32-ar rcs "$deps/lib/libsqlite3.a" "$area/sqlite-build/sqlite3.o"
    install -D -m 644 "$area/sqlite-build/sqlite3.h" "$deps/include/sqlite3.h"
    rm -rf "$area/xlsxwriter-build" "$area/sqlite-build" "$(dirname "$xlsxwriter")" "$(dirname "$httplib")" \
        "$(dirname "$sqlite")"
    echo "$recipe" >"$deps/.recipe"
}

# libpq cross-built from Debian's postgresql-15 source (Debian's patches applied), the version of
# the Linux build's libpq-dev: only libpq and the two helper libraries it links, without SSL, GSS,
# LDAP or NLS (the Windows lane's team tests run against a server on loopback). In its own prefix
# with its own recipe, as it takes a few minutes to build.
provide_libpq() {
    local prefix=$area/libpq build=$area/libpq-build
    local recipe
    recipe="$(dpkg-query -W -f='${source:Version}' libpq-dev) $(sha256sum <scripts/windows/mingw-toolchain.cmake)"
    if [ -f "$prefix/.recipe" ] && [ "$(cat "$prefix/.recipe")" = "$recipe" ]; then
        echo "libpq already in $prefix"
        return
    fi
    rm -rf "$prefix" "$build"
    local source
    # Another version of the client library serves as well, where the mirror lacks this one's source.
    source=$(debian_source "$area" "postgresql-15=$(dpkg-query -W -f='${source:Version}' libpq-dev)" any)
    mkdir -p "$build"
    (cd "$build" && "$source/configure" -q --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
        --without-readline --without-zlib --without-icu --without-openssl --without-gssapi --without-ldap \
        --without-llvm --without-lz4 --without-zstd --disable-nls >/dev/null)
    # Only what libpq needs: the generated headers, and the client halves of src/port and src/common
    # (their "all" targets also build the server's copies). -o keeps libpq's make from asking for all.
    make -s -C "$build/src/backend" generated-headers
    make -s -j2 -C "$build/src/port" libpgport.a libpgport_shlib.a
    make -s -j2 -C "$build/src/common" libpgcommon.a libpgcommon_shlib.a
    make -s -j2 -C "$build/src/interfaces/libpq" -o submake-libpgport -o submake-generated-headers all-shared-lib
    install -D -m 755 "$build/src/interfaces/libpq/libpq.dll" "$prefix/bin/libpq.dll"
    install -D -m 644 "$build/src/interfaces/libpq/libpq.a" "$prefix/lib/libpq.a"
    install -D -m 644 -t "$prefix/include" "$source/src/interfaces/libpq/libpq-fe.h" \
        "$source/src/interfaces/libpq/libpq-events.h" "$source/src/include/postgres_ext.h" \
        "$build/src/include/pg_config_ext.h"
    rm -rf "$build" "$(dirname "$source")"
    echo "$recipe" >"$prefix/.recipe"
}

configure() {
    cmake -S . -B "$project" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$repo/scripts/windows/mingw-toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$area/qt6-mingw;$area/deps;$area/libpq" \
        -DCMAKE_FIND_ROOT_PATH="$area/qt6-mingw;$area/deps;$area/libpq" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DZLIB_USE_STATIC_LIBS=ON \
        -DVESMORA_ADDRESS_OVERRIDES=ON -DVESMORA_TEST_SEAMS=ON \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/scripts/windows/wine-test.sh"
}

# What windeployqt would put beside the programs: Qt's libraries and plugins, the mingw runtime, and
# libpq.dll, which a Windows program finds beside it.
deploy() {
    local bin=$project/bin qt=$area/qt6-mingw
    cp -u "$qt"/bin/Qt6{Core,Gui,Widgets,Network,Test}.dll "$bin/"
    for plugin in platforms/qoffscreen platforms/qwindows styles/qwindowsvistastyle tls/qschannelbackend; do
        mkdir -p "$bin/$(dirname "$plugin")"
        cp -u "$qt/plugins/$plugin.dll" "$bin/$plugin.dll"
    done
    cp -u /usr/lib/gcc/x86_64-w64-mingw32/12-posix/{libstdc++-6,libgcc_s_seh-1}.dll \
        /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$bin/"
    cp -u "$area/libpq/bin/libpq.dll" "$bin/"
    # Qt's own Chinese texts: the catalogue is the same file on every system.
    mkdir -p "$bin/translations"
    cp -u /usr/share/qt6/translations/qtbase_zh_CN.qm "$bin/translations/"
}

# The wine prefix and the Chinese locale wine takes its code page from, kept in the build folder.
export WINEPREFIX=$area/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LOCPATH=$area/locale
# Headless: the tests draw on Qt's offscreen platform, for which wine needs no X server; the one
# test on the system's own windows gets an Xvfb display.
unset DISPLAY WAYLAND_DISPLAY
prepare_wine() {
    if [ ! -d "$LOCPATH/zh_CN.UTF-8" ]; then
        mkdir -p "$LOCPATH"
        localedef -i zh_CN -f UTF-8 "$LOCPATH/zh_CN.UTF-8"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        LC_ALL=zh_CN.UTF-8 wineboot -i
        wineserver -w
    fi
}

# The team database's tests need a PostgreSQL server, which wine cannot start (it is a Linux
# program): one throwaway server on loopback for the whole run, made by the same script as the
# Linux tests use; the tests find it through VESMORA_TEST_POSTGRES. It ends with this script.
postgres_dir=""
start_postgres() {
    postgres_dir=$(mktemp -d)
    local port
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    python3 -c 'import secrets; print(secrets.token_hex(12))' >"$postgres_dir/password"
    bash tests/support/postgres-server.sh init "$postgres_dir"
    bash tests/support/postgres-server.sh run "$postgres_dir" "$port" >"$postgres_dir/server.log" 2>&1 &
    local _
    for _ in $(seq 60); do
        /usr/lib/postgresql/15/bin/pg_isready -q -h 127.0.0.1 -p "$port" && break
        sleep 0.5
    done
    export VESMORA_TEST_POSTGRES="host=127.0.0.1 port=$port user=postgres password=$(cat "$postgres_dir/password")"
}
stop_postgres() {
    [ -n "$postgres_dir" ] || return 0
    bash tests/support/postgres-server.sh stop "$postgres_dir" fast || true
    wait
    rm -rf "$postgres_dir"
    postgres_dir=""
}
trap stop_postgres EXIT

# Every test program, two at a time, each run once: a failing case fails the lane. Only a program
# that printed no test output, which is wine failing to start it, is run again, by wine-test.sh,
# which says so in the log. Programs copied elsewhere by the tests find Qt's libraries and plugins
# through WINEPATH and QT_PLUGIN_PATH (wine passes QT_* variables on only when they are spelt
# WINEQT_*).
run_tests() {
    local bin status
    bin="Z:$(echo "$project/bin" | tr / '\\')"
    start_postgres
    # On an Xvfb display, for the one test on the system's own windows. This prefix's wine server
    # and wine's own service processes, which would linger a while, end before the display does.
    LC_ALL=zh_CN.UTF-8 WINEPATH="$bin" WINEQT_PLUGIN_PATH="$bin" xvfb-run -a -s "-screen 0 1280x1024x24" \
        bash -c 'ctest --test-dir "$1" --output-on-failure -j 2; status=$?; wineserver -k 2>/dev/null; exit $status' \
        - "$project" && status=0 || status=$?
    # What ran: each program's totals, every skipped case with its reason, and every program wine
    # had to be asked twice to start.
    grep -hE "^(Totals|SKIP)|Start testing of|printed no test output" "$project/Testing/Temporary/LastTest.log" ||
        true
    stop_postgres
    return $status
}

step "set-up" bash scripts/setup.sh "${packages[@]}"
step "Qt for mingw" bash scripts/windows/provide-qt.sh "$area"
step "libxlsxwriter, cpp-httplib and SQLite" provide_libraries
step "libpq" provide_libpq
step "configure" configure
step "build" cmake --build "$project"
step "deploy" deploy
step "wine prefix" prepare_wine
step "tests under wine" run_tests
echo "Windows lane passed in $((SECONDS - started)) s"
