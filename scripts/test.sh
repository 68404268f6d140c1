#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (under Xvfb, for the browser engine).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
# The browser engine refuses to run as root without this; GPU is not there under Xvfb.
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu --disable-background-networking --disable-component-update --no-first-run"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset default
