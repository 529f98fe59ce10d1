#!/usr/bin/env bash
# quillmore-host on a private 3-node MariaDB Galera cluster (galera_cluster.sh):
# init through node 1, three concurrent ingests, one per node, then every
# node checked: the same rows (counts and checksums of every table), ids
# unique, every record stored once with its user-table rows and equal to its
# input line (read by the server's own JSON and XML functions), no row
# without its record, the same search results everywhere; prune through one
# node seen on the others within seconds; drop through one node leaving no
# table on any. Every server is stopped by its process id.
# usage: cluster_test.sh QUILLMORE_HOST QUILLMORE SAMPLE_DV
set -uo pipefail
host=$1 cli=$2 dv=$3
. "$(dirname "$0")/galera_cluster.sh"
galera_check_tools || exit 1

work=$(mktemp -d /tmp/quillmore-cluster-XXXXXX)
failed=0 passed=0 started=$SECONDS
finish() {
  galera_stop
  if [ "$failed" -eq 0 ]; then rm -rf "$work"; else echo "the cluster's folders are kept in $work"; fi
}
trap finish EXIT

check() {  # status, what
  if [ "$1" -eq 0 ]; then
    passed=$((passed + 1)); echo "ok   $2"
  else
    failed=$((failed + 1)); echo "FAIL $2"
  fi
}
same() {  # what, then one value per node: all equal
  local what=$1 first=$2 v
  shift
  for v in "$@"; do
    if [ "$v" != "$first" ]; then
      check 1 "$what"
      printf '  node %s\n' "$@" | head -c 2000
      return
    fi
  done
  check 0 "$what"
}

