#!/usr/bin/env bash
# Makes kalosqm_<version>_arm64.deb on an amd64 Debian 12 machine: the same
# sources and CMake, cross-compiled with Debian's multiarch
# (crossbuild-essential-arm64 and the :arm64 development packages).
#
#   packaging/cross/package-arm64.sh [--tests] [--fresh]     (as root; ./package.sh --arch arm64)
#
# The cross build runs in an amd64 Debian 12 root of its own
# ($KALO_ROOTS/build-amd64), not on this machine: firebird-dev and
# libmariadb-dev cannot be installed for two architectures at once, so their
# :arm64 copies would remove the amd64 ones the normal build needs.
# Programs the build runs (the database upgrade, help2man on --help) are
# arm64 ones, run by qemu-user-static through binfmt_misc.
#
# Leaves build-arm64/kalosqm_<version>_arm64.deb (or $BUILD_DIR). --tests
# also builds the core's Qt-free test suites in build-arm64-tests/ (or
# $TESTS_BUILD_DIR) for tools/arm64-check.sh to run in an arm64 root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
. "$here/roots.sh"

tests=0
while (($#)); do
  case $1 in
    --tests) tests=1 ;;
    --fresh) export FRESH=1 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[[ $(id -u) == 0 ]] || { echo "run as root (mmdebstrap, chroot, mount)" >&2; exit 1; }
[[ $(dpkg --print-architecture) == amd64 ]] || { echo "this script cross-compiles on amd64" >&2; exit 1; }

build=${BUILD_DIR:-$src/build-arm64}
tests_build=${TESTS_BUILD_DIR:-$src/build-arm64-tests}
root=$KALO_ROOTS/build-amd64
jobs=${JOBS:-2}
started=$SECONDS

kalo_host_tools
kalo_binfmt
mkdir -p "$KALO_ROOTS"
exec 9>"$KALO_ROOTS/.build.lock"
flock 9
trap kalo_cleanup_mounts EXIT
kalo_umount_all "$root"
kalo_make_root amd64 "$root"
kalo_mount_system "$root"

# The :arm64 packages are what tools/install-deps.sh installs for the normal
# build; the amd64 ones are the build's own tools (isql-fb and the embedded
# engine make the first database, Qt's moc, msgfmt, help2man) and lintian.
# libib-util (Firebird) ships a lintian override that differs between its
# amd64 and arm64 copies, so they would not install side by side; the build
# root needs no such overrides.
echo 'path-exclude=/usr/share/lintian/overrides/*' >"$root/etc/dpkg/dpkg.cfg.d/90kalo-multiarch"
if ! grep -qx arm64 <(kalo_in "$root" dpkg --print-foreign-architectures); then
  kalo_in "$root" dpkg --add-architecture arm64
  rm -f "$root/.kalo-apt-updated"
fi
kalo_apt "$root" crossbuild-essential-arm64 cmake make pkg-config gettext help2man file dpkg-dev gzip \
  ccache lintian python3 locales \
  firebird3.0-utils firebird3.0-server-core qt6-base-dev qt6-base-dev-tools libcli11-dev \
  firebird-dev:arm64 libfbclient2:arm64 firebird3.0-server-core:arm64 libmariadb-dev:arm64 \
  qt6-base-dev:arm64 libqt6opengl6-dev:arm64 libgl-dev:arm64 qt6-svg-dev:arm64 \
  libmicrohttpd-dev:arm64 libuemf-dev:arm64
((tests == 0)) || kalo_apt "$root" libgtest-dev:arm64 libgmock-dev:arm64 liberfa-dev:arm64

# The sources read-only; the build folders at /build and /build-tests, the
# paths the test programs are compiled with (the check binds them the same).
kalo_bind "$root" "$src" /src ro
mkdir -p "$build"
kalo_bind "$root" "$build" /build
env_in=(FIREBIRD_LOCK=/tmp/firebird)
# The machine's compiler cache, if it has one, with its own size limit (a
# smaller default would trim everyone's cache); CCACHE_DISABLE=1 builds
# without it, as from nothing.
if [[ -z ${CCACHE_DISABLE:-} ]] && command -v ccache >/dev/null && cache=$(ccache -k cache_dir 2>/dev/null) && [[ -d $cache ]]; then
  kalo_bind "$root" "$cache" /ccache
  # No folder in the hash: the package's and the tests' builds share objects.
  env_in+=(CCACHE_DIR=/ccache CCACHE_BASEDIR=/ CCACHE_NOHASHDIR=1 "CCACHE_MAXSIZE=$(ccache -k max_size)")
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
else
  launcher=()
fi

configure() {  # configure BUILD_FOLDER_IN_ROOT CMAKE_OPTIONS...
  local dir=$1; shift
  # The toolchain's flags are only read into a new cache.
  if [[ $src/cmake/toolchain-aarch64-linux-gnu.cmake -nt $root$dir/CMakeCache.txt ]]; then
    rm -rf "$root$dir/CMakeCache.txt" "$root$dir/CMakeFiles"
  fi
  kalo_in "$root" env "${env_in[@]}" cmake -S /src -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE=/src/cmake/toolchain-aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALO_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
}

kalo_say "building for arm64 (-j$jobs)"
configure /build -DCMAKE_INSTALL_PREFIX=/usr -DKALO_BUILD_TESTS=OFF
kalo_in "$root" env "${env_in[@]}" nice -n 10 cmake --build /build -j "$jobs" >"$build/build.log" 2>&1 \
  || { tail -40 "$build/build.log" >&2; exit 1; }

# dpkg-shlibdeps finds the arm64 libraries' packages when the host
# architecture it is told is arm64.
kalo_say "making the package"
rm -f "$build"/kalosqm_*_arm64.deb
kalo_in "$root" env "${env_in[@]}" sh -c 'cd /build && dpkg-architecture -aarm64 -c cpack -G DEB' >"$build/cpack.log" 2>&1 \
  || { tail -40 "$build/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/kalosqm_*_arm64.deb)

kalo_say "lintian"
kalo_in "$root" lintian --fail-on error "/build/$(basename "$deb")" >"$build/lintian.log" 2>&1 \
  || { cat "$build/lintian.log" >&2; echo "lintian found errors" >&2; exit 1; }

# The same files as the amd64 package (tests/packaging checks that one
# against the same list).
if ! "$src/tests/packaging/package_files.sh" "$deb" | diff -u <(grep -v '^#' "$src/packaging/package-files.txt") - >"$build/files.diff"; then
  cat "$build/files.diff" >&2
  echo "the arm64 package's files (+) are not those of packaging/package-files.txt (-)" >&2
  exit 1
fi

if ((tests)); then
  # The core's Qt-free suites (every kalo_add_gtest under tests/core) and
  # what they run: the command line, the delivered databases.
  mapfile -t suites < <(grep -rhoE 'kalo_add_gtest\([A-Za-z0-9_]+' "$src/tests/core" | sed 's/.*(//' | sort -u)
  mkdir -p "$tests_build"
  kalo_bind "$root" "$tests_build" /build-tests
  kalo_say "building the core's test suites for arm64: ${suites[*]}"
  configure /build-tests -DKALO_BUILD_TESTS=ON
  kalo_in "$root" env "${env_in[@]}" nice -n 10 cmake --build /build-tests -j "$jobs" --target "${suites[@]}" \
    >"$tests_build/build.log" 2>&1 || { tail -40 "$tests_build/build.log" >&2; exit 1; }
  printf '%s\n' "${suites[@]}" >"$tests_build/core-suites"
fi

kalo_say "done in $((SECONDS - started)) s: $deb"
echo "$deb"
