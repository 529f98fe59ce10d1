#!/usr/bin/env bash
# quillmore-host as an operator runs it, on SQLite in a fresh folder with a
# copy of the sample installation: exit statuses and what it prints when
# records are refused, the database is locked, missing or read-only, and
# when an ingest is interrupted. Another connection is the sqlite3 shell.
# usage: operator_test.sh QUILLMORE_HOST QUILLMORE
set -uo pipefail
work=$(mktemp -d /tmp/quillmore-operator-XXXXXX)
lock_pid= ingest_pid=
cleanup() {
  exec 4>&- 2>/dev/null
  for p in $lock_pid $ingest_pid; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
cp "$1" "$2" "$work/"
cp -r "$(dirname "$1")/DV" "$work/DV"
h=$work/quillmore-host q=$work/quillmore db=$work/till.sqlite
fail=0
failed() { echo "FAIL: $*"; fail=1; }

# run STATUS ARGS...: quillmore-host with the test's database, its output
# in $work/out and $work/err.
run() {
  local want=$1; shift
  "$h" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || { failed "quillmore-host $*: exit $got, expected $want"; cat "$work/err"; }
}
has() { grep -qF -- "$1" "$work/out" "$work/err" || failed "no '$1' in the output of the last command"; }
sql() { sqlite3 "$db" "$1"; }
count() { sql "SELECT COUNT(*) FROM $1"; }
fresh() {  # fresh [DEFINITIONS]: a new database with the device's tables
  rm -f "$db"
  "$q" set-user-tables 4 "${1:-Total:20 Cashier:30 Item[name:40,price:10]}" >/dev/null
  run 0 init 4 --db "$db" --quiet
  mapfile -t names < <("$q" names 4)
  main=${names[0]} items=${names[1]}
  text=$(sql "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 'TBL_TEXTDATAEX4%'")
}
"$h" generate 3000 --seed 5 >"$work/r3000.jsonl"
head -n 300 "$work/r3000.jsonl" >"$work/r300.jsonl"
ann=$(grep -c '<Cashier>Ann</Cashier>' "$work/r300.jsonl")

# A record is stored whole or not at all: a value the engine refuses (a
# trigger refuses Ann's main user-table row) rolls back that record's text
# and item rows too, and only whole records are counted.
fresh
sql "CREATE TRIGGER refuse_ann BEFORE INSERT ON $main WHEN NEW.f_cashier = 'Ann'
     BEGIN SELECT RAISE(ABORT, 'Ann is not taken'); END"
run 1 ingest 4 "$work/r300.jsonl" --db "$db" --quiet
has "stored $((300 - ann)) records"; has "records not stored: $ann;"; has "Ann is not taken"
[ "$(count "$text")" -eq $((300 - ann)) ] && [ "$(count "$main")" -eq $((300 - ann)) ] ||
  failed "refused records left rows: $(count "$text") text rows, $(count "$main") main rows"
[ "$(sql "SELECT COUNT(*) FROM $items WHERE f_id NOT IN (SELECT f_id FROM $main)")" -eq 0 ] ||
  failed "item rows of refused records were kept"
[ "$(grep -c 'the record was not stored' "$work/err")" -eq "$ann" ] || failed "each refused record is reported once"

# Errors that can't get better stop at once with one message; only init
# makes a database file.
: >"$work/empty.sqlite"
for c in "ingest 4 $work/r300.jsonl --db $work/empty.sqlite" \
         "ingest 4 $work/r300.jsonl --db file:$db?mode=ro" \
         "browse 4 2026-12-01 2026-12-02 --db $work/typo.sqlite" \
         "stats 4 --db $work/typo.sqlite"; do
  read -ra args <<<"$c"
  run 1 "${args[@]}" --quiet
  [ "$(grep -c '^quillmore-host:' "$work/err")" -eq 1 ] || { failed "$c: not one message"; head -5 "$work/err"; }
done
has "does not exist"; has "init"
[ ! -e "$work/typo.sqlite" ] || failed "a command other than init made a database file"

# A busy database is waited for: another connection holds the write lock
# for a second, and the ingest waits for it.
hold_lock() {
  rm -f "$work/lock.in"; mkfifo "$work/lock.in"
  sqlite3 "$db" <"$work/lock.in" >/dev/null 2>&1 &
  lock_pid=$!
  exec 4>"$work/lock.in"
  echo "BEGIN IMMEDIATE;" >&4
  until ! sqlite3 "$db" "BEGIN IMMEDIATE; ROLLBACK;" 2>/dev/null; do sleep 0.05; done
}
release_lock() { echo "ROLLBACK;" >&4; exec 4>&-; wait "$lock_pid"; lock_pid=; }
fresh
hold_lock
"$h" ingest 4 "$work/r300.jsonl" --db "$db" --quiet --busy-timeout 30 >"$work/out" 2>&1 &
ingest_pid=$!
sleep 1
release_lock
wait "$ingest_pid" || { failed "a locked database was not waited for"; cat "$work/out"; }
ingest_pid=
[ "$(count "$text")" -eq 300 ] || failed "a locked database dropped records"

# An ingest that stops goes on where it stopped: fed through a pipe, it
# commits its first batch; then the lock is taken (busy: it stops after 1 s)
# or INT or TERM arrives with a batch in flight (it commits it). What it
# says to run next stores every record once.
await() {  # await N: the text table holds N rows
  for _ in $(seq 300); do [ "$(count "$text" 2>/dev/null)" = "$1" ] && return; sleep 0.1; done
  failed "the text table never held $1 rows"; cat "$work/err"
}
for stop in busy INT TERM; do
  fresh
  rm -f "$work/feed"; mkfifo "$work/feed"
  "$h" ingest 4 "$work/feed" --db "$db" --quiet --busy-timeout 1 >"$work/out" 2>"$work/err" &
  ingest_pid=$!
  exec 5>"$work/feed"
  { echo; echo '{"not": "a record"}'; sed -n 1,1000p "$work/r3000.jsonl"; } >&5
  await 1000
  if [ $stop = busy ]; then
    hold_lock
    sed -n 1001,1500p "$work/r3000.jsonl" >&5
    exec 5>&-
    wait "$ingest_pid"; status=$?; want=1
    release_lock
  else
    sed -n 1001,1500p "$work/r3000.jsonl" >&5
    sleep 1  # the 500 records after the batch are read, not committed
    kill -s $stop "$ingest_pid"
    wait "$ingest_pid"; status=$?; want=$((128 + $(kill -l $stop)))
    exec 5>&-
  fi
  ingest_pid=
  [ $status -eq $want ] || { failed "$stop: exit $status, expected $want"; cat "$work/err"; }
  again=$(grep -A1 'To go on:' "$work/out" | tail -n 1)
  case $stop in
    busy) has "stayed busy"; has "lines 1 to 1002 of"; has "--skip 1002" ;;
    *) has "lines 1 to 1502 of"; has "--skip 1502"; [ "$(count "$text")" -eq 1500 ] || failed "$stop: the batch in flight was lost" ;;
  esac
  sed -e 's/--skip [0-9]*/& --quiet/' -e "s|$work/feed|$work/all|" <<<"$again" >"$work/again.sh"
  { echo; echo '{"not": "a record"}'; sed -n 1,1500p "$work/r3000.jsonl"; } >"$work/all"
  (cd "$work" && PATH=$work:$PATH bash "$work/again.sh" >"$work/out" 2>"$work/err") ||
    { failed "$stop: going on failed: $again"; cat "$work/err"; }
  [ "$(count "$text")" -eq 1500 ] && [ "$(sql "SELECT COUNT(DISTINCT f_date) FROM $text")" -eq 1500 ] ||
    failed "$stop: after going on, $(count "$text") records are stored, not each of 1500 once"
done

# The progress line on a terminal ends with a line feed.
fresh
script -qec "$h ingest 4 $work/r300.jsonl --db $db --quiet" /dev/null | tr -d '\r' >"$work/out"
grep -q '100%  300 records.*/s $' "$work/out" || failed "no progress line of its own: $(head -c 300 "$work/out")"

[ $fail -eq 0 ] && echo "quillmore-host as an operator runs it: all passed"
exit $fail
