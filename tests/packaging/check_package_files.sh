#!/usr/bin/env bash
# The package of this build tree holds exactly the files that
# packaging/package-files.txt lists, the list the arm64 package is held to
# as well (packaging/cross/package-arm64.sh): a file added to, moved in or
# dropped from one architecture's package and not the other's fails here,
# without an arm64 build.
# usage: check_package_files.sh BUILD_DIR VERSION LIST WITH_DESKTOP(0|1) LIBDIR
# LIBDIR is the tree's CMAKE_INSTALL_LIBDIR: Debian's multiarch folder when it
# was configured for /usr (./package.sh, the arm64 build), plain lib for
# another prefix (a test build), whose package then has its libraries there.
set -uo pipefail
build=$1 version=$2 list=$3 desktop=$4 libdir=$5
# The list is the full package's, desktop program included.
[[ $desktop == 1 ]] || { echo "a build without the desktop program: not the package of the list"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
for tool in cpack dpkg-deb dpkg-architecture; do
  command -v "$tool" >/dev/null || { echo "$tool not found: the package is not checked here"; exit 77; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"; exit 1
fi
deb=$scratch/out/kalosqm_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { echo "no $deb; made:"; ls "$scratch/out"; exit 1; }
"$here/package_files.sh" "$deb" >"$scratch/files" || exit 1
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=${libdir/$triplet/<multiarch>}
grep -v '^#' "$list" | sed "s#/usr/lib/<multiarch>/#/usr/$libdir/#" | LC_ALL=C sort -u >"$scratch/expected"
LC_ALL=C sort -u -o "$scratch/files" "$scratch/files"
if ! diff -u "$scratch/expected" "$scratch/files"; then
  echo "the package's files (+) are not those of $list (-): the arm64 package would differ."
  echo "Change the list with the install rules: $here/package_files.sh DEB lists a package."
  exit 1
fi

# The architecture is taken out: no folder of it is left in the list.
if grep "$triplet" "$scratch/files"; then echo "the list keeps the architecture (above)"; exit 1; fi
echo "the package holds the $(grep -c '^data' "$scratch/files") entries of $(basename "$list")"
