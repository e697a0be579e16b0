# Debian 12 roots for the arm64 package and its check, sourced by
# packaging/cross/package-arm64.sh and tools/arm64-check.sh. A root is made
# once with mmdebstrap and reused; commands run in it through chroot, with
# the folders they need bound in and unbound on exit. Runs as root.

KALO_ROOTS=${KALO_ROOTS:-/tmp/kalosqm-roots}
KALO_SUITE=bookworm
kalo_mounts=()

kalo_say() { echo "[$(date -u +%H:%M:%S)] $*" >&2; }

# apt on the build machine: only what is missing, only tools (no -dev package
# of the machine itself changes).
kalo_host_tools() {
  local missing=() p
  for p in qemu-user-static binfmt-support mmdebstrap; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    kalo_say "installing on this machine: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# arm64 programs run through qemu-user-static; the F flag (fix binary) makes
# that work inside a chroot too, where no qemu is installed.
kalo_binfmt() {
  [[ -e /proc/sys/fs/binfmt_misc/register ]] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if ! grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-aarch64 2>/dev/null; then
    update-binfmts --enable qemu-aarch64
  fi
  grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-aarch64 || { echo "qemu-aarch64 is not registered with binfmt_misc" >&2; return 1; }
}

kalo_mirror() {
  local m
  m=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  [[ -n $m ]] || m=$(awk '$1=="deb"{print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  echo "${m:-http://deb.debian.org/debian}"
}

# kalo_make_root ARCH DIR: a minimal Debian 12 of that architecture, made
# again when FRESH=1 or when an earlier attempt did not finish.
kalo_make_root() {
  local arch=$1 dir=$2 mirror
  if [[ ${FRESH:-0} == 1 || ! -f $dir/.kalo-root-ready ]]; then
    kalo_umount_all "$dir"
    # Never through a bound folder (the sources, a build folder).
    if [[ -d $dir ]] && awk -v d="$(cd "$dir" && pwd -P)" 'index($2, d "/") == 1 {f = 1} END {exit !f}' /proc/mounts; then
      echo "$dir still has folders mounted in it; not removing it" >&2
      return 1
    fi
    rm -rf --one-file-system "$dir"
    mkdir -p "$(dirname "$dir")"
    mirror=$(kalo_mirror)
    # mmdebstrap rather than debootstrap: it installs with apt in one go, so a
    # foreign root is made in under 2 minutes where debootstrap, configuring
    # package by package under emulation, took 9.
    kalo_say "mmdebstrap $arch $KALO_SUITE into $dir"
    mmdebstrap --arch="$arch" --variant=minbase --dpkgopt=force-unsafe-io "$KALO_SUITE" "$dir" "$mirror" \
      >"$dir.mmdebstrap.log" 2>&1 || { tail -20 "$dir.mmdebstrap.log" >&2; return 1; }
    cat >"$dir/etc/apt/sources.list" <<EOF
deb $mirror $KALO_SUITE main
deb $mirror $KALO_SUITE-updates main
deb http://deb.debian.org/debian-security $KALO_SUITE-security main
EOF
    # No service starts in a root (mariadb-server's postinst would start one).
    printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
    chmod 755 "$dir/usr/sbin/policy-rc.d"
    printf 'APT::Install-Recommends "false";\nAPT::Install-Suggests "false";\n' >"$dir/etc/apt/apt.conf.d/90kalo"
    # minbase has no hosts file; MariaDB's install wants localhost to resolve.
    [[ -s $dir/etc/hosts ]] || printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$dir/etc/hosts"
    # A scratch root: no fsync per file, which costs minutes under emulation.
    echo force-unsafe-io >"$dir/etc/dpkg/dpkg.cfg.d/90kalo-unsafe-io"
    touch "$dir/.kalo-root-ready"
  fi
  cp /etc/resolv.conf "$dir/etc/resolv.conf"
}

# kalo_bind DIR SOURCE TARGET [ro]
kalo_bind() {
  local dir=$1 src=$2 dst=$1$3
  mkdir -p "$dst"
  mount --bind "$src" "$dst"
  kalo_mounts+=("$dst")
  if [[ ${4:-} == ro ]]; then mount -o remount,ro,bind "$dst"; fi
}

kalo_mount_system() {
  local dir=$1
  mountpoint -q "$dir/proc" || { mount -t proc proc "$dir/proc"; kalo_mounts+=("$dir/proc"); }
  mountpoint -q "$dir/dev" || kalo_bind "$dir" /dev /dev
  mountpoint -q "$dir/dev/pts" || kalo_bind "$dir" /dev/pts /dev/pts
}

# Everything mounted under DIR, deepest first (also what a killed run left).
kalo_umount_all() {
  local dir=$1 m
  [[ -d $dir ]] || return 0
  dir=$(cd "$dir" && pwd -P)
  for m in $(awk -v d="$dir" '$2 == d || index($2, d "/") == 1 {print $2}' /proc/mounts | sort -r); do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}

kalo_cleanup_mounts() {
  local i
  for ((i = ${#kalo_mounts[@]} - 1; i >= 0; i--)); do
    umount "${kalo_mounts[i]}" 2>/dev/null || umount -l "${kalo_mounts[i]}" 2>/dev/null || true
  done
  kalo_mounts=()
}

# kalo_in DIR COMMAND...: a clean environment, as a login would give.
kalo_in() {
  local dir=$1; shift
  chroot "$dir" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

# kalo_apt DIR PACKAGE...: installs what is missing.
kalo_apt() {
  local dir=$1; shift
  local missing=() p
  for p in "$@"; do
    kalo_in "$dir" dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  kalo_say "apt-get install in $(basename "$dir"): ${#missing[@]} packages"
  if [[ ! -f $dir/.kalo-apt-updated ]] || [[ -n $(find "$dir/.kalo-apt-updated" -mmin +720) ]]; then
    kalo_in "$dir" apt-get update -qq && touch "$dir/.kalo-apt-updated"
  fi
  kalo_in "$dir" apt-get install -y -qq "${missing[@]}" >"$dir.apt.log" 2>&1 || { tail -30 "$dir.apt.log" >&2; return 1; }
}
