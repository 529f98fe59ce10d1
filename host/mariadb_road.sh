#!/usr/bin/env bash
# The road test of a type-4 device on a private MariaDB server: a fresh data
# folder, a free loopback port, the MariaDB ODBC driver registered under the
# name the library's connection string names in a private odbcinst.ini
# (ODBCSYSINI). The server is stopped by its process id whatever happens,
# and the whole run is bounded in time.
# usage: mariadb_road.sh ROAD_TEST QUILLMORE_HOST QUILLMORE SAMPLE_DV
set -uo pipefail
road_test=$1 host=$2 cli=$3 dv=$4

mariadbd=$(command -v mariadbd || ls /usr/sbin/mariadbd 2>/dev/null || true)
install_db=$(command -v mariadb-install-db || true)
client=$(command -v mariadb || true)
driver=$(ls /usr/lib/*/odbc/libmaodbc.so /usr/lib/odbc/libmaodbc.so 2>/dev/null | head -n 1)
if [ -z "$mariadbd" ] || [ -z "$install_db" ] || [ -z "$client" ] || [ -z "$driver" ]; then
  echo "MariaDB server, client or ODBC driver missing: run scripts/setup"
  exit 1
fi

work=$(mktemp -d /tmp/quillmore-mariadb-XXXXXX)
pid=
stop() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
  fi
  rm -rf "$work"
}
trap stop EXIT

user_opt=()
[ "$(id -u)" -eq 0 ] && user_opt=(--user=root)
"$install_db" --no-defaults --datadir="$work/data" "${user_opt[@]}" \
  --auth-root-authentication-method=normal --skip-test-db >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }

# A port nobody listens on; if the server still can't bind it, try another.
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
  "$mariadbd" --no-defaults --datadir="$work/data" "${user_opt[@]}" \
    --bind-address=127.0.0.1 --port="$port" --socket="$work/sock" \
    --pid-file="$work/pid" --log-error="$work/error.log" --skip-name-resolve \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=16M --skip-log-bin \
    >>"$work/error.log" 2>&1 &
  pid=$!
  for _ in $(seq 150); do
    "$client" --no-defaults -S "$work/sock" -uroot -e 'SELECT 1' >/dev/null 2>&1 && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  "$client" --no-defaults -S "$work/sock" -uroot -e 'SELECT 1' >/dev/null 2>&1 && break
  stop_pid=$pid; pid=
  kill "$stop_pid" 2>/dev/null; wait "$stop_pid" 2>/dev/null
  echo "the server did not start on port $port (attempt $attempt)"; tail -n 5 "$work/error.log"
  [ "$attempt" -eq 5 ] && exit 1
done
echo "MariaDB $("$client" --no-defaults -S "$work/sock" -uroot -N -e 'SELECT VERSION()') on 127.0.0.1:$port, pid $pid"

# The device's user; the host creates its database.
"$client" --no-defaults -S "$work/sock" -uroot -e "
  CREATE USER 'recorder'@'127.0.0.1' IDENTIFIED BY 'road-secret';
  GRANT ALL ON quillmore_road.* TO 'recorder'@'127.0.0.1';" || exit 1

mkdir "$work/odbc"
cat >"$work/odbc/odbcinst.ini" <<EOF
[MySQL ODBC 3.51 Driver]
Description=MariaDB Connector/ODBC under the name the library's string names
Driver=$driver
EOF
touch "$work/odbc/odbc.ini"
export ODBCSYSINI=$work/odbc ODBCINI=$work/odbc/odbc.ini

timeout 300 "$road_test" --host "$host" --cli "$cli" --dv "$dv" \
  --server 127.0.0.1 --dbname quillmore_road --user recorder \
  --password road-secret --odbc-extra "PORT=$port;"
