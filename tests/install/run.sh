#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the layout, builds
# and runs a small C++11 host against it with CMake and with pkg-config,
# and runs the installed programs through their links.
set -euo pipefail
build=$1
here=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/quillmore/QuillmoreExt.h lib/libquillmore.so \
         lib/cmake/Quillmore/QuillmoreConfig.cmake \
         lib/cmake/Quillmore/QuillmoreConfigVersion.cmake \
         lib/pkgconfig/quillmore.pc lib/quillmore/quillmore \
         lib/quillmore/quillmore-host lib/quillmore/DV/devdata.tmp \
         share/quillmore/DV/devdata.tmp; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
# The programs lie in lib/quillmore with their DV; bin has links to them.
for p in quillmore quillmore-host; do
  [ "$(readlink "$prefix/bin/$p")" = "../lib/quillmore/$p" ] ||
    { echo "bin/$p is no link to lib/quillmore/$p"; exit 1; }
done
[ ! -e "$prefix/bin/DV" ] || { echo "a DV folder in bin"; exit 1; }
grep -qx "prefix=$prefix" "$prefix/lib/pkgconfig/quillmore.pc" ||
  { echo "quillmore.pc names another prefix"; exit 1; }
readelf -d "$prefix/lib/libquillmore.so" | grep -q 'SONAME.*libquillmore.so.1' \
  || { echo "no SONAME"; exit 1; }
# With CMake.
cmake -S "$here/host" -B "$work/cm" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cm" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$work/cm/host"
# With pkg-config, as C++11.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
g++ -std=c++11 -Wall -Wextra -Werror "$here/host/host.cpp" -o "$work/pc-host" \
  $(pkg-config --cflags --libs quillmore)
LD_LIBRARY_PATH="$prefix/lib" "$work/pc-host"
# The installed programs, started through their links, find their library
# and their DV folder.
"$prefix/bin/quillmore" show 1 >/dev/null
"$prefix/bin/quillmore-host" stats 4 --db "$work/stats.sqlite" >/dev/null
echo "install tree ok"
