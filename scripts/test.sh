#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three ways: the normal build, the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), and the fuzz targets
# over their seeds plus a short run of new inputs (build-fuzz/, see fuzz/CMakeLists.txt).
# The tests are independent, so each suite runs two at a time. Stops at the first failure; prints
# how long each part took.
set -euo pipefail
cd "$(dirname "$0")/.."

timings=()
part=""
begin() { part=$1; start=$SECONDS; }
finish() { timings+=("$(printf '%-34s %4d s' "$part:" $((SECONDS - start)))"); part=""; }
trap '[ -z "$part" ] || { part="$part (failed)"; finish; }; printf "%s\n" "${timings[@]}"' EXIT

begin "set-up"
bash scripts/setup.sh
finish

# The browser engine refuses to run as root without this; GPU is not there under Xvfb.
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu --disable-background-networking --disable-component-update --no-first-run"
xvfb() { xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; }

begin "normal build and suite"
bash scripts/build.sh
xvfb ctest --preset default -j2
finish

begin "asan build and suite"
cmake --preset asan >/dev/null
cmake --build --preset asan
xvfb ctest --preset asan -j2
finish

begin "fuzz build and runs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -j2
finish
