#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds and runs one of the example hosts against the scratch install, with
# the README's commands.
# usage: consumer.sh SOURCE BUILD WORK PREFIX LIBDIR EXAMPLE
source=$1
. "$source/tests/packaging/common.sh"
prefix=$4
libdir=$5
scratch_checkout "$1" "$2" "$3"

case $6 in
c-pkgconfig)
  readme_step 'export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"'
  readme_step 'cc examples/c-pkgconfig/song.c $(pkg-config --cflags --libs tuvello) -o build/song'
  readme_step 'LD_LIBRARY_PATH="$prefix/lib" build/song'
  LD_LIBRARY_PATH="$prefix/$libdir" ldd build/song | grep -qF "$prefix/$libdir/libtuvello.so.1" ||
    fail "song is not linked against the installed libtuvello.so.1"
  ;;
c-dlopen)
  readme_step 'cc examples/c-dlopen/song_dlopen.c -ldl -o build/song_dlopen'
  readme_step 'LD_LIBRARY_PATH="$prefix/lib" build/song_dlopen'
  if readelf -d build/song_dlopen | grep -q 'NEEDED.*libtuvello'; then
    fail "song_dlopen links libtuvello instead of loading it"
  fi
  ;;
cpp-cmake)
  readme_step 'cmake -S examples/cpp-cmake -B build-example -DCMAKE_PREFIX_PATH="$prefix"'
  readme_step 'cmake --build build-example'
  readme_step './build-example/song'
  found=$(sed -n 's/^tuvello_DIR:PATH=//p' build-example/CMakeCache.txt)
  [ "$found" = "$prefix/$libdir/cmake/tuvello" ] || fail "find_package used '$found', not the scratch install"
  # The version file turns away a request for another major version.
  mkdir -p wants-v2
  printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(wants_v2 LANGUAGES NONE)' \
    'find_package(tuvello 2 REQUIRED)' > wants-v2/CMakeLists.txt
  if cmake -S wants-v2 -B wants-v2/build -DCMAKE_PREFIX_PATH="$prefix" > wants-v2.log 2>&1; then
    fail "find_package(tuvello 2) accepted version 1"
  fi
  grep -q 'not compatible\|version' wants-v2.log || { cat wants-v2.log; fail "no version message"; }
  # tuvello::tuvello_static links libtuvello.a, with the math library it needs.
  mkdir -p static
  printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(static_song LANGUAGES C)' \
    'find_package(tuvello 1 REQUIRED)' "add_executable(song \"$PWD/examples/c-pkgconfig/song.c\")" \
    'target_link_libraries(song PRIVATE tuvello::tuvello_static)' > static/CMakeLists.txt
  cmake -S static -B static/build -DCMAKE_PREFIX_PATH="$prefix" > static.log 2>&1 &&
    cmake --build static/build >> static.log 2>&1 || { cat static.log; fail "tuvello::tuvello_static does not build"; }
  ./static/build/song
  readelf -d static/build/song | grep -q 'NEEDED.*libtuvello' && fail "tuvello::tuvello_static links the shared library"
  ;;
*)
  fail "unknown example $6"
  ;;
esac
echo "example $6 built and ran against $prefix"
