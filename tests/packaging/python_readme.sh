#!/bin/sh
# The README's Python commands, against the build tree and the scratch install.
# usage: python_readme.sh SOURCE BUILD WORK PREFIX LIBDIR
source=$1
. "$source/tests/packaging/common.sh"
prefix=$4
libdir=$5
scratch_checkout "$1" "$2" "$3"
unset TUVELLO_LIBRARY

readme_step "PYTHONPATH=python TUVELLO_LIBRARY=build/libtuvello.so.1 python3 -c 'import tuvello; tuvello.save(\"len:200;vol:80;c;e;g;p;c\", \"song.wav\")'"
[ "$(wc -c < song.wav)" -eq 44144 ] || fail "song.wav is $(wc -c < song.wav) bytes, expected 44144"

seconds=$(readme_step "LD_LIBRARY_PATH=\"\$prefix/lib\" PYTHONPATH=python python3 -c 'import tuvello; print(tuvello.duration(\"len:200;vol:80;c;e;g;p;c\"))'")
echo "$seconds"
[ "$(echo "$seconds" | tail -n 1)" = 1.0 ] || fail "duration printed '$seconds', expected 1.0"
echo "the README's Python commands work"
