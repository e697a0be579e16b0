#!/usr/bin/env bash
# Stops the test server that start-server.sh started in DIR, by the process
# id it recorded, and removes its data. Logs stay for inspection.
#
#   stop-server.sh DIR
set -uo pipefail

[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
DIR=$1
[ -d "$DIR" ] || exit 0
DIR=$(cd "$DIR" && pwd)

if [ -f "$DIR/server.pid" ]; then
  PID=$(cat "$DIR/server.pid")
  # Only a server of this folder: the id may have been reused since.
  if [[ "$PID" =~ ^[0-9]+$ ]] && [ -r "/proc/$PID/cmdline" ] &&
     tr '\0' '\n' <"/proc/$PID/cmdline" | grep -qxF -- "--datadir=$DIR/data"; then
    kill -TERM "$PID" 2>/dev/null
    for _ in $(seq 1 300); do
      kill -0 "$PID" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$PID" 2>/dev/null; then
      kill -KILL "$PID" 2>/dev/null
      sleep 0.2
    fi
  fi
  rm -f "$DIR/server.pid"
fi

if [ -f "$DIR/socket" ]; then
  SOCKDIR=$(dirname "$(cat "$DIR/socket")")
  case "$SOCKDIR" in /tmp/kalo-netdb.*) rm -rf "$SOCKDIR" ;; esac
fi
rm -rf "$DIR/data" "$DIR/port"
exit 0
