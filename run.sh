#!/usr/bin/env bash
# Installs what is missing, builds and starts KALO-SQM.
#   ./run.sh [ARGS]       the desktop program (without a display: the station service)
#   ./run.sh demo [ARGS]  the demo: a simulated meter, its own folder build/demo/
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALO_BUILD_TESTS=OFF -DKALO_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target kalosqm kalosqm-cli sqmle-sim kalosqm-station
if [ "${1:-}" = demo ]; then
  shift
  exec "$BUILD/bin/kalosqm-station" --demo "$@"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: the station service kalosqm-station runs instead of the desktop program, on"
  echo "$BUILD/bin/Dati/KALOSQMDATA.FDB (waiting when no site is marked for autostart); stop it with Ctrl+C."
  echo "./run.sh demo shows it reading a simulated meter."
  # The desktop program's arguments ("noautoplay") mean nothing to the service.
  exec "$BUILD/bin/kalosqm-station" --wait
fi
exec "$BUILD/bin/kalosqm" "$@"
