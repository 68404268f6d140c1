#!/usr/bin/env bash
# Installs what is missing, builds, starts the stand-in operator system and update server on
# loopback, and runs Vesmora pointed at them. Sign in with the credentials the page shows.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

log=$(mktemp -d)
build/bin/standin --port 0 --log "$log/requests.log" >"$log/standin.out" 2>&1 &
standin=$!
trap 'kill $standin 2>/dev/null || true; rm -rf "$log"' EXIT
for _ in $(seq 50); do
    grep -q 'listening on' "$log/standin.out" 2>/dev/null && break
    sleep 0.1
done
base=$(sed -n 's/^listening on //p' "$log/standin.out" | head -n 1)
[ -n "$base" ] || { echo "the stand-in server did not start" >&2; cat "$log/standin.out" >&2; exit 1; }
echo "stand-in servers at $base"

export VESMORA_OPERATOR_URL="$base"
export VESMORA_UPDATE_URL="$base"
export VESMORA_VENDOR_URL="${VESMORA_VENDOR_URL:-$base/soft/}"
if [ "$(id -u)" -eq 0 ]; then
    # The browser engine's sandbox cannot run as root.
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---no-sandbox --disable-gpu}"
fi
# Run from a folder of its own, as installed: the update check tidies the program folder.
mkdir -p build/demo
cp build/bin/vesmora build/demo/vesmora
build/demo/vesmora
