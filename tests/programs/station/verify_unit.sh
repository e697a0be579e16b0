#!/bin/sh
# systemd-analyze verify on the unit as installed, its program paths pointed
# at the build (verify wants ExecStart to exist). Warnings fail it too:
# verify reports unknown keys and bad values but still exits 0.
# The sysusers.d file must make the unit's user, with the state folder as home.
# The engine's lock folder must outlive the service: the unit keeps it after
# a stop and the tmpfiles.d file makes it for the user at boot and install.
# usage: verify_unit.sh UNIT STATION_EXE DELIVERED_DB SYSUSERS TMPFILES
set -u
unit=$1 exe=$2 db=$3 sysusers=$4 tmpfiles=$5
if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "systemd-analyze not found: the unit is not verified here"
  exit 77
fi
for line in '^Restart=on-failure$' '^ExecStart=/usr/bin/kalosqm-station --wait --dir /var/lib/kalosqm$' \
            '^WorkingDirectory=/var/lib/kalosqm$' '^User=kalosqm$' '^#AmbientCapabilities=CAP_SYS_TIME$' \
            '^ExecReload=/bin/kill -HUP \$MAINPID$'; do
  grep -q "$line" "$unit" || { echo "the unit lacks a line matching $line"; exit 1; }
done
grep -q '^Environment=FIREBIRD_LOCK=/run/kalosqm$' "$unit" || { echo "the unit lacks its lock folder"; exit 1; }
if grep -q '^RuntimeDirectory=kalosqm$' "$unit" && ! grep -q '^RuntimeDirectoryPreserve=yes$' "$unit"; then
  echo "the unit removes its lock folder /run/kalosqm when it stops (RuntimeDirectoryPreserve=yes keeps it)"
  exit 1
fi
grep -q '^d /run/kalosqm 0750 kalosqm kalosqm -$' "$tmpfiles" ||
  { echo "$tmpfiles does not make the lock folder /run/kalosqm for the user kalosqm"; exit 1; }
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
if command -v systemd-tmpfiles >/dev/null 2>&1 && [ -s "$dir/root/etc/passwd" ]; then
  # As installed: both folders made, owned by the user the sysusers file made.
  if ! out=$(systemd-tmpfiles --root="$dir/root" --create - < "$tmpfiles" 2>&1); then
    echo "systemd-tmpfiles refused $tmpfiles:"; printf '%s\n' "$out"; status=1
  else
    uid=$(grep '^kalosqm:' "$dir/root/etc/passwd" | cut -d: -f3)
    for d in /run/kalosqm /var/lib/kalosqm; do
      [ "$(stat -c %u "$dir/root$d" 2>/dev/null)" = "$uid" ] ||
        { echo "systemd-tmpfiles did not make $d for the user kalosqm"; status=1; }
    done
  fi
fi
[ $status -eq 0 ] && echo "systemd-analyze verify: the unit passes"
exit $status
