#!/bin/sh
# systemd-analyze verify on the unit as installed, its program paths pointed
# at the build (verify wants ExecStart to exist). Warnings fail it too:
# verify reports unknown keys and bad values but still exits 0.
# The sysusers.d file must make the unit's user, with the state folder as home.
# usage: verify_unit.sh UNIT STATION_EXE DELIVERED_DB SYSUSERS
set -u
unit=$1 exe=$2 db=$3 sysusers=$4
if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "systemd-analyze not found: the unit is not verified here"
  exit 77
fi
for line in '^Restart=on-failure$' '^ExecStart=/usr/bin/kalosqm-station --wait --dir /var/lib/kalosqm$' \
            '^WorkingDirectory=/var/lib/kalosqm$' '^User=kalosqm$' '^#AmbientCapabilities=CAP_SYS_TIME$' \
            '^ExecReload=/bin/kill -HUP \$MAINPID$'; do
  grep -q "$line" "$unit" || { echo "the unit lacks a line matching $line"; exit 1; }
done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed -e "s#/usr/bin/kalosqm-station#$exe#g" -e "s#/usr/share/kalosqm/KALOSQMDATA.FDB#$db#g" "$unit" \
  > "$dir/kalosqm-station.service"
# The capability line as the drop-in would add it must be accepted too.
sed -e 's/^#AmbientCapabilities=/AmbientCapabilities=/' "$dir/kalosqm-station.service" > "$dir/kalosqm-station-clock.service"
status=0
for u in "$dir/kalosqm-station.service" "$dir/kalosqm-station-clock.service"; do
  out=$(systemd-analyze verify "$u" 2>&1)
  rc=$?
  if [ $rc -ne 0 ] || [ -n "$out" ]; then
    echo "systemd-analyze verify $(basename "$u") (exit $rc):"
    printf '%s\n' "$out"
    status=1
  fi
done
if command -v systemd-sysusers >/dev/null 2>&1; then
  mkdir -p "$dir/root/etc"
  if ! out=$(systemd-sysusers --root="$dir/root" - < "$sysusers" 2>&1); then
    echo "systemd-sysusers refused $sysusers:"; printf '%s\n' "$out"; status=1
  elif ! grep -q '^kalosqm:x:[0-9]*:[0-9]*:[^:]*:/var/lib/kalosqm:/usr/sbin/nologin$' "$dir/root/etc/passwd"; then
    echo "systemd-sysusers did not make the user kalosqm as the unit needs it:"; cat "$dir/root/etc/passwd"; status=1
  fi
fi
[ $status -eq 0 ] && echo "systemd-analyze verify: the unit passes"
exit $status
