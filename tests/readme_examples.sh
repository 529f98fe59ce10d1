#!/usr/bin/env bash
# The examples of quillmore and quillmore-host in a document run as written:
# the lines of its code blocks (indented by four blanks, or fenced) that
# begin with one of the two commands, in the order shown, on one fresh copy
# of the sample installation, in a folder of their own with the copy first
# on PATH. The test fails when one exits non-zero. Examples that need a
# database server (--odbc) are named and skipped.
# Arguments: DOCUMENT (the README, or a page of docs/) and BIN, the folder
# that holds quillmore, quillmore-host and the DV folder.
set -uo pipefail
doc=$1 bin=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/run" &&
  cp "$bin/quillmore" "$bin/quillmore-host" "$work/bin/" &&
  cp -r "$bin/DV" "$work/bin/DV" || exit 1
mapfile -t examples < <(awk '
  /^[ \t]*```/ { fenced = !fenced; next }
  fenced || /^    / {
    line = $0; sub(/^[ \t]+/, "", line)
    if (line ~ /^quillmore(-host)? /) print line
  }' "$doc")
[ ${#examples[@]} -gt 0 ] || { echo "no examples of quillmore in $doc"; exit 1; }
fail=0 ran=0
for example in "${examples[@]}"; do
  if [[ $example == *--odbc* ]]; then
    echo "skipped, needs a database server: $example"
    continue
  fi
  (cd "$work/run" && PATH="$work/bin:$PATH" bash -c "set -o pipefail; $example") \
    </dev/null >"$work/out" 2>&1
  status=$?
  ran=$((ran + 1))
  if [ $status -ne 0 ]; then
    echo "exit $status: $example"; tail -n 20 "$work/out"; fail=1
  fi
done
[ $fail -eq 0 ] && echo "readme examples ok: $ran ran ($doc)"
exit $fail
