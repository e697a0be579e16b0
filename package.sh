#!/usr/bin/env bash
# Installs what is missing, builds the programs for /usr and makes the Debian
# package kalosqm_<version>_<arch>.deb in the build folder (build-package/,
# or $BUILD_DIR). Install it with: sudo apt install ./build-package/kalosqm_*.deb
# --arch arm64 makes the Raspberry Pi's package on this amd64 machine instead
# (packaging/cross/package-arm64.sh, in build-arm64/).
set -euo pipefail
cd "$(dirname "$0")"
arch=
case ${1:-} in
  --arch) arch=${2:?--arch wants an architecture}; shift 2 ;;
  --arch=*) arch=${1#--arch=}; shift ;;
esac
if [[ -n $arch && $arch != $(dpkg --print-architecture) ]]; then
  [[ $arch == arm64 ]] || { echo "package.sh: no cross build for $arch (arm64 only)" >&2; exit 2; }
  exec ./packaging/cross/package-arm64.sh "$@"
fi
./tools/install-deps.sh
BUILD=${BUILD_DIR:-build-package}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DKALO_BUILD_TESTS=OFF -DKALO_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}"
(cd "$BUILD" && cpack -G DEB)
ls "$BUILD"/kalosqm_*.deb
