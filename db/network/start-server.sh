#!/usr/bin/env bash
# Starts a private MariaDB server for tests, listening on 127.0.0.1 only, on
# a free port, with all its files in DIR, and loads the network schema.
#
#   start-server.sh DIR [--database NAME] [--user NAME] [--password PW]
#                       [--admin-password PW]
#
# Leaves in DIR: port (the TCP port), server.pid (the server's process id),
# general.log (every statement the server received), server.log.
# Accounts: NAME@127.0.0.1 with all rights on the database, and
# root@127.0.0.1 with the admin password (tests create their own databases).
# Stop it with stop-server.sh DIR.
set -euo pipefail

usage() { echo "usage: $0 DIR [--database NAME] [--user NAME] [--password PW] [--admin-password PW]" >&2; exit 2; }
[ $# -ge 1 ] || usage
DIR=$1; shift
DATABASE=noctila
DBUSER=kalo
DBPASS=kalo-net
ADMINPASS=kalo-admin
while [ $# -gt 0 ]; do
  case "$1" in
    --database) DATABASE=$2; shift 2 ;;
    --user) DBUSER=$2; shift 2 ;;
    --password) DBPASS=$2; shift 2 ;;
    --admin-password) ADMINPASS=$2; shift 2 ;;
    *) usage ;;
  esac
done
case "$DATABASE$DBUSER" in *[!A-Za-z0-9_]*) echo "database and user names: letters, digits and _ only" >&2; exit 2 ;; esac

HERE=$(cd "$(dirname "$0")" && pwd)
SCHEMA=$HERE/schema.sql

# The server's programs, also where a plain user's PATH does not reach
# (mariadbd is in /usr/sbin).
tool() {
  PATH=$PATH:/usr/sbin:/usr/bin command -v "$1" || { echo "$1 not found (package mariadb-server)" >&2; return 1; }
}
MARIADBD=$(tool mariadbd)
INSTALL_DB=$(tool mariadb-install-db)

# A server left over from an earlier run in the same folder goes first.
# Only a folder of ours is wiped: empty, or holding what this script leaves.
if [ -d "$DIR" ] && [ -n "$(ls -A "$DIR")" ] && [ ! -f "$DIR/install.log" ]; then
  echo "$DIR is not empty and not a test server folder; not touching it" >&2
  exit 2
fi
"$HERE/stop-server.sh" "$DIR" >/dev/null 2>&1 || true
rm -rf "$DIR"
mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)

# Unix socket paths are limited to about 107 bytes.
SOCK=$DIR/mysqld.sock
if [ ${#SOCK} -gt 100 ]; then
  SOCK=$(mktemp -d /tmp/kalo-netdb.XXXXXX)/mysqld.sock
fi
echo "$SOCK" >"$DIR/socket"

RUNAS=()
[ "$(id -u)" -ne 0 ] || RUNAS=(--user=root)
# A small buffer pool, and no room reserved to grow it: by default 10.11
# reserves 8 TiB of address space for that, which the emulator of an arm64
# machine (qemu-user) backs with gigabytes of its own bookkeeping until the
# kernel kills it. "loose": a server without the option ignores it.
POOL=(--innodb-buffer-pool-size=32M --loose-innodb-buffer-pool-size-max=32M)

"$INSTALL_DB" --no-defaults --datadir="$DIR/data" "${RUNAS[@]}" "${POOL[@]}" \
  --auth-root-authentication-method=normal --skip-test-db >"$DIR/install.log" 2>&1 || {
  echo "mariadb-install-db failed, see $DIR/install.log" >&2; exit 1; }

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

started=0
for attempt in 1 2 3 4 5; do
  PORT=$(free_port)
  # Own session, no inherited output: the caller (ctest) must not wait on us.
  setsid "$MARIADBD" --no-defaults --datadir="$DIR/data" --socket="$SOCK" \
    --port="$PORT" --bind-address=127.0.0.1 --skip-name-resolve "${RUNAS[@]}" \
    --skip-log-bin --pid-file="$DIR/mariadbd.pid" \
    --general-log=1 --general-log-file="$DIR/general.log" --log-output=FILE \
    "${POOL[@]}" --innodb-log-file-size=16M \
    --max-connections=200 \
    </dev/null >"$DIR/server.log" 2>&1 &
  PID=$!
  echo "$PID" >"$DIR/server.pid"
  for _ in $(seq 1 300); do
    if ! kill -0 "$PID" 2>/dev/null; then break; fi
    if mariadb-admin --no-defaults --socket="$SOCK" -uroot ping >/dev/null 2>&1; then
      started=1; break
    fi
    sleep 0.1
  done
  [ $started -eq 1 ] && break
  # Died (port taken meanwhile) or never answered: clean up and try another port.
  "$HERE/stop-server.sh" "$DIR" >/dev/null 2>&1 || true
done
if [ $started -ne 1 ]; then
  echo "MariaDB did not start, see $DIR/server.log" >&2
  exit 1
fi

sql() { mariadb --no-defaults --socket="$SOCK" -uroot "$@"; }
sql -e "CREATE DATABASE \`$DATABASE\` CHARACTER SET utf8mb4 COLLATE utf8mb4_bin"
sql "$DATABASE" <"$SCHEMA"
sql -e "CREATE OR REPLACE USER '$DBUSER'@'127.0.0.1' IDENTIFIED BY '${DBPASS//\'/\'\'}';
GRANT ALL PRIVILEGES ON \`$DATABASE\`.* TO '$DBUSER'@'127.0.0.1';
CREATE OR REPLACE USER 'root'@'127.0.0.1' IDENTIFIED BY '${ADMINPASS//\'/\'\'}';
GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
FLUSH PRIVILEGES;"

echo "$PORT" >"$DIR/port"
echo "MariaDB test server: 127.0.0.1:$PORT, pid $PID, folder $DIR"
