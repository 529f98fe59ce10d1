# A private MariaDB Galera cluster on loopback ports, for the cluster test
# and the cluster benchmark. Source it, then:
#   galera_start WORK N         N nodes (1..N), each in WORK/nI with its own
#                               data folder; node 1 bootstraps, the others
#                               join by rsync state transfer
#   galera_kill I               SIGKILL to node I's server
#   galera_restart I            --wsrep-recover, then start from the
#                               recovered position: incremental transfer
#   galera_wait_synced I [S]    until node I says Synced (S seconds at most)
#   galera_sql I SQL...         the client on node I's socket, as root
#   galera_device HOST CLI DV DB  quillmore-host with a device on the cluster
#   galera_stop                 every server stopped by its process id
# With GALERA_STANDALONE=1, galera_start WORK 1 starts one server of the
# same settings without replication.
# GALERA_PORT[I] is node I's SQL port, GALERA_PID[I] its server's pid.
# Servers run as the mysql user when the caller is root (the rsync state
# transfer refuses root), and are never looked up by name.
# Needs Debian's mariadb-server, galera-4, rsync and iproute2 (ss).

GALERA_MARIADBD=$(command -v mariadbd || ls /usr/sbin/mariadbd 2>/dev/null || true)
GALERA_INSTALL_DB=$(command -v mariadb-install-db || true)
GALERA_CLIENT=$(command -v mariadb || true)
GALERA_PROVIDER=$(ls /usr/lib/galera/libgalera_smm.so /usr/lib/libgalera_smm.so 2>/dev/null | head -n 1)
GALERA_WORK=
GALERA_NODES=0
GALERA_PORT=() GALERA_PID=() GALERA_LOG_MARK=()

galera_check_tools() {
  local missing=
  [ -n "$GALERA_MARIADBD" ] || missing+=" mariadbd"
  [ -n "$GALERA_INSTALL_DB" ] || missing+=" mariadb-install-db"
  [ -n "$GALERA_CLIENT" ] || missing+=" mariadb"
  [ -n "$GALERA_PROVIDER" ] || missing+=" galera-4"
  command -v rsync >/dev/null || missing+=" rsync"
  command -v ss >/dev/null || missing+=" ss"
  [ -z "$missing" ] && return 0
  echo "missing:$missing (run scripts/setup)" >&2
  return 1
}

# A loopback port nobody listens on and no other node of ours was given.
galera_free_port() {
  local port
  while true; do
    port=$((20000 + RANDOM % 40000))
    [[ " ${GALERA_TAKEN:-} " == *" $port "* ]] && continue
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    GALERA_TAKEN+=" $port"
    echo "$port"
    return
  done
}

galera_sql() {
  local i=$1
  shift
  "$GALERA_CLIENT" --no-defaults -S "$GALERA_WORK/n$i/sock" -uroot "$@"
}

galera_status() {  # node, status variable: its value, or nothing
  galera_sql "$1" -N -e "SHOW STATUS LIKE '$2'" 2>/dev/null | cut -f 2
}

galera_wait_synced() {
  galera_wait_for "$1" "${2:-120}" Synced '[ "$(galera_status "$1" wsrep_local_state_comment)" = Synced ] &&
    [ "$(galera_status "$1" wsrep_ready)" = ON ]'
}
galera_wait_up() {
  galera_wait_for "$1" 60 "up" 'galera_sql "$1" -e "SELECT 1" >/dev/null 2>&1'
}
galera_wait_for() {  # node, seconds, what, condition
  local i=$1 limit=$2 t
  for ((t = 0; t < limit * 5; t++)); do
    if ! kill -0 "${GALERA_PID[$i]}" 2>/dev/null; then
      echo "node $i stopped; its log ends:" >&2
      tail -n 20 "$GALERA_WORK/n$i/error.log" >&2
      return 1
    fi
    eval "$4" && return 0
    sleep 0.2
  done
  echo "node $i is not $3 after ${limit}s; its log ends:" >&2
  tail -n 20 "$GALERA_WORK/n$i/error.log" >&2
  return 1
}

