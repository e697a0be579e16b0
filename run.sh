#!/usr/bin/env bash
# Installs what is missing, builds and starts KALO-SQM.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALO_BUILD_TESTS=OFF -DKALO_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target kalosqm kalosqm-cli sqmle-sim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: KALO-SQM runs without windows (QT_QPA_PLATFORM=offscreen); stop it with Ctrl+C."
  export QT_QPA_PLATFORM=offscreen
fi
exec "$BUILD/bin/kalosqm" "$@"
