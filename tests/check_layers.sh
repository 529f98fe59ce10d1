#!/usr/bin/env bash
# Each subsystem includes only from the layers below it, so no two
# subsystems depend on each other. Test files may include anything.
# base/ holds pure character helpers and profile/ the INI text format
# (parsed and edited, no I/O), so the plain functions of config/, textsql/,
# search/ and usertable/ never see the operating system (platform/). The
# tools and the host use the public header, their own headers and base/.
set -euo pipefail
root="$1"
declare -A allowed=(
  [src/base]="base"
  [src/profile]="base profile"
  [src/platform]="base profile platform"
  [src/config]="base profile config"
  [src/textsql]="base config textsql"
  [src/xml]="base platform xml"
  [src/search]="base config textsql search"
  [src/usertable]="base config textsql xml usertable"
  [src/frame]="base profile platform config textsql xml search usertable frame"
  [tools]="base"
  [host]=""
)
bad=0
for dir in "${!allowed[@]}"; do
  [ -d "$root/$dir" ] || continue
  while IFS=: read -r file line; do
    inc=${line#*\"}
    inc=${inc%%\"*}
    layer=${inc%%/*}
    [ "$layer" != "$inc" ] || continue          # a header of the same folder
    [ -d "$root/src/$layer" ] || continue       # the public header
    if [[ " ${allowed[$dir]} " != *" $layer "* ]]; then
      echo "${file#"$root"/}: $dir may not include $inc" >&2
      bad=1
    fi
  done < <(grep -H '^#include "' -r "$root/$dir" --include='*.h' \
             --include='*.cpp' --exclude='*_test.cpp' --exclude='test_*.h')
done
exit $bad
