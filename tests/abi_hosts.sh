#!/usr/bin/env bash
# Runs builds of quillmore-abi-host (host/abi_host.cpp), each in a fresh
# folder with a copy of the DV folder (and, for a Windows build, the
# quillmore.dll beside it), started from another folder. Each must pass its
# own checks, and every build must give the first one's answers.
#   bash tests/abi_hosts.sh DV HOST [HOST...]
# A HOST ending in .exe runs under $WINE (default: the 64-bit loader).
set -euo pipefail
dv=$1
shift
wine=${WINE:-}
if [ -z "$wine" ]; then
  wine=wine
  [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=0
first=""
for host in "$@"; do
  n=$((n + 1))
  dir=$work/$n
  mkdir "$dir"
  cp -r "$dv" "$dir/DV"
  cp "$host" "$dir/"
  run=("$dir/$(basename "$host")")
  if [[ $host == *.exe ]]; then
    cp "$(dirname "$host")/quillmore.dll" "$dir/"
    run=("$wine" "${run[@]}")
  fi
  if ! (cd "$work" && "${run[@]}") 2>"$dir.err" | tr -d '\r' >"$dir.out" ||
     ! grep -qx '0 failed' "$dir.out"; then
    echo "FAIL $host"
    cat "$dir.out" "$dir.err"
    exit 1
  fi
  grep '^= ' "$dir.out" >"$dir.answers"
  echo "$host: $(wc -l <"$dir.answers") answers, $(grep -c '^ok ' "$dir.out") checks passed"
  if [ -z "$first" ]; then
    first=$dir.answers
  elif ! diff -u "$first" "$dir.answers"; then
    echo "FAIL $host: its answers differ from those of $1"
    exit 1
  fi
done
echo "$n hosts, the same answers"
