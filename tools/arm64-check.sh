#!/usr/bin/env bash
# The arm64 package and the core's tests on an arm64 Debian 12 under
# emulation (qemu-user-static), on this amd64 machine, as root:
#
#   tools/arm64-check.sh [--fresh] [--no-build] [--amd64-cli FILE]
#
# Builds the package and the core's Qt-free test suites for arm64
# (packaging/cross/package-arm64.sh --tests; --no-build takes what
# build-arm64/ and build-arm64-tests/ hold), makes or reuses the root
# $KALO_ROOTS/arm64 (--fresh: a new one), installs the package there with apt
# as a station would, then runs in it: kalosqm-cli --help, kalosqm-cli astro
# against the amd64 build's output, the demo station until its simulated
# meter's first reading is stored, its /metrics, kalosqm-cli sites and
# readings on the demo's database, and the test suites. Everything listens
# on 127.0.0.1 only. Prints PASS, or FAIL and what failed, and its time.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
. "$src/packaging/cross/roots.sh"

build=1
amd64_cli=
while (($#)); do
  case $1 in
    --fresh) export FRESH=1 ;;
    --no-build) build=0 ;;
    --amd64-cli) amd64_cli=$2; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[[ $(id -u) == 0 ]] || { echo "run as root (mmdebstrap, chroot, mount)" >&2; exit 1; }
started=$SECONDS
debs=${BUILD_DIR:-$src/build-arm64}
tests_build=${TESTS_BUILD_DIR:-$src/build-arm64-tests}
root=$KALO_ROOTS/arm64

