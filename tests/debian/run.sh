#!/usr/bin/env bash
# The Debian packages as a user gets them: built from this tree by
# scripts/deb (lintian finds no error), installed with apt-get, used through
# /usr alone (no build tree on any path: a host built with find_package and
# with pkg-config, quillmore and quillmore-host through the /usr/bin links
# on the installed DV), then purged, leaving nothing behind.
# It installs packages system-wide, so it needs root (or sudo) on a machine
# where that is fine (CI's is disposable), and it refuses to run where the
# packages, /var/lib/quillmore or the group quillmore exist already.
set -euo pipefail
cd "$(dirname "$0")/../.."
tree=$PWD
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
version=$(sed -n 's/^project(Quillmore VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d)
chmod 755 "$work"  # the unprivileged runs below start here
installed=()
purge() {
  [ ${#installed[@]} -gt 0 ] || return 0
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive timeout 300 \
    apt-get purge -y -q -o DPkg::Lock::Timeout=120 "${installed[@]}" >"$work/purge.log" 2>&1 ||
    { cat "$work/purge.log"; return 1; }
  installed=()
}
trap 'purge || true; rm -rf "$work"' EXIT
fail() {
  echo "debian packages: $*" >&2
  exit 1
}
step() { echo "-- $* (at ${SECONDS} s)"; }

for p in libquillmore1 libquillmore-dev quillmore-tools; do
  if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qv '^not-installed$'; then
    fail "$p is on this machine already; the test installs and purges it itself"
  fi
done
[ ! -e /var/lib/quillmore ] || fail "/var/lib/quillmore exists: a purge would remove it"
! getent group quillmore >/dev/null || fail "the group quillmore exists: a purge would remove it"

step "build and lintian (scripts/deb)"
timeout 1200 bash scripts/deb "$work/debs" >"$work/deb.log" 2>&1 ||
  { tail -n 40 "$work/deb.log"; fail "scripts/deb failed"; }
grep -E '^[WEI]: ' "$work/deb.log" || true

step "apt-get install"
debs=("$work"/debs/*.deb)
for d in "${debs[@]}"; do installed+=("$(dpkg-deb -f "$d" Package)"); done
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive timeout 300 \
  apt-get install -y -q -o DPkg::Lock::Timeout=120 "${debs[@]}" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install failed"; }
for p in "${installed[@]}"; do
  [ "$(dpkg-query -W -f='${Version}' "$p")" = "$version" ] || fail "$p is not version $version"
  dpkg -L "$p" >>"$work/files"
done

# Everything below sees only what the packages installed: a bare
# environment, started outside the clone.
cd "$work"
run() { env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work" LANG=C.UTF-8 "$@"; }
lib=/usr/lib/$multiarch/libquillmore.so.1.0.0
# Installed files that name the build tree (a path of the package build).
names_build=$(xargs -d '\n' grep -lF "$work/debs" 2>/dev/null <"$work/files" || true)
[ -z "$names_build" ] || fail "installed files name the build tree: $names_build"

step "a host built with find_package(Quillmore) and with pkg-config"
cp -r "$tree/tests/install/host" consumer
run cmake -S consumer -B cm >cm.log 2>&1 || { cat cm.log; fail "cmake failed"; }
grep -qF "Quillmore $version in /usr/lib/$multiarch/cmake/Quillmore" cm.log ||
  { cat cm.log; fail "find_package found no Quillmore $version in /usr"; }
run cmake --build cm >>cm.log 2>&1 || { cat cm.log; fail "the CMake host did not build"; }
[ "$(run pkg-config --modversion quillmore)" = "$version" ] || fail "quillmore.pc is not $version"
[ "$(run pkg-config --variable=prefix quillmore)" = /usr ] || fail "quillmore.pc's prefix is not /usr"
flags=$(run pkg-config --cflags --libs quillmore)
[ "$(echo $flags)" = -lquillmore ] || fail "pkg-config gives '$flags', more than -lquillmore"
run g++ -std=c++11 -Wall -Wextra -Werror consumer/host.cpp -o pc-host $flags
for host in cm/host pc-host; do
  run "./$host" >/dev/null || fail "$host failed"
  [ "$(readlink -f "$(ldd "$host" | awk '/libquillmore/ {print $3}')")" = "$lib" ] ||
    fail "$host does not load $lib"
done

step "quillmore and quillmore-host through /usr/bin on /var/lib/quillmore/DV"
for p in quillmore quillmore-host; do
  run "$p" --version | grep -qw "$version" || fail "$p --version does not say $version"
  [ "$(readlink -f "$(command -v "$p")")" = "/usr/lib/quillmore/$p" ] || fail "/usr/bin/$p leads elsewhere"
  readelf -d "/usr/lib/quillmore/$p" | grep -qF "[\$ORIGIN/../$multiarch]" ||
    fail "$p has no library path from /usr/lib/quillmore"
done
[ "$(readlink /usr/lib/quillmore/DV)" = /var/lib/quillmore/DV ] || fail "DV leads elsewhere"
[ "$(stat -c %a:%U:%G /var/lib/quillmore/DV)" = 2775:root:quillmore ] ||
  fail "/var/lib/quillmore/DV is $(stat -c %a:%U:%G /var/lib/quillmore/DV)"
diff -r /usr/share/quillmore/DV /var/lib/quillmore/DV || fail "DV differs from the sample"
run quillmore devices >devices.txt
[ "$(awk 'NR > 1 {printf "%s ", $1}' devices.txt)" = "1 2 3 4 " ] || { cat devices.txt; fail "quillmore devices"; }
# Everyone reads the devices; only root and the group quillmore change them.
gid=$(getent group quillmore | cut -d: -f3)
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
# (The CLI reports no failed write, as the library's setters don't: the
# file itself tells.)
device2=/var/lib/quillmore/DV/devdata2.ini
run "${as_nobody[@]}" quillmore show 2 >/dev/null || fail "nobody can't read device 2"
run "${as_nobody[@]}" quillmore set-user-tables 2 'Total:20' >/dev/null 2>&1 || true
cmp -s "$device2" /usr/share/quillmore/DV/devdata2.ini || fail "nobody changed device 2"
as_member=(setpriv --reuid=nobody --regid=nogroup --groups="$gid")
run "${as_member[@]}" quillmore set-user-tables 2 'Total:20' >/dev/null ||
  fail "a member of quillmore can't change device 2"
grep -qx 'ELEMENT1=Total' "$device2" || fail "a member of quillmore didn't change device 2"
[ "$(stat -c %U:%G "$device2")" = nobody:quillmore ] ||
  fail "device 2, changed by a member, is $(stat -c %U:%G "$device2")"
# The road of the sample till on SQLite, the database in the current folder.
run quillmore-host generate 200 --seed 7 >records.jsonl
run quillmore-host init 4 --db till.sqlite --quiet >/dev/null || fail "quillmore-host init"
run quillmore-host ingest 4 records.jsonl --db till.sqlite --quiet >/dev/null ||
  fail "quillmore-host ingest"
[ -s till.sqlite ] || fail "the database is not in the current folder"
found=$(run quillmore-host search 4 100 2026-12-01 2026-12-31 0= --db till.sqlite --ids |
  sed -n 's/^passed: //p' | wc -w)
expected=$(grep CARD records.jsonl | grep -vc VOID)
[ "$found" = "$expected" ] || fail "the card-payment search found $found records, not $expected"
[ -z "$(ls -A /usr/lib/quillmore | grep -vxE 'DV|quillmore|quillmore-host')" ] ||
  fail "something was written into /usr/lib/quillmore"
# A configuration after the first copies back a missing template or
# script, and neither a removed device file nor over a changed one.
rm /var/lib/quillmore/DV/devdata3.ini /var/lib/quillmore/DV/table4.sql
cp "$device2" device2.ini
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive dpkg-reconfigure quillmore-tools
[ -f /var/lib/quillmore/DV/table4.sql ] || fail "table4.sql was not copied back"
[ ! -e /var/lib/quillmore/DV/devdata3.ini ] || fail "device 3 came back"
cmp -s device2.ini "$device2" || fail "device 2 was overwritten"

step "apt-get purge"
purge || fail "apt-get purge failed"
left=()
while read -r f; do
  if [ -L "$f" ] || [ -f "$f" ] || { [ -d "$f" ] && [ -z "$(ls -A "$f")" ]; }; then left+=("$f"); fi
done <"$work/files"
for f in /var/lib/quillmore /usr/lib/quillmore /usr/share/quillmore; do
  [ ! -e "$f" ] || left+=("$f")
done
! getent group quillmore >/dev/null || left+=("the group quillmore")
[ ${#left[@]} -eq 0 ] || fail "left after the purge: ${left[*]}"
echo "debian packages: built, lintian clean, installed, used from /usr and purged in ${SECONDS} s"
