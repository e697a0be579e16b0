#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
BUILD=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$JOBS"
export QT_QPA_PLATFORM=offscreen
# The embedded engine's lock folder of our own: one left in /tmp/firebird by
# another user (root, say) would refuse every database of the tests.
export FIREBIRD_LOCK="${TMPDIR:-/tmp}/kalo-firebird-lock-$(id -u)"
mkdir -p "$FIREBIRD_LOCK"
cd "$BUILD"
ctest --output-on-failure -j "$JOBS" --timeout 600
