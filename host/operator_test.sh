#!/usr/bin/env bash
# quillmore-host as an operator runs it, on SQLite in a fresh folder with a
# copy of the sample installation: exit statuses and what it prints when
# records are refused, the database is locked, missing or read-only, and
# when an ingest is interrupted. Another connection is the sqlite3 shell.
# usage: operator_test.sh QUILLMORE_HOST QUILLMORE VERSION
set -uo pipefail
version=$3
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

# ingest checks first that the tables and columns the definitions need are
# there; init makes what is missing and leaves what is there; stats says
# what is lacking, and which records lack the main row their XML gives.
fresh
"$q" set-user-tables 4 'Total:20 Cashier:30 Shop:10 Item[name:40,price:10] Pay[kind:5]' >/dev/null
run 1 ingest 4 "$work/r300.jsonl" --db "$db" --quiet
has "column f_shop of $main; table USR_PAY4_"; has "init 4"
[ "$(wc -l <"$work/err")" -eq 1 ] && [ "$(count "$text")" -eq 0 ] || failed "an ingest into tables that lack columns began"
run 0 stats 4 --db "$db"; has "lacks the columns f_shop"; has "missing"
run 0 init 4 --db "$db" --quiet; has "added f_shop varchar(10) NULL to $main"; has "created USR_PAY4_"; has "$items is there"
run 0 ingest 4 "$work/r300.jsonl" --db "$db" --quiet
sql "DELETE FROM $main WHERE f_id IN (SELECT f_id FROM $main LIMIT 7)"
run 0 stats 4 --db "$db" --tsv; has "(records lacking their main row)	7"

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
    start=$SECONDS
    sed -n 1001,1500p "$work/r3000.jsonl" >&5 2>/dev/null
    exec 5>&-
    wait "$ingest_pid"; status=$?; want=1
    [ $((SECONDS - start)) -le 5 ] || failed "a wait of 1 s took $((SECONDS - start)) s to give up"
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

# One date form: YYYY-MM-DD HH:MM:SS, or a day alone (its first second for
# a start, its last for an end); anything else is refused before it is used.
fresh
run 0 ingest 4 "$work/r300.jsonl" --db "$db" --quiet
day=$(sql "SELECT COUNT(*) FROM $text WHERE f_date LIKE '2026-12-02 %'")
first=$(sql "SELECT COUNT(*) FROM $text WHERE f_date LIKE '2026-12-01 %'")
run 0 browse 4 2026-12-02 2026-12-02 --db "$db" --tsv
[ "$day" -gt 0 ] && [ "$(tail -n +2 "$work/out" | cut -f1 | sort -u | wc -l)" -eq "$day" ] ||
  failed "browse of a day alone found not its $day records"
# --limit limits every list a search prints; --ids prints them whole.
run 0 search 4 100 2026-12-01 2026-12-31 --db "$db" --limit 3
has "... and 297 more (--ids lists them all)"
[ "$(wc -c <"$work/out")" -lt 3000 ] || failed "search --limit 3 printed $(wc -c <"$work/out") bytes"
run 0 search 4 100 2026-12-01 2026-12-31 --db "$db" --limit 3 --ids
[ "$(grep '^passed:' "$work/out" | wc -w)" -eq 301 ] || failed "search --ids cut its list"
run 2 prune 4 --before yesterday --db "$db"; has "YYYY-MM-DD"
run 2 browse 4 2026-12-32 2026-12-31 --db "$db"
run 2 search 4 1 2026-02-29 2026-12-31 --db "$db"
run 2 browse 4 2026-12-01 "2026-12-01 24:00:00" --db "$db"
run 2 browse 4 2026-12-01 "2026-12-01T08:00:00" --db "$db"
[ "$(count "$text")" -eq 300 ] || failed "a date refused still deleted records"
run 0 prune 4 --before 2026-12-02 --db "$db" --quiet
[ "$(count "$text")" -eq $((300 - first)) ] || failed "prune --before a day"

# Input checked before it is used: a byte-order mark skipped, a record of
# another date form or with invalid UTF-8 refused with its line, a folder
# refused.
fresh
{ printf '\xef\xbb\xbf'; sed -n 1p "$work/r300.jsonl"
  sed -n 2p "$work/r300.jsonl" | sed 's/"date":"[^"]*"/"date":"yesterday"/'
  sed -n 3p "$work/r300.jsonl" | sed 's/"date":"\([^ ]*\) [^"]*"/"date":"\1"/'
  sed -n 4p "$work/r300.jsonl" | sed 's/"text":"/"text":"\xff/'
  sed -n 5p "$work/r300.jsonl"; } >"$work/mixed.jsonl"
