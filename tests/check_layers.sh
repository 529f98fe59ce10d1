#!/usr/bin/env bash
# Each subsystem includes only from the layers below it, so no two
# subsystems depend on each other. Test files may include anything.
set -euo pipefail
src="$1/src"
declare -A allowed=(
  [platform]="platform"
  [config]="platform config"
  [textsql]="platform config textsql"
  [xml]="platform xml"
  [search]="platform config textsql search"
  [usertable]="platform config textsql xml usertable"
  [frame]="platform config textsql xml search usertable frame"
)
bad=0
for dir in "${!allowed[@]}"; do
  while IFS=: read -r file line; do
    inc=${line#*\"}
    layer=${inc%%/*}
    [ -d "$src/$layer" ] || continue  # the public header, system headers
    if [[ " ${allowed[$dir]} " != *" $layer "* ]]; then
      echo "${file#"$1"/}: $dir may not include $inc" >&2
      bad=1
    fi
  done < <(grep -H '^#include "' -r "$src/$dir" --include='*.h' \
             --include='*.cpp' --exclude='*_test.cpp' --exclude='test_*.h')
done
exit $bad
