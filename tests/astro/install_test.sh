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
installed=$(find "$prefix" -type f -o -type l | sed "s|$prefix/||" | sort)
echo "$installed"

export PKG_CONFIG_PATH=$(dirname "$pc")
cflags=$(pkg-config --cflags astro)
libs=$(pkg-config --libs astro)
[[ $(pkg-config --modversion astro) == 1.0.0 ]]
export LD_LIBRARY_PATH=$(dirname "$library")

expected="2451545.000000 124.174015 0.000000"
"$cc" -std=c99 -Wall -Wextra -Werror -pedantic $cflags "$consumer" $libs -o "$scratch/consumer_c"
[[ $("$scratch/consumer_c") == "$expected" ]] || { echo "C consumer printed: $("$scratch/consumer_c")"; exit 1; }
"$cxx" -x c++ -Wall -Wextra -Werror $cflags "$consumer" -x none $libs -o "$scratch/consumer_cxx"
[[ $("$scratch/consumer_cxx") == "$expected" ]] || { echo "C++ consumer printed: $("$scratch/consumer_cxx")"; exit 1; }
echo "consumers built and ran against $prefix"