galera_start "$work" 3 || { failed=1; echo "FAIL the cluster did not start"; exit 1; }
N=$GALERA_NODES
echo "3 nodes Synced in $((SECONDS - started)) s on ports ${GALERA_PORT[*]}"
db=quillmore_cluster
galera_device "$host" "$cli" "$dv" "$db" || exit 1
h=$GALERA_HOST
galera_sql 1 -e "
  CREATE DATABASE qm_check CHARACTER SET utf8mb4;
  CREATE TABLE qm_check.input (w int NOT NULL, line int NOT NULL,
    doc longtext NOT NULL, PRIMARY KEY (w, line)) ENGINE=InnoDB;
  CREATE FUNCTION qm_check.unxml(s longtext CHARACTER SET utf8mb4)
    RETURNS longtext CHARACTER SET utf8mb4 DETERMINISTIC
    RETURN REPLACE(REPLACE(REPLACE(REPLACE(REPLACE(s, '&lt;', '<'),
      '&gt;', '>'), '&quot;', '\"'), '&apos;', ''''), '&amp;', '&');" ||
  exit 1
tables=$("$GALERA_CLI" names 7)
main_table=$(sed -n 1p <<<"$tables") group_table=$(sed -n 2p <<<"$tables")
text_table=$("$GALERA_CLI" sql 7 drop-table | sed 's/^drop table //')
"$GALERA_CLI" add-item 7 'name=Cashier' kind=field "table=$main_table" field=f_cashier >/dev/null
"$GALERA_CLI" add-item 7 'name=Card payment' kind=keyword keyword=CARD nokeyword=VOID >/dev/null
on() { echo --odbc --odbc-extra "PORT=${GALERA_PORT[$1]};"; }

out=$("$h" init 7 --quiet $(on 1))
check $? "init through node 1"
grep -q 'the host added.*index on f_id.*row key qm_row.*ENGINE=InnoDB' <<<"$out"
check $? "init says it added an index on f_id, a row key and InnoDB to the user tables"

# Round R's input for writer W: generated receipts, each marked with its
# writer's tag T = 10R + W (savepath wT) and its line (savepos), kept in
# WORK/wT.jsonl and in qm_check.input.
inputs() {  # round, records per writer
  local w tag
  for ((w = 1; w <= N; w++)); do
    tag=$((10 * $1 + w))
    "$h" generate "$2" --seed "$tag" |
      awk -v w="w$tag" '{ sub(/"savepath":"[^"]*"/, "\"savepath\":\"" w "\"");
        sub(/"savepos":[0-9]+/, "\"savepos\":" NR); print }' >"$work/w$tag.jsonl"
    sed -e 's/\\/\\\\/g' -e "s/'/\\\\'/g" \
      -e "s/^/INSERT INTO qm_check.input VALUES ($tag, 0, '/" -e "s/\$/');/" \
      "$work/w$tag.jsonl" |
      awk -v t="$tag" '{ sub(/VALUES \([0-9]+, 0,/, "VALUES (" t ", " NR ","); print }'
  done | galera_sql 1 --default-character-set=utf8mb4
}

# Every node's view, each read waiting for what the cluster committed.
read_node() {  # node, SQL
  galera_sql "$1" --default-character-set=utf8mb4 -N -e "SET SESSION wsrep_sync_wait = 1; $2"
}
fingerprint() {  # node: rows and checksum of every table
  read_node "$1" "SELECT COUNT(*) FROM $db.$text_table; SELECT COUNT(*) FROM $db.$main_table;
    SELECT COUNT(*) FROM $db.$group_table;
    CHECKSUM TABLE $db.$text_table, $db.$main_table, $db.$group_table;" | tr '\t\n' ' '
}
# Records that differ from their input line or are stored other than once,
# given how many lines each writer reported stored ("TAG:LINES ...").
differences() {  # node, reported
  local pair bound=
  for pair in $2; do
    bound+="${bound:+ UNION ALL }SELECT ${pair%%:*} w, ${pair#*:} n"
  done
  # The text table has no index on savepath and savepos: this session's own
  # copy of them has.
  read_node "$1" "CREATE TEMPORARY TABLE qm_check.stored (INDEX (w, line))
      SELECT CAST(SUBSTRING(f_savepath, 2) AS UNSIGNED) w, f_savepos line, f_id
      FROM $db.$text_table;
    SELECT 'missing or different', COUNT(*) FROM qm_check.input i
      JOIN ($bound) b ON b.w = i.w AND i.line <= b.n
      LEFT JOIN qm_check.stored k ON k.w = i.w AND k.line = i.line
      LEFT JOIN $db.$text_table m ON m.f_id = k.f_id
      WHERE m.f_id IS NULL
        OR m.f_date <> CAST(JSON_VALUE(i.doc, '\$.date') AS DATETIME)
        OR BINARY m.f_systime <> BINARY JSON_VALUE(i.doc, '\$.systime')
        OR m.f_cam <> JSON_VALUE(i.doc, '\$.camera')
        OR BINARY m.f_text <> BINARY JSON_VALUE(i.doc, '\$.text')
        OR BINARY m.f_xml <> BINARY JSON_VALUE(i.doc, '\$.xml')
        OR (SELECT COUNT(*) FROM $db.$main_table u WHERE u.f_id = m.f_id
            AND BINARY u.f_total = BINARY qm_check.unxml(ExtractValue(m.f_xml, '/Receipt/Total'))
            AND BINARY u.f_cashier = BINARY qm_check.unxml(ExtractValue(m.f_xml, '/Receipt/Cashier'))) <> 1
        OR NOT (SELECT BINARY CONCAT(COUNT(*), ':', GROUP_CONCAT(f_name ORDER BY qm_row SEPARATOR ' '),
                  ':', GROUP_CONCAT(f_price ORDER BY qm_row SEPARATOR ' '))
                FROM $db.$group_table g WHERE g.f_id = m.f_id)
            <=> BINARY CONCAT(ExtractValue(m.f_xml, 'count(//Item)'), ':',
                  qm_check.unxml(ExtractValue(m.f_xml, '//Item/@name')), ':',
                  ExtractValue(m.f_xml, '//Item/@price'));
    SELECT 'stored twice', COUNT(*) FROM (SELECT 1 FROM qm_check.stored
      GROUP BY w, line HAVING COUNT(*) > 1) t;
    SELECT 'not reported', COUNT(*) FROM qm_check.stored k LEFT JOIN ($bound) b
      ON b.w = k.w WHERE b.n IS NULL OR k.line > b.n;
    SELECT 'ids given twice', COUNT(*) - COUNT(DISTINCT f_id) FROM $db.$text_table;
    SELECT 'rows without a record', COUNT(*) FROM (SELECT f_id FROM $db.$main_table
      UNION ALL SELECT f_id FROM $db.$group_table) u
      WHERE u.f_id NOT IN (SELECT f_id FROM $db.$text_table);" | tr '\t\n' '= '
}
# Every node named holds exactly what the writers reported, and all the
# same rows.
converged() {  # what, nodes...
  local what=$1 i d prints=() t=$SECONDS
  shift
  for i in "$@"; do
    d=$(differences "$i" "$reported")
    [ "$d" = "missing or different=0 stored twice=0 not reported=0 ids given twice=0 rows without a record=0 " ]
    check $? "$what: node $i holds every reported record once, equal to its input ($d)"
    prints+=("$(fingerprint "$i")")
  done
  same "$what: nodes $* hold the same rows (counts and checksums; checked in $((SECONDS - t)) s)" "${prints[@]}"
}

# Round R: three concurrent ingests of RECORDS each, writer W starting on
# node W with the others listed after it. With a VICTIM, that node is
# killed once a third of the round's records are in, and restarted once
# the writers are done and the survivors checked.
reported=
round() {  # round, records, victim
  local r=$1 m=$2 victim=$3 w tag n nodes out t0=$SECONDS survivors=() before doubts=0 early=0 last still
  inputs "$r" "$m"
  for ((i = 1; i <= N; i++)); do [ "$i" != "$victim" ] && survivors+=("$i"); done
  before=$(read_node "${survivors[0]}" "SELECT COUNT(*) FROM $db.$text_table")
  for ((w = 1; w <= N; w++)); do
    tag=$((10 * r + w)) nodes=
    for ((i = 0; i < N; i++)); do
      nodes+="${nodes:+,}127.0.0.1:${GALERA_PORT[$(((w - 1 + i) % N + 1))]}"
    done
    # TERM lets the host end its batch; KILL follows if it can't.
    timeout -k 10 200 "$h" ingest 7 "$work/w$tag.jsonl" --quiet --odbc --nodes "$nodes" \
      >"$work/ingest$tag.out" 2>&1 &
    writer[$w]=$!
  done
  if [ "$victim" -gt 0 ]; then
    for _ in $(seq 600); do
      n=$(galera_sql "${survivors[0]}" -N -e "SELECT COUNT(*) FROM $db.$text_table" 2>/dev/null)
      [ "${n:-0}" -ge $((before + N * m / 3)) ] && break
      sleep 0.1
    done
    galera_kill "$victim"
    echo "round $r: node $victim killed with SIGKILL at $((${n:-0} - before)) of $((N * m)) records"
    # Now and then the survivors' new view never finishes its state
    # exchange ("Temporary failure in sending state UUID, will try again in
    # next primary component") and every COMMIT waits. The killed node's
    # return makes that next primary component: when nothing has been
    # stored for 20 s while the writers run, it comes back at once.
    early=0 last=-1 still=0
    while kill -0 "${writer[1]}" 2>/dev/null || kill -0 "${writer[2]}" 2>/dev/null ||
      kill -0 "${writer[3]}" 2>/dev/null; do
      n=$(galera_sql "${survivors[0]}" -N -e "SELECT COUNT(*) FROM $db.$text_table" 2>/dev/null)
      if [ "${n:-0}" = "$last" ]; then still=$((still + 1)); else still=0 last=${n:-0}; fi
      if [ "$still" -ge 20 ] && [ "$early" = 0 ]; then
        echo "round $r: nothing stored for 20 s; node $victim back early to unblock the survivors"
        galera_restart "$victim"
        early=1
      fi
      sleep 1
    done
  fi
  for ((w = 1; w <= N; w++)); do
    tag=$((10 * r + w))
    wait "${writer[$w]}"
    check $? "round $r: writer $w exits 0"
    out=$(cat "$work/ingest$tag.out")
    n=$(sed -n 's/^stored \([0-9]*\) records.*/\1/p' <<<"$out")
    [ "${n:-0}" -eq "$m" ]
    check $? "round $r: writer $w reports all $m records stored (${n:-none})"
    # A writer that stopped says from which line to go on: every line
    # before it is what it reported stored.
    [ -z "$n" ] && n=$(sed -n 's/.*--skip \([0-9]*\).*/\1/p' <<<"$out" | tail -n 1)
    [ "${n:-0}" -eq "$m" ] || tail -n 5 <<<"$out"
    reported+=" $tag:${n:-0}"
    if [ "$w" = "$victim" ]; then
      grep -q "lost 127.0.0.1:${GALERA_PORT[$w]} .*going on through" <<<"$out"
      check $? "round $r: writer $w went on through another node when its own died"
    fi
    doubts=$((doubts + $(grep -c "whose COMMIT was lost" <<<"$out")))
  done
  echo "round $r: 3 x $m records in $((SECONDS - t0)) s; batches whose COMMIT was lost, found on another node: $doubts"
  if [ "$victim" -gt 0 ] && [ "$early" = 0 ]; then
    converged "round $r, node $victim dead" "${survivors[@]}"
    # A search whose first node is the dead one goes on through the next.
    nodes=
    for ((i = 0; i < N; i++)); do
      nodes+="${nodes:+,}127.0.0.1:${GALERA_PORT[$(((victim - 1 + i) % N + 1))]}"
    done
    [ "$("$h" search 7 100 2026-12-01 2026-12-31 0=Ann --ids --quiet --odbc --nodes "$nodes" 2>/dev/null)" = \
      "$("$h" search 7 100 2026-12-01 2026-12-31 0=Ann --ids --quiet $(on "${survivors[0]}"))" ]
    check $? "round $r: a search listing the dead node first gives the survivors' ids"
    galera_restart "$victim"
  fi
  if [ "$victim" -gt 0 ]; then
    galera_wait_synced "$victim"
    check $? "round $r: node $victim restarted and Synced"
    [ "$(galera_transfer "$victim")" = IST ]
    check $? "round $r: node $victim caught up by incremental transfer ($(galera_transfer "$victim"))"
  fi
  converged "round $r" 1 2 3
}

per_writer=${QM_CLUSTER_RECORDS:-2000}
round 1 "$per_writer" 0
# The same searches give the same ids on every node.
for terms in "0=Ann" "0=O'Neil|1=" "text=RECEIPT 7"; do
  IFS='|' read -r -a args <<<"$terms"
  results=()
  for ((i = 1; i <= N; i++)); do
    results+=("$("$h" search 7 100 2026-12-01 2026-12-31 "${args[@]}" --ids --quiet $(on "$i") | md5sum)")
  done
  same "search ${args[*]} gives the same ids on every node" "${results[@]}"
done

# Three rounds with a node killed in the middle of the ingests: node 3,
# node 1 (which started the cluster), node 2.
round 2 "$per_writer" 3
round 3 "$per_writer" 1
round 4 "$per_writer" 2

# prune through node 1, seen on nodes 2 and 3 within a few seconds.
cut="2026-12-10 00:00:00"
left=$(read_node 1 "SELECT COUNT(*) FROM $db.$text_table WHERE f_date >= '$cut'")
out=$("$h" prune 7 --before "$cut" --quiet $(on 1))
check $? "prune --before '$cut' through node 1 (${out//$'\n'/ })"
grep -q -E "^deleted in ([2-9]|[1-9][0-9]+) steps" <<<"$out"
check $? "prune deletes in several steps"
t0=$SECONDS
for i in 2 3; do
  n=-1
  for _ in $(seq 50); do
    n=$(galera_sql "$i" -N -e "SELECT COUNT(*) FROM $db.$text_table WHERE f_date < '$cut'")
    [ "$n" -eq 0 ] && break
    sleep 0.2
  done
  [ "$n" -eq 0 ]
  check $? "node $i sees the prune within $((SECONDS - t0)) s"
done
prints=()
for ((i = 1; i <= N; i++)); do prints+=("$(fingerprint "$i")"); done
same "after the prune every node holds the same rows" "${prints[@]}"
n=$(read_node 3 "SELECT COUNT(*) FROM $db.$text_table")
[ "$n" -eq "$left" ]
check $? "the prune kept the $left records from $cut ($n)"

# drop through node 2 leaves no table on any node.
"$h" drop 7 --quiet $(on 2) >/dev/null
check $? "drop through node 2"
for ((i = 1; i <= N; i++)); do
  n=$(read_node "$i" "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = '$db'")
  [ "$n" -eq 0 ]
  check $? "node $i has no table of the device left ($n)"
done

echo "cluster test: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
