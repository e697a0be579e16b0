#!/usr/bin/env bash
# What a Debian package holds, with the architecture taken out: its control
# members and its files with their modes (and links with their targets), the
# multiarch folder written <multiarch>. Packages of two architectures made
# from one tree list the same.
# usage: package_files.sh DEB
set -euo pipefail
export LC_ALL=C  # one order everywhere
deb=$1
arch=$(dpkg-deb -f "$deb" Architecture)
triplet=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - | awk '{sub(/^\.\//, "", $6); if ($6 != "" && $6 != ".") print "control", $1, $6}' | sort
dpkg-deb -c "$deb" | awk '{
    line = $1; for (i = 6; i <= NF; i++) line = line " " $i
    sub(/ \.\//, " /", line); print "data", line }' |
  sed "s#/$triplet/#/<multiarch>/#g; s#/$triplet\$#/<multiarch>#" | sort
