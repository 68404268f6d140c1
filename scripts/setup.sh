#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, and any named as arguments; does nothing when
# all are present.
# clang, its runtimes (libFuzzer) and llvm (llvm-symbolizer, for readable sanitizer reports) serve the
# fuzz targets; g++ brings the AddressSanitizer runtime of the asan preset. postgresql-15 is the
# server the team database's tests start and throw away (tests/support/postgres-server.sh).
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
    libgl-dev libxlsxwriter-dev libcpp-httplib-dev libsqlite3-dev libpq-dev postgresql-15
    xvfb xauth fonts-wqy-microhei qt6-translations-l10n
    python3 python3-openpyxl curl clang-format
    clang libclang-rt-14-dev llvm
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
