#!/usr/bin/env bash
# Proves the README on a machine with nothing installed: a minimal Debian 12 root made with
# debootstrap, a clean clone of HEAD and a copy of ../shared inside it, then, with chroot and a clean
# environment, the README's test command, the demo command up to the sign-in window (under Xvfb,
# VESMORA_SMOKE=1) and the Windows lane. Prints each part's time; unmounts on every exit path.
#
# The base root is kept as a tarball in $VESMORA_FRESH_CACHE (default /var/cache/vesmora), so later
# runs only unpack it. The host's apt download cache is bind-mounted inside: downloaded packages
# only, never what the host has installed. Needs root.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
repo=$(pwd)
shared=$(cd "$repo/../shared" && pwd)
cache=${VESMORA_FRESH_CACHE:-/var/cache/vesmora}
base=$cache/debian12-minbase.tar.gz

[ "$(id -u)" -eq 0 ] || { echo "fresh-check.sh must run as root (debootstrap, chroot, mount)" >&2; exit 1; }

timings=()
part=""
begin() { part=$1; start=$SECONDS; echo "== $part"; }
finish() { timings+=("$(printf '%-40s %4d s' "$part:" $((SECONDS - start)))"); part=""; }

root=""
mounts=()
cleanup() {
    local status=$?
    [ -z "$part" ] || { part="$part (failed)"; finish; }
    local m p
    # Whatever still runs inside the root (an interrupted part) would keep its mounts busy.
    if [ -n "$root" ]; then
        for p in /proc/[0-9]*; do
            if [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ]; then kill -9 "${p#/proc/}" 2>/dev/null || true; fi
        done
        sleep 1
    fi
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        m=${mounts[i]}
        umount -R "$m" 2>/dev/null || umount -R -l "$m" 2>/dev/null || true
    done
    # Never remove a root that still has anything mounted in it: /dev is the host's.
    if [ -n "$root" ] && [ -d "$root" ]; then
        if findmnt -rn -o TARGET | grep -q "^$root/"; then
            echo "left $root in place: something is still mounted in it" >&2
        else
            rm -rf --one-file-system "$root"
        fi
    fi
    printf '%s\n' "${timings[@]}"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The mirror the host's own apt sources name for Debian 12's main suite (deb822 or one-line form).
debian_mirror() {
    local f uri=""
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        uri=$(awk '
            /^[[:space:]]*$/ { if (u != "" && s ~ /(^| )bookworm( |$)/ && t ~ /(^| )deb( |$)/) { print u; exit } u = s = t = ""; next }
            /^URIs:/ { split($0, a, /[[:space:]]+/); u = a[2] }
            /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); s = $0 }
            /^Types:/ { sub(/^Types:[[:space:]]*/, ""); t = $0 }
            END { if (u != "" && s ~ /(^| )bookworm( |$)/ && t ~ /(^| )deb( |$)/) print u }' "$f" | head -n 1)
        [ -z "$uri" ] || { echo "$uri"; return; }
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        uri=$(awk '$1 == "deb" && $3 == "bookworm" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) { print $i; exit } }' "$f")
        [ -z "$uri" ] || { echo "$uri"; return; }
    done
    echo "no Debian 12 (bookworm) source in the host's apt sources" >&2
    return 1
}

begin "base root"
if [ ! -f "$base" ]; then
    command -v debootstrap >/dev/null || {
        apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
    }
    mirror=$(debian_mirror)
    mkdir -p "$cache"
    made=$(mktemp -d "$cache/minbase.XXXXXX")
    debootstrap --variant=minbase bookworm "$made/root" "$mirror"
    tar -C "$made/root" -czf "$made/base.tar.gz" .
    mv "$made/base.tar.gz" "$base"
    rm -rf --one-file-system "$made"
fi
root=$(mktemp -d "${TMPDIR:-/var/tmp}/vesmora-fresh.XXXXXX")
tar -C "$root" -xzf "$base"
finish

begin "prepare root"
# The host's apt sources and keys, so the root installs the same versions the host would.
rm -f "$root"/etc/apt/sources.list
cp -a /etc/apt/sources.list "$root/etc/apt/" 2>/dev/null || true
for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    if [ -f "$f" ]; then cp -a "$f" "$root/etc/apt/sources.list.d/"; fi
done
cp -a /usr/share/keyrings/. "$root/usr/share/keyrings/"
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

bind() { # bind SOURCE TARGET [rbind]
    mkdir -p "$2"
    mount "--${3:-bind}" "$1" "$2"
    mounts+=("$2")
    mount --make-rslave "$2"
}
mount -t proc proc "$root/proc"
mounts+=("$root/proc")
bind /sys "$root/sys" rbind
bind /dev "$root/dev" rbind
mkdir -p /var/cache/apt/archives/partial
bind /var/cache/apt/archives "$root/var/cache/apt/archives"

mkdir -p "$root/work"
git clone -q --no-local "$repo" "$root/work/main"
git -C "$root/work/main" checkout -q --detach "$(git -C "$repo" rev-parse HEAD)"
cp -a "$shared" "$root/work/shared"
chmod -R a-w "$root/work/shared"
finish

inside() { # inside COMMAND...: in the root's clone, with a clean environment
    # In the background and waited for, so that an interrupt reaches the clean-up at once.
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        CI="${CI:-}" bash -c 'cd /work/main && "$@"' inside "$@" </dev/null &
    wait $!
}

begin "README test command"
inside bash scripts/test.sh
finish

begin "README demo command (smoke)"
inside env VESMORA_SMOKE=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/run.sh
finish

begin "Windows lane"
inside bash scripts/test-windows.sh
finish