failed=()
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failed+=("$1"); }
finish() {
  local t=$((SECONDS - started))
  if ((${#failed[@]})); then
    echo "FAIL (${#failed[@]}: ${failed[*]}) in $((t / 60)) min $((t % 60)) s"
    exit 1
  fi
  echo "PASS in $((t / 60)) min $((t % 60)) s"
  exit 0
}

if ((build)); then
  FRESH=0 "$src/packaging/cross/package-arm64.sh" --tests >/dev/null || { fail "the arm64 build"; finish; }
fi
deb=$(ls "$debs"/kalosqm_*_arm64.deb 2>/dev/null | tail -1)
[[ -f $deb ]] || { fail "no arm64 package in $debs"; finish; }

# The amd64 build the astronomy is compared with.
if [[ -z $amd64_cli ]]; then
  for c in "$src/build/bin/kalosqm-cli" "$src/build-package/bin/kalosqm-cli"; do
    [[ -x $c ]] && { amd64_cli=$c; break; }
  done
fi

kalo_host_tools
kalo_binfmt || { fail "binfmt"; finish; }
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do
    for _ in $(seq 1 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$p" 2>/dev/null
  done
  # A test server the tests left running (its own folder says which).
  [[ -f $tests_build/tests/netdb-server/server.pid ]] && kill "$(cat "$tests_build/tests/netdb-server/server.pid")" 2>/dev/null
  kalo_cleanup_mounts
}
trap cleanup EXIT
mkdir -p "$KALO_ROOTS"
exec 9>"$KALO_ROOTS/.arm64.lock"
flock 9
kalo_umount_all "$root"
kalo_make_root arm64 "$root" || { fail "making the arm64 root"; finish; }
[[ $(kalo_in "$root" uname -m) == aarch64 ]] || { fail "the root is not aarch64"; finish; }
kalo_mount_system "$root"
kalo_bind "$root" "$(dirname "$deb")" /debs ro

# The package as a station installs it: apt pulls in its Depends. A reused
# root had it already: out first, so this one is what runs.
kalo_in "$root" dpkg-query -W kalosqm >/dev/null 2>&1 && kalo_in "$root" apt-get purge -y -qq kalosqm >/dev/null 2>&1
[[ -f $root/.kalo-apt-updated ]] || { kalo_in "$root" apt-get update -qq && touch "$root/.kalo-apt-updated"; }
t=$SECONDS
if kalo_in "$root" sh -c "cd /debs && apt-get install -y -qq ./$(basename "$deb")" >"$root.install.log" 2>&1; then
  pass "apt-get install ./$(basename "$deb") ($((SECONDS - t)) s)"
else
  tail -20 "$root.install.log"; fail "apt-get install"; finish
fi
# A tool of the check, after the package so that it brings in nothing the package needs.
kalo_apt "$root" curl || fail "installing curl"
kalo_in "$root" id kalosqm >/dev/null 2>&1 && [[ -d $root/var/lib/kalosqm ]] \
  && pass "the user kalosqm and /var/lib/kalosqm" || fail "postinst: no user kalosqm or /var/lib/kalosqm"

# The installed programs as a user on the Pi would run them: a home of
# their own, no display, the engine's lock folder in the root's /tmp.
home=/root
# An array, not a function: in the background a function is a subshell, and
# its process id not the program's (chroot and env exec it).
run=(chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME=$home LANG=C.UTF-8
     FIREBIRD_LOCK=/tmp/firebird-check QT_QPA_PLATFORM=offscreen)
out=$("${run[@]}" kalosqm-cli --help 2>&1) && [[ $out == *astro* && $out == *readings* ]] \
  && pass "kalosqm-cli --help" || fail "kalosqm-cli --help: $out"

# The astronomy, digit for digit with amd64: the asked instant and a few
# others (both hemispheres, a polar night, the date line).
cases=("45.85 11.57 2026-12-09 21:00:00" "45.85 11.57 2026-06-21 03:15:00" "-33.87 151.21 2027-03-20 10:00:00"
       "69.65 18.96 2026-12-21 12:00:00" "-54.8 -68.3 2026-01-01 00:00:00" "19.82 -155.47 2030-07-04 08:30:00")
if [[ -z $amd64_cli ]]; then
  fail "astro: no amd64 build to compare with (build/bin/kalosqm-cli; --amd64-cli FILE)"
else
  same=0
  for c in "${cases[@]}"; do
    read -r lat lon day time <<<"$c"
    a=$(env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "$amd64_cli" astro --lat "$lat" --lon "$lon" --utc "$day $time" 2>&1)
    b=$("${run[@]}" kalosqm-cli astro --lat "$lat" --lon "$lon" --utc "$day $time" 2>&1)
    if [[ -n $a && $a == "$b" ]]; then
      same=$((same + 1))
    else
      fail "astro $c differs from amd64:"; diff <(echo "$a") <(echo "$b") | sed 's/^/    /'
    fi
  done
  ((same == ${#cases[@]})) && pass "kalosqm-cli astro: the same digits as amd64 in ${#cases[@]} cases"
  "${run[@]}" kalosqm-cli astro --lat 45.85 --lon 11.57 --utc "2026-12-09 21:00:00" | sed 's/^/    /'
fi

# The demo: the arm64 simulator, the station, its page on 127.0.0.1.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null || echo 18731)
demo_dir=$home/.local/share/kalosqm-demo
rm -rf "$root$demo_dir"
log=$root.demo.log
t=$SECONDS
"${run[@]}" kalosqm-station --demo --http "127.0.0.1:$port" >"$log" 2>&1 &
station=$!
pids+=("$station")
for _ in $(seq 1 900); do
  grep -q 'site "Demo roof": reading' "$log" && break
  kill -0 "$station" 2>/dev/null || break
  sleep 0.2
done
if grep -q 'site "Demo roof": reading' "$log"; then
  pass "kalosqm-station --demo: the simulated meter's first reading stored after $((SECONDS - t)) s"
  grep -m1 'site "Demo roof": reading' "$log" | sed 's/^/    /'
else
  fail "kalosqm-station --demo: no reading"; sed 's/^/    /' "$log"
fi
metrics=$("${run[@]}" curl -fsS --max-time 30 "http://127.0.0.1:$port/metrics" 2>&1)
if [[ $metrics == *kalosqm_readings_stored_total* && $metrics == *kalosqm_sky_brightness_mag_per_arcsec* ]]; then
  pass "/metrics on 127.0.0.1:$port: $(grep -c '^kalosqm_' <<<"$metrics") samples"
else
  fail "/metrics: $metrics"
fi
# Memory at rest: after the first reading, between two readings. Under
# qemu-user the process is the emulator with the program in it, so this is
# the emulator's too: more than on a Pi.
sleep 10
rss=$(awk '/^VmRSS/{print $2}' "/proc/$station/status" 2>/dev/null)
[[ -n $rss ]] && echo "    the station's memory at rest under emulation: VmRSS $((rss / 1024)) MiB ($rss kB)"
kill -INT "$station"
wait "$station"; code=$?
[[ $code == 0 ]] && pass "the demo station stopped on SIGINT" || fail "the demo station ended with $code"

out=$("${run[@]}" kalosqm-cli --dir "$demo_dir" sites 2>&1)
if [[ $? == 0 && $out == *"Demo roof"* ]]; then pass "kalosqm-cli sites"; sed 's/^/    /' <<<"$out"
else fail "kalosqm-cli sites: $out"; fi
from=$(date -u -d '-2 hours' '+%Y-%m-%d %H:%M:%S'); to=$(date -u -d '+2 hours' '+%Y-%m-%d %H:%M:%S')
out=$("${run[@]}" kalosqm-cli --dir "$demo_dir" readings --site 1 --from "$from" --to "$to" 2>&1); code=$?
rows=$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2}' <<<"$out")
if [[ $code == 0 && $rows -ge 1 ]]; then pass "kalosqm-cli readings: $rows rows"; sed 's/^/    /' <<<"$out" | head -5
else fail "kalosqm-cli readings: $out"; fi

# The core's test suites, built for arm64, run here by ctest.
if [[ ! -f $tests_build/core-suites ]]; then
  fail "no arm64 test build in $tests_build (packaging/cross/package-arm64.sh --tests)"
  finish
fi
kalo_apt "$root" cmake mariadb-server mariadb-client liberfa1 python3 locales || { fail "the tests' packages"; finish; }
# A comma-decimal locale, as tools/install-deps.sh makes it for the tests.
kalo_in "$root" sh -c 'locale -a | grep -qi "^it_IT\.utf8$" || localedef -i it_IT -f UTF-8 it_IT.UTF-8' \
  || fail "making the it_IT.UTF-8 locale"
kalo_bind "$root" "$src" /src ro
kalo_bind "$root" "$tests_build" /build-tests
# ctest numbers the tests; those of the core's suites (and the test MariaDB
# server they need, which ctest adds) are chosen by their program.
"${run[@]}" ctest --test-dir /build-tests --show-only=json-v1 >"$root.tests.json" 2>/dev/null
numbers=$(python3 - "$root.tests.json" "$tests_build/core-suites" <<'EOF'
import json, os, sys
suites = set(open(sys.argv[2]).read().split())
tests = json.load(open(sys.argv[1]))["tests"]
print(",".join(str(i + 1) for i, t in enumerate(tests)
               if t.get("command") and os.path.basename(t["command"][0]) in suites))
EOF
)
count=$(tr ',' '\n' <<<"$numbers" | grep -c .)
t=$SECONDS
"${run[@]}" ctest --test-dir /build-tests -j2 --output-on-failure -I "0,0,0,$numbers" >"$root.ctest.log" 2>&1
code=$?
summary=$(grep -E 'tests passed|tests failed' "$root.ctest.log")
if [[ $code == 0 && $count -gt 0 ]]; then
  pass "$(wc -l <"$tests_build/core-suites") core suites, $count tests under emulation: $summary ($((SECONDS - t)) s)"
else
  fail "the core's tests under emulation: ${summary:-ctest ended with $code}"
  sed -n '/The following tests FAILED/,$p' "$root.ctest.log" | sed 's/^/    /'
fi
finish
