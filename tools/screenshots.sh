#!/usr/bin/env bash
# Pictures of every page of the desktop program, tiled and maximised, in
# English, Italian and German, under a real X server (Xvfb) with a window
# manager (openbox): what a user sees, decorations included. Development
# only; not part of test.sh.
#
#   tools/screenshots.sh [BUILD_DIR] [OUT_DIR]     (defaults: build, /tmp/kalo-shots)
#
# OUT_DIR gets <lang>-<tiled|max>-page<N>.png (the main window),
# the same with -screen (the whole screen) and <lang>-settings.png.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-/tmp/kalo-shots}
size=${KALO_SCREEN_SIZE:-1600x1000}

missing=()
for p in xvfb openbox; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --build "$build" --target app_layout_tests
mkdir -p "$out"
# A display number nobody uses.
display=99
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp &
xvfb=$!
wm=
cleanup() {
  [ -n "$wm" ] && { kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null; } || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
DISPLAY=":$display" openbox &
wm=$!
sleep 1

lock=$(mktemp -d /tmp/kalo-fblock-shots.XXXXXX)
DISPLAY=":$display" QT_QPA_PLATFORM=xcb FIREBIRD_LOCK=$lock KALO_SCREENSHOTS=$out \
  "$build/tests/app_layout_tests" --gtest_filter='*RenderForScreenshots*'
rm -rf "$lock"
echo "screenshots in $out"
