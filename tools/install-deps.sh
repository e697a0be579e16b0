#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Only what is missing is installed; safe to run again.
set -euo pipefail
PKGS=(
  build-essential cmake pkg-config git
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils
  libmariadb-dev mariadb-server mariadb-client
  qt6-base-dev libqt6opengl6-dev libgl-dev qt6-translations-l10n
  gettext locales
  libgtest-dev libgmock-dev libbenchmark-dev liberfa-dev
  python3 xvfb
  libuemf-dev libwmf-bin emf2svg fonts-urw-base35
  libcli11-dev qt6-svg-dev libmicrohttpd-dev
  chromium prometheus
  help2man file dpkg-dev
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A comma-decimal locale: tests check that parsing and statements never depend on it.
if ! locale -a 2>/dev/null | grep -qi '^it_IT\.utf8$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO localedef -i it_IT -f UTF-8 it_IT.UTF-8
fi
