#!/usr/bin/env bash
# Takes the README's pictures of the launcher and of its options dialog from the real
# program: publishes the sample client in examples/, serves it on loopback, lets Velmoran
# bring an empty client folder up to date and saves both windows into docs/.
#
#     updater/ui/assets/take_screenshots.sh [BUILD_DIR]
#
# BUILD_DIR (default build) must hold Velmoran, velmoran-publish and velmoran-serve.
# Runs on Qt's offscreen platform, so no display is needed.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d)"
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$build/bin/velmoran-publish" "$root/examples/client" "$work/server" >/dev/null
cp "$root/examples/news.html" "$work/server/news.html"
"$build/bin/velmoran-serve" "$work/server" >"$work/serve.out" 2>/dev/null &
server_pid=$!
for _ in $(seq 100); do
    grep -q "^Serving" "$work/serve.out" 2>/dev/null && break
    sleep 0.1
done
url="$(sed -n 's/^Serving .* at \(http[^ ]*\)$/\1/p' "$work/serve.out")"
[ -n "$url" ] || { echo "velmoran-serve did not start" >&2; exit 1; }

# A player's folder that has only the game's settings yet; the run fetches the rest.
mkdir -p "$work/client/system" "$work/home" "$work/desktop"
cp "$root/examples/client/system/option.ini" "$work/client/system/"
sed "s|@SERVER@|$url|g" "$root/examples/_settings.ini" >"$work/client/_settings.ini"

cd "$work/client"
HOME="$work/home" VELMORAN_DESKTOP_DIR="$work/desktop" QT_QPA_PLATFORM=offscreen \
    QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
    "$build/bin/Velmoran" --screenshot "$root/docs" >/dev/null 2>&1
echo "Saved $root/docs/launcher.png and $root/docs/options.png"
