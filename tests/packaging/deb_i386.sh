#!/bin/sh
# SPDX-License-Identifier: MIT
# The README's i386 package commands: libtuvello1:i386 and libtuvello-dev:i386
# from the multilib toolchain, Multi-Arch: same, lintian-clean, and sharing
# only identical files with the amd64 packages. With TUVELLO_TEST_APT_INSTALL=1
# (root, CI) both architectures are installed side by side and a 32-bit host
# runs against /usr/lib/i386-linux-gnu/libtuvello.so.1; then both are purged.
# usage: deb_i386.sh SOURCE BUILD WORK VERSION
source=$1
version=$4
. "$source/tests/packaging/common.sh"
scratch_checkout "$1" "$2" "$3"
for entry in "$source"/*; do
  [ -e "$(basename "$entry")" ] || ln -s "$entry" .
done

readme_step 'cmake -S . -B build-deb-i386 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/i386-linux-gnu.cmake" -DCMAKE_INSTALL_PREFIX=/usr -DTUVELLO_BUILD_CLI=OFF && cmake --build build-deb-i386 -j2 && cpack --config build-deb-i386/CPackConfig.cmake -B build-deb-i386/deb'
# The amd64 library packages to install beside them, from the same sources.
cmake -S . -B build-deb-amd64 -DCMAKE_INSTALL_PREFIX=/usr -DTUVELLO_BUILD_CLI=OFF >/dev/null &&
  cmake --build build-deb-amd64 -j2 >/dev/null &&
  cpack --config build-deb-amd64/CPackConfig.cmake -B build-deb-amd64/deb >/dev/null ||
  fail "the amd64 library packages do not build"

set -- build-deb-i386/deb/*.deb
[ "$*" = "build-deb-i386/deb/libtuvello-dev_${version}_i386.deb build-deb-i386/deb/libtuvello1_${version}_i386.deb" ] ||
  fail "expected libtuvello1 and libtuvello-dev for i386, found: $*"
for package in libtuvello1 libtuvello-dev; do
  i386=build-deb-i386/deb/${package}_${version}_i386.deb
  amd64=build-deb-amd64/deb/${package}_${version}_amd64.deb
  for deb in "$i386" "$amd64"; do
    [ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] || fail "$deb is not Multi-Arch: same"
  done
  [ "$(dpkg-deb -f "$i386" Architecture)" = i386 ] || fail "$i386 is not for i386"
  dpkg-deb -c "$i386" | awk '$1 !~ /^d/ { print $6 }' | grep -v '^\./usr/share/doc/' |
    grep -v "^\./usr/lib/i386-linux-gnu/" | grep -vx './usr/include/tuvello.h' &&
    fail "$i386 holds files outside /usr/lib/i386-linux-gnu, the header and its documentation"
  # Files both architectures install must be byte-identical, or dpkg refuses
  # the second package.
  rm -rf unpacked && mkdir -p unpacked/i386 unpacked/amd64
  dpkg-deb -x "$i386" unpacked/i386 && dpkg-deb -x "$amd64" unpacked/amd64
  for shared in $(cd unpacked/i386 && find usr/include usr/share -type f 2>/dev/null); do
    cmp -s "unpacked/i386/$shared" "unpacked/amd64/$shared" || fail "$shared differs between i386 and amd64"
  done
done
# The C library of i386 itself (libc6), not the amd64 package holding /lib32's.
depends=$(dpkg-deb -f "build-deb-i386/deb/libtuvello1_${version}_i386.deb" Depends)
echo "$depends" | grep -Eqx 'libc6 \(>= [0-9.]+\)' || fail "libtuvello1:i386 depends on '$depends'"
lintian --fail-on error build-deb-i386/deb/*.deb || fail "lintian reports errors"
echo "the i386 packages are complete"

[ "${TUVELLO_TEST_APT_INSTALL:-0}" = 1 ] || exit 0
if dpkg -s libtuvello1 >/dev/null 2>&1; then
  fail "tuvello's packages are installed already; purge them first"
fi
export DEBIAN_FRONTEND=noninteractive
cleanup() {
  apt-get purge -y -qq libtuvello1:amd64 libtuvello-dev:amd64 libtuvello1:i386 libtuvello-dev:i386 >/dev/null 2>&1 || true
}
trap cleanup EXIT
# The README's line runs with an apt-get that rides out a mirror in the middle
# of a sync (tests/packaging/apt-retry/apt-get).
saved_path=$PATH
PATH="$source/tests/packaging/apt-retry:$PATH"
readme_step 'dpkg --add-architecture i386 && apt-get update && apt-get install -y ./build-deb-i386/deb/*.deb'
PATH=$saved_path
apt-get install -y -qq ./build-deb-amd64/deb/libtuvello*.deb >/dev/null || fail "the amd64 packages do not install beside the i386 ones"
for arch in i386 amd64; do
  [ "$(dpkg-query -W -f '${Status}' "libtuvello1:$arch")" = "install ok installed" ] || fail "libtuvello1:$arch is not installed"
done

# A 32-bit host built against the i386 development package, run (under
# qemu-i386 where this kernel runs no 32-bit programs).
export PKG_CONFIG_PATH=/usr/lib/i386-linux-gnu/pkgconfig
cc -m32 examples/c-pkgconfig/song.c $(pkg-config --cflags --libs tuvello) -o song32 || fail "a 32-bit host does not build"
run32="" trace="env LD_TRACE_LOADED_OBJECTS=1"
if ! ./song32 >/dev/null 2>&1; then
  run32=qemu-i386 trace="qemu-i386 -E LD_TRACE_LOADED_OBJECTS=1"
fi
# /lib is /usr/lib on a merged-/usr system; the loader may name either.
$trace ./song32 | grep -Eq ' => (/usr)?/lib/i386-linux-gnu/libtuvello\.so\.1 ' ||
  fail "the 32-bit host does not load /usr/lib/i386-linux-gnu/libtuvello.so.1"
$run32 ./song32 || fail "the 32-bit host fails"
echo "libtuvello1:i386 and libtuvello1:amd64 installed side by side; the 32-bit host runs"
