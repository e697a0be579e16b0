#!/usr/bin/env bash
# Installs the astro component into a scratch prefix and builds a C and a
# C++ consumer against it through pkg-config.
# install_test.sh <build dir> <C compiler> <C++ compiler> <consumer.c>
set -euo pipefail
build=$1 cc=$2 cxx=$3 consumer=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --component astro --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name astro.pc)
header=$(find "$prefix" -name astro.h)
library=$(find "$prefix" -name 'libastro.so' -type l)
[[ -n $pc && -n $header && -n $library ]] || { echo "missing: pc=$pc header=$header lib=$library"; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc") LD_LIBRARY_PATH=$(dirname "$library")
[[ $(pkg-config --modversion astro) == 1.0.0 ]]
cflags=$(pkg-config --cflags astro) libs=$(pkg-config --libs astro)

"$cc" -std=c99 -Wall -Wextra -Werror -pedantic $cflags "$consumer" $libs -o "$scratch/consumer_c"
"$cxx" -x c++ -Wall -Wextra -Werror $cflags "$consumer" -x none $libs -o "$scratch/consumer_cxx"
for program in consumer_c consumer_cxx; do
  printed=$("$scratch/$program")
  [[ $printed == "2451545.000000 124.174015 0.000000" ]] || { echo "$program printed: $printed"; exit 1; }
done
echo "consumers built and ran against $prefix"
