#!/usr/bin/env bash
# The quillmore CLI: exit statuses, help, and every command on a copy of the
# sample installation (so nothing changes the build's own DV folder).
# Arguments: [wine] the executable (on Windows, its DLLs lie beside it).
set -uo pipefail
run=()
[ "$1" = wine ] && { run=(wine); shift; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$1" "$work/"
cp -r "$(dirname "$1")/DV" "$work/DV"
[ ${#run[@]} -eq 0 ] || cp "$(dirname "$1")"/*.dll "$work/"
q=("${run[@]}" "$work/$(basename "$1")")
fail=0
expect() {  # expect STATUS ARGS...
  local want=$1; shift
  "${q[@]}" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" -ne "$want" ]; then
    echo "quillmore $*: exit $got, expected $want"; cat "$work/err"; fail=1
  fi
}
has() {  # has TEXT: the last command printed TEXT
  grep -qF -- "$1" "$work/out" "$work/err" || { echo "no '$1' in the output"; fail=1; }
}
expect 0 --help
expect 2
expect 2 bogus
expect 2 show
expect 2 show 1x
expect 2 show 99999999999
expect 2 insert 1 notanumber -
expect 1 validate-xslt /nonexistent/file.xsl
expect 0 show 1
expect 0 demo
for c in devices show set-database set-xslt validate-xslt create-database tables \
         names set-user-tables try-user-tables items add-item set-item delete-item \
         set-items sql insert search match demo; do
  expect 0 "$c" --help; has "usage: quillmore $c"
done
expect 0 show 3; has 'DRIVER={MySQL ODBC 3.51 Driver};SERVER=localhost;DATABASE=quillmore;UID=recorder;PWD=secret;'
has '(set, 6 characters)'
expect 0 devices; has 'TBL_TEXTDATAEX4_'; has '/var/lib/quillmore'

# User tables from the notation; what the library refuses is said first.
expect 2 set-user-tables 3 'Total:20 Total:5'; has "'Total' twice at the top level"
expect 2 set-user-tables 3 'Item[name:40'; has "no closing ']'"
expect 2 set-user-tables 3 'Total'; has 'a column is NAME:LENGTH'
expect 0 try-user-tables 3 'A:5 G[x:1,y:2]'; has 'CREATE TABLE USR_G3_'; has 'drop table [TBL_USER3_'
expect 0 set-user-tables 3 'Total:20' 'Cashier:30 Item[name:40,price:10]'
expect 0 tables 3; has 'Total:20 Cashier:30 Item[name:40,price:10]'; has 'f_id f_name f_price'
has 'CREATE TABLE TBL_USER3_'; has 'not null, f_total varchar(20) NULL'
expect 0 names 3; [ "$(wc -l <"$work/out")" -eq 2 ] || { echo "names 3: not two names"; fail=1; }
expect 0 set-user-tables 3 ''; has 'user tables off'
expect 1 names 3

# Search items: add, change, delete, replace the whole list.
expect 0 add-item 3 'name=Card payment' kind=keyword keyword=CARD nokeyword=VOID
expect 0 add-item 3 name=Total kind=field table=TBL_USER3_X field=f_total number=1
has '[1] name=Total kind=1 table=TBL_USER3_X field=f_total number=1 findtype=0'
expect 2 add-item 3 name=Bad kind=4
expect 2 add-item 3 colour=red; has 'no such FIELD'
expect 0 set-item 3 1 field=f_cashier number=0; has '[1] name=Total kind=1 table=TBL_USER3_X field=f_cashier'
expect 1 set-item 3 7 name=x
expect 0 delete-item 3 0; has 'has 1 search item(s)'
expect 0 set-items 3 name=A kind=2 keyword=A / name=B kind=0 element=Total
has '[1] name=B kind=0 element=Total compare=0'
expect 0 set-items 3; has 'has 0 search item(s)'

# Every statement, previewed.
expect 0 sql 3 create-database; has 'CREATE DATABASE IF NOT EXISTS `quillmore` CHARACTER SET utf8mb4'
expect 0 sql 2 create-database other; has "DB_ID(N'other')"
expect 1 sql 1 create-database x
expect 0 sql 2 create-table; has 'IDENTITY(1,1)'
expect 0 sql 2 drop-table; has 'drop table TBL_TEXTDATAEX2_'
expect 0 sql 4 create-user-tables; has 'CREATE TABLE USR_ITEM4_'
expect 0 sql 4 drop-user-tables; has 'drop table [USR_ITEM4_'
printf '<Receipt><Total>1.00</Total><Cashier>Ann</Cashier><Items><Item name="Tea" price="1.00"/></Items></Receipt>' >"$work/r.xml"
expect 0 sql 4 insert 1 '2026-12-01 08:00:00' 'TOTAL 1.00' --xml "$work/r.xml" --savepos 7
has "VALUES ('2026-12-01 08:00:00', '', 1, 'TOTAL 1.00', '<Receipt>"
expect 0 sql 4 user-insert 42 "$work/r.xml"; has "INSERT INTO USR_ITEM4_"; has "VALUES ( 42 ,'Tea','1.00')"
expect 0 insert 4 42 "$work/r.xml"
expect 0 sql 4 delete-below 500; has 'DELETE FROM [TBL_USER4_'
expect 0 sql 4 delete-before 2026-11-01; has "WHERE f_date < '2026-11-01'"
expect 0 sql 4 browse 2026-12-01 2026-12-02; has "between '2026-12-01' and '2026-12-02'"
expect 0 sql 4 browse-template; has "between '%s' and '%s'"
expect 0 sql 4 search 100 2026-12-01 2026-12-02 'text=CARD' --or; has "m.f_text like '%CARD%'"
expect 2 sql 4 search 1 a b 'text>1'
expect 2 sql 4 unknown
expect 0 match 4 'TOTAL 5.00 CARD' 0=; has 'match'
expect 1 match 4 'TOTAL 5.00 CARD VOID' 0=
[ $fail -eq 0 ] && echo "cli ok"
exit $fail
