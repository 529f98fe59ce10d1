#!/usr/bin/env bash
# The quillmore CLI: exit statuses and the sample installation's output.
# Arguments: the command that runs it ("wine quillmore.exe" on Windows).
set -uo pipefail
q=("$@")
fail=0
expect() {  # expect STATUS ARGS...
  local want=$1; shift
  "${q[@]}" "$@" >/dev/null 2>&1
  local got=$?
  if [ "$got" -ne "$want" ]; then
    echo "quillmore $*: exit $got, expected $want"; fail=1
  fi
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
out=$("${q[@]}" show 3)
grep -q 'DRIVER={MySQL ODBC 3.51 Driver};SERVER=localhost;DATABASE=quillmore;UID=recorder;PWD=secret;' <<<"$out" \
  || { echo "show 3: no MySQL connection string"; fail=1; }
"${q[@]}" --help | grep -q '^usage: quillmore' || { echo "--help: no usage"; fail=1; }
{ "${q[@]}" 2>&1 >/dev/null; true; } | grep -q '^usage: quillmore' || { echo "no args: no usage on stderr"; fail=1; }
[ $fail -eq 0 ] && echo "cli ok"
exit $fail