run 1 ingest 4 "$work/mixed.jsonl" --db "$db" --quiet
has "stored 2 records"; has "line 2 is no record: 'date' is not YYYY-MM-DD HH:MM:SS: yesterday"
has "line 3 is no record: 'date' is not"; has "line 4 is no record: invalid UTF-8 at byte"
[ "$(sql "SELECT COUNT(*) FROM $text WHERE f_date = '$(sed -n 's/.*"date":"\([^"]*\)".*/\1/p;q' "$work/r300.jsonl")'")" -eq 1 ] ||
  failed "the first record after a byte-order mark"
run 1 ingest 4 "$work" --db "$db"; has "it is a folder"

# Conventions: options anywhere and as --opt=value, conflicting options
# refused, --version, one line for an unknown command, each command's help
# with its options, and lines that are no record named by file, line, field
# and byte.
check() {  # check STATUS TEXT ARGS...
  local want=$1 text=$2; shift 2
  run "$want" "$@"; has "$text"
}
check 0 "$version" --version
check 0 "$main" --db "$db" stats 4
check 0 "$main" stats --db="$db" 4 --busy-timeout=5
check 2 "exclude each other" stats 4 --odbc --db "$db"
check 2 "goes with --odbc" --odbc-extra PORT=1 stats 4 --db "$db"
check 2 "--busy-timeout" stats 4 --db "$db" --busy-timeout=-1
check 2 "unknown command 'bogus'" --db "$db" bogus 4
[ "$(wc -l <"$work/err")" -eq 1 ] || failed "an unknown command takes more than a line"
for c in init ingest browse search prune drop stats generate; do check 0 "Options:" $c --help; done
head -n 1 "$work/r300.jsonl" | sed 's/"camera":[0-9]*/"camera":"two"/' >"$work/bad.jsonl"
check 1 "bad.jsonl line 1 is no record: 'camera': a whole number was expected at byte" ingest 4 "$work/bad.jsonl" --db "$db"

# On a terminal: the progress line ends with a line feed, a message during
# an ingest starts a line of its own, and drop and prune ask first (--yes
# answers for scripts).
fresh
sed '290s/.*/not a record/' "$work/r300.jsonl" >"$work/bad290.jsonl"
script -qec "$h ingest 4 $work/bad290.jsonl --db $db --quiet" /dev/null | tr -d '\r' >"$work/out"
grep -q '100%  299 records.*/s $' "$work/out" || failed "no progress line of its own: $(head -c 300 "$work/out")"
grep -q '256 records' "$work/out" && grep -q '^quillmore-host: .*line 290 is no record' "$work/out" ||
  failed "a message during an ingest does not start a line of its own: $(head -c 300 "$work/out")"
first=$(sql "SELECT COUNT(*) FROM $text WHERE f_date LIKE '2026-12-01 %'")
ask() { printf '%s\n' "$1" | script -qec "$2" /dev/null | tr -d '\r' >"$work/out"; }
ask n "$h drop 4 --db $db"
grep -q 'drop the text table .*\[y/N\]' "$work/out" && [ "$(count "$text")" -eq 299 ] ||
  failed "drop did not ask, or acted on no: $(cat "$work/out")"
ask y "$h prune 4 --before 2026-12-02 --db $db --quiet"
grep -q "delete $first records of device 4" "$work/out" && [ "$(count "$text")" -eq $((299 - first)) ] ||
  failed "prune did not ask, or did not act on yes: $(cat "$work/out")"
script -qec "$h drop 4 --db $db --yes --quiet" /dev/null </dev/null >/dev/null
[ "$(sql "SELECT COUNT(*) FROM sqlite_master WHERE name = '$text'")" -eq 0 ] || failed "drop --yes"

# A failed write to standard output fails the command; paths are the
# current folder's, though the library moves the process to its own.
for c in "stats 4 --db $db" "generate 50000"; do
  read -ra args <<<"$c"
  "$h" "${args[@]}" >/dev/full 2>"$work/err" && failed "$c >/dev/full: exit 0"
  grep -q "can't write standard output" "$work/err" || failed "$c >/dev/full: no message"
done
mkdir "$work/elsewhere" && cp "$work/r300.jsonl" "$work/elsewhere/r.jsonl"
(cd "$work/elsewhere" && "$h" init 4 --db rel.sqlite -q && "$h" ingest 4 r.jsonl --db=rel.sqlite -q) >/dev/null ||
  failed "relative paths"
[ "$(sqlite3 "$work/elsewhere/rel.sqlite" "SELECT COUNT(*) FROM $text")" = 300 ] || failed "relative paths: not stored there"

[ $fail -eq 0 ] && echo "quillmore-host as an operator runs it: all passed"
exit $fail
