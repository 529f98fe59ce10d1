#!/usr/bin/env bash
# The quillmore CLI: exit statuses, help, and every command on a copy of the
# sample installation (so nothing changes the build's own DV folder).
# Arguments: [--wine LOADER] the executable (on Windows, its DLLs lie
# beside it, and LOADER is the Wine loader that starts it).
set -uo pipefail
run=()
[ "$1" = --wine ] && { run=("$2"); shift 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
install() {  # install FOLDER: quillmore (and its DLLs) in FOLDER, no DV
  mkdir -p "$1" && cp "$exe" "$1/"
  [ ${#run[@]} -eq 0 ] || cp "$(dirname "$exe")"/*.dll "$1/"
}
exe=$1
install "$work"
install "$work/nodv"
cp -r "$(dirname "$1")/DV" "$work/DV"
q=("${run[@]}" "$work/$(basename "$1")")
native() {  # native PATH: the path as quillmore prints it
  if [ ${#run[@]} -eq 0 ]; then printf '%s' "$1"; else "${run[@]}" winepath -w "$1" 2>/dev/null; fi
}
fail=0
expect() {  # expect STATUS ARGS...: run quillmore, no terminal on stdin
  local want=$1; shift
  "${q[@]}" "$@" >"$work/out" 2>"$work/err" </dev/null
  local got=$?
  if [ "$got" -ne "$want" ]; then
    echo "quillmore $*: exit $got, expected $want"; cat "$work/err"; fail=1
  fi
}
has() {  # has TEXT: the last command printed TEXT
  grep -qF -- "$1" "$work/out" "$work/err" || { echo "no '$1' in the output"; fail=1; }
}
lacks() {  # lacks TEXT: the last command did not print TEXT
  ! grep -qF -- "$1" "$work/out" "$work/err" || { echo "'$1' in the output"; fail=1; }
}
# Table rows: STATUS|ARGS (tab-separated)|TEXT the output holds ('' for none).
table() {
  local status args text
  while IFS='|' read -r status args text; do
    [ -n "$status" ] || continue
    local -a argv
    IFS=$'\t' read -r -a argv <<<"$args"
    expect "$status" "${argv[@]}"
    [ -z "$text" ] || has "$text"
  done
}

# Conventions: help, version, unknown commands, options anywhere.
table <<'EOF'
0|--help|Search items:
2||Usage: quillmore
0|--version|quillmore 1.
0|show	1	--version|quillmore 1.
2|bogus|unknown command 'bogus'
2|shwo	4|did you mean 'show'?
2|show|DEVICE is required
2|show	1x|Could not convert: DEVICE = 1x
2|show	99999999999|DEVICE = 99999999999
2|show	1	extra|not expected: extra
2|insert	1	notanumber	-|ID = notanumber
1|validate-xslt	/nonexistent/file.xsl|does not load as XML
0|show	1|use database
0|demo|device 3
0|--or	sql	4	search	1	a	b	text=A	text=B|or (m.f_text like '%B%')
0|sql	--savepos=77	4	insert	1	D	T|, 77)
2|search	4	1	a	b	--or	--and|--or excludes --and
2|sql	4	insert	1	D	T	--xml	a	--xml	b|--xml
2|sql	4	browse	a	b	--or|--or goes with the search statement
2|sql	4	serch	1	a	b|did you mean 'search'?
2|sql	4	insert	1	D|usage: quillmore sql DEVICE insert CAMERA DATE TEXT
EOF
for c in devices check show set-database set-xslt validate-xslt create-database \
         tables names set-user-tables try-user-tables items add-item set-item \
         delete-item set-items sql insert search match demo; do
  expect 0 "$c" --help; has "Usage: quillmore $c"; has "-h,--help"
done
expect 0 sql --help; has '--savepos UINT'; has '--or Excludes: --and'
expect 0 create-database --help; has '--yes'
for out in "show 1" "--help"; do  # a write error on standard output
  "${q[@]}" $out >/dev/full 2>"$work/err"
  [ $? -ne 0 ] && grep -q "can't write the output" "$work/err" ||
    { echo "quillmore $out >/dev/full: no failure"; fail=1; }
done

# Settings, the password masked; values checked with the field named.
expect 0 show 3; has 'DRIVER={MySQL ODBC 3.51 Driver};SERVER=localhost;DATABASE=quillmore;UID=recorder;PWD=***;'
has '(set, 6 characters)'; lacks secret
expect 0 devices; has 'TBL_TEXTDATAEX4_'; has '/var/lib/quillmore'
table <<'EOF'
2|set-database	4	2	2|USE is 0 or 1, not 2
2|set-database	4	1	5|TYPE is 0 (none)
2|set-database	4	0	2	srv|give DEVICE USE TYPE alone
2|set-database	4	1	0	srv|give DEVICE USE TYPE alone
2|set-database	1	1	1	/f	name|has no NAME
0|set-database	3	1	4	h;st	quillmore	recorder	s{cret|the server holds ';'
0|show	3|the password holds '{'
1|set-database	3	1	4	 padded|database server reads 'padded' from
0|set-database	3	0	2|database type        2
EOF
lacks 's{cret'
expect 1 set-database 3 1 4 "$(printf 'x%.0s' {1..300})"; has 'database server reads'
expect 0 set-database 3 1 4 localhost quillmore recorder secret

# User tables from the notation; what the library refuses is said first.
table <<'EOF'
2|set-user-tables	3	Total:20 Total:5|'Total' twice at the top level
2|set-user-tables	3	Item[name:40|no closing ']'
2|set-user-tables	3	Total|a column is NAME:LENGTH
2|set-user-tables	3|DEFS is required
0|try-user-tables	3	A:5 G[x:1,y:2]|CREATE TABLE USR_G3_
0|set-user-tables	3	Total:20	Cashier:30 Item[name:40,price:10]|Total:20 Cashier:30 Item[name:40,price:10]
0|tables	3|f_id f_name f_price
EOF
expect 0 names 3; [ "$(wc -l <"$work/out")" -eq 2 ] || { echo "names 3: not two names"; fail=1; }
expect 0 set-user-tables 3 ''; has 'user tables off'
expect 1 names 3

# Search items: add, change, delete, replace; every value checked.
table <<'EOF'
0|add-item	3	name=Card payment	kind=keyword	keyword=CARD	nokeyword=VOID|[0] name=Card payment kind=2
0|add-item	3	name=Total	kind=field	table=TBL_USER3_X	field=f_total	number=1|[1] name=Total kind=1 table=TBL_USER3_X field=f_total number=1 findtype=0
2|add-item	3	name=Bad	kind=4|kind is 0, 1 or 2
2|add-item	3	name=Bad	number=2|number is 0 (compare as text) or 1
2|add-item	3	name=Bad	number=1	findtype=2|findtype is 0
2|add-item	3	name=Bad	kind=2	split=4|split is -1
2|add-item	3	name=Bad	pre=4|pre=4 names no item
2|add-item	3	name=Bad	kind=1	table=T-1	field=f|table='T-1'
2|add-item	3	name=Bad	kind=0	element=a b|element='a b'
2|add-item	3	name=Ann |can't begin or end with a blank
2|add-item	3	colour=red|no such FIELD
0|set-item	3	1	field=f_cashier	number=0	pre=1|[1] name=Total kind=1 table=TBL_USER3_X field=f_cashier pre=1
1|set-item	3	7	name=x|has no item 7
0|delete-item	3	0|has 1 search item(s)
1|delete-item	3	5|has no item 5
0|set-items	3	name=A	kind=2	keyword=A	/	name=B	kind=0	element=Total|[1] name=B kind=0 element=Total compare=0
2|set-items	3	name=A	/	name=B	pre=3|pre=3 names no item
0|set-items	3|has 0 search item(s)
EOF

# Every statement, previewed; terms name items that exist.
printf '<Receipt><Total>1.00</Total><Cashier>Ann</Cashier><Items><Item name="Tea" price="1.00"/></Items></Receipt>' >"$work/r.xml"
printf '[GENERAL]\nDATABASE=1\nDBTYPE=2\n' >"$work/DV/devdata2147483647.ini"
table <<EOF
0|sql	3	create-database|CREATE DATABASE IF NOT EXISTS \`quillmore\` CHARACTER SET utf8mb4
0|sql	2	create-database	other|DB_ID(N'other')
1|sql	1	create-database	x|
0|sql	2	create-table|IDENTITY(1,1)
0|sql	2	drop-table|drop table TBL_TEXTDATAEX2_
0|sql	4	create-user-tables|CREATE TABLE USR_ITEM4_
0|sql	4	drop-user-tables|drop table [USR_ITEM4_
0|sql	4	insert	1	2026-12-01 08:00:00	TOTAL 1.00	--xml	$work/r.xml	--savepos	7|VALUES ('2026-12-01 08:00:00', '', 1, 'TOTAL 1.00', '<Receipt>
0|sql	2147483647	insert	-2147483648	D	T	--savepos	2147483648|, -2147483648, 'T', '', '', -2147483648)
0|sql	4	user-insert	42	$work/r.xml|VALUES ( 42 ,'Tea','1.00')
0|insert	4	42	$work/r.xml|INSERT INTO USR_ITEM4_
0|sql	4	delete-below	500|DELETE FROM [TBL_USER4_
0|sql	4	delete-before	2026-11-01|WHERE f_date < '2026-11-01'
0|sql	4	browse	2026-12-01	2026-12-02|between '2026-12-01' and '2026-12-02'
0|sql	4	browse-template|between '%s' and '%s'
0|sql	4	search	100	2026-12-01	2026-12-02	text=CARD	--or|m.f_text like '%CARD%'
2|sql	4	search	1	a	b	text>1|free-text search takes only '='
2|sql	4	search	1	a	b	3=Ann|device 4 has no item 3
2|search	4	1	a	b	2=1	5=x|device 4 has no item 5
2|match	4	TEXT	3=|device 4 has no item 3
2|sql	4	unknown|unknown statement 'unknown'
0|match	4	TOTAL 5.00 CARD	0=|match
1|match	4	TOTAL 5.00 CARD VOID	0=|no match
EOF

# Paths are the current folder's, though the library moves the current
# folder to the executable's.
mkdir -p "$work/here/jet" && cd "$work/here" && cp ../r.xml here.xml || exit 1
printf '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"/>' >mine.xsl
printf '<not-closed>' >broken.xsl
table <<EOF
0|insert	4	42	here.xml|VALUES ( 42 ,'Tea','1.00')
0|sql	4	user-insert	42	here.xml|VALUES ( 42 ,'Tea','1.00')
0|sql	4	insert	1	D	T	--xml=here.xml|'<Receipt><Total>1.00
0|validate-xslt	mine.xsl|loads as XML
0|set-xslt	4	mine.xsl|$(native "$work/here/mine.xsl")
1|set-xslt	4	broken.xsl|does not load as XML
0|show	4|$(native "$work/here/mine.xsl")
0|set-xslt	4|stylesheet: (none)
0|set-database	1	1	1	jet|$(native "$work/here/jet")
EOF
cd "$work" || exit 1

# A write is reported only when the file, read back, holds it; a Jet file
# only when it was made.
nodv=("${run[@]}" "$work/nodv/$(basename "$exe")")
for args in "set-user-tables 5 A:1" "set-user-tables 5 ''" "add-item 5 name=A kind=2" \
            "set-items 5 name=A" "set-xslt 5 $work/here/mine.xsl" "set-database 5 1 2 srv db"; do
  eval "set -- $args"
  "${nodv[@]}" "$@" >"$work/out" 2>"$work/err" </dev/null
  [ $? -eq 1 ] && grep -q 'was not written' "$work/err" ||
    { echo "quillmore $args without DV: not refused"; cat "$work/err"; fail=1; }
done
table <<EOF
0|set-database	1	1	1	$work/missing|$(native "$work/missing")
1|create-database	1|the Jet folder $(native "$work/missing") does not exist
0|set-database	1	1	1	$work/here/jet|
0|create-database	1|textdb1.mdb
EOF
echo data >"$work/here/jet/textdb1.mdb"
table <<EOF
1|create-database	1|exists and was kept (--yes replaces it)
0|create-database	1	--yes|textdb1.mdb
EOF
[ ! -s "$work/here/jet/textdb1.mdb" ] || { echo "create-database --yes kept the file"; fail=1; }

# Device files that don't read as one, and what would make bad SQL.
printf 'MZ\x90\x1b\x00garbage\n' >"$work/DV/devdata8.ini"
printf '[Notes]\nA=1\n' >"$work/DV/devdata6.ini"
printf '[ITEMSEARCH]\nLEN=2\nS1=A\n[S1]\nTYPE=2\n' >"$work/DV/devdata9.ini"
cat >"$work/DV/devdata7.ini" <<'EOF'
[GENERAL]
DATABASE=1
DBTYPE=2
DBSERVER=sqlhost
DBNAME=db
PWD=a;b
[XML]
USEUSERTABLE=1
[USERTABLE]
LEN=3
ELEMENT1=Bad-Name
FIELDLEN1=0
ELEMENT2=Bad-Name
FIELDLEN2=5
CHILDLEN3=256
ELEMENT3=G
[ELEMENT3]
ELEMENT1=x
FIELDLEN1=1
[ITEMSEARCH]
LEN=2
S1=Elsewhere
S2=No column
[S1]
TYPE=1
TABLE=TBL_USER7_0
FIELD=f_x
[S2]
TYPE=1
TABLE=T
EOF
expect 1 devices
has 'devdata8.ini does not read as a device file: holds the byte 0x1B on line 1'
has 'devdata6.ini does not read as a device file: has none of the sections'
has 'devdata9.ini does not read as a device file: ITEMSEARCH counts 2 items, but S2 names none'
lacks 'devdata4.ini does not'
table <<'EOF'
0|check	4|device 4: no problems found
1|check	9|S2 names none
1|check	42|there is no
1|check	7|'Bad-Name' at the top level is no identifier
1|check	7|'Bad-Name' at the top level is there twice
1|check	7|has the length 0
1|check	7|CHILDLEN3=256: the library reads 0 columns
1|check	7|item [0] searches the table TBL_USER7_0, which is none
1|check	7|item [1] item 'No column': field=''
1|check	7|the password holds ';'
EOF
[ $fail -eq 0 ] && echo "cli ok"
exit $fail
