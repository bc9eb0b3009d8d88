#!/bin/sh
# SPDX-License-Identifier: MIT
# The README's Python commands, against the build tree and the scratch install.
# usage: python_readme.sh SOURCE BUILD WORK PREFIX LIBDIR VERSION
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
# pip into a virtual environment, offline, with Debian's python3 (setuptools
# and wheel come from its packages); the installed module reports the
# library's version and ships its type information.
rm -rf build/venv
readme_step '/usr/bin/python3 -m venv --system-site-packages build/venv && build/venv/bin/pip install --no-build-isolation --no-index ./python'
installed=$(cd / && "$OLDPWD/build/venv/bin/python" -c 'import os, tuvello; print(os.path.dirname(tuvello.__file__))')
case $installed in
"$PWD/build/venv/"*) ;;
*) fail "the virtual environment imports tuvello from $installed" ;;
esac
[ -f "$installed/py.typed" ] || fail "no py.typed in the installed module"
[ "$(cd / && TUVELLO_LIBRARY="$OLDPWD/build/libtuvello.so.1" "$OLDPWD/build/venv/bin/python" -c 'import tuvello; print(tuvello.__version__, tuvello.duration("c;e;g"))')" = "$6 0.3" ] ||
  fail "the pip-installed module does not say version $6 or does not render"
echo "the README's Python commands work"
