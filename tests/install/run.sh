#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the layout, and builds
# and runs a small C++11 host against it with CMake and with pkg-config.
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
         lib/pkgconfig/quillmore.pc bin/quillmore bin/DV/devdata.tmp; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
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
# The installed CLI finds its library and its DV folder.
"$prefix/bin/quillmore" show 1 >/dev/null
echo "install tree ok"
