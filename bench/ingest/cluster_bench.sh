#!/usr/bin/env bash
# quillmore-host's ingest of the same generated receipts three ways, each on
# fresh servers of the same settings (host/galera_cluster.sh):
#   standalone   one MariaDB server without replication, one writer (the floor)
#   standalone 3 the same server, three writers at once, each with a third
#                of the records
#   one node     a 3-node Galera cluster, one writer on node 1
#   three nodes  the same cluster, three writers at once, one per node
# Reported for each: records per second by the clock, the processor time of
# all its servers per record (from /proc), and both as ratios to the
# standalone server. Not part of the test command.
# usage: cluster_bench.sh QUILLMORE_HOST QUILLMORE SAMPLE_DV [RECORDS]
set -uo pipefail
host=$1 cli=$2 dv=$3 records=${4:-30000}
. "$(dirname "$0")/../../host/galera_cluster.sh"
galera_check_tools || exit 1
records=$((records / 3 * 3))
top=$(mktemp -d /tmp/quillmore-cluster-bench-XXXXXX)
chmod 755 "$top"  # the servers run as mysql
trap 'galera_stop; rm -rf "$top"' EXIT
tick=$(getconf CLK_TCK)

"$host" generate "$records" --seed 7 >"$top/all.jsonl"
split -n l/3 -d "$top/all.jsonl" "$top/part"

cpu() {  # processor seconds of every running server so far
  local pid total=0
  for pid in "${GALERA_PID[@]}"; do
    [ -n "$pid" ] || continue
    total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat")))
  done
  echo "$total"
}

declare -A rate per_record
run() {  # name, nodes, writers
  local name=$1 nodes=$2 writers=$3 dir=$top/${1// /-} w c0 t0 t1 c1 pids=() files=()
  galera_stop
  mkdir -p "$dir"
  GALERA_STANDALONE=$([ "$nodes" -eq 0 ] && echo 1 || echo 0) \
    galera_start "$dir" "$([ "$nodes" -eq 0 ] && echo 1 || echo "$nodes")" || exit 1
  galera_device "$host" "$cli" "$dv" quillmore_bench || exit 1
  "$GALERA_HOST" init 7 --quiet --odbc --odbc-extra "PORT=${GALERA_PORT[1]};" >/dev/null || exit 1
  if [ "$writers" -eq 1 ]; then files=("$top/all.jsonl"); else files=("$top"/part0*); fi
  c0=$(cpu) t0=$(date +%s.%N)
  for ((w = 1; w <= writers; w++)); do
    "$GALERA_HOST" ingest 7 "${files[$((w - 1))]}" --quiet --odbc \
      --odbc-extra "PORT=${GALERA_PORT[$(((w - 1) % GALERA_NODES + 1))]};" >"$dir/ingest$w.out" 2>&1 &
    pids+=($!)
  done
  for w in "${pids[@]}"; do wait "$w" || { cat "$dir"/ingest*.out; exit 1; }; done
  t1=$(date +%s.%N) c1=$(cpu)
  rate[$name]=$(awk "BEGIN { print $records / ($t1 - $t0) }")
  per_record[$name]=$(awk "BEGIN { print ($c1 - $c0) / $tick / $records * 1000000 }")
  printf '%-12s %9.0f records/s   %7.0f us of server processor time per record\n' \
    "$name" "${rate[$name]}" "${per_record[$name]}"
}

echo "$records receipts, $(nproc) cores"
run standalone 0 1
run "standalone 3" 0 3
run "one node" 3 1
run "three nodes" 3 3
echo
printf '%-12s %18s %24s\n' "" "speed / standalone" "processor / standalone"
for name in standalone "standalone 3" "one node" "three nodes"; do
  printf '%-12s %18.2f %24.2f\n' "$name" \
    "$(awk "BEGIN { print ${rate[$name]} / ${rate[standalone]} }")" \
    "$(awk "BEGIN { print ${per_record[$name]} / ${per_record[standalone]} }")"
done
