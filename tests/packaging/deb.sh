#!/bin/sh
# `cpack -G DEB` builds a package that unpacks to the installed tree, declares
# what its files need, and can be linked against from where it is unpacked.
# usage: deb.sh SOURCE BUILD WORK VERSION LIBDIR HAS_TOOL
source=$1
version=$4
libdir=$5
has_tool=$6
. "$source/tests/packaging/common.sh"
scratch_checkout "$1" "$2" "$3"

rm -rf build/deb
readme_step 'cpack -G DEB --config build/CPackConfig.cmake -B build/deb'
set -- build/deb/tuvello_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one tuvello_*.deb in build/deb, found: $*"
deb=$1

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tuvello ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', expected $version"
[ "$(field Maintainer)" = "tuvello developers" ] || fail "Maintainer is '$(field Maintainer)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"

dpkg -x "$deb" root
check_installed_tree root/usr "$libdir" "$has_tool"

# Every library a packaged file needs comes from a package it depends on.
packages=$(echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for file in $(find root -type f); do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  for needed in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    case $needed in
    libc.so.6 | libm.so.6) package=libc6 ;;
    libstdc++.so.6) package=libstdc++6 ;;
    libgcc_s.so.1) package=libgcc-s1 ;;
    *) fail "${file#root}: needs $needed, which no dependency is known to provide" ;;
    esac
    echo "$packages" | grep -qx "$package" || fail "${file#root} needs $needed but Depends lacks $package"
  done
done

# A consumer links against the unpacked tree.
PKG_CONFIG_PATH="$PWD/root/usr/$libdir/pkgconfig"
export PKG_CONFIG_PATH
case $(pkg-config --cflags tuvello) in
"-I$PWD/root/usr/"*) ;;
*) fail "pkg-config points outside the unpacked package: $(pkg-config --cflags tuvello)" ;;
esac
cc examples/c-pkgconfig/song.c $(pkg-config --cflags --libs tuvello) -o song
LD_LIBRARY_PATH="$PWD/root/usr/$libdir" ./song
echo "$deb unpacks to a complete tree that consumers link against"