# quillmore-host and quillmore in WORK/app beside a DV folder whose device 7
# (type 4, user tables Total, Cashier and Item) keeps its records in the
# database DB on the cluster as the user recorder; the MariaDB ODBC driver
# registered under the name the library's string names, in a private
# odbcinst.ini. Sets GALERA_HOST and GALERA_CLI.
galera_device() {  # quillmore-host, quillmore, sample DV folder, DB
  local app=$GALERA_WORK/app driver
  driver=$(ls /usr/lib/*/odbc/libmaodbc.so /usr/lib/odbc/libmaodbc.so 2>/dev/null | head -n 1)
  [ -n "$driver" ] || { echo "the MariaDB ODBC driver is missing: run scripts/setup" >&2; return 1; }
  galera_sql 1 -e "CREATE USER 'recorder'@'127.0.0.1' IDENTIFIED BY 'cluster-secret';
    GRANT ALL ON $4.* TO 'recorder'@'127.0.0.1';" || return 1
  mkdir -p "$app/DV" "$GALERA_WORK/odbc"
  cp "$1" "$app/quillmore-host"
  cp "$2" "$app/quillmore"
  cp "$3"/*.sql "$app/DV/"
  printf '[GENERAL]\nDATABASE=1\nDBTYPE=4\nDBSERVER=127.0.0.1\nDBNAME=%s\nUSER=recorder\nPWD=cluster-secret\n[XML]\nUSEPARSER=0\n' \
    "$4" >"$app/DV/devdata7.ini"
  printf '[MySQL ODBC 3.51 Driver]\nDriver=%s\n' "$driver" >"$GALERA_WORK/odbc/odbcinst.ini"
  touch "$GALERA_WORK/odbc/odbc.ini"
  export ODBCSYSINI=$GALERA_WORK/odbc ODBCINI=$GALERA_WORK/odbc/odbc.ini
  GALERA_HOST=$app/quillmore-host GALERA_CLI=$app/quillmore
  "$GALERA_CLI" set-user-tables 7 'Total:20 Cashier:30 Item[name:40,price:10]' >/dev/null
}

galera_run_as() {  # the server's own user when we are root
  if [ "$(id -u)" -eq 0 ]; then echo --user=mysql; fi
}

# Writes node I's option file; every node knows every node's group port.
galera_config() {
  local i=$1 dir=$GALERA_WORK/n$1 members= j
  for ((j = 1; j <= GALERA_NODES; j++)); do
    members+="${members:+,}127.0.0.1:${GALERA_GCOMM[$j]}"
  done
  # Failure detection shorter than the defaults (5 s to suspect, 15 s to
  # give up), so that the survivors of a kill go on within seconds, yet not
  # so short that a node starved of processor time on a busy machine is
  # taken for dead; reads waiting for the cluster give up after 20 s; a
  # large cache, so that a node restarted after the whole test's writes
  # still catches up incrementally.
  cat >"$dir/my.cnf" <<EOF
[mysqld]
datadir=$dir/data
socket=$dir/sock
pid-file=$dir/mariadbd.pid
log-error=$dir/error.log
bind-address=127.0.0.1
port=${GALERA_PORT[$i]}
skip-name-resolve
innodb_buffer_pool_size=96M
innodb_log_file_size=48M
innodb_flush_log_at_trx_commit=2
binlog_format=ROW
default_storage_engine=InnoDB
innodb_autoinc_lock_mode=2
max_connections=60
EOF
  [ "${GALERA_STANDALONE:-0}" = 1 ] && return
  cat >>"$dir/my.cnf" <<EOF
wsrep_on=ON
wsrep_provider=$GALERA_PROVIDER
wsrep_cluster_name=quillmore_$$
wsrep_cluster_address=gcomm://$members
wsrep_node_name=n$i
wsrep_node_address=127.0.0.1:${GALERA_GCOMM[$i]}
wsrep_node_incoming_address=127.0.0.1:${GALERA_PORT[$i]}
wsrep_sst_method=rsync
wsrep_sst_receive_address=127.0.0.1:${GALERA_SST[$i]}
wsrep_provider_options="gmcast.listen_addr=tcp://127.0.0.1:${GALERA_GCOMM[$i]};ist.recv_addr=127.0.0.1:${GALERA_IST[$i]};gcache.size=256M;evs.keepalive_period=PT1S;evs.suspect_timeout=PT4S;evs.inactive_timeout=PT8S;evs.install_timeout=PT6S;repl.causal_read_timeout=PT20S"
wsrep_slave_threads=2
EOF
}

galera_launch() {  # node, extra server options...
  local i=$1
  shift
  "$GALERA_MARIADBD" --defaults-file="$GALERA_WORK/n$i/my.cnf" \
    $(galera_run_as) "$@" >>"$GALERA_WORK/n$i/error.log" 2>&1 &
  GALERA_PID[$i]=$!
  galera_save_pids
}

# The servers running now, for the guard below.
galera_save_pids() {
  local pid
  for pid in "${GALERA_PID[@]}"; do
    [ -n "$pid" ] && echo "$pid"
  done >"$GALERA_WORK/pids.new"
  mv "$GALERA_WORK/pids.new" "$GALERA_WORK/pids"
}

# Should the caller die without stopping them (a test killed on its
# timeout), the servers it started go with it: a guard that outlives it
# by at most a second kills every process id listed in WORK/pids.
galera_guard() {
  local parent=$$ work=$GALERA_WORK
  (
    trap '' HUP INT TERM
    while kill -0 "$parent" 2>/dev/null; do sleep 1; done
    [ -f "$work/pids" ] || exit 0
    while read -r pid; do kill -9 "$pid" 2>/dev/null; done <"$work/pids"
    rm -f "$work/pids"
  ) </dev/null >/dev/null 2>&1 &
}

galera_start() {
  GALERA_WORK=$1 GALERA_NODES=$2
  local i
  galera_check_tools || return 1
  GALERA_GCOMM=() GALERA_IST=() GALERA_SST=()
  for ((i = 1; i <= GALERA_NODES; i++)); do
    GALERA_PORT[$i]=$(galera_free_port)
    GALERA_GCOMM[$i]=$(galera_free_port)
    GALERA_IST[$i]=$(galera_free_port)
    GALERA_SST[$i]=$(galera_free_port)
  done
  chmod 755 "$GALERA_WORK"
  galera_save_pids
  galera_guard
  for ((i = 1; i <= GALERA_NODES; i++)); do
    mkdir -p "$GALERA_WORK/n$i/data"
    [ "$(id -u)" -eq 0 ] && chown -R mysql:mysql "$GALERA_WORK/n$i"
    galera_config "$i"
  done
  "$GALERA_INSTALL_DB" --defaults-file="$GALERA_WORK/n1/my.cnf" $(galera_run_as) \
    --auth-root-authentication-method=normal --skip-test-db \
    --wsrep-on=OFF >"$GALERA_WORK/install.log" 2>&1 ||
    { cat "$GALERA_WORK/install.log" >&2; tail -n 20 "$GALERA_WORK/n1/error.log" >&2; return 1; }
  if [ "${GALERA_STANDALONE:-0}" = 1 ]; then
    galera_launch 1
    galera_wait_up 1
    return
  fi
  galera_launch 1 --wsrep-new-cluster
  galera_wait_synced 1 || return 1
  # One joiner at a time: a donor serves one state transfer.
  for ((i = 2; i <= GALERA_NODES; i++)); do
    galera_launch "$i"
    galera_wait_synced "$i" || return 1
  done
}

galera_kill() {
  local i=$1
  kill -9 "${GALERA_PID[$i]}" 2>/dev/null
  wait "${GALERA_PID[$i]}" 2>/dev/null
  GALERA_PID[$i]=
  galera_save_pids
  return 0
}

# A killed node back: the position its own storage recovers, then the
# cluster's writes since then from a donor's cache.
galera_restart() {
  local i=$1 log=$GALERA_WORK/n$1/recover.log position
  rm -f "$log"
  GALERA_LOG_MARK[$i]=$(($(wc -c <"$GALERA_WORK/n$i/error.log") + 1))
  "$GALERA_MARIADBD" --defaults-file="$GALERA_WORK/n$i/my.cnf" $(galera_run_as) \
    --wsrep-recover --log-error="$log" >/dev/null 2>&1
  position=$(sed -n 's/.*WSREP: Recovered position: *//p' "$log" | tail -n 1)
  if [ -z "$position" ]; then
    echo "node $i: --wsrep-recover found no position" >&2
    cat "$log" >&2
    return 1
  fi
  galera_launch "$i" --wsrep-start-position="$position"
}

# How a node caught up after its last restart: "IST" or "SST".
galera_transfer() {
  tail -c +"${GALERA_LOG_MARK[$1]:-1}" "$GALERA_WORK/n$1/error.log" |
    grep -o -m 1 -E 'Receiving IST|Proceeding with SST|IST received' |
    sed -e 's/.*IST.*/IST/' -e 's/.*SST.*/SST/'
}

galera_stop() {
  local i pid
  for ((i = 1; i <= GALERA_NODES; i++)); do
    pid=${GALERA_PID[$i]:-}
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && kill "$pid" 2>/dev/null
  done
  for ((i = 1; i <= GALERA_NODES; i++)); do
    pid=${GALERA_PID[$i]:-}
    [ -n "$pid" ] || continue
    for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    GALERA_PID[$i]=
  done
  [ -n "$GALERA_WORK" ] && rm -f "$GALERA_WORK/pids"
  return 0
}
